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
        ConfigUtility::WriteIniString(
            QStringLiteral("File1"), QStringLiteral("FileName"), raw.isEmpty() ? m_path : raw, m_profile);
        ConfigUtility::WriteIniString(
            QStringLiteral("File1"), QStringLiteral("StaleMins"), QString::number(staleMins), m_profile);
        cMonitorFile f;
        f.ReadFromFile(m_profile, QStringLiteral("File1"));
        return f;
    }
    QString Key(const QString& key) const
    {
        return ConfigUtility::ReadIniString(QStringLiteral("File1"), key, QStringLiteral("<absent>"), m_profile);
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
    EXPECT_FALSE(f.NotifyNeeded());
    EXPECT_TRUE(f.LastModifiedSD().IsSet());

    EXPECT_TRUE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    EXPECT_FALSE(f.NotifyNeeded());

    Touch(m_path, 10);
    EXPECT_TRUE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("Changed!"));
    EXPECT_TRUE(f.NotifyNeeded());
    EXPECT_FALSE(f.BeenNotified());
    // Saved before the new time replaced the old one.
    EXPECT_EQ(Key(QStringLiteral("NotifyNeeded")), QStringLiteral("1"));
    EXPECT_EQ(DateTimeUtility::ParseStamp(Key(QStringLiteral("LastModified"))).Seconds,
              DateTimeUtility::StampFromDate(QDateTime::fromSecsSinceEpoch(kNow - 3600)).Seconds);

    f.MarkAsNotified();
    EXPECT_TRUE(f.BeenNotified());
    EXPECT_EQ(Key(QStringLiteral("BeenNotifed")), QStringLiteral("1"));

    EXPECT_TRUE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    EXPECT_FALSE(f.NotifyNeeded());
    EXPECT_FALSE(f.BeenNotified());
}

TEST_F(MonitoredFile, StaleRuleAtTheLimit)
{
    struct Case
    {
        const char* name;
        qint64 age;
        const char* status;
        bool notify;
    } const cases[] = {
        {"599 s", 599, "OK", false},
        {"600 s", 600, "Out of Date!", true},
        {"a day", 86400, "Out of Date!", true},
        {"in the future", -300, "OK", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Touch(m_path, c.age);
        cMonitorFile f = Load(10);
        f.CheckFile();
        EXPECT_EQ(f.Status(), QLatin1String(c.status));
        EXPECT_EQ(f.NotifyNeeded(), c.notify);
    }
}

TEST_F(MonitoredFile, StaleRuleStaysNotifiedUntilTheFileIsYoungAgain)
{
    Touch(m_path, 7200);
    cMonitorFile f = Load(10);
    f.CheckFile();
    ASSERT_TRUE(f.NotifyNeeded());
    f.MarkAsNotified();
    for (int i = 0; i < 3; ++i) {
        f.CheckFile();
        EXPECT_EQ(f.Status(), QStringLiteral("Out of Date!"));
        EXPECT_TRUE(f.NotifyNeeded());
        EXPECT_TRUE(f.BeenNotified());
    }
    Touch(m_path, 5);
    f.CheckFile();
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    EXPECT_FALSE(f.NotifyNeeded());
    EXPECT_FALSE(f.BeenNotified());
}

TEST_F(MonitoredFile, NegativeStaleMinutesIsAlwaysOutOfDate)
{
    Touch(m_path, 1);
    cMonitorFile f = Load(-5);
    EXPECT_EQ(f.MonitorType(), 0);
    f.CheckFile();
    EXPECT_EQ(f.Status(), QStringLiteral("Out of Date!"));
    EXPECT_TRUE(f.NotifyNeeded());
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
    EXPECT_TRUE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("OK"));
    EXPECT_FALSE(f.NotifyNeeded());
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
    f.SetRawFileName(QStringLiteral("   "));
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), QStringLiteral("No File"));
    EXPECT_EQ(f.Filename(), QStringLiteral("   "));

    f.SetRawFileName(m_dir + QStringLiteral("/app.#YYYY-MM-DD#.log"));
    EXPECT_EQ(f.DisplayName(), m_dir + QStringLiteral("/app.2026-12-04.log"));
    f.SetFriendlyName(QStringLiteral(" "));
    EXPECT_EQ(f.DisplayName(), QStringLiteral(" "));
}

TEST_F(MonitoredFile, DatePatternFollowsTheDay)
{
    const QString today = m_dir + QStringLiteral("/app.2026-12-04.log");
    Touch(today, 60);
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
    later.ReadFromFile(m_profile, QStringLiteral("File1"));
    EXPECT_EQ(later.Status(), QStringLiteral("Changed!"));
    EXPECT_TRUE(later.NotifyNeeded());
}

TEST_F(MonitoredFile, SectionRoundTripAndDefaultsLeftOut)
{
    Touch(m_path, 100);
    cMonitorFile f;
    f.SetRawFileName(m_path);
    f.SetFriendlyName(QStringLiteral("Nightly export"));
    f.SetStaleMins(25);
    f.SetAttachFileToEmail(true);
    f.CheckFile();
    f.WriteToFile(m_profile, QStringLiteral("File7"));

    cMonitorFile back;
    back.ReadFromFile(m_profile, QStringLiteral("File7"));
    EXPECT_EQ(back.RawFileName(), m_path);
    EXPECT_EQ(back.FriendlyName(), QStringLiteral("Nightly export"));
    EXPECT_EQ(back.StaleMins(), 25);
    EXPECT_TRUE(back.AttachFileToEmail());
    EXPECT_TRUE(DateTimeUtility::SameStamp(back.LastModifiedSD(), f.LastModifiedSD()));

    cMonitorFile plain;
    plain.SetRawFileName(m_path);
    plain.WriteToFile(m_profile, QStringLiteral("File7"));
    const auto key = [&](const char* k) {
        return ConfigUtility::ReadIniString(
            QStringLiteral("File7"), QLatin1String(k), QStringLiteral("<absent>"), m_profile);
    };
    EXPECT_EQ(key("FriendlyName"), QStringLiteral("<absent>"));
    EXPECT_EQ(key("StaleMins"), QStringLiteral("<absent>"));
    EXPECT_EQ(key("AttachFile"), QStringLiteral("<absent>"));
    EXPECT_EQ(key("BeenNotifed"), QStringLiteral("0"));
    EXPECT_EQ(key("NotifyNeeded"), QStringLiteral("0"));

    // Empty arguments write nothing and read nothing.
    cMonitorFile none;
    EXPECT_FALSE(none.ReadFromFile(QString(), QStringLiteral("File1")));
    EXPECT_FALSE(none.ReadFromFile(m_profile, QString()));
}
