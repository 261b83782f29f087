// The main window with real widgets (offscreen): start-up, the lists and
// their layout, the history cap, the tray icon and its menu, and closing.
#include "AppTestSupport.h"
#include "ScriptedUi.h"
#include "model/cSettings.h"
#include "support/InstanceLock.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/GeneralUtility.h"
#include "support/ProfileStore.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

using namespace AppTest;

namespace {

// Whether a copy of the program (this one, here) holds the window's single-instance name.
bool instanceNameHeld()
{
    return TestEnvironment::ReadFile(QStringLiteral("/proc/net/unix"))
        .contains(InstanceLock::Name().toUtf8() + '\n');
}

class MainWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = TestEnvironment::NewFolder(QStringLiteral("watched"));
        m_nightly = WatchedFile(m_folder, QStringLiteral("nightly.csv"), NowSecs() - 3600);
        m_heartbeat = WatchedFile(m_folder, QStringLiteral("heartbeat.txt"), NowSecs() - 1200);
        m_missing = m_folder + QStringLiteral("/missing.csv");
        QFile::remove(ProfilePath());
    }
    void TearDown() override { frmMain::SetTrayProbe(nullptr); }

    // Three files: one under the change rule, one stale (20 minutes old, limit 10), one missing.
    void WriteThreeFiles()
    {
        ASSERT_TRUE(WriteProfile(
            QStringLiteral("[General]\nNumberFiles=3\n\n[SMTPServer]\nEnabled=0\n\n"
                           "[File1]\nFileName=%1\nFriendlyName=Nightly export\nLastModified=%2\n\n"
                           "[File2]\nFileName=%3\nStaleMins=10\nLastModified=%4\n\n"
                           "[File3]\nFileName=%5\n")
                .arg(m_nightly, Stamp(NowSecs() - 3600), m_heartbeat, Stamp(NowSecs() - 1200), m_missing)));
    }
    void Start(const QStringList& arguments = {QStringLiteral("/DEBUG=NORMAL")})
    {
        m_logStart = LogText().size();
        m_window = std::make_unique<frmMain>();
        ASSERT_TRUE(m_window->Load(arguments));
    }
    // What this test's window logged.
    QString Log() const { return LogText().mid(m_logStart); }
    QSystemTrayIcon* Tray() const { return Find<QSystemTrayIcon>(m_window.get(), "trayIcon"); }
    QAction* Action(const char* name) const { return Find<QAction>(m_window.get(), name); }
    void Minimise() { m_window->setWindowState(m_window->windowState() | Qt::WindowMinimized); }

    FixedClock m_clock {NowMSecs()};
    QString m_folder;
    QString m_nightly;
    QString m_heartbeat;
    QString m_missing;
    qsizetype m_logStart = 0;
    std::unique_ptr<frmMain> m_window;
};

TEST_F(MainWindow, StartShowsEveryMonitoredFileAndSentrelStarted)
{
    WriteThreeFiles();
    Start();

    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Brackwell Sentrel v1"));
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Loading Settings...Completed"));
    EXPECT_TRUE(Find<QTimer>(m_window.get(), "tmrCheckFiles")->isActive());
    EXPECT_TRUE(Tray()->isVisible());

    ASSERT_EQ(Files(*m_window)->rowCount(), 3);
    const auto ago = [](qint64 secs) {
        return DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs() - secs));
    };
    struct Row
    {
        QString name, modified, status;
        QColor colour;
        bool bold;
    } const expected[] = {
        {"Nightly export", ago(3600), "OK", Qt::white, false},
        // Stale and in need of a notification: red and bold from the start.
        {m_heartbeat, ago(1200), "Out of Date!", Qt::red, true},
        {m_missing, "(Unknown)", "File not found", Qt::white, false},
    };
    for (int row = 1; row <= 3; ++row) {
        SCOPED_TRACE(row);
        const Row& e = expected[row - 1];
        EXPECT_EQ(FilesCell(*m_window, row, "FILENAME"), e.name);
        EXPECT_EQ(FilesCell(*m_window, row, "LASTMODIFIED"), e.modified);
        EXPECT_EQ(FilesCell(*m_window, row, "STATUS"), e.status);
        EXPECT_EQ(RowColour(*m_window, row), e.colour);
        EXPECT_EQ(RowBold(*m_window, row), e.bold);
    }

    QTreeWidget* history = Find<QTreeWidget>(m_window.get(), "lvwHistory");
    ASSERT_EQ(history->topLevelItemCount(), 1);
    EXPECT_EQ(history->topLevelItem(0)->text(1), QStringLiteral("Sentrel started"));
    EXPECT_EQ(history->topLevelItem(0)->text(0), DateTimeUtility::ShortDateTime24(DateTimeUtility::Now()));
}

