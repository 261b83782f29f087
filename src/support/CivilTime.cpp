#include "support/CivilTime.h"

#include <cstdint>

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (after H. Hinnant's
// days_from_civil), valid for every year an int holds.
std::int64_t daysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool isLeapYear(std::int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr std::int64_t kBaseFromEpoch = -25569; // 1899-12-30 counted from 1970-01-01

} // namespace

bool CivilTime::FromEpochMSecs(qint64 msecs, bool utc, CivilTime& out)
{
    qint64 secs = msecs / 1000;
    qint64 rest = msecs % 1000;
    if (rest < 0) {
        rest += 1000;
        --secs;
    }
    if (!FromTimeT(static_cast<std::time_t>(secs), utc, out)) {
        return false;
    }
    out.MSec = static_cast<int>(rest);
    return true;
}

bool CivilTime::FromTimeT(std::time_t secs, bool utc, CivilTime& out)
{
    std::tm fields {};
    const std::tm* done = utc ? gmtime_r(&secs, &fields) : localtime_r(&secs, &fields);
    if (done == nullptr) {
        return false;
    }
    out.Year = fields.tm_year + 1900;
    out.Month = fields.tm_mon + 1;
    out.Day = fields.tm_mday;
    out.Hour = fields.tm_hour;
    out.Minute = fields.tm_min;
    out.Second = fields.tm_sec > 59 ? 59 : fields.tm_sec; // a leap second shows as :59
    out.MSec = 0;
    out.DayOfWeek = fields.tm_wday + 1;
    out.DayOfYear = fields.tm_yday + 1;
    return true;
}

qint32 CivilTime::DaysSinceBase(int year, int month, int day)
{
    return static_cast<qint32>(daysFromCivil(year, month, day) - kBaseFromEpoch);
}

void CivilTime::FromDaysSinceBase(qint32 days, CivilTime& out)
{
    // civil_from_days, the inverse of daysFromCivil.
    const std::int64_t z = static_cast<std::int64_t>(days) + kBaseFromEpoch + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    out.Year = static_cast<int>(year);
    out.Month = month;
    out.Day = day;
    // 1899-12-30 was a Saturday (7).
    const std::int64_t weekday = ((static_cast<std::int64_t>(days) + 6) % 7 + 7) % 7;
    out.DayOfWeek = static_cast<int>(weekday) + 1;
    static constexpr int kBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    out.DayOfYear = kBeforeMonth[month - 1] + day + (month > 2 && isLeapYear(year) ? 1 : 0);
}
