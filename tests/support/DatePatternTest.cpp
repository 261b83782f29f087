#include "support/DatePattern.h"
#include "support/CivilTime.h"
#include "support/Clock.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <tuple>

namespace {

const QTimeZone kBerlin("Europe/Berlin");
const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kDe(QLocale::German, QLocale::Germany);

qint64 BerlinMSecs(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), kBerlin).toMSecsSinceEpoch();
}

CivilTime Local(qint64 msecs)
{
    CivilTime t;
    EXPECT_TRUE(CivilTime::FromEpochMSecs(msecs, false, t));
    return t;
}

} // namespace

TEST(DatePattern, RendersEveryToken)
{
    // Friday 4 December 2026, 09:05:07 and 21:05:07.
    const CivilTime morning = Local(BerlinMSecs(2026, 12, 4, 9, 5, 7));
    const CivilTime evening = Local(BerlinMSecs(2026, 12, 4, 21, 5, 7));
    const std::tuple<const char*, const CivilTime&, const QLocale&, const char*> cases[] = {
        {"YYYY-MM-DD", morning, kUs, "2026-12-04"},
        {"d/m/yy", morning, kUs, "4/12/26"},
        {"d/m/yy", morning, kDe, "4.12.26"},
        {"ddd dddd", morning, kUs, "Fri Friday"},
        {"ddd", morning, kDe, "Fr."},
        {"mmm mmmm", morning, kUs, "Dec December"},
        {"w ww", morning, kUs, "6 49"},
        {"q y", morning, kUs, "4 338"},
        {"hh:mm:ss", morning, kUs, "09:05:07"},
        {"h:m:s", morning, kUs, "9:5:7"},
        {"hhnnss", evening, kUs, "210507"},
        {"hh-mm", morning, kUs, "09-05"},       // minutes after an hour, plain text between
        {"mm-hh-mm", morning, kUs, "12-09-05"}, // month first, minutes after the hour
        {"hh dd mm", morning, kUs, "09 04 12"}, // another token in between: month again
        {"hh AM/PM", evening, kUs, "09 PM"},
        {"h am/pm", evening, kUs, "9 pm"},
        {"hAMPM", evening, kUs, "9PM"},
        {"\\h\\h hh", morning, kUs, "hh 09"},
        {"\"yyyy-\"yyyy", morning, kUs, "yyyy-2026"},
        {"log_yyyy", morning, kUs, "log_2026"}, // letters without a meaning are copied
        {"ttttt", evening, kDe, "21:05:07"},
        {"ddddd", morning, kDe, "04.12.26"},
        {"dddddd", morning, kDe, "Freitag, 4. Dezember 2026"},
        {"c", morning, kDe, "04.12.26 09:05:07"},
        {"", evening, kDe, "04.12.26 21:05:07"},
    };
    for (const auto& [pattern, moment, locale, rendered] : cases) {
        SCOPED_TRACE(pattern);
        EXPECT_EQ(DatePattern::Render(QString::fromLatin1(pattern), moment, locale), QString::fromUtf8(rendered));
    }
}

TEST(DatePattern, WeeksStartOnSundayWithWeekOneHoldingTheFirstOfJanuary)
{
    const std::tuple<int, int, int, const char*> cases[] = {
        {2026, 1, 1, "1"}, // a Thursday
        {2026, 1, 4, "2"}, // Sunday starts week 2
        {2023, 1, 1, "1"}, // a Sunday
        {2023, 12, 31, "53"},
        {2028, 12, 31, "54"}, // leap year beginning on a Saturday
    };
    for (const auto& [y, m, d, week] : cases) {
        SCOPED_TRACE(testing::Message() << y << '-' << m << '-' << d);
        EXPECT_EQ(DatePattern::Render(u"ww", Local(BerlinMSecs(y, m, d, 12, 0, 0)), kUs), QString::fromLatin1(week));
    }
}

TEST(DatePattern, ExpandsNamesForTheCurrentMoment)
{
    // 4 December 2026, 00:30 in Berlin is still 3 December in UTC.
    FixedClock clock(BerlinMSecs(2026, 12, 4, 0, 30, 0));
    const std::pair<const char*, const char*> cases[] = {
        {"c:\\MyFile.#YYYY-MM-DD#.log", "c:\\MyFile.2026-12-04.log"},
        {"/logs/#hhz#.log", "/logs/23.log"},
        {"/logs/#hh#.log", "/logs/00.log"},
        {"/logs/#YYYYMMDDZ#.log", "/logs/20261203.log"},
        {"/a/#yyyy#/#yyyy#-#mm#.csv", "/a/2026/2026-12.csv"},
        {"/a/#dd#-#ddz#", "/a/04-03"},
        {"/logs/a#b.log", "/logs/a#b.log"},
        {"/logs/#yyyy#/a#b.log", "/logs/2026/a#b.log"},
        {"###", "04.12.26 00:30:00#"},
        {"#z#", "03.12.26 23:30:00"},
    };
    for (const auto& [raw, expanded] : cases) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(DatePattern::ExpandName(QString::fromLatin1(raw), kDe), QString::fromLatin1(expanded));
    }
}

TEST(DatePattern, NamesFollowTheSummerTime)
{
    // At 01:00 UTC on 29 March 2026 Berlin moves from 02:00 to 03:00.
    const FixedClock clock(QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC).toMSecsSinceEpoch());
    EXPECT_EQ(DatePattern::ExpandName(QStringLiteral("#hh#|#hhz#"), kUs), QStringLiteral("03|01"));
}
