#pragma once

#include <QString>

// The single-instance lock: an abstract socket name per user and profile,
// bound for the life of the process and freed by the kernel however it ends.
class InstanceLock
{
public:
    // True when another copy of the program runs for this user on the same
    // profile. The first call binds the profile's name and holds it until the
    // process ends; nothing on disk can be deleted to let a second copy in.
    // The window works on "Profile1", the default.
    [[nodiscard]] static bool PrevInstance(const QString& profileName = QString());
    // The name PrevInstance binds for a profile, "@sentrel-<uid>-<hash>" as
    // ss and /proc/net/unix show it: "Profile1" (or none) the window's,
    // other profiles one of their own.
    [[nodiscard]] static QString Name(const QString& profileName = QString());
};
