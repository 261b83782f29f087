#include "support/DateTimeUtility.h"
#include "support/CivilTime.h"
#include "support/Clock.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

// CTest pins TZ=Europe/Berlin: summer time starts 2026-03-29 02:00 (to 03:00)
// and ends 2026-10-25 03:00 (back to 02:00).
namespace {

const QTimeZone kBerlin("Europe/Berlin");

qint64 BerlinMSecs(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), kBerlin).toMSecsSinceEpoch();
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

TEST(CivilTime, BreaksMomentsDownInLocalTimeAndUtc)
{
    CivilTime local, utc;
    const qint64 ms = BerlinMSecs(2026, 7, 1, 0, 30, 15, 250);
    ASSERT_TRUE(CivilTime::FromEpochMSecs(ms, false, local));
    ASSERT_TRUE(CivilTime::FromEpochMSecs(ms, true, utc));
    EXPECT_EQ((std::array {local.Year, local.Month, local.Day, local.Hour, local.Minute, local.Second, local.MSec}),
              (std::array {2026, 7, 1, 0, 30, 15, 250}));
    EXPECT_EQ((std::array {utc.Year, utc.Month, utc.Day, utc.Hour}), (std::array {2026, 6, 30, 22}));
    EXPECT_EQ(local.DayOfWeek, 4); // a Wednesday
    EXPECT_EQ(utc.DayOfWeek, 3);

    // Before the epoch the milliseconds still count forward within their second.
    CivilTime early;
    ASSERT_TRUE(CivilTime::FromEpochMSecs(-1, true, early));
    EXPECT_EQ((std::array {early.Year, early.Month, early.Day, early.Hour, early.Minute, early.Second, early.MSec}),
              (std::array {1969, 12, 31, 23, 59, 59, 999}));
}

TEST(DateTimeStamp, TextFormRoundTripsEveryTimeOfDay)
{
    // What the profile writes is read back as exactly the same stamp, fractions included.
    std::mt19937 random(20261204);
    std::uniform_real_distribution<float> seconds(0.0F, 86399.999F);
    std::uniform_int_distribution<qint32> days(1, 80000);
    std::vector<DateTimeStamp> stamps = {{46360, 0.0F}, {46360, 86399.99F}, {1, 1e-7F}, {0, 0.0F}};
    for (int i = 0; i < 20000; ++i) {
        stamps.push_back({days(random), seconds(random)});
    }
    for (const DateTimeStamp& s : stamps) {
        const QString text = DateTimeUtility::FormatDateStamp(s);
        const DateTimeStamp back = DateTimeUtility::ParseStamp(text);
        ASSERT_EQ(back.Day, s.Day) << text.toStdString();
        ASSERT_EQ(back.Seconds, s.Seconds) << text.toStdString();
        ASSERT_TRUE(DateTimeUtility::SameStamp(back, s));
    }
}

TEST(DateTimeStamp, TextFormLooksLikeAnIsoDateAndTime)
{
    EXPECT_EQ(DateTimeUtility::FormatDateStamp(Stamp(2026, 12, 4, 9, 5, 7)), QStringLiteral("2026-12-04T09:05:07"));
    EXPECT_EQ(DateTimeUtility::FormatDateStamp(Stamp(2026, 12, 4, 23, 59, 59.5)),
              QStringLiteral("2026-12-04T23:59:59.5"));
    EXPECT_EQ(DateTimeUtility::FormatDateStamp({}), QStringLiteral("1899-12-30T00:00:00"));
    // A time of day pushed past midnight by arithmetic is written in the next day.
    EXPECT_EQ(DateTimeUtility::FormatDateStamp({46360, 86400.0F + 60.0F}), QStringLiteral("2026-12-05T00:01:00"));
}

TEST(DateTimeStamp, UnreadableTextsGiveANeverSeenStamp)
{
    const char* texts[] = {
        "",
        "yesterday",
        "2026-12-04",
        "2026-12-04T",
        "2026-13-04T10:00:00",
        "2026-12-32T10:00:00",
        "2026-12-04T10:60:00",
        "2026-12-04T10:00:61",
        "2026-12-04T1:00:00",
        "2026/12/04T10:00:00",
        "2026-12-04T10:00:00.",
        "2026-12-04T10:00:00.5x",
        "2026-12-04T10:00:00junk",
        "99999999-12-04T10:00:00",
        "+026-12-04T10:00:00",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_LE(DateTimeUtility::ParseStamp(QString::fromLatin1(text)).Day, 0);
    }
    // Spaces a hand edit leaves around the value do no harm.
    EXPECT_EQ(DateTimeUtility::ParseStamp(QStringLiteral(" 2026-12-04T10:00:00 ")), Stamp(2026, 12, 4, 10, 0, 0));
}

