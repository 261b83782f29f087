// The monitor without any widget: real files with set times, the real
// profile, the injected clock and a real mail server on loopback.
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "monitor/MetricsText.h"
#include "monitor/cMonitor.h"
#include "notify/MailNotifier.h"
#include "notify/NotificationComposer.h"
#include "notify/NotificationText.h"
#include "notify/cMessage.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimeZone>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

using namespace Qt::StringLiterals;

namespace {

const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

using TestEnvironment::WaitFor;

QString ProfilePath()
{
    return ProfileFormat::ProfilePath(u"Test"_s);
}

struct Watch
{
    QString path;
    qint32 staleMins = 0;
    QString keys = {}; // more lines of the file's section
};

class Monitor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = TestEnvironment::NewFolder(u"watched"_s);
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
        NotificationComposer::SetSendTimeoutForTesting(2000);
        m_monitor.SetNotifier(&m_notifier);
        QObject::connect(&m_monitor, &cMonitor::StatusText, [this](const QString& text) {
            m_status = text;
            ++m_statuses;
        });
        QObject::connect(
            &m_monitor, &cMonitor::HistoryLine, [this](const QDateTime&, const QString& text) { m_history << text; });
        QObject::connect(&m_monitor, &cMonitor::FileChecked, [this](int index) { m_checked << index; });
    }
    void TearDown() override { NotificationComposer::SetSendTimeoutForTesting(0); }

    // A watched file last modified secondsAgo before the start.
    QString File(const QString& name, qint64 secondsAgo)
    {
        const QString path = m_folder + QLatin1Char('/') + name;
        EXPECT_TRUE(TestEnvironment::WriteFile(path, "data\n"));
        Touch(path, -secondsAgo);
        return path;
    }
    static void Touch(const QString& path, qint64 secondsAfterStart)
    {
        ASSERT_TRUE(TestEnvironment::SetModified(path, kNow + secondsAfterStart));
    }
    // A profile mailing to the port (0: no mail), each file seen as it is now.
    static QString Profile(const std::vector<Watch>& files, quint16 port, const QString& general = {})
    {
        QString text = u"[General]\nNumberFiles=%1\n%2[SMTPServer]\nEnabled=%3\nAddress=127.0.0.1\n"
                       "Port=%4\n[Email]\nFrom=sentrel@example.org\nTo=ops@example.org\n"_s.arg(files.size())
                           .arg(general)
                           .arg(port ? 1 : 0)
                           .arg(port);
        for (size_t i = 0; i < files.size(); ++i) {
            const QDateTime modified = QFileInfo(files[i].path).lastModified();
            text += u"[File%1]\nFileName=%2\nStaleMins=%3\n%4"_s.arg(i + 1)
                        .arg(files[i].path)
                        .arg(files[i].staleMins)
                        .arg(files[i].keys);
            if (modified.isValid()) {
                text += u"LastModified=%1\n"_s.arg(modified.toString(u"yyyy-MM-ddTHH:mm:ss"_s));
            }
        }
        return text;
    }
    void Start(const QString& profile)
    {
        ASSERT_TRUE(TestEnvironment::WriteFile(ProfilePath(), profile.toUtf8()));
        ASSERT_TRUE(m_monitor.Load(u"Test"_s));
    }
    // A check (or a tick), waited for to its end.
    void Check(bool force = true)
    {
        QSignalSpy finished(&m_monitor, &cMonitor::CycleFinished);
        force ? m_monitor.CheckNow() : m_monitor.Tick();
        if (m_monitor.Running()) {
            ASSERT_TRUE(finished.wait(5000));
        }
    }
    QString Status(int index) const { return m_monitor.Settings().MonitorFile(static_cast<qint16>(index))->Status(); }
    static QString Key(int file, const char* key)
    {
        return ConfigUtility::ReadIniString(u"File%1"_s.arg(file), QLatin1String(key), u"<absent>"_s, ProfilePath());
    }
    qsizetype Mails() const { return m_sink.Messages().size(); }

    FixedClock m_clock {kNow * 1000};
    QString m_folder;
    SmtpSink m_sink;
    cMonitor m_monitor;
    MailNotifier m_notifier {NotificationText::TemplateFolders()};
    QString m_status;
    int m_statuses = 0;
    QStringList m_history;
    QList<int> m_checked;
};

