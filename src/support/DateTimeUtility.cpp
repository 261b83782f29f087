#include "support/DateTimeUtility.h"

#include "support/CivilTime.h"
#include "support/Clock.h"
#include "support/DatePattern.h"

#include <QTime>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr double kSecondsPerDay = 86400.0;
const QDate kBaseDate(1899, 12, 30);

DateTimeStamp stampOf(const CivilTime& t)
{
    DateTimeStamp stamp;
    stamp.Day = CivilTime::DaysSinceBase(t.Year, t.Month, t.Day);
    stamp.Seconds = static_cast<float>(t.Hour * 3600 + t.Minute * 60 + t.Second) + static_cast<float>(t.MSec) / 1000.0F;
    return stamp;
}

// The stamp's local wall-clock time as seconds since 1970 counted as if the
// zone were UTC; finite for every stamp.
double wallSeconds(const DateTimeStamp& stamp)
{
    const double seconds = std::isfinite(stamp.Seconds) ? static_cast<double>(stamp.Seconds) : 0.0;
    return (static_cast<double>(stamp.Day) - 25569.0) * kSecondsPerDay + seconds;
}

QString twoDigits(qint64 value)
{
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

// The shortest fixed-notation text that reads back as exactly this float.
QByteArray shortestFixed(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return result.ec == std::errc() ? QByteArray(buffer, static_cast<int>(result.ptr - buffer)) : QByteArray("0");
}

bool readNumber(QStringView text, int digits, qint64& out)
{
    if (text.size() != digits) {
        return false;
    }
    out = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
        out = out * 10 + (c.unicode() - '0');
    }
    return true;
}

} // namespace

DateTimeStamp DateTimeUtility::NowStamp(int)
{
    CivilTime now;
    if (!CivilTime::FromEpochMSecs(Clock::Current().NowMSecsSinceEpoch(), false, now)) {
        return {};
    }
    return stampOf(now);
}

QDateTime DateTimeUtility::Now()
{
    return QDateTime::fromMSecsSinceEpoch(Clock::Current().NowMSecsSinceEpoch());
}

QDateTime DateTimeUtility::UtcNow()
{
    return QDateTime::fromMSecsSinceEpoch(Clock::Current().NowMSecsSinceEpoch(), Qt::UTC);
}

DateTimeStamp DateTimeUtility::StampFromDate(const QDateTime& date)
{
    if (!date.isValid()) {
        return {};
    }
    // A date value converts by its calendar fields, as it states them; a local
    // value (the usual case) gives a local stamp.
    const QDate day = date.date();
    const QTime time = date.time();
    DateTimeStamp stamp;
    stamp.Day = CivilTime::DaysSinceBase(day.year(), day.month(), day.day());
    stamp.Seconds = static_cast<float>(time.msecsSinceStartOfDay() / 1000) +
                    static_cast<float>(time.msecsSinceStartOfDay() % 1000) / 1000.0F;
    return stamp;
}

bool DateTimeUtility::StampFromTimeT(std::time_t secs, DateTimeStamp& out)
{
    CivilTime local;
    if (!CivilTime::FromTimeT(secs, false, local)) {
        return false;
    }
    out = stampOf(local);
    return true;
}

QDateTime DateTimeUtility::StampToDate(const DateTimeStamp& stamp)
{
    // Built from the wall-clock fields, so a day with a change of summer time
    // still shows the time of day the stamp holds.
    const double wall = wallSeconds(stamp) + 25569.0 * kSecondsPerDay; // seconds since the base date
    double days = std::floor(wall / kSecondsPerDay);
    qint64 msecs = std::llround((wall - days * kSecondsPerDay) * 1000.0);
    if (msecs >= 86400000) {
        msecs -= 86400000;
        days += 1.0;
    }
    const QDate date = kBaseDate.addDays(static_cast<qint64>(std::clamp(days, -1.0e9, 1.0e9)));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
}

bool DateTimeUtility::IsPositiveDate(const QDateTime& date)
{
    return date.isValid() && (date.date() > kBaseDate || (date.date() == kBaseDate && date.time() > QTime(0, 0)));
}

bool DateTimeUtility::SameStamp(const DateTimeStamp& a, const DateTimeStamp& b)
{
    return wallSeconds(a) == wallSeconds(b);
}

QString DateTimeUtility::FormatSeconds(double seconds, int style)
{
    if (!std::isfinite(seconds)) {
        seconds = 0.0;
    }
    if (style == 2) {
        // The shortest decimal that reads back as the same float, split into
        // hours, minutes and seconds (with the fraction).
        const bool negative = seconds < 0;
        const QByteArray text = shortestFixed(static_cast<float>(std::fabs(seconds)));
        const qsizetype point = text.indexOf('.');
        const QByteArray wholeText = point < 0 ? text : text.left(point);
        const QByteArray fraction = point < 0 ? QByteArray() : text.mid(point);
        const qint64 whole = wholeText.toLongLong();
        return (negative ? QStringLiteral("-") : QString()) + twoDigits(whole / 3600) + QLatin1Char(':') +
               twoDigits(whole / 60 % 60) + QLatin1Char(':') + twoDigits(whole % 60) + QString::fromLatin1(fraction);
    }
    // The countdown: whole seconds rounded up, never below zero.
    const double clamped = std::clamp(std::ceil(seconds), 0.0, 1.0e12);
    const auto total = static_cast<qint64>(clamped);
    const qint64 hours = total / 3600;
    if (hours > 0) {
        return QString::number(hours) + QLatin1Char(':') + twoDigits(total / 60 % 60) + QLatin1Char(':') +
               twoDigits(total % 60);
    }
    return QString::number(total / 60) + QLatin1Char(':') + twoDigits(total % 60);
}