TEST(DateTimeStamp, AgesCountRealSecondsAcrossSummerTimeChanges)
{
    struct Case
    {
        const char* name;
        DateTimeStamp stamp;
        qint64 now;
        double since;
    } const cases[] = {
        {"plain day", Stamp(2026, 12, 4, 9, 0, 0), BerlinMSecs(2026, 12, 4, 10, 0, 0), 3600.0},
        {"over the spring gap", Stamp(2026, 3, 29, 1, 30, 0), BerlinMSecs(2026, 3, 29, 3, 30, 0), 3600.0},
        {"over the autumn hour", Stamp(2026, 10, 25, 1, 30, 0), BerlinMSecs(2026, 10, 25, 4, 30, 0), 4.0 * 3600.0},
        {"fraction", Stamp(2026, 12, 4, 9, 59, 59.5), BerlinMSecs(2026, 12, 4, 10, 0, 0), 0.5},
        {"future", Stamp(2026, 12, 5, 10, 0, 0), BerlinMSecs(2026, 12, 4, 10, 0, 0), -86400.0},
        {"never seen", DateTimeStamp {}, BerlinMSecs(2026, 12, 4, 10, 0, 0), 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixedClock clock(c.now);
        if (c.stamp.IsSet()) {
            EXPECT_DOUBLE_EQ(DateTimeUtility::SecondsSince(c.stamp), c.since);
            EXPECT_DOUBLE_EQ(DateTimeUtility::SecondsUntil(c.stamp), -c.since);
        } else {
            // Far in the past, but a finite number a comparison can use.
            EXPECT_TRUE(std::isfinite(DateTimeUtility::SecondsSince(c.stamp)));
            EXPECT_GT(DateTimeUtility::SecondsSince(c.stamp), 3.9e9);
        }
    }
}

TEST(DateTimeStamp, NowAddAndCompare)
{
    FixedClock clock(BerlinMSecs(2026, 3, 29, 1, 59, 0, 500));
    const DateTimeStamp now = DateTimeUtility::NowStamp(0);
    EXPECT_EQ(now, Stamp(2026, 3, 29, 1, 59, 0.5));
    EXPECT_DOUBLE_EQ(DateTimeUtility::SecondsSince(now), 0.0);

    // Two minutes later the clocks have jumped from 02:00 to 03:00.
    const DateTimeStamp next = DateTimeUtility::AddSeconds(120.0F, now);
    EXPECT_EQ(next, Stamp(2026, 3, 29, 3, 1, 0.5));
    EXPECT_DOUBLE_EQ(DateTimeUtility::SecondsUntil(next), 120.0);
    clock.AdvanceSeconds(120.0);
    EXPECT_EQ(DateTimeUtility::NowStamp(0), next);

    EXPECT_EQ(DateTimeUtility::AddSeconds(30.0F, Stamp(2026, 12, 31, 23, 59, 45)), Stamp(2027, 1, 1, 0, 0, 15));
    EXPECT_FALSE(DateTimeUtility::SameStamp(Stamp(2026, 12, 4, 10, 0, 0), Stamp(2026, 12, 4, 10, 0, 1)));
    EXPECT_FALSE(DateTimeUtility::SameStamp(Stamp(2026, 12, 4, 10, 0, 0), Stamp(2026, 12, 5, 10, 0, 0)));
}

TEST(DateTimeStamp, DateValuesKeepTheWallClock)
{
    // A file time becomes a local stamp to the second.
    DateTimeStamp fromFile;
    ASSERT_TRUE(DateTimeUtility::StampFromTimeT(BerlinMSecs(2026, 10, 25, 2, 30, 0) / 1000, fromFile));
    EXPECT_EQ(fromFile, Stamp(2026, 10, 25, 2, 30, 0));

    const DateTimeStamp springDay = Stamp(2026, 3, 29, 10, 15, 30);
    const QDateTime date = DateTimeUtility::StampToDate(springDay);
    EXPECT_EQ(date.date(), QDate(2026, 3, 29));
    EXPECT_EQ(date.time(), QTime(10, 15, 30));

    EXPECT_EQ(DateTimeUtility::StampToDate({}), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_FALSE(DateTimeUtility::IsPositiveDate(DateTimeUtility::StampToDate({})));
    EXPECT_FALSE(DateTimeUtility::IsPositiveDate(QDateTime()));
    EXPECT_TRUE(DateTimeUtility::IsPositiveDate(DateTimeUtility::StampToDate(springDay)));
    EXPECT_TRUE(DateTimeUtility::IsPositiveDate(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 1))));

    FixedClock clock(BerlinMSecs(2026, 7, 1, 0, 30, 0));
    EXPECT_EQ(DateTimeUtility::Now().time(), QTime(0, 30));
}

TEST(DateTimeTexts, CountdownAndGeneralDate)
{
    struct Case
    {
        double seconds;
        const char* text;
    } const countdowns[] = {
        {0.0, "0:00"},
        {0.2, "0:01"},
        {59.0, "0:59"},
        {59.01, "1:00"},
        {61.0, "1:01"},
        {3599.5, "1:00:00"},
        {3600.0, "1:00:00"},
        {-5.0, "0:00"},
        {NAN, "0:00"},
        {90061.0, "25:01:01"},
    };
    for (const Case& c : countdowns) {
        EXPECT_EQ(DateTimeUtility::FormatSeconds(c.seconds, 22), QString::fromLatin1(c.text)) << c.seconds;
    }

    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const QDateTime afternoon(QDate(2026, 12, 4), QTime(14, 5, 9));
    const QDateTime midnight(QDate(2026, 12, 4), QTime(0, 0));
    EXPECT_EQ(DateTimeUtility::GeneralDate(afternoon, de), QStringLiteral("04.12.26 14:05:09"));
    EXPECT_EQ(DateTimeUtility::GeneralDate(midnight, de), QStringLiteral("04.12.26"));
    EXPECT_TRUE(DateTimeUtility::GeneralDate(afternoon, us).startsWith(QStringLiteral("12/4/26 2:05:09")));
    EXPECT_FALSE(DateTimeUtility::GeneralDate(afternoon, us).contains(QStringLiteral("CET")));
    EXPECT_EQ(DateTimeUtility::ShortDateTime24(afternoon, us), QStringLiteral("12/4/26 14:05:09"));
    EXPECT_EQ(DateTimeUtility::GeneralDate(QDateTime(), de), QString());
}
