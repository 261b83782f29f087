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
    // An empty list finishes all the same.
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
    EXPECT_EQ(Progress(*m_window), 100);
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

TEST_F(CheckCycle, RunningCycleSelectsEachFileShowsTheBusyPointerAndLocksTheSettings)
{
    const std::vector<Watch> watches {File(QStringLiteral("a.csv"), 3600), File(QStringLiteral("b.csv"), 3600)};
    Start(CycleProfile {watches});
    Touch(watches[1], 1);
    QMenu* settingsMenu = Find<QMenu>(m_window.get(), "mnuSettings");
    QToolButton* settingsButton = Find<QToolButton>(m_window.get(), "cmdSettings");
    QTreeView* list = Find<QTreeView>(m_window.get(), "lvwFiles");
    bool seen = false;
    OnStatusCell(2, [&] {
        // The event loop runs in the middle of the cycle, as under a message box.
        QApplication::processEvents();
        seen = true;
        EXPECT_EQ(list->currentIndex().row(), 1);
        EXPECT_EQ(m_window->cursor().shape(), Qt::WaitCursor);
        EXPECT_FALSE(settingsMenu->isEnabled());
        EXPECT_FALSE(settingsMenu->menuAction()->isEnabled());
        EXPECT_FALSE(settingsButton->isEnabled());
        EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking ") + watches[1].path);
    });
    Action("mnuSysCheckNow")->trigger();
    ASSERT_TRUE(seen);
    EXPECT_EQ(m_window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(settingsMenu->isEnabled());
    EXPECT_TRUE(settingsButton->isEnabled());
    EXPECT_TRUE(Action("mnuCheckNow")->isEnabled());
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list->currentIndex().row(), 1);
}

} // namespace
