// The cycle end to end: real files under each rule, the real profile, a real
// mail server on loopback and the injected clock. One mail per event, never
// two, whatever re-enters the cycle or closes the window meanwhile.
#include "AppTestSupport.h"
#include "CycleFixture.h"
#include "SmtpSink.h"
#include "model/cSettings.h"
#include "notify/NotificationComposer.h"
#include "support/MachineStore.h"
#include "support/DateTimeUtility.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

using namespace AppTest;

namespace {

class CycleMail : public CycleFixture
{
protected:
    void SetUp() override
    {
        CycleFixture::SetUp();
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
        NotificationComposer::SetSendTimeoutForTesting(2000);
    }
    void TearDown() override { NotificationComposer::SetSendTimeoutForTesting(0); }

    CycleProfile Mailing(std::vector<Watch> files) const
    {
        CycleProfile profile {std::move(files)};
        profile.smtpEnabled = true;
        profile.smtpPort = m_sink.Port();
        return profile;
    }
    QStringList Subjects() const
    {
        QStringList subjects;
        for (const SmtpSink::Message& m : m_sink.Messages()) {
            for (const QByteArray& line : m.Raw.split('\n')) {
                if (line.startsWith("Subject: ")) {
                    subjects << QString::fromUtf8(line.mid(9)).trimmed();
                }
            }
        }
        return subjects;
    }
    // History lines after "Sentrel started".
    QStringList Outcomes() const { return HistoryTexts(*m_window).mid(1); }

    SmtpSink m_sink;
};

TEST_F(CycleMail, ChangedFileIsMailedOnceAndItsRowKeepsTheOrdinaryColours)
{
    Watch nightly = File(QStringLiteral("nightly.csv"), 3600);
    nightly.friendlyName = QStringLiteral("Nightly export");
    Start(Mailing({nightly}));
    Touch(nightly, 5);

    Advance(30);
    Tick();
    EXPECT_EQ(Subjects(), QStringList {QStringLiteral("Sentrel: Nightly export has changed")});
    ASSERT_EQ(m_sink.Messages().size(), 1);
    EXPECT_EQ(m_sink.Messages().first().RcptTos, QStringList {QStringLiteral("ops@example.org")});
    EXPECT_EQ(Outcomes(), QStringList {QStringLiteral("File:nightly - Changed Notification Email Sent OK")});
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Changed!"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::white));
    EXPECT_FALSE(RowBold(*m_window, 1));
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("1"));

    // Unchanged since: nothing more.
    Advance(30);
    Tick();
    EXPECT_EQ(m_sink.Messages().size(), 1);
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("OK"));

    // A new change is a new event.
    Touch(nightly, 70);
    Advance(30);
    Tick();
    EXPECT_EQ(m_sink.Messages().size(), 2);
}

TEST_F(CycleMail, WithWatchEventsAChangeIsMailedWithoutWaitingForTheInterval)
{
    for (const bool watch : {true, false}) {
        SCOPED_TRACE(watch ? "watching" : "polling only");
        Watch nightly = File(QStringLiteral("nightly-%1.csv").arg(watch), 3600);
        CycleProfile profile = Mailing({nightly});
        profile.watchEvents = watch;
        profile.pollInterval = 600;
        Start(profile);
        const qsizetype before = m_sink.Messages().size();
        // The clock stands still: the interval's ticks never come due.
        ASSERT_TRUE(TestEnvironment::WriteFile(nightly.path, "new rows\n"));
        Touch(nightly, 5);
        const bool mailed = WaitFor([&] { return m_sink.Messages().size() > before; }, watch ? 2000 : 700);
        EXPECT_EQ(mailed, watch);
        if (watch) {
            EXPECT_EQ(Outcomes().last(), QStringLiteral("File:nightly-1 - Changed Notification Email Sent OK"));
        }
        m_window.reset();
    }
}

