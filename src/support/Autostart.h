#pragma once

#include <QString>

// Whether the program starts when the user logs in: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/com.brackwell.Sentrel.desktop, that the desktop
// runs at login. An entry the user has switched off (Hidden=true) counts as
// absent.
class Autostart
{
public:
    [[nodiscard]] static QString EntryPath();
    [[nodiscard]] static bool Enabled();
    // Writes the entry starting program (an absolute path), or removes it.
    // False with the reason in error when the entry could not be changed.
    static bool SetEnabled(bool on, const QString& program, QString& error);
    // The program as one argument of a desktop entry's Exec key: quoted when it
    // holds anything but plain path characters, with the entry's escapes.
    [[nodiscard]] static QString ExecArgument(const QString& program);
};
