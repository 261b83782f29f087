#include "TestEnvironment.h"
#include "model/cMonitorFile.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/DateTimeUtility.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

class MonitoredFile : public ::testing::Test
{
protected:
    // Makes the file exist with a last-modified time some seconds before "now".
    void Touch(const QString& path, qint64 secondsAgo) const
    {
        ASSERT_TRUE(TestEnvironment::WriteFile(path, "data") && TestEnvironment::SetModified(path, kNow - secondsAgo));
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
    QString Key(const char* k, const char* s = "File1") const
    {
        return ConfigUtility::ReadIniString(s, k, "<absent>", m_profile);
    }
    // Checks the file and compares its status and whether a notification is due.
    static void Expect(cMonitorFile& f, const QString& status, bool notify)
    {
        f.CheckFile();
        EXPECT_EQ(f.Status(), status);
        EXPECT_EQ(f.NotifyNeeded(), notify);
    }

    QString m_dir = TestEnvironment::NewFolder(u"files"_s);
    QString m_profile = m_dir + u"/Sentrel.ini"_s;
    QString m_path = m_dir + u"/export.csv"_s;
    FixedClock m_clock {kNow * 1000};
};

} // namespace

TEST_F(MonitoredFile, ChangeRuleNotifiesOncePerChange)
{
    Touch(m_path, 3600);
    cMonitorFile f = Load();
    Expect(f, "OK", false); // the first sighting records the time and notifies nothing

    Touch(m_path, 10);
    Expect(f, "Changed!", true);
    // Saved before the new time replaced the old one, so a restart still notifies.
    EXPECT_EQ(Key("NotifyNeeded"), u"1"_s);
    EXPECT_EQ(DateTimeUtility::ParseStamp(Key("LastModified")).Seconds,
              DateTimeUtility::StampFromDate(QDateTime::fromSecsSinceEpoch(kNow - 3600)).Seconds);

    f.MarkAsNotified();
    EXPECT_EQ(Key("BeenNotifed"), u"1"_s);
    Expect(f, "OK", false);
}

TEST_F(MonitoredFile, StaleRuleAtTheLimit)
{
    // StaleMins, the file's age, its status and whether a notification is due.
    const std::tuple<qint32, qint64, const char*, bool> cases[] = {
        {10, 599, "OK", false},
        {10, 600, "Out of Date!", true},
        {10, -300, "OK", false},       // in the future
        {-5, 1, "Out of Date!", true}, // negative minutes: always out of date
    };
    for (const auto& [staleMins, age, status, notify] : cases) {
        SCOPED_TRACE(testing::Message() << staleMins << " minutes, " << age << " seconds old");
        Touch(m_path, age);
        cMonitorFile f = Load(staleMins);
        Expect(f, status, notify);
    }
}

TEST_F(MonitoredFile, MissingFileKeepsItsLastGoodTime)
{
    Touch(m_path, 3600);
    cMonitorFile f = Load();
    const DateTimeStamp seen = f.LastModifiedSD();
    ASSERT_TRUE(QFile::remove(m_path));
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), u"File not found"_s);
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
        EXPECT_EQ(f.Status(), u"File not found"_s);
    }
}

TEST_F(MonitoredFile, DatePatternsInTheNameFollowTheDay)
{
    Touch(m_dir + u"/app.2026-12-04.log"_s, 60);
    cMonitorFile f = Load(0, m_dir + u"/app.#YYYY-MM-DD#.log"_s);
    EXPECT_EQ(f.Status(), u"OK"_s);
    EXPECT_EQ(f.DisplayName(), m_dir + u"/app.2026-12-04.log"_s);
    m_clock.AdvanceSeconds(86400);
    EXPECT_FALSE(f.CheckFile());
    EXPECT_EQ(f.Status(), u"File not found"_s);
}

TEST_F(MonitoredFile, DefaultsAreLeftOutOfItsSection)
{
    cMonitorFile plain;
    plain.SetRawFileName(m_path);
    plain.WriteToFile(m_profile, "File7");
    for (const char* key : {"FriendlyName", "StaleMins", "AttachFile"}) {
        EXPECT_EQ(Key(key, "File7"), u"<absent>"_s) << key;
    }
    EXPECT_EQ(Key("BeenNotifed", "File7") + Key("NotifyNeeded", "File7"), u"00"_s);
}
