#include "support/ConfigUtility.h"

#include "support/ProfileStore.h"

QString ConfigUtility::ReadIniString(const QString& section,
                                     const QString& key,
                                     const QString& defaultValue,
                                     const QString& iniFile)
{
    return ProfileStore(iniFile).ReadString(section, key, defaultValue);
}

qint32
ConfigUtility::ReadIniInt(const QString& section, const QString& key, qint32 defaultValue, const QString& iniFile)
{
    return ProfileStore(iniFile).ReadInt(section, key, defaultValue);
}

bool ConfigUtility::WriteIniString(const QString& section,
                                   const QString& key,
                                   const std::optional<QString>& value,
                                   const QString& iniFile)
{
    return ProfileStore(iniFile).WriteString(section, key, value);
}
