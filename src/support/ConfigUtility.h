#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Settings stores: the profile INI files, and the machine-wide and per-user
// stores that stand for the registry ("SOFTWARE\Brackwell" is the store of
// organisation "Brackwell", "SOFTWARE\Brackwell\Utils" its application "Utils").
class ConfigUtility
{
public:
    enum class Root { LocalMachine, CurrentUser };

    // One-off reads and writes of a named profile file; the profile itself goes through its ProfileStore.

    [[nodiscard]] static QString
    ReadIniString(const QString& section, const QString& key, const QString& defaultValue, const QString& iniFile);
    [[nodiscard]] static qint32
    ReadIniInt(const QString& section, const QString& key, qint32 defaultValue, const QString& iniFile);
    static bool WriteIniString(const QString& section,
                               const QString& key,
                               const std::optional<QString>& value,
                               const QString& iniFile);

    [[nodiscard]] static QString
    ReadRegString(Root root, const QString& keyPath, const QString& valueName, const QString& defaultValue);
    [[nodiscard]] static qint32
    ReadRegNumber(Root root, const QString& keyPath, const QString& valueName, qint32 defaultValue);
    // True when the value is present (of any kind); its text in value.
    [[nodiscard]] static bool TryReadReg(Root root, const QString& keyPath, const QString& valueName, QString& value);
    static bool WriteRegString(Root root, const QString& keyPath, const QString& valueName, const QString& text);
    static bool DeleteRegValue(Root root, const QString& keyPath, const QString& valueName);
};
