#include "support/DatePattern.h"

QString DatePattern::Render(QStringView pattern, const CivilTime&, const QLocale&)
{
    return pattern.toString();
}

QString DatePattern::Render(QStringView pattern, const CivilTime& moment)
{
    return Render(pattern, moment, QLocale::system());
}

QString DatePattern::ExpandName(const QString& rawName)
{
    return rawName;
}

QString DatePattern::ExpandName(const QString& rawName, const QLocale&)
{
    return rawName;
}
