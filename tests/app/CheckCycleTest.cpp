// The check cycle driven through the main window: real files with set times,
// the real profile, the injected clock, and the window's rows, status line
// and menus found by objectName.
#include "AppTestSupport.h"
#include "CycleFixture.h"
#include "model/cSettings.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

using namespace AppTest;

namespace {

using CheckCycle = AppTest::CycleFixture;

TEST_F(CheckCycle, CountsDownAndChecksOncePerInterval)
{
    const Watch nightly = File(QStringLiteral("nightly.csv"), 3600);
    Start(CycleProfile {{nightly}});
    Touch(nightly, 5);

    struct Step
    {
        double advance;
        const char* status;
        const char* fileStatus;
    };
    // The interval runs from the start of the window to the end of each cycle.
    const Step steps[] = {
        {10, " Time until next check : 0:20", "OK"},
        {19, " Time until next check : 0:01", "OK"},
        {1, " Checking...Finished", "Changed!"}, // elapsed equal to the interval is due
        {1, " Time until next check : 0:29", "Changed!"},
        {29, " Checking...Finished", "OK"},
    };
    double at = 0;
    for (const Step& s : steps) {
        Advance(s.advance);
        at += s.advance;
        SCOPED_TRACE(at);
        Tick();
        EXPECT_EQ(Status(*m_window), QLatin1String(s.status));
        EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QLatin1String(s.fileStatus));
    }
    EXPECT_EQ(m_window->Cycle().LastCheck(), DateTimeUtility::NowStamp(0));
    EXPECT_EQ(Progress(*m_window), 100);
}

TEST_F(CheckCycle, SettingTheSystemClockNeitherStopsNorHastensChecks)
{
    for (const qint64 jumpSecs : {-3600, 3600}) {
        SCOPED_TRACE(jumpSecs);
        Start(CycleProfile {{File(QStringLiteral("nightly.csv"), 3600)}});
        m_clock.Set(m_clock.NowMSecsSinceEpoch() + jumpSecs * 1000);
        Advance(10);
        Tick();
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Time until next check : 0:20"));
        Advance(20);
        Tick();
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
        m_window.reset();
    }
}

TEST_F(CheckCycle, TheWindowTimerDrivesTheCycle)
{
    CycleProfile profile;
    profile.pollInterval = 0;
    Start(profile);
    QTimer* timer = Find<QTimer>(m_window.get(), "tmrCheckFiles");
    QSignalSpy ticks(timer, &QTimer::timeout);
    timer->setInterval(0);
    ASSERT_TRUE(ticks.wait(2000));
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
}

TEST_F(CheckCycle, PollIntervalZeroMakesEveryTickDue)
{
    const Watch log = File(QStringLiteral("app.log"), 600);
    CycleProfile profile {{log}};
    profile.pollInterval = 0;
    Start(profile);
    const char* const expected[] = {"Changed!", "OK", "Changed!"};
    for (int tick = 0; tick < 3; ++tick) {
        SCOPED_TRACE(tick);
        if (tick != 1) {
            Touch(log, tick + 1);
        }
        Tick();
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
        EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QLatin1String(expected[tick]));
    }
}

TEST_F(CheckCycle, CheckNowRunsAtOnceAndRestartsTheInterval)
{
    for (const char* item : {"mnuCheckNow", "mnuSysCheckNow"}) {
        SCOPED_TRACE(item);
        const Watch w = File(QStringLiteral("%1.csv").arg(QLatin1String(item)), 3600);
        Start(CycleProfile {{w}});
        Touch(w, 1);
        Advance(10);
        Action(item)->trigger();
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
        EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Changed!"));

        Advance(25); // 35 s after the start, 25 after the check
        Tick();
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Time until next check : 0:05"));
        EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Changed!"));
        Advance(5);
        Tick();
        EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("OK"));
        m_window.reset();
    }
}

TEST_F(CheckCycle, EmptyWatchListFinishesAndRestartsTheInterval)
{
    Start(CycleProfile {});
    Advance(30);
    Tick();
    EXPECT_EQ(Progress(*m_window), 100);
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
    EXPECT_EQ(m_window->Cycle().LastCheck(), DateTimeUtility::NowStamp(0));
}

