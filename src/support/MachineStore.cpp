#include "support/MachineStore.h"

#include <QSettings>
#include <QStringList>

#include <memory>

namespace {

// "SOFTWARE\<organisation>[\<application>[\<group>...]]" names a settings store
// and a group in it; on Windows QSettings maps it back onto the registry.
std::unique_ptr<QSettings> openStore(MachineStore::Root root, const QString& keyPath)
{
    QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.first().compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) == 0) {
        parts.removeFirst();
    }
    if (parts.isEmpty()) {
        return nullptr;
    }
    const QString organisation = parts.takeFirst();
    const QString application = parts.isEmpty() ? QString() : parts.takeFirst();
    const auto scope = root == MachineStore::Root::LocalMachine ? QSettings::SystemScope : QSettings::UserScope;
    auto store = std::make_unique<QSettings>(scope, organisation, application);
    // The machine-wide and the per-user store are distinct places.
    store->setFallbacksEnabled(false);
    if (!parts.isEmpty()) {
        store->beginGroup(parts.join(QLatin1Char('/')));
    }
    return store;
}

} // namespace

bool MachineStore::TryReadReg(Root root, const QString& keyPath, const QString& valueName, QString& value)
{
    const auto store = openStore(root, keyPath);
    if (!store || !store->contains(valueName)) {
        return false;
    }
    value = store->value(valueName).toString();
    return true;
}

QString
MachineStore::ReadRegString(Root root, const QString& keyPath, const QString& valueName, const QString& defaultValue)
{
    QString value;
    return TryReadReg(root, keyPath, valueName, value) ? value : defaultValue;
}

qint32 MachineStore::ReadRegNumber(Root root, const QString& keyPath, const QString& valueName, qint32 defaultValue)
{
    QString text;
    if (!TryReadReg(root, keyPath, valueName, text)) {
        return defaultValue;
    }
    bool ok = false;
    const qint32 number = text.trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

bool MachineStore::WriteRegString(Root root, const QString& keyPath, const QString& valueName, const QString& text)
{
    const auto store = openStore(root, keyPath);
    if (!store) {
        return false;
    }
    store->setValue(valueName, text);
    // Others (another copy, a later start after a crash) must see it now.
    store->sync();
    return store->status() == QSettings::NoError;
}

bool MachineStore::DeleteRegValue(Root root, const QString& keyPath, const QString& valueName)
{
    const auto store = openStore(root, keyPath);
    if (!store) {
        return false;
    }
    store->remove(valueName);
    store->sync();
    return store->status() == QSettings::NoError && !store->contains(valueName);
}
