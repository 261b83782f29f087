#pragma once

#include <QString>
#include <QtGlobal>

// The machine-wide and per-user stores that stand for the registry
// ("SOFTWARE\Brackwell" is the store of organisation "Brackwell",
// "SOFTWARE\Brackwell\Utils" its application "Utils").
class MachineStore
{
public:
    enum class Root { LocalMachine, CurrentUser };

    [[nodiscard]] static QString
    ReadRegString(Root root, const QString& keyPath, const QString& valueName, const QString& defaultValue);
    [[nodiscard]] static qint32
    ReadRegNumber(Root root, const QString& keyPath, const QString& valueName, qint32 defaultValue);
    // True when the value is present (of any kind); its text in value.
    [[nodiscard]] static bool TryReadReg(Root root, const QString& keyPath, const QString& valueName, QString& value);
    static bool WriteRegString(Root root, const QString& keyPath, const QString& valueName, const QString& text);
    static bool DeleteRegValue(Root root, const QString& keyPath, const QString& valueName);
};