TEST_F(Monitor, CountsDownAndChecksAnIntervalAfterTheLastCheckEndedWhateverTheWallClockSays)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    m_monitor.ShowCountdown();
    Start(Profile({{nightly}}, 0));
    Touch(nightly, 5);
    struct Step
    {
        double advance;
        bool checkNow;
        const char* status;
        const char* file;
        qint64 wallClockJump = 0; // the system time set by a person: no check comes sooner or later
    };
    const Step steps[] = {
        {10, false, " Time until next check : 0:20", "OK"},
        {19, false, " Time until next check : 0:01", "OK", -3600},
        {1, false, " Checking...Finished", "Changed!"}, // an elapsed time equal to the interval is due
        {1, false, " Time until next check : 0:29", "Changed!", 3600},
        {9, true, " Checking...Finished", "OK"}, // at once, and the interval starts again
        {25, false, " Time until next check : 0:05", "OK", 86400},
        {5, false, " Checking...Finished", "OK"},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        m_clock.Set(m_clock.NowMSecsSinceEpoch() + steps[i].wallClockJump * 1000);
        m_clock.AdvanceSeconds(steps[i].advance);
        Check(steps[i].checkNow);
        EXPECT_EQ(m_status, QLatin1String(steps[i].status));
        EXPECT_EQ(Status(1), QLatin1String(steps[i].file));
    }
}

TEST_F(Monitor, NoCycleRunsWhileHeldForADialogAndWhatCameDueRunsAfter)
{
    const QString changed = File(u"changed.csv"_s, 3600);
    Start(Profile({{changed}}, 0));
    Touch(changed, 1);
    m_monitor.Hold(true);
    m_clock.AdvanceSeconds(60);
    Check(false);
    Check(true);
    EXPECT_TRUE(m_checked.isEmpty());
    EXPECT_EQ(Status(1), u"OK"_s);
    m_monitor.Hold(false);
    Check(false);
    EXPECT_EQ(Status(1), u"Changed!"_s);
}

TEST_F(Monitor, EachChangeAndEachStaleSpellIsMailedOnce)
{
    const QString changed = File(u"changed.csv"_s, 3600);
    const QString stale = File(u"stale.txt"_s, 300);
    Start(Profile({{changed}, {stale, 10}, {File(u"quiet.csv"_s, 3600)}}, m_sink.Port()));
    Touch(changed, 1);
    m_clock.AdvanceSeconds(300);
    Check();
    EXPECT_EQ(m_history,
              QStringList({u"File:changed - Changed Notification Email Sent OK"_s,
                           u"File:stale - Out Of Date Notification Email Sent OK"_s}));
    EXPECT_EQ(Key(2, "BeenNotifed"), u"1"_s);
    for (int i = 0; i < 3; ++i) {
        m_clock.AdvanceSeconds(30);
        Check();
    }
    EXPECT_EQ(Mails(), 2);
    // A new change is a new event; a stale file seen young again goes stale anew.
    Touch(changed, 400);
    Touch(stale, 400);
    Check();
    EXPECT_EQ(Status(2), u"OK"_s);
    m_clock.AdvanceSeconds(700);
    Check();
    EXPECT_EQ(Mails(), 4);
}

