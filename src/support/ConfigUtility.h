#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// The profile INI files, read and written by section and key.
class ConfigUtility
{
public:
    // One-off reads and writes of a named profile file; the profile itself goes through its ProfileStore.
    [[nodiscard]] static QString
    ReadIniString(const QString& section, const QString& key, const QString& defaultValue, const QString& iniFile);
    [[nodiscard]] static qint32
    ReadIniInt(const QString& section, const QString& key, qint32 defaultValue, const QString& iniFile);
    static bool WriteIniString(const QString& section,
                               const QString& key,
                               const std::optional<QString>& value,
                               const QString& iniFile);
};
