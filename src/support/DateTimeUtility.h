#pragma once

#include "support/DateTimeStamp.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <ctime>

// Conversions, comparisons and ages of DateTimeStamp, and the date texts the
// program shows. "Now" always comes from Clock::Current().
class DateTimeUtility
{
public:
    // The current local moment as a stamp (the argument is ignored; callers pass 0).
    [[nodiscard]] static DateTimeStamp NowStamp(int unused = 0);
    [[nodiscard]] static QDateTime Now();
    [[nodiscard]] static QDateTime UtcNow();

    // The same moment as a stamp, from the date value's local date and time, to the millisecond.
    [[nodiscard]] static DateTimeStamp StampFromDate(const QDateTime& date);
    // A file time (seconds since the epoch) as a local stamp, to the second; false when out of range.
    [[nodiscard]] static bool StampFromTimeT(std::time_t secs, DateTimeStamp& out);
    // The stamp as a local date value (30 December 1899 and before for a stamp that is not set).
    [[nodiscard]] static QDateTime StampToDate(const DateTimeStamp& stamp);
    // True when a date value is after 30 December 1899 00:00 (a date value "greater than 0").
    [[nodiscard]] static bool IsPositiveDate(const QDateTime& date);

    [[nodiscard]] static bool SameStamp(const DateTimeStamp& a, const DateTimeStamp& b);

    // Style 2: the time of day of a profile date stamp ("hh:mm:ss", with a
    // fraction only when the seconds have one). Style 22: a countdown ("m:ss",
    // "h:mm:ss" from an hour on). Other styles render as style 22.
    [[nodiscard]] static QString FormatSeconds(double seconds, int style);
    // "YYYY-MM-DD", "T", and FormatSeconds style 2 of the time of day.
    [[nodiscard]] static QString FormatDateStamp(const DateTimeStamp& stamp);
    // Reads back what FormatDateStamp writes; Day 0 for an empty or unreadable text.
    [[nodiscard]] static DateTimeStamp ParseStamp(const QString& text);

    // "General Date": the short date and the long time; the time is left out at exactly midnight.
    [[nodiscard]] static QString GeneralDate(const QDateTime& date, const QLocale& locale = QLocale::system());
    // "ddddd hh:nn:ss": the short date, a space and the 24-hour time with two digits each.
    [[nodiscard]] static QString ShortDateTime24(const QDateTime& date, const QLocale& locale = QLocale::system());
};