TEST_F(Monitor, AnEventIsMarkedNotifiedOnceWhetherTheMailFailsOrEmailIsOff)
{
    SmtpSink::Options refusing;
    refusing.RejectRcpt = u"ops@example.org"_s;
    SmtpSink rejecting(refusing);
    ASSERT_TRUE(rejecting.Started());
    const QString heartbeat = File(u"heartbeat.txt"_s, 1200);
    for (const quint16 port : {rejecting.Port(), quint16(0)}) {
        SCOPED_TRACE(port);
        m_history.clear();
        Touch(heartbeat, -1200);
        Start(Profile({{heartbeat, 10}}, port));
        for (int i = 0; i < 3; ++i) {
            Check();
        }
        EXPECT_EQ(Key(1, "BeenNotifed"), u"1"_s);
        EXPECT_EQ(m_history.size(), port ? 1 : 0);
        if (port) {
            EXPECT_TRUE(
                m_history.first().startsWith(u"File:heartbeat - Out Of Date Notification Email Failed - Reason: "_s));
        }
    }
    EXPECT_EQ(Mails(), 0);
}

TEST_F(Monitor, ATickCheckNowOrReloadDuringASendWaitsForItsEnd)
{
    m_monitor.ShowCountdown();
    Start(Profile({{File(u"heartbeat.txt"_s, 1200), 10}, {File(u"other.csv"_s, 3600)}}, m_sink.Port()));
    QSignalSpy finished(&m_monitor, &cMonitor::CycleFinished);
    QSignalSpy replaced(&m_monitor, &cMonitor::ListReplaced);
    m_monitor.CheckNow();
    ASSERT_TRUE(m_monitor.Running()); // waiting for the send's outcome
    const int statuses = m_statuses;
    m_clock.AdvanceSeconds(30);
    m_monitor.Tick();
    m_monitor.CheckNow();
    m_monitor.ReloadProfile();
    EXPECT_EQ(m_statuses, statuses) << "not even the countdown";
    EXPECT_EQ(replaced.count(), 0);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(replaced.count(), 1);
    EXPECT_EQ(Mails(), 1);
    EXPECT_EQ(m_history.size(), 1);
    EXPECT_EQ(m_checked, QList<int>({1, 2}));
}

TEST_F(Monitor, StopCancelsASendAtOnceAndChecksNoFurtherFile)
{
    SmtpSink::Options options;
    options.DataDelayMs = 600000;
    const SmtpSink slow(options);
    ASSERT_TRUE(slow.Started());
    NotificationComposer::SetSendTimeoutForTesting(0); // the usual 15 s
    const std::vector<Watch> files {{File(u"one.csv"_s, 3600)}, {File(u"two.csv"_s, 3600)}};
    Start(Profile(files, slow.Port()));
    Touch(files[0].path, 1);
    Touch(files[1].path, 1);
    QSignalSpy stopped(&m_monitor, &cMonitor::Stopped);
    QElapsedTimer sinceStop;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (slow.Held() && !sinceStop.isValid()) {
            sinceStop.start();
            m_monitor.Stop();
        }
    });
    stopper.start(10);
    m_monitor.CheckNow();
    ASSERT_TRUE(stopped.count() == 1 || stopped.wait(5000));
    EXPECT_LT(sinceStop.elapsed(), 500);
    EXPECT_EQ(m_history,
              QStringList {u"File:one - Changed Notification Email Failed - Reason: Sending to "
                           "127.0.0.1 port %1 was cancelled"_s.arg(slow.Port())});
    EXPECT_EQ(Key(1, "BeenNotifed"), u"1"_s);
    EXPECT_EQ(Key(2, "NotifyNeeded"), u"<absent>"_s);
    EXPECT_EQ(m_checked, QList<int> {1});
}

TEST_F(Monitor, TheLargestListIsCheckedToItsLastFile)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    Start(Profile({{nightly}}, 0)
              .replace(u"NumberFiles=1"_s, u"NumberFiles=2000000000"_s)
              .replace(u"[File1]"_s, u"[File32767]"_s));
    Touch(nightly, -60);
    Check();
    ASSERT_EQ(m_checked.size(), 32767);
    EXPECT_EQ(m_checked.last(), 32767);
    EXPECT_EQ(Status(32766), u"No File"_s);
    EXPECT_EQ(Status(32767), u"Changed!"_s);
}

