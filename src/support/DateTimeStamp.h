#pragma once

#include <QtGlobal>

// The program's date-time record: whole days since 30 December 1899 and the
// time of day in seconds. A Day of 0 or less means no time is recorded.
struct DateTimeStamp
{
    qint32 Day = 0;
    float Seconds = 0.0F;

    [[nodiscard]] bool IsSet() const { return Day > 0; }
    friend bool operator==(const DateTimeStamp&, const DateTimeStamp&) = default;
};