QString DateTimeUtility::FormatDateStamp(const DateTimeStamp& stamp)
{
    // A time of day outside 0..86400 (only from arithmetic) moves into the day it belongs to.
    qint64 day = stamp.Day;
    float seconds = std::isfinite(stamp.Seconds) ? stamp.Seconds : 0.0F;
    if (seconds < 0.0F || seconds >= 86400.0F) {
        const double days = std::floor(static_cast<double>(seconds) / kSecondsPerDay);
        day += static_cast<qint64>(days);
        seconds = static_cast<float>(static_cast<double>(seconds) - days * kSecondsPerDay);
    }
    CivilTime date;
    CivilTime::FromDaysSinceBase(static_cast<qint32>(std::clamp<qint64>(
                                     day, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max())),
                                 date);
    const QString year =
        date.Year < 0 ? QLatin1Char('-') + QString::number(-qint64(date.Year)).rightJustified(4, QLatin1Char('0'))
                      : QString::number(date.Year).rightJustified(4, QLatin1Char('0'));
    return year + QLatin1Char('-') + twoDigits(date.Month) + QLatin1Char('-') + twoDigits(date.Day) + QLatin1Char('T') +
           FormatSeconds(seconds, 2);
}

DateTimeStamp DateTimeUtility::ParseStamp(const QString& text)
{
    // "YYYY-MM-DDTHH:MM:SS[.fraction]", as FormatDateStamp writes it. Anything
    // else gives a stamp with Day 0: the file then counts as never seen.
    const QStringView view = QStringView(text).trimmed();
    const qsizetype t = view.indexOf(QLatin1Char('T'));
    if (t < 0) {
        return {};
    }
    const QStringView datePart = view.left(t);
    const QStringView timePart = view.mid(t + 1);
    const bool negativeYear = datePart.startsWith(QLatin1Char('-'));
    const QStringView unsignedDate = negativeYear ? datePart.mid(1) : datePart;
    if (unsignedDate.size() < 10 || unsignedDate.at(unsignedDate.size() - 3) != QLatin1Char('-') ||
        unsignedDate.at(unsignedDate.size() - 6) != QLatin1Char('-')) {
        return {};
    }
    qint64 year = 0, month = 0, day = 0;
    const qsizetype yearDigits = unsignedDate.size() - 6;
    if (yearDigits > 7 || !readNumber(unsignedDate.left(yearDigits), static_cast<int>(yearDigits), year) ||
        !readNumber(unsignedDate.mid(yearDigits + 1, 2), 2, month) ||
        !readNumber(unsignedDate.mid(yearDigits + 4, 2), 2, day)) {
        return {};
    }
    if (negativeYear) {
        year = -year;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) {
        return {};
    }

    if (timePart.size() < 8 || timePart.at(2) != QLatin1Char(':') || timePart.at(5) != QLatin1Char(':')) {
        return {};
    }
    qint64 hours = 0, minutes = 0, secs = 0;
    if (!readNumber(timePart.left(2), 2, hours) || !readNumber(timePart.mid(3, 2), 2, minutes) ||
        !readNumber(timePart.mid(6, 2), 2, secs) || minutes > 59 || secs > 59) {
        return {};
    }
    // Hours may run past 23 only as far as FormatSeconds can write them for a float.
    const QStringView fraction = timePart.mid(8);
    if (!fraction.isEmpty()) {
        qint64 ignored = 0;
        if (fraction.at(0) != QLatin1Char('.') || fraction.size() < 2 || fraction.size() > 64 ||
            !readNumber(fraction.mid(1), static_cast<int>(fraction.size() - 1), ignored)) {
            return {};
        }
    }
    // The seconds are read back through the same decimal text the writer made,
    // so the float is exactly the one that was written.
    const QByteArray decimal = QByteArray::number(hours * 3600 + minutes * 60 + secs) + fraction.toLatin1();
    float seconds = 0.0F;
    const auto parsed =
        std::from_chars(decimal.constData(), decimal.constData() + decimal.size(), seconds, std::chars_format::fixed);
    if (parsed.ec != std::errc() || !std::isfinite(seconds)) {
        return {};
    }
    DateTimeStamp stamp;
    stamp.Day = CivilTime::DaysSinceBase(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
    stamp.Seconds = seconds;
    return stamp;
}

QString DateTimeUtility::GeneralDate(const QDateTime& date, const QLocale& locale)
{
    if (!date.isValid()) {
        return QString();
    }
    const QString shortDate = locale.toString(date.date(), QLocale::ShortFormat);
    if (date.time() == QTime(0, 0)) {
        return shortDate;
    }
    return shortDate + QLatin1Char(' ') + locale.toString(date.time(), DatePattern::LongTimeFormat(locale));
}

QString DateTimeUtility::ShortDateTime24(const QDateTime& date, const QLocale& locale)
{
    if (!date.isValid()) {
        return QString();
    }
    const QChar separator = DatePattern::TimeSeparator(locale);
    const QTime time = date.time();
    return locale.toString(date.date(), QLocale::ShortFormat) + QLatin1Char(' ') + twoDigits(time.hour()) + separator +
           twoDigits(time.minute()) + separator + twoDigits(time.second());
}
