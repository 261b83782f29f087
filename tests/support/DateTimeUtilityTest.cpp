#include "support/DateTimeUtility.h"
#include "support/CivilTime.h"
#include "support/Clock.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>

using namespace Qt::StringLiterals;

// CTest pins TZ=Europe/Berlin: summer time starts 2026-03-29 02:00 (to 03:00)
// and ends 2026-10-25 03:00 (back to 02:00).
namespace {

qint64 BerlinMSecs(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone("Europe/Berlin")).toMSecsSinceEpoch();
}

DateTimeStamp Stamp(int y, int mo, int d, int h, int mi, double s)
{
    return {CivilTime::DaysSinceBase(y, mo, d), static_cast<float>(h * 3600 + mi * 60 + s)};
}

} // namespace

TEST(CivilTime, SerialDaysAndCalendarFieldsAgree)
{
    // Every day of four centuries round-trips and agrees with Qt's calendar.
    const QDate base(1899, 12, 30);
    for (qint32 serial = -80000; serial < 80000; ++serial) {
        CivilTime t;
        CivilTime::FromDaysSinceBase(serial, t);
        const QDate q = base.addDays(serial);
        ASSERT_EQ(QDate(t.Year, t.Month, t.Day), q) << serial;
        ASSERT_EQ(t.DayOfYear, q.dayOfYear()) << serial;
        ASSERT_EQ(t.DayOfWeek, q.dayOfWeek() % 7 + 1) << serial;
        ASSERT_EQ(CivilTime::DaysSinceBase(t.Year, t.Month, t.Day), serial);
    }
}

TEST(DateTimeStamp, TextFormLooksLikeAnIsoDateAndTime)
{
    EXPECT_EQ(DateTimeUtility::FormatDateStamp(Stamp(2026, 12, 4, 9, 5, 7)), u"2026-12-04T09:05:07"_s);
    EXPECT_EQ(DateTimeUtility::FormatDateStamp(Stamp(2026, 12, 4, 23, 59, 59.5)), u"2026-12-04T23:59:59.5"_s);
    EXPECT_EQ(DateTimeUtility::FormatDateStamp({}), u"1899-12-30T00:00:00"_s);
    // A time of day pushed past midnight by arithmetic is written in the next day.
    EXPECT_EQ(DateTimeUtility::FormatDateStamp({46360, 86400.0F + 60.0F}), u"2026-12-05T00:01:00"_s);
}

TEST(DateTimeStamp, UnreadableTextsGiveANeverSeenStamp)
{
    const char* texts[] = {
        "",
        "yesterday",
        "2026-12-04",
        "2026-13-04T10:00:00",
        "2026-12-32T10:00:00",
        "2026-12-04T10:60:00",
        "2026-12-04T10:00:61",
        "2026-12-04T10:00:00junk",
        "99999999-12-04T10:00:00",
        "+026-12-04T10:00:00",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_LE(DateTimeUtility::ParseStamp(QString::fromLatin1(text)).Day, 0);
    }
    // Spaces a hand edit leaves around the value do no harm.
    EXPECT_EQ(DateTimeUtility::ParseStamp(u" 2026-12-04T10:00:00 "_s), Stamp(2026, 12, 4, 10, 0, 0));
}

TEST(DateTimeStamp, NowKeepsItsMilliseconds)
{
    FixedClock clock(BerlinMSecs(2026, 3, 29, 1, 59, 0, 500));
    EXPECT_EQ(DateTimeUtility::NowStamp(0), Stamp(2026, 3, 29, 1, 59, 0.5));
}

TEST(DateTimeStamp, DateValuesKeepTheWallClock)
{
    // A file time becomes a local stamp to the second.
    DateTimeStamp fromFile;
    ASSERT_TRUE(DateTimeUtility::StampFromTimeT(BerlinMSecs(2026, 10, 25, 2, 30, 0) / 1000, fromFile));
    EXPECT_EQ(fromFile, Stamp(2026, 10, 25, 2, 30, 0));

    const QDateTime springDay = DateTimeUtility::StampToDate(Stamp(2026, 3, 29, 10, 15, 30));
    EXPECT_EQ(springDay, QDateTime(QDate(2026, 3, 29), QTime(10, 15, 30)));
    // Only a stamp that is set shows as a date.
    EXPECT_TRUE(DateTimeUtility::IsPositiveDate(springDay));
    EXPECT_FALSE(DateTimeUtility::IsPositiveDate(DateTimeUtility::StampToDate({})));
}

TEST(DateTimeTexts, CountdownAndGeneralDate)
{
    const std::pair<double, const char*> countdowns[] = {
        {0.2, "0:01"},
        {59.0, "0:59"},
        {59.01, "1:00"},
        {3599.5, "1:00:00"},
        {-5.0, "0:00"},
        {NAN, "0:00"},
        {90061.0, "25:01:01"},
    };
    for (const auto& [seconds, text] : countdowns) {
        EXPECT_EQ(DateTimeUtility::FormatSeconds(seconds, 22), QString::fromLatin1(text)) << seconds;
    }

    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const QDateTime afternoon(QDate(2026, 12, 4), QTime(14, 5, 9));
    const QDateTime midnight(QDate(2026, 12, 4), QTime(0, 0));
    EXPECT_EQ(DateTimeUtility::GeneralDate(afternoon, de), u"04.12.26 14:05:09"_s);
    EXPECT_EQ(DateTimeUtility::GeneralDate(midnight, de), u"04.12.26"_s);
    EXPECT_TRUE(DateTimeUtility::GeneralDate(afternoon, us).startsWith(u"12/4/26 2:05:09"_s));
    EXPECT_FALSE(DateTimeUtility::GeneralDate(afternoon, us).contains(u"CET"_s));
    EXPECT_EQ(DateTimeUtility::ShortDateTime24(afternoon, us), u"12/4/26 14:05:09"_s);
    EXPECT_EQ(DateTimeUtility::GeneralDate(QDateTime(), de), QString());
}
