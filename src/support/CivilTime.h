#pragma once

#include <QtGlobal>
#include <ctime>

// A moment broken down into calendar fields, in local time or in UTC.
struct CivilTime
{
    int Year = 1899;
    int Month = 12; // 1..12
    int Day = 30;   // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MSec = 0;
    int DayOfWeek = 7;   // 1 = Sunday ... 7 = Saturday
    int DayOfYear = 364; // 1..366

    // Breaks a moment down; false when the platform cannot represent it.
    [[nodiscard]] static bool FromEpochMSecs(qint64 msecs, bool utc, CivilTime& out);
    [[nodiscard]] static bool FromTimeT(std::time_t secs, bool utc, CivilTime& out);

    // Days since 1899-12-30 of a proleptic Gregorian date (no validation).
    [[nodiscard]] static qint32 DaysSinceBase(int year, int month, int day);
    // The inverse of DaysSinceBase; fills Year, Month, Day, DayOfWeek and DayOfYear.
    static void FromDaysSinceBase(qint32 days, CivilTime& out);
};