TEST_F(CycleMail, StaleFileIsMailedOnceWhileItStaysStaleAndAgainAfterItRecovered)
{
    Watch heartbeat = File(QStringLiteral("heartbeat.txt"), 300, 10);
    heartbeat.friendlyName = QStringLiteral("Heartbeat");
    Start(Mailing({heartbeat}));

    Advance(300);
    Tick();
    EXPECT_EQ(Subjects(), QStringList {QStringLiteral("Sentrel: Heartbeat is out of date")});
    EXPECT_EQ(Outcomes(), QStringList {QStringLiteral("File:heartbeat - Out Of Date Notification Email Sent OK")});
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));
    EXPECT_TRUE(RowBold(*m_window, 1));

    for (int i = 0; i < 3; ++i) {
        Advance(30);
        Tick();
    }
    EXPECT_EQ(m_sink.Messages().size(), 1);
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));

    Touch(heartbeat, 390);
    Advance(30);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(FilesCell(*m_window, 1, "LASTMODIFIED"),
              DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs() + 390)));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::white));
    EXPECT_FALSE(RowBold(*m_window, 1));

    Advance(600);
    Tick();
    EXPECT_EQ(m_sink.Messages().size(), 2);
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));
}

TEST_F(CycleMail, OneCycleMailsEachEventOnceAndNothingForQuietFiles)
{
    Watch changed = File(QStringLiteral("changed.csv"), 3600);
    Watch stale = File(QStringLiteral("stale.txt"), 1200, 10); // stale since before the start
    Watch quiet = File(QStringLiteral("quiet.csv"), 3600);
    changed.friendlyName = QStringLiteral("Export");
    stale.friendlyName = QStringLiteral("Heartbeat");
    Watch young = File(QStringLiteral("young.txt"), 60, 10);
    Start(Mailing({changed, stale, quiet, young}));
    Touch(changed, 1);

    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(Subjects(),
              QStringList({QStringLiteral("Sentrel: Export has changed"),
                           QStringLiteral("Sentrel: Heartbeat is out of date")}));
    EXPECT_EQ(Outcomes(),
              QStringList({QStringLiteral("File:changed - Changed Notification Email Sent OK"),
                           QStringLiteral("File:stale - Out Of Date Notification Email Sent OK")}));
    Action("mnuSysCheckNow")->trigger();
    EXPECT_EQ(m_sink.Messages().size(), 2);
}

TEST_F(CycleMail, FailedMailIsRecordedAndNotRetried)
{
    SmtpSink::Options options;
    options.RejectRcpt = QStringLiteral("ops@example.org");
    SmtpSink refusing(options);
    ASSERT_TRUE(refusing.Started());
    CycleProfile profile = Mailing({File(QStringLiteral("heartbeat.txt"), 1200, 10)});
    profile.smtpPort = refusing.Port();
    Start(profile);

    for (int i = 0; i < 3; ++i) {
        Action("mnuCheckNow")->trigger();
    }
    const QStringList outcomes = Outcomes();
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_TRUE(outcomes.first().startsWith(
        QStringLiteral("File:heartbeat - Out Of Date Notification Email Failed - Reason: ")))
        << outcomes.first().toStdString();
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("1"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));
}

TEST_F(CycleMail, EventWithEmailOffIsNeverMailedEvenAfterSwitchingItOn)
{
    CycleProfile profile = Mailing({File(QStringLiteral("heartbeat.txt"), 300, 10)});
    profile.smtpEnabled = false;
    Start(profile);
    Advance(300);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Out of Date!"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));
    EXPECT_EQ(m_sink.Messages().size(), 0);
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("1")); // marked as notified all the same

    // E-mail switched on in the settings dialog; the profile is saved and read again.
    cSettings::SetDialogHook([](cSettings& settings) {
        settings.SetSMTPEnabled(true);
        return true;
    });
    const auto unhook = qScopeGuard([] { cSettings::SetDialogHook(nullptr); });
    Find<QToolButton>(m_window.get(), "cmdSettings")->click();
    for (int i = 0; i < 2; ++i) {
        Advance(30);
        Tick();
    }
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Out of Date!"));
    EXPECT_EQ(m_sink.Messages().size(), 0);
    EXPECT_EQ(Outcomes(), QStringList());
}