TEST_F(Monitor, WithWatchEventsAChangeIsCheckedWithoutWaitingForTheInterval)
{
    for (const bool watch : {true, false}) {
        SCOPED_TRACE(watch);
        const QString nightly = File(u"nightly-%1.csv"_s.arg(watch), 3600);
        Start(Profile({{nightly}}, 0, u"PollInterval=600\nWatchEvents=%1\n"_s.arg(watch)));
        // The clock stands still: the interval never comes due.
        ASSERT_TRUE(TestEnvironment::WriteFile(nightly, "new rows\n"));
        Touch(nightly, 5);
        EXPECT_EQ(WaitFor([&] { return Status(1) == u"Changed!"_s; }, watch ? 3000 : 700), watch);
    }
}

TEST_F(Monitor, AnOutsideEditIsReadAtOnceOrWhenTheCycleHasEnded)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    const QString weekly = File(u"weekly.csv"_s, 3600);
    // The server writes the edit over the profile while the monitor waits for its answer.
    const QString edit = m_folder + u"/edit.ini"_s;
    SmtpSink::Options options;
    options.CopyFrom = edit;
    options.CopyTo = ProfilePath();
    const SmtpSink editing(options);
    ASSERT_TRUE(editing.Started()) << editing.Error().toStdString();
    ASSERT_TRUE(TestEnvironment::WriteFile(edit, Profile({{nightly}, {weekly}}, editing.Port()).toUtf8()));
    Start(Profile({{nightly}}, editing.Port()));
    QSignalSpy replaced(&m_monitor, &cMonitor::ListReplaced);
    Touch(nightly, 1);
    Check();
    EXPECT_EQ(m_history, QStringList {u"File:nightly - Changed Notification Email Sent OK"_s});
    EXPECT_GE(replaced.count(), 1);
    EXPECT_EQ(m_monitor.Settings().NumberFiles(), 2);
    EXPECT_EQ(Key(1, "BeenNotifed"), u"1"_s);

    // Saved as editors do, a new file renamed over the old one, while no cycle runs.
    const QString next = ProfilePath() + u".new"_s;
    ASSERT_TRUE(TestEnvironment::WriteFile(next, Profile({{weekly}}, 0).toUtf8()));
    ASSERT_TRUE(QFile::remove(ProfilePath()) && QFile::rename(next, ProfilePath()));
    EXPECT_TRUE(WaitFor([&] { return m_monitor.Settings().NumberFiles() == 1; }));
}

