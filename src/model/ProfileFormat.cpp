#include "model/ProfileFormat.h"

#include "support/FileSystemUtility.h"
#include "support/ProfileStore.h"

#include <QDir>

QString ProfileFormat::ProfilePath(const QString& profileName)
{
    const QChar sep = QDir::separator();
    return FileSystemUtility::SpecialFolder(35) + sep + QStringLiteral("Brackwell") + sep +
           QStringLiteral("Utilities") + sep + QStringLiteral("Sentrel v1") + sep + QStringLiteral("Profiles") + sep +
           profileName + sep + QStringLiteral("Sentrel.ini");
}

bool ProfileFormat::WriteIniValue(ProfileStore& store,
                                  const QString& section,
                                  const QString& key,
                                  const QString& value,
                                  const QString& defaultValue)
{
    if (value == defaultValue) {
        return store.WriteString(section, key, std::nullopt);
    }
    return store.WriteString(section, key, value);
}

bool ProfileFormat::ReadIniBool(ProfileStore& store, const QString& section, const QString& key, bool defaultValue)
{
    return store.ReadInt(section, key, defaultValue ? 1 : 0) != 0;
}
