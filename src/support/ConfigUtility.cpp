#include "support/ConfigUtility.h"

#include "support/IniFile.h"

QString ConfigUtility::ReadIniString(const QString& section,
                                     const QString& key,
                                     const QString& defaultValue,
                                     const QString& iniFile)
{
    return IniFile::ReadString(section, key, defaultValue, iniFile);
}

qint32
ConfigUtility::ReadIniInt(const QString& section, const QString& key, qint32 defaultValue, const QString& iniFile)
{
    return IniFile::ReadInt(section, key, defaultValue, iniFile);
}

bool ConfigUtility::WriteIniString(const QString& section,
                                   const QString& key,
                                   const std::optional<QString>& value,
                                   const QString& iniFile)
{
    return IniFile::WriteString(section, key, value, iniFile);
}
