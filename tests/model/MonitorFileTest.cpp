#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "model/cMonitorFile.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/DateTimeUtility.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QTimeZone kBerlin("Europe/Berlin");
const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), kBerlin).toSecsSinceEpoch();

class MonitoredFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestEnvironment::NewFolder(QStringLiteral("files"));
        m_profile = m_dir + QStringLiteral("/Sentrel.ini");
        m_path = m_dir + QStringLiteral("/export.csv");
    }

    // Makes the file exist with a last-modified time some seconds before "now".
    void Touch(const QString& path, qint64 secondsAgo) const
    {
        if (!QFile::exists(path)) {
            ASSERT_TRUE(TestEnvironment::WriteFile(path, "data"));
        }
        ASSERT_TRUE(TestEnvironment::SetModified(path, kNow - secondsAgo));
    }
    // An entry read from its own section, the way a profile load makes it.
    cMonitorFile Load(qint32 staleMins = 0, const QString& raw = QString()) const
    {
        ConfigUtility::WriteIniString("File1", "FileName", raw.isEmpty() ? m_path : raw, m_profile);
        ConfigUtility::WriteIniString("File1", "StaleMins", QString::number(staleMins), m_profile);
        cMonitorFile f;
        f.ReadFromFile(m_profile, "File1");
        return f;
    }
    QString Key(const QString& key, const QString& section = "File1") const
    {
        return ConfigUtility::ReadIniString(section, key, "<absent>", m_profile);
    }
    // Checks the file and compares its status and whether a notification is due.
    static void Expect(cMonitorFile& f, const QString& status, bool notify)
    {
        f.CheckFile();
        EXPECT_EQ(f.Status(), status);
        EXPECT_EQ(f.NotifyNeeded(), notify);
    }

    QString m_dir, m_profile, m_path;
    FixedClock m_clock {kNow * 1000};
};

} // namespace

TEST_F(MonitoredFile, ChangeRuleNotifiesOncePerChange)
{
    Touch(m_path, 3600);
    cMonitorFile f = Load();
    // First sighting: the time is recorded, nothing is notified.
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    Expect(f, "OK", false);

    Touch(m_path, 10);
    Expect(f, "Changed!", true);
    EXPECT_FALSE(f.BeenNotified());
    // Saved before the new time replaced the old one.
    EXPECT_EQ(Key("NotifyNeeded"), QStringLiteral("1"));
    EXPECT_EQ(DateTimeUtility::ParseStamp(Key("LastModified")).Seconds,
              DateTimeUtility::StampFromDate(QDateTime::fromSecsSinceEpoch(kNow - 3600)).Seconds);

    f.MarkAsNotified();
    EXPECT_EQ(Key("BeenNotifed"), QStringLiteral("1"));
    Expect(f, "OK", false);
    EXPECT_FALSE(f.BeenNotified());
}

TEST_F(MonitoredFile, StaleRuleAtTheLimit)
{
    struct Case
    {
        qint32 staleMins;
        qint64 age;
        const char* status;
        bool notify;
    } const cases[] = {
        {10, 599, "OK", false},
        {10, 600, "Out of Date!", true},
        {10, -300, "OK", false},       // in the future
        {-5, 1, "Out of Date!", true}, // negative minutes: always out of date
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.age);
        Touch(m_path, c.age);
        cMonitorFile f = Load(c.staleMins);
        Expect(f, c.status, c.notify);
    }
    EXPECT_EQ(Load(-5).MonitorType(), 0); // listed as a change rule, though it checks the age
}

TEST_F(MonitoredFile, StaleRuleStaysNotifiedUntilTheFileIsYoungAgain)
{
    Touch(m_path, 7200);
    cMonitorFile f = Load(10);
    Expect(f, "Out of Date!", true);
    f.MarkAsNotified();
    Expect(f, "Out of Date!", true);
    EXPECT_TRUE(f.BeenNotified());
    Touch(m_path, 5);
    Expect(f, "OK", false);
    EXPECT_FALSE(f.BeenNotified());
}

TEST_F(MonitoredFile, MissingFileKeepsItsLastGoodTime)
{
    Touch(m_path, 3600);
    cMonitorFile f = Load();
    const DateTimeStamp seen = f.LastModifiedSD();
    ASSERT_TRUE(QFile::remove(m_path));
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("File not found"));
    EXPECT_EQ(f.LastModifiedSD(), seen);
    // It comes back with the same time: no change to report.
    Touch(m_path, 3600);
    Expect(f, "OK", false);
}

TEST_F(MonitoredFile, OnlyARegularFileIsFound)
{
    for (const auto& [path, kind] : TestEnvironment::NonRegularFiles()) {
        SCOPED_TRACE(kind.toStdString());
        cMonitorFile f = Load(0, path);
        EXPECT_FALSE(f.CheckFile());
        EXPECT_EQ(f.Status(), QStringLiteral("File not found"));
    }
}

TEST_F(MonitoredFile, NamesAndDisplayNames)
{
    cMonitorFile f;
    f.SetRawFileName("   ");
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("No File"));

    f.SetRawFileName(m_dir + QStringLiteral("/app.#YYYY-MM-DD#.log"));
    EXPECT_EQ(f.DisplayName(), m_dir + QStringLiteral("/app.2026-12-04.log"));
    f.SetFriendlyName(" ");
    EXPECT_EQ(f.DisplayName(), QStringLiteral(" "));
}

TEST_F(MonitoredFile, DatePatternFollowsTheDay)
{
    Touch(m_dir + QStringLiteral("/app.2026-12-04.log"), 60);
    cMonitorFile f = Load(0, m_dir + QStringLiteral("/app.#YYYY-MM-DD#.log"));
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    m_clock.AdvanceSeconds(86400);
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("File not found"));
}

TEST_F(MonitoredFile, ChangeWhileNotRunningIsSeenAtLoad)
{
    Touch(m_path, 3600);
    cMonitorFile before = Load();
    before.MarkAsNotified(); // saves the time seen, as adding a file does
    Touch(m_path, 60);
    cMonitorFile later;
    later.ReadFromFile(m_profile, "File1");
    EXPECT_EQ(later.Status(), QStringLiteral("Changed!"));
    EXPECT_TRUE(later.NotifyNeeded());
}

TEST_F(MonitoredFile, DefaultsAreLeftOutOfItsSection)
{
    cMonitorFile plain;
    plain.SetRawFileName(m_path);
    plain.WriteToFile(m_profile, "File7");
    for (const char* key : {"FriendlyName", "StaleMins", "AttachFile"}) {
        EXPECT_EQ(Key(key, "File7"), QStringLiteral("<absent>")) << key;
    }
    EXPECT_EQ(Key("BeenNotifed", "File7"), QStringLiteral("0"));
    EXPECT_EQ(Key("NotifyNeeded", "File7"), QStringLiteral("0"));
}
