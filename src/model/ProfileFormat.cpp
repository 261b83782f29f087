#include "model/ProfileFormat.h"

#include "support/ConfigUtility.h"
#include "support/FileSystemUtility.h"

#include <QDir>

QString ProfileFormat::ProfilePath(const QString& profileName)
{
    const QChar sep = QDir::separator();
    return FileSystemUtility::SpecialFolder(35) + sep + QStringLiteral("Brackwell") + sep +
           QStringLiteral("Utilities") + sep + QStringLiteral("Sentrel v1") + sep + QStringLiteral("Profiles") + sep +
           profileName + sep + QStringLiteral("Sentrel.ini");
}

bool ProfileFormat::WriteIniValue(const QString& section,
                                  const QString& key,
                                  const QString& value,
                                  const QString& iniFile,
                                  const QString& defaultValue)
{
    if (value == defaultValue) {
        return ConfigUtility::WriteIniString(section, key, std::nullopt, iniFile);
    }
    return ConfigUtility::WriteIniString(section, key, value, iniFile);
}

bool ProfileFormat::ReadIniBool(const QString& section, const QString& key, bool defaultValue, const QString& iniFile)
{
    return ConfigUtility::ReadIniInt(section, key, defaultValue ? 1 : 0, iniFile) != 0;
}
