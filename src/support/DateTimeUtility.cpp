#include "support/DateTimeUtility.h"

DateTimeStamp DateTimeUtility::NowStamp(int)
{
    return {};
}
QDateTime DateTimeUtility::Now()
{
    return {};
}
QDateTime DateTimeUtility::UtcNow()
{
    return {};
}
DateTimeStamp DateTimeUtility::StampFromDate(const QDateTime&)
{
    return {};
}
bool DateTimeUtility::StampFromTimeT(std::time_t, DateTimeStamp&)
{
    return false;
}
QDateTime DateTimeUtility::StampToDate(const DateTimeStamp&)
{
    return {};
}
bool DateTimeUtility::IsPositiveDate(const QDateTime&)
{
    return false;
}
bool DateTimeUtility::SameStamp(const DateTimeStamp& a, const DateTimeStamp& b)
{
    return a == b;
}
double DateTimeUtility::SecondsSince(const DateTimeStamp&)
{
    return 0;
}
double DateTimeUtility::SecondsUntil(const DateTimeStamp&)
{
    return 0;
}
DateTimeStamp DateTimeUtility::AddSeconds(float, const DateTimeStamp& stamp)
{
    return stamp;
}
QString DateTimeUtility::FormatSeconds(double, int)
{
    return {};
}
QString DateTimeUtility::FormatDateStamp(const DateTimeStamp&)
{
    return {};
}
DateTimeStamp DateTimeUtility::ParseStamp(const QString&)
{
    return {};
}
QString DateTimeUtility::GeneralDate(const QDateTime&, const QLocale&)
{
    return {};
}
QString DateTimeUtility::ShortDateTime24(const QDateTime&, const QLocale&)
{
    return {};
}