TEST_F(CycleMail, TickDuringASendIsIgnoredAndNothingIsSentTwice)
{
    Start(Mailing({File(QStringLiteral("heartbeat.txt"), 300, 10), File(QStringLiteral("other.csv"), 3600)}));
    Advance(300);
    int nested = 0;
    // The outcome line comes while the file is not yet marked as notified:
    // a second cycle starting here would mail the same event again.
    OnHistoryLine(QStringLiteral("Sent OK"), [&] {
        ++nested;
        Advance(30);
        Tick();
        Action("mnuSysCheckNow")->trigger();
        Action("mnuCheckNow")->trigger();
    });
    Tick();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(m_sink.Messages().size(), 1);
    EXPECT_EQ(Outcomes().size(), 1);
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));

    // The cycle is free again afterwards.
    Action("mnuSysCheckNow")->trigger();
    EXPECT_EQ(m_sink.Messages().size(), 1);
    EXPECT_EQ(Log().count(QStringLiteral("Check File 1")), 2);
}

TEST_F(CycleMail, CloseDuringASendEndsTheCycleAtTheNextFile)
{
    std::vector<Watch> watches;
    for (int i = 1; i <= 3; ++i) {
        watches.push_back(File(QStringLiteral("file%1.csv").arg(i), 3600));
    }
    Start(Mailing(watches));
    for (const Watch& w : watches) {
        Touch(w, 1);
    }
    QSignalSpy unloaded(m_window.get(), &frmMain::Unloaded);
    OnHistoryLine(QStringLiteral("Sent OK"), [&] { m_window->close(); });
    Action("mnuSysCheckNow")->trigger();

    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_EQ(m_sink.Messages().size(), 1);
    // The file being mailed is still marked; the next one is not even checked.
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("1"));
    EXPECT_EQ(Key(2, "NotifyNeeded"), QStringLiteral("<absent>"));
    EXPECT_EQ(FilesCell(*m_window, 2, "STATUS"), QStringLiteral("OK"));
    EXPECT_FALSE(Log().contains(QStringLiteral("Check File 2")));
}

TEST_F(CycleMail, CloseEndsASendAtOnceWhileTheServerHoldsItsAnswer)
{
    NotificationComposer::SetSendTimeoutForTesting(0); // the usual 15 s
    SmtpSink::Options options;
    options.DataDelayMs = 600000;
    const SmtpSink slow(options);
    ASSERT_TRUE(slow.Started()) << slow.Error().toStdString();
    const Watch nightly = File(QStringLiteral("nightly.csv"), 3600);
    CycleProfile profile = Mailing({nightly});
    profile.smtpPort = slow.Port();
    Start(profile);
    Touch(nightly, 1);
    QElapsedTimer sinceClose;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (slow.Held() && !sinceClose.isValid()) {
            sinceClose.start();
            m_window->close();
        }
    });
    closer.start(10);
    Action("mnuSysCheckNow")->trigger();

    ASSERT_TRUE(sinceClose.isValid());
    // At once: libcurl alone would look at the cancel only a second into its wait.
    EXPECT_LT(sinceClose.elapsed(), 500);
    EXPECT_EQ(Outcomes(),
              QStringList {QStringLiteral("File:nightly - Changed Notification Email Failed - Reason: Sending to "
                                          "127.0.0.1 port %1 was cancelled")
                               .arg(slow.Port())});
    EXPECT_EQ(MachineStore::ReadRegString(MachineStore::Root::CurrentUser,
                                           QStringLiteral("SOFTWARE\\Brackwell\\Utils"),
                                           QStringLiteral("SendingToSMTPServer"),
                                           QStringLiteral("<absent>")),
              QStringLiteral("<absent>"));
}

} // namespace
