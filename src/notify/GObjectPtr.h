#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>

// Owning pointers for GLib allocations and GObject references.
struct GObjectUnref
{
    void operator()(gpointer p) const
    {
        if (p) {
            g_object_unref(p);
        }
    }
};
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree
{
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;