// Missing files, recoveries and reminders, each mailed once and told in the history.
TEST_F(Monitor, AlertsAreMailedOnceEachAndOnlyWhereSwitchedOn)
{
    struct Step
    {
        double advance;
        enum { Nothing, Remove, Restore, Touch } action;
        const char* status;
        const char* history;  // the lines this check adds, "|" between them
        bool restart = false; // the profile is read afresh before the check
    };
    struct Case
    {
        const char* name;
        qint32 staleMins;
        const char* keys;
        std::vector<Step> steps;
    } const cases[] = {
        {"change rule: missing as soon as a file seen before is gone, back with a new time",
         0,
         "NotifyMissing=1\nNotifyRecovered=1\n",
         {{0, Step::Remove, "Missing!", "File:gone - Missing Notification Email Sent OK"},
          {60, Step::Nothing, "Missing!", ""},
          {60,
           Step::Touch,
           "Changed!",
           "File:gone - Recovered Notification Email Sent OK|File:gone - Changed Notification Email Sent OK"},
          {60, Step::Nothing, "OK", ""}}},
        {"stale rule: missing once gone for its minutes, and back young",
         10,
         "NotifyMissing=1\nNotifyRecovered=1\n",
         {{0, Step::Remove, "File not found", ""},
          {599, Step::Nothing, "File not found", ""},
          {1, Step::Nothing, "Missing!", "File:gone - Missing Notification Email Sent OK"},
          {600, Step::Nothing, "Missing!", ""},
          {60, Step::Touch, "OK", "File:gone - Recovered Notification Email Sent OK"},
          {60, Step::Nothing, "OK", ""}}},
        {"reminders while out of date, until it is young again",
         10,
         "RemindMins=30\nNotifyRecovered=1\n",
         {{600, Step::Nothing, "Out of Date!", "File:gone - Out Of Date Notification Email Sent OK"},
          {1799, Step::Nothing, "Out of Date!", ""},
          {1, Step::Nothing, "Out of Date!", "File:gone - Out Of Date Reminder Notification Email Sent OK"},
          {1800, Step::Nothing, "Out of Date!", "File:gone - Out Of Date Reminder Notification Email Sent OK"},
          {60, Step::Touch, "OK", "File:gone - Recovered Notification Email Sent OK"}}},
        {"missing, reminded, then back: no recovery mail unless asked",
         0,
         "NotifyMissing=1\nRemindMins=5\n",
         {{0, Step::Remove, "Missing!", "File:gone - Missing Notification Email Sent OK"},
          {300, Step::Nothing, "Missing!", "File:gone - Missing Reminder Notification Email Sent OK"},
          {60, Step::Restore, "OK", ""},
          {600, Step::Nothing, "OK", ""}}},
        {"none of the keys: gone is only not found, young again is only OK",
         10,
         "",
         {{0, Step::Remove, "File not found", ""},
          {3600, Step::Nothing, "File not found", ""},
          {0, Step::Restore, "Out of Date!", "File:gone - Out Of Date Notification Email Sent OK"},
          {3600, Step::Nothing, "Out of Date!", ""},
          {0, Step::Touch, "OK", ""}}},
        {"what was mailed and when survives restarts",
         0,
         "NotifyMissing=1\nNotifyRecovered=1\nRemindMins=10\n",
         {{0, Step::Remove, "Missing!", "File:gone - Missing Notification Email Sent OK"},
          {300, Step::Nothing, "Missing!", "", true},
          {300, Step::Nothing, "Missing!", "File:gone - Missing Reminder Notification Email Sent OK", true},
          {60, Step::Restore, "OK", "File:gone - Recovered Notification Email Sent OK", true},
          {60, Step::Nothing, "OK", "", true}}},
        {"stale rule: missing counted from the first check that missed it, across a restart",
         10,
         "NotifyMissing=1\n",
         {{0, Step::Remove, "File not found", ""},
          {300, Step::Nothing, "File not found", "", true},
          {300, Step::Nothing, "Missing!", "File:gone - Missing Notification Email Sent OK", true},
          {60, Step::Nothing, "Missing!", "", true}}},
        {"reminders go on after the clock was set back",
         0,
         "NotifyMissing=1\nRemindMins=5\n",
         {{0, Step::Remove, "Missing!", "File:gone - Missing Notification Email Sent OK"},
          {-3600, Step::Nothing, "Missing!", ""},
          {300, Step::Nothing, "Missing!", "File:gone - Missing Reminder Notification Email Sent OK"}}},
        {"today's dated file never made",
         10,
         "NotifyMissing=1\nMissingSince=2099-01-01T00:00:00Z\n",
         {{0, Step::Nothing, "File not found", ""},
          {600, Step::Nothing, "Missing!", "File:export.2026-12-04 - Missing Notification Email Sent OK"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_history.clear();
        const bool dated = QLatin1String(c.name).startsWith(u"today"_s);
        const QString path = dated ? m_folder + u"/export.#yyyy-mm-dd#.csv"_s : File(u"gone.csv"_s, 60);
        Start(Profile({{path, c.staleMins, QLatin1String(c.keys)}}, m_sink.Port()));
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            m_clock.AdvanceSeconds(step.advance);
            const qint64 now = m_clock.NowMSecsSinceEpoch() / 1000 - kNow;
            if (step.action == Step::Remove) {
                ASSERT_TRUE(QFile::remove(path));
            } else if (step.action != Step::Nothing) {
                ASSERT_TRUE(QFile::exists(path) || TestEnvironment::WriteFile(path, "data\n"));
                Touch(path, step.action == Step::Touch ? now : -60);
            }
            if (step.restart) {
                ASSERT_TRUE(m_monitor.Load(u"Test"_s));
            }
            const QStringList before = m_history;
            Check();
            EXPECT_EQ(Status(1), QLatin1String(step.status));
            EXPECT_EQ(m_history.mid(before.size()).join(QLatin1Char('|')), QLatin1String(step.history));
        }
        if (dated) {
            // A file never seen has no time to tell.
            cMessage mail;
            ASSERT_TRUE(mail.FromMime(m_sink.Messages().last().Raw));
            EXPECT_TRUE(mail.TextBody().contains(u"Last seen modified: (Unknown)"_s)) << mail.TextBody().toStdString();
        }
        if (!*c.keys) {
            // A profile without the keys gets none of them written.
            for (const char* key : {"NotifyMissing", "NotifyRecovered", "RemindMins", "MissingSince", "Alert"}) {
                EXPECT_EQ(Key(1, key), u"<absent>"_s) << key;
            }
        }
    }
}

TEST_F(Monitor, AFileTimeAheadOfTheClockIsToldOnceSinceItCannotGoStale)
{
    const QString future = File(u"future.csv"_s, -3600);
    Start(Profile({{future, 10}}, m_sink.Port()));
    for (int i = 0; i < 3; ++i) {
        m_clock.AdvanceSeconds(60);
        Check();
        EXPECT_EQ(Status(1), u"Modified in the future!"_s);
    }
    ASSERT_EQ(m_history.size(), 1);
    EXPECT_TRUE(m_history.first().startsWith(u"File:future - Last modified "_s)) << m_history.first().toStdString();
    // A few minutes ahead is a clock a little off, not a warning.
    Touch(future, 180 + 240);
    Check();
    EXPECT_EQ(Status(1), u"OK"_s);
    EXPECT_EQ(Mails(), 0);
}

// Reads the Prometheus text format strictly: every family typed before its
// samples and not seen before, names and labels as the format allows, label
// values with only its three escapes, no series twice, numbers as values.
// The samples by metric name and unescaped label values joined with "|".
std::map<QString, double> ParseMetrics(const QByteArray& text)
{
    static const QRegularExpression comment(u"^# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.+)$"_s);
    static const QRegularExpression sample(QStringLiteral(
        R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*",?)*)\})? (\S+)$)"));
    static const QRegularExpression label(QStringLiteral(R"re(="((?:[^"\\]|\\.)*)")re"));
    std::map<QString, double> samples;
    QStringList families;
    EXPECT_TRUE(text.endsWith('\n'));
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const QRegularExpressionMatch c = comment.match(line);
        if (c.captured(1) == u"TYPE"_s) {
            EXPECT_FALSE(families.contains(c.captured(2))) << line.toStdString();
            EXPECT_TRUE(c.captured(3) == u"gauge"_s || c.captured(3) == u"counter"_s);
            families << c.captured(2);
        }
        if (line.isEmpty() || c.hasMatch()) {
            continue;
        }
        const QRegularExpressionMatch m = sample.match(line);
        EXPECT_TRUE(m.hasMatch() && !families.isEmpty() && m.captured(1) == families.last()) << line.toStdString();
        QString key = m.captured(1);
        for (auto labels = label.globalMatch(m.captured(2)); labels.hasNext();) {
            // Apart from an escaped backslash, a backslash only starts \" or \n.
            QStringList parts = labels.next().captured(1).split(QStringLiteral("\\\\"));
            for (QString& part : parts) {
                part.replace(QStringLiteral("\\n"), QStringLiteral("\n"))
                    .replace(QStringLiteral("\\\""), QStringLiteral("\""));
            }
            key += QLatin1Char('|') + parts.join(QLatin1Char('\\'));
        }
        bool number = false;
        EXPECT_TRUE(samples.emplace(key, m.captured(3).toDouble(&number)).second) << "twice: " << line.toStdString();
        EXPECT_TRUE(number) << line.toStdString();
    }
    return samples;
}

TEST_F(Monitor, TheMetricsFileTellsEachWatchAndTheCycleInTheTextFormat)
{
    const QString metrics = m_folder + u"/sentrel.prom"_s;
    const QString stale = File(u"stale.csv"_s, 1200);
    const QString fresh = File(u"fresh.csv"_s, 60);
    Start(Profile({{stale, 10, u"FriendlyName=Say \"hi\" to C:\\back\\slash\n"_s},
                   {fresh, 0, u"FriendlyName=Say \"hi\" to C:\\back\\slash\n"_s},
                   {m_folder + u"/gone.csv"_s, 0}},
                  m_sink.Port(),
                  u"MetricsFile=%1\n"_s.arg(metrics)));
    m_clock.AdvanceSeconds(30);
    Check();
    std::map<QString, double> got = ParseMetrics(TestEnvironment::ReadFile(metrics));
    const QString name = u"Say \"hi\" to C:\\back\\slash"_s;
    const auto file = [&](const char* metric, int index, const QString& display, const char* state = nullptr) {
        QString key = u"%1|Test|%2|%3"_s.arg(QLatin1String(metric)).arg(index).arg(display);
        return state ? key + QLatin1Char('|') + QLatin1String(state) : key;
    };
    const std::pair<QString, double> expected[] = {
        {file("sentrel_file_last_modified_seconds", 1, name), double(kNow - 1200)},
        {file("sentrel_file_age_seconds", 1, name), 1230.0},
        {file("sentrel_file_needs_attention", 1, name), 1},
        {file("sentrel_file_state", 1, name, "out_of_date"), 1},
        {file("sentrel_file_age_seconds", 2, name), 90.0},
        {file("sentrel_file_needs_attention", 2, name), 0},
        {file("sentrel_file_state", 3, m_folder + u"/gone.csv"_s, "not_found"), 1},
        {u"sentrel_last_cycle_timestamp_seconds|Test"_s, double(kNow + 30)},
        {u"sentrel_notifications_sent_total|Test"_s, 1},
        {u"sentrel_notifications_failed_total|Test"_s, 0},
    };
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(got.count(key), 1u) << key.toStdString();
        EXPECT_EQ(got[key], value) << key.toStdString();
    }
    EXPECT_EQ(got.count(file("sentrel_file_age_seconds", 3, m_folder + u"/gone.csv"_s)), 0u);
    // Each cycle puts its own state in place.
    m_clock.AdvanceSeconds(30);
    Check();
    EXPECT_EQ(ParseMetrics(TestEnvironment::ReadFile(metrics))[u"sentrel_last_cycle_timestamp_seconds|Test"_s],
              double(kNow + 60));

    // A line break in a name, possible only for a name set in code, is escaped as well.
    m_monitor.Settings().MonitorFile(1)->SetFriendlyName(u"two\nlines"_s);
    got = ParseMetrics(MetricsText::Render(m_monitor.Settings(), {}));
    EXPECT_EQ(got.count(file("sentrel_file_needs_attention", 1, u"two\nlines"_s)), 1u);

    // A file that cannot be written is told once, and the watch goes on.
    m_history.clear();
    m_monitor.Settings().SetMetricsFile(m_folder + u"/no/such/folder/sentrel.prom"_s);
    Check();
    Check();
    ASSERT_EQ(m_history.size(), 1);
    EXPECT_TRUE(
        m_history.first().startsWith(u"Metrics file %1/no/such/folder/sentrel.prom was not written: "_s.arg(m_folder)))
        << m_history.first().toStdString();
    // Nor does a FIFO where the file belongs hang a cycle or get moved out of its place.
    const QString fifo = m_folder + u"/fifo.prom"_s;
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    m_monitor.Settings().SetMetricsFile(fifo);
    Check();
    Check();
    EXPECT_EQ(m_history.last(), u"Metrics file %1 was not written: %1 is not a regular file"_s.arg(fifo));
    struct stat st = {};
    EXPECT_TRUE(::lstat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
}

} // namespace