TEST_F(CheckCycle, StaleFileIsRedAndBoldUntilItIsFreshAgain)
{
    // Five minutes old under a ten-minute limit: young at the start.
    const Watch heartbeat = File(QStringLiteral("heartbeat.txt"), 300, 10);
    Start(CycleProfile {{heartbeat}});
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::white));

    Advance(300);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Out of Date!"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));
    EXPECT_TRUE(RowBold(*m_window, 1));
    // E-mail is off: the event is marked as notified all the same.
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("1"));
    EXPECT_EQ(HistoryTexts(*m_window), QStringList {QStringLiteral("Sentrel started")});

    Advance(30);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Out of Date!"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::red));

    Touch(heartbeat, 330);
    Advance(30);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(RowColour(*m_window, 1), QColor(Qt::white));
    EXPECT_FALSE(RowBold(*m_window, 1));
    EXPECT_EQ(FilesCell(*m_window, 1, "LASTMODIFIED"),
              DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs() + 330)));
}

TEST_F(CheckCycle, MissingFileShowsItsStatusAndUnknownUntilItAppears)
{
    Watch missing;
    missing.path = m_folder + QStringLiteral("/weekly.csv");
    Start(CycleProfile {{missing}});
    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("File not found"));
    EXPECT_EQ(FilesCell(*m_window, 1, "LASTMODIFIED"), QStringLiteral("(Unknown)"));

    WatchedFile(m_folder, QStringLiteral("weekly.csv"), NowSecs() - 60);
    Action("mnuCheckNow")->trigger();
    // First sight records the time; there is nothing to notify.
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(FilesCell(*m_window, 1, "LASTMODIFIED"),
              DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs() - 60)));
    EXPECT_EQ(Key(1, "BeenNotifed"), QStringLiteral("<absent>"));
}

TEST_F(CheckCycle, FileNameCellFollowsTheDateInTheName)
{
    WatchedFile(m_folder, QStringLiteral("app.2026-12-04.log"), NowSecs() - 60);
    // Tomorrow's file has a time of its own: the watch moves to it and sees a change.
    WatchedFile(m_folder, QStringLiteral("app.2026-12-05.log"), NowSecs() + 3600);
    Watch daily;
    daily.path = m_folder + QStringLiteral("/app.#YYYY-MM-DD#.log");
    Start(CycleProfile {{daily}});
    EXPECT_EQ(FilesCell(*m_window, 1, "FILENAME"), m_folder + QStringLiteral("/app.2026-12-04.log"));
    Advance(24 * 3600);
    Tick();
    EXPECT_EQ(FilesCell(*m_window, 1, "FILENAME"), m_folder + QStringLiteral("/app.2026-12-05.log"));
    EXPECT_EQ(FilesCell(*m_window, 1, "STATUS"), QStringLiteral("Changed!"));
}

TEST_F(CheckCycle, RunningCycleShowsTheBusyPointerAndLocksTheSettings)
{
    const Watch nightly = File(QStringLiteral("nightly.csv"), 3600);
    Start(CycleProfile {{nightly}});
    Touch(nightly, 1);
    QMenu* settingsMenu = Find<QMenu>(m_window.get(), "mnuSettings");
    QToolButton* settingsButton = Find<QToolButton>(m_window.get(), "cmdSettings");
    bool seen = false;
    OnStatusCell(1, [&] {
        seen = true;
        EXPECT_EQ(m_window->cursor().shape(), Qt::WaitCursor);
        EXPECT_FALSE(settingsMenu->isEnabled());
        EXPECT_FALSE(settingsMenu->menuAction()->isEnabled());
        EXPECT_FALSE(settingsButton->isEnabled());
        EXPECT_EQ(Progress(*m_window), 0);
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking ") + nightly.path);
    });
    Action("mnuSysCheckNow")->trigger();
    ASSERT_TRUE(seen);
    EXPECT_EQ(m_window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(settingsMenu->isEnabled());
    EXPECT_TRUE(settingsButton->isEnabled());
    EXPECT_TRUE(Action("mnuCheckNow")->isEnabled());
}

TEST_F(CheckCycle, SelectsEachFileInTurnEndingOnTheLast)
{
    std::vector<Watch> watches;
    for (int i = 1; i <= 3; ++i) {
        watches.push_back(File(QStringLiteral("file%1.csv").arg(i), 3600));
    }
    Start(CycleProfile {watches});
    for (const Watch& w : watches) {
        Touch(w, 1);
    }
    QTreeView* list = Find<QTreeView>(m_window.get(), "lvwFiles");
    int selectedMeanwhile = -1;
    OnStatusCell(2, [&] {
        // The event loop runs in the middle of the cycle, as under a message box.
        QApplication::processEvents();
        selectedMeanwhile = list->currentIndex().row();
    });
    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(selectedMeanwhile, 1);
    EXPECT_EQ(list->currentIndex().row(), 2);
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), 2);
}

} // namespace