TEST_F(MainWindow, StartTestsForAnotherCopyUnlessToldNotToInAnyCase)
{
    WriteThreeFiles();
    for (const bool check : {false, true}) { // the name, once held, stays with the process
        SCOPED_TRACE(check);
        Start(check ? QStringList {"/debug=normal"} : QStringList {"/noPrevCheck", "/DEBUG=NORMAL"});
        const QString log = Log();
        const qsizetype checked = log.indexOf(QStringLiteral("Check if already running"));
        EXPECT_EQ(checked >= 0, check) << log.toStdString();
        EXPECT_GT(log.indexOf(QStringLiteral("History: Sentrel started")), checked);
        EXPECT_EQ(instanceNameHeld(), check);
        m_window.reset();
    }
}

TEST_F(MainWindow, EmptyProfileGivesAnEmptyListWithItsColumns)
{
    Start();
    QAbstractItemModel* files = Files(*m_window);
    EXPECT_EQ(files->rowCount(), 0);
    QStringList captions;
    for (int c = 0; c < files->columnCount(); ++c) {
        captions << files->headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(captions, QStringList({"", "Filename", "Last Modified", "Status"}));
    QTreeWidgetItem* header = Find<QTreeWidget>(m_window.get(), "lvwHistory")->headerItem();
    EXPECT_EQ(QStringList({header->text(0), header->text(1)}), QStringList({"Date/Time", "Information"}));
}

TEST_F(MainWindow, HistoryKeepsTheNewest500LinesWithTheLastInView)
{
    Start();
    QTreeWidget* history = Find<QTreeWidget>(m_window.get(), "lvwHistory");
    const QDateTime when = DateTimeUtility::Now();
    for (int i = 1; i <= 501; ++i) {
        m_window->AddHistory(when.addSecs(i), QStringLiteral("line %1").arg(i));
    }
    ASSERT_EQ(history->topLevelItemCount(), 500);
    // "Sentrel started" and line 1 have gone, oldest first.
    EXPECT_EQ(history->topLevelItem(0)->text(1), QStringLiteral("line 2"));
    QTreeWidgetItem* last = history->topLevelItem(499);
    EXPECT_EQ(last->text(1), QStringLiteral("line 501"));
    EXPECT_EQ(last->text(0), DateTimeUtility::ShortDateTime24(when.addSecs(501)));
    QApplication::processEvents();
    EXPECT_TRUE(history->viewport()->rect().intersects(history->visualItemRect(last)));
    EXPECT_FALSE(history->viewport()->rect().intersects(history->visualItemRect(history->topLevelItem(0))));
    EXPECT_TRUE(Log().contains(QStringLiteral("History: line 501")));
}

TEST_F(MainWindow, TrayIconCarriesTheProductNameAndThePopupMenu)
{
    Start();
    QSystemTrayIcon* tray = Tray();
    EXPECT_EQ(tray->toolTip(), QStringLiteral("Brackwell Sentrel v1"));
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_FALSE(m_window->windowIcon().isNull());
    QMenu* popup = Find<QMenu>(m_window.get(), "mPopupSys");
    EXPECT_EQ(tray->contextMenu(), popup);
    QStringList captions;
    for (const QAction* action : popup->actions()) {
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(captions, QStringList({"Restore", "-", "Check Now", "-", "E&xit"}));
}

TEST_F(MainWindow, MenuBarHoldsTheCommandsInOrder)
{
    Start();
    QStringList seen;
    for (const QAction* top : m_window->menuBar()->actions()) {
        seen << top->text();
        for (const QAction* item : top->menu()->actions()) {
            seen << (item->isSeparator() ? QStringLiteral("-") : item->text());
        }
    }
    EXPECT_EQ(
        seen,
        QStringList({"&File", "&Check Files Now", "-", "E&xit", "&Settings", "&Program Settings", "&Help", "&About"}));
}

TEST_F(MainWindow, MinimiseHidesToTheTrayAndEachRestoreBringsItBack)
{
    frmMain::SetTrayProbe([] { return true; });
    Start();
    const std::pair<const char*, std::function<void()>> restores[] = {
        {"tray click", [this] { Q_EMIT Tray()->activated(QSystemTrayIcon::Trigger); }},
        {"tray double-click", [this] { Q_EMIT Tray()->activated(QSystemTrayIcon::DoubleClick); }},
        {"Restore", [this] { Action("mnuSysRestore")->trigger(); }},
    };
    for (const auto& [name, restore] : restores) {
        SCOPED_TRACE(name);
        Minimise();
        ASSERT_TRUE(WaitFor([this] { return !m_window->isVisible(); }));
        EXPECT_TRUE(Tray()->isVisible());
        restore();
        EXPECT_TRUE(m_window->isVisible());
        EXPECT_FALSE(m_window->isMinimized());
    }
    // A right or middle click leaves it hidden.
    Minimise();
    ASSERT_TRUE(WaitFor([this] { return !m_window->isVisible(); }));
    Q_EMIT Tray()->activated(QSystemTrayIcon::Context);
    Q_EMIT Tray()->activated(QSystemTrayIcon::MiddleClick);
    QApplication::processEvents();
    EXPECT_FALSE(m_window->isVisible());
}

TEST_F(MainWindow, WithoutATrayMinimiseKeepsTheWindowInTheTaskBar)
{
    frmMain::SetTrayProbe([] { return false; });
    Start();
    for (int i = 0; i < 2; ++i) {
        Minimise();
        // Nothing may hide it: give a queued hide every chance to happen.
        EXPECT_FALSE(WaitFor([this] { return !m_window->isVisible(); }, 100));
        EXPECT_TRUE(m_window->isMinimized());
        m_window->showNormal();
    }
    EXPECT_EQ(Log().count(QStringLiteral("No system tray")), 1);
}

TEST_F(MainWindow, CloseBoxOrExitInEitherMenuEndsTheProgramEvenFromTheTray)
{
    frmMain::SetTrayProbe([] { return true; });
    for (const char* exit : {"", "mnuExit", "mnuSysExit"}) {
        SCOPED_TRACE(exit);
        Start({QStringLiteral("/NOPREVCHECK")});
        QSignalSpy unloaded(m_window.get(), &frmMain::Unloaded);
        if (*exit == 0) {
            EXPECT_TRUE(m_window->close());
        } else {
            Minimise();
            ASSERT_TRUE(WaitFor([this] { return !m_window->isVisible(); }));
            Action(exit)->trigger();
        }
        EXPECT_EQ(unloaded.count(), 1);
        EXPECT_FALSE(Tray()->isVisible());
        EXPECT_FALSE(m_window->isVisible());
        EXPECT_FALSE(Find<QTimer>(m_window.get(), "tmrCheckFiles")->isActive());
    }
}

TEST_F(MainWindow, TheLargestFileListIsShownAndCheckedToItsLastFile)
{
    // Clamped to 32,767 files, of which only the last has a name.
    ASSERT_TRUE(
        WriteProfile(QStringLiteral("[General]\nNumberFiles=2000000000\nWatchEvents=1\n[SMTPServer]\nEnabled=0\n"
                                    "[File32767]\nFileName=%1\nLastModified=%2\n")
                         .arg(m_nightly, Stamp(NowSecs() - 3600))));
    Start();
    ASSERT_EQ(Files(*m_window)->rowCount(), 32767);
    ASSERT_TRUE(TestEnvironment::SetModified(m_nightly, NowSecs() - 60));
    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Checking...Finished"));
    EXPECT_EQ(FilesCell(*m_window, 32766, "STATUS"), QStringLiteral("No File"));
    EXPECT_EQ(FilesCell(*m_window, 32767, "STATUS"), QStringLiteral("Changed!"));
    EXPECT_FALSE(Log().contains(QStringLiteral(" is gone"))) << "the cycle went past the last file";
}

TEST_F(MainWindow, AProfileThatCannotBeReadIsToldAtStartAndAMissingOneIsNot)
{
    struct Case
    {
        const char* name;
        std::function<bool()> make;
        QString problem;
    };
    const Case cases[] = {
        {"missing", [] { return !QFileInfo::exists(ProfilePath()); }, QString()},
        {"binary",
         [] { return WriteProfile(QStringLiteral("\x01\x02=\x00\x00")); },
         QStringLiteral("it is not an INI file")},
        {"folder",
         [] { return QFile::remove(ProfilePath()) && QDir().mkpath(ProfilePath()); },
         QStringLiteral("it is a folder")},
    };
    const auto removeFolder = qScopeGuard([] { QDir().rmdir(ProfilePath()); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedUi ui;
        UserInterface::Install(&ui);
        const auto uninstall = qScopeGuard([] { UserInterface::Install(nullptr); });
        ASSERT_TRUE(c.make());
        Start({QStringLiteral("/NOPREVCHECK")});
        EXPECT_EQ(ui.asked,
                  c.problem.isEmpty()
                      ? QStringList()
                      : QStringList {QStringLiteral("The profile ") + ProfilePath() +
                                     QStringLiteral(" cannot be read: ") + c.problem +
                                     QStringLiteral(".\n\nNo files are watched until it can be read.")});
        EXPECT_TRUE(m_window->isVisible());
    }
}

TEST_F(MainWindow, AFailedSaveIsOneHistoryLineForEachReason)
{
    WriteThreeFiles();
    Start();
    const QString before = ProfileText();
    static ProfileStore::Step failing = ProfileStore::Step::Write;
    static int error = ENOSPC;
    ProfileStore::SetFaultInjector([](ProfileStore::Step step) { return step == failing ? error : 0; });
    const auto reset = qScopeGuard([] { ProfileStore::SetFaultInjector(nullptr); });
    const auto failures = [&] { return HistoryTexts(*m_window).filter(QStringLiteral(" was not saved (")); };

    // The stale file is saved as notified at every check, and fails every time.
    for (int cycle = 0; cycle < 3; ++cycle) {
        Action("mnuCheckNow")->trigger();
    }
    EXPECT_EQ(Log().count(QStringLiteral(" was not written: ")), 3);
    ASSERT_EQ(failures().size(), 1) << HistoryTexts(*m_window).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(failures().at(0),
              QStringLiteral("Profile ") + ProfilePath() +
                  QStringLiteral(" was not saved (cannot write the new file: No space left on device); it keeps what "
                                 "was last saved"));
    EXPECT_EQ(ProfileText(), before);
    failing = ProfileStore::Step::Sync;
    error = EIO;
    Action("mnuCheckNow")->trigger();
    Action("mnuCheckNow")->trigger();
    ASSERT_EQ(failures().size(), 2);
    EXPECT_TRUE(failures().at(1).contains(QStringLiteral("(cannot save the new file to disk: Input/output error)")));

    ProfileStore::SetFaultInjector(nullptr);
    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(failures().size(), 2);
    EXPECT_TRUE(ProfileText().contains(QStringLiteral("BeenNotifed=1")));
}

TEST_F(MainWindow, ProgramSettingsReloadsOnlyWhenTheDialogIsConfirmed)
{
    WriteThreeFiles();
    Start();
    const QString before = ProfileText();
    QToolButton* button = Find<QToolButton>(m_window.get(), "cmdSettings");

    // A stand-in for the dialog, so that the window's part is seen alone.
    bool confirm = false;
    cSettings::SetDialogHook([&confirm](cSettings& settings) {
        settings.MonitorFile(1)->SetFriendlyName(QStringLiteral("Renamed export"));
        return confirm;
    });
    const auto unhook = qScopeGuard([] { cSettings::SetDialogHook(nullptr); });
    button->click();
    EXPECT_EQ(ProfileText(), before);
    EXPECT_EQ(FilesCell(*m_window, 1, "FILENAME"), QStringLiteral("Nightly export"));

    confirm = true;
    Action("mnuProgramSettings")->trigger();
    EXPECT_TRUE(ProfileText().contains(QStringLiteral("FriendlyName=Renamed export")));
    EXPECT_EQ(FilesCell(*m_window, 1, "FILENAME"), QStringLiteral("Renamed export"));
    EXPECT_EQ(Files(*m_window)->rowCount(), 3);
    EXPECT_EQ(Status(*m_window), QStringLiteral(" Loading Settings...Completed"));
}

} // namespace
