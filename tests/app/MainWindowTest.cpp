// The main window with real widgets (offscreen) over the monitor: what it
// shows of a profile and its checks, what it does with its menus, the tray
// and closing, and that it takes input while a mail is on its way.
#include "AppTestSupport.h"
#include "ScriptedUi.h"
#include "SmtpSink.h"
#include "monitor/cMonitor.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/ProfileStore.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>

void PrintTo(const QColor& c, std::ostream* os)
{
    *os << c.name().toStdString();
}

namespace {

using namespace AppTest;

// The profile text in the form the store writes: "YYYY-MM-DDThh:mm:ss", local time.
QString Stamp(qint64 secsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secsSinceEpoch).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
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
    void WriteThreeFiles(quint16 port = 0, bool desktopNotify = false)
    {
        ASSERT_TRUE(
            WriteProfile(QStringLiteral("[General]\nNumberFiles=3\nDesktopNotify=%8\n\n"
                                        "[SMTPServer]\nEnabled=%6\nAddress=127.0.0.1\nPort=%7\n"
                                        "[Email]\nFrom=sentrel@example.org\nTo=ops@example.org\n"
                                        "[File1]\nFileName=%1\nFriendlyName=Nightly export\nLastModified=%2\n\n"
                                        "[File2]\nFileName=%3\nStaleMins=10\nLastModified=%4\n\n"
                                        "[File3]\nFileName=%5\nNotifyMissing=1\nLastModified=%9\n")
                             .arg(m_nightly, Stamp(NowSecs() - 3600), m_heartbeat, Stamp(NowSecs() - 1200), m_missing)
                             .arg(port ? 1 : 0)
                             .arg(port)
                             .arg(int(desktopNotify))
                             .arg(Stamp(NowSecs() - 7200))));
    }
    void Start(const QStringList& arguments = {QStringLiteral("/NOPREVCHECK")})
    {
        m_window = std::make_unique<frmMain>();
        ASSERT_TRUE(m_window->Load(arguments));
    }
    QSystemTrayIcon* Tray() const { return Find<QSystemTrayIcon>(m_window.get(), "trayIcon"); }
    QAction* Action(const char* name) const { return Find<QAction>(m_window.get(), name); }
    void Minimise() { m_window->setWindowState(m_window->windowState() | Qt::WindowMinimized); }
    QModelIndex Cell(int row, const char* key) const { return AppTest::Cell(*m_window, row, key); }
    QString FilesCell(int row, const char* key) const { return Cell(row, key).data().toString(); }
    QColor RowColour(int row) const { return Cell(row, "STATUS").data(Qt::ForegroundRole).value<QBrush>().color(); }
    bool RowBold(int row) const { return Cell(row, "FILENAME").data(Qt::FontRole).value<QFont>().bold(); }
    QString Status() const { return Find<QLabel>(m_window.get(), "lblCurrentStatus")->text(); }
    QStringList HistoryTexts() const
    {
        QStringList texts;
        QTreeWidget* history = Find<QTreeWidget>(m_window.get(), "lvwHistory");
        for (int i = 0; i < history->topLevelItemCount(); ++i) {
            texts << history->topLevelItem(i)->text(1);
        }
        return texts;
    }

    FixedClock m_clock {NowMSecs()};
    QString m_folder;
    QString m_nightly;
    QString m_heartbeat;
    QString m_missing;
    std::unique_ptr<frmMain> m_window;
};

TEST_F(MainWindow, ShowsEveryFileAndEachCheckWithAStaleFileInRedAndBold)
{
    WriteThreeFiles();
    Start();
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(Status(), QStringLiteral(" Loading Settings...Completed"));
    EXPECT_TRUE(Find<QTimer>(m_window.get(), "tmrCheckFiles")->isActive());
    EXPECT_EQ(HistoryTexts(), QStringList {QStringLiteral("Sentrel started")});
    const auto ago = [](qint64 secs) {
        return DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs() - secs));
    };
    struct Row
    {
        QString name, modified, status;
        bool alert;
    } const expected[] = {
        {"Nightly export", ago(3600), "OK", false},
        {m_heartbeat, ago(1200), "Out of Date!", true},
        {m_missing, ago(7200), "Missing!", true}, // seen before, gone now, and mailed when so
    };
    ASSERT_EQ(Files(*m_window)->rowCount(), 3);
    for (int row = 1; row <= 3; ++row) {
        SCOPED_TRACE(row);
        const Row& e = expected[row - 1];
        EXPECT_EQ(FilesCell(row, "FILENAME"), e.name);
        EXPECT_EQ(FilesCell(row, "LASTMODIFIED"), e.modified);
        EXPECT_EQ(FilesCell(row, "STATUS"), e.status);
        // Hovering shows a cell whole, however narrow its column.
        EXPECT_EQ(Cell(row, "FILENAME").data(Qt::ToolTipRole).toString(), e.name);
        EXPECT_EQ(RowColour(row), e.alert ? QColor(Qt::red) : QColor(Qt::white));
        EXPECT_EQ(RowBold(row), e.alert);
    }

    m_clock.AdvanceSeconds(10);
    m_window->Monitor().Tick();
    EXPECT_EQ(Status(), QStringLiteral(" Time until next check : 0:20"));
    // The stale file seen young again, the changed one checked from either menu.
    ASSERT_TRUE(TestEnvironment::SetModified(m_heartbeat, NowSecs()));
    ASSERT_TRUE(TestEnvironment::SetModified(m_nightly, NowSecs() - 60));
    for (const char* item : {"mnuCheckNow", "mnuSysCheckNow"}) {
        Action(item)->trigger();
    }
    EXPECT_EQ(Status(), QStringLiteral(" Checking...Finished"));
    EXPECT_EQ(Find<QProgressBar>(m_window.get(), "prgProgress")->value(), 100);
    EXPECT_EQ(FilesCell(1, "LASTMODIFIED"), ago(60));
    EXPECT_EQ(FilesCell(2, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(RowColour(2), QColor(Qt::white));
    EXPECT_FALSE(RowBold(2));
    EXPECT_TRUE(Action("mnuCheckNow")->isEnabled());
    EXPECT_EQ(m_window->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainWindow, TheListKeepsTheSelectedRowsRedAndSaysHowToAddAFileWhenEmpty)
{
    const auto pixels = [this](int row, const std::function<bool(QColor)>& test) {
        auto* view = Find<QTreeView>(m_window.get(), "lvwFiles");
        const QImage image = view->viewport()->grab().toImage();
        const QRect rect =
            row ? view->visualRect(Cell(row, "FILENAME")).united(view->visualRect(Cell(row, "STATUS"))) : image.rect();
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                count += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return count;
    };
    const auto red = [](QColor c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; };
    const auto lit = [](QColor c) { return c.lightness() > 60; };
    Start();
    EXPECT_GT(pixels(0, lit), 100) << "no text in the empty list";

    WriteThreeFiles();
    Start();
    Action("mnuCheckNow")->trigger();
    ASSERT_TRUE(Find<QTreeView>(m_window.get(), "lvwFiles")->selectionModel()->isRowSelected(2, {}));
    EXPECT_GT(pixels(3, red), 20);
    // The selection still shows, as a tint behind the text.
    EXPECT_GT(pixels(3, [&](QColor c) { return !red(c) && c != Qt::black; }) * 2,
              pixels(3, [](QColor) { return true; }));
}

TEST_F(MainWindow, NoCaptionOrCellIsCutInAnElevenPointFont)
{
    const QFont font = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(font); });
    QFont large = font;
    large.setPointSize(11);
    QApplication::setFont(large);
    WriteThreeFiles();
    Start();
    m_window->AddHistory(QDateTime(QDate(2026, 12, 28), QTime(22, 58, 58)), QStringLiteral("late"));
    for (const auto* label : m_window->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_GE(label->width(), label->sizeHint().width());
        EXPECT_GE(label->height(), label->sizeHint().height());
        for (const char* name : {"lvwFiles", "lvwHistory"}) {
            const QWidget* list = Find<QWidget>(m_window.get(), name);
            EXPECT_FALSE(label->parent() == list->parent() && label->geometry().intersects(list->geometry())) << name;
        }
    }
    const std::pair<const char*, int> columns[] = {{"lvwFiles", FilesListModel::ColumnLastModified},
                                                   {"lvwFiles", FilesListModel::ColumnStatus},
                                                   {"lvwHistory", 0}};
    for (const auto& [list, column] : columns) {
        SCOPED_TRACE(column);
        QAbstractItemView* view = Find<QTreeView>(m_window.get(), list);
        EXPECT_LE(view->sizeHintForColumn(column),
                  Find<QTreeView>(m_window.get(), list)->header()->sectionSize(column));
    }
}

TEST_F(MainWindow, FollowsADarkThemeChosenWhileItRuns)
{
    Start();
    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(light); });
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    QApplication::processEvents(); // the change reaches the widgets by posted events
    const QImage picture = m_window->centralWidget()->grab().toImage();
    EXPECT_EQ(picture.pixelColor(2, picture.height() - 3), QColor(40, 40, 40));
}

TEST_F(MainWindow, TakesInputDuringASendAndClosingEndsTheSendAtOnce)
{
    SmtpSink::Options options;
    options.DataDelayMs = 600000;
    const SmtpSink slow(options);
    ASSERT_TRUE(slow.Started()) << slow.Error().toStdString();
    WriteThreeFiles(slow.Port());
    ASSERT_TRUE(TestEnvironment::SetModified(m_heartbeat, NowSecs() - 60));
    Start();
    ASSERT_TRUE(TestEnvironment::SetModified(m_heartbeat, NowSecs() - 1200));
    bool aboutShown = false;
    QElapsedTimer sinceClose;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!slow.Held() || sinceClose.isValid()) {
            return;
        }
        if (!aboutShown) {
            // A person opens the About box while the server holds its answer, and closes it.
            QTimer::singleShot(0, [&] {
                auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                aboutShown = about != nullptr;
                if (about) {
                    about->reject();
                }
            });
            Action("mnuAbout")->trigger();
            EXPECT_EQ(m_window->cursor().shape(), Qt::WaitCursor);
            // The stale file whose mail is on the way is red already.
            EXPECT_EQ(RowColour(2), QColor(Qt::red));
            return;
        }
        sinceClose.start();
        m_window->close();
    });
    user.start(10);
    Action("mnuCheckNow")->trigger();
    ASSERT_TRUE(WaitFor([&] { return HistoryTexts().size() == 2; }, 5000));
    EXPECT_TRUE(aboutShown);
    EXPECT_LT(sinceClose.elapsed(), 500);
    EXPECT_EQ(HistoryTexts().last(),
              QStringLiteral("File:heartbeat - Out Of Date Notification Email Failed - Reason: Sending to 127.0.0.1 "
                             "port %1 was cancelled")
                  .arg(slow.Port()));
}

TEST_F(MainWindow, ShowsEachNotificationsOutcomeOnTheDesktopWhenTheProfileAsks)
{
    const struct
    {
        bool desktopNotify, rejected;
        QString title, icon; // empty: nothing shown
    } cases[] = {{true, false, "Sentrel", "information"},
                 {true, true, "Sentrel: notification failed", "warning"},
                 {false, true, "", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        SmtpSink::Options options;
        options.RejectRcpt = c.rejected ? "ops@example.org" : "";
        const SmtpSink sink(options);
        ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
        WriteThreeFiles(sink.Port(), c.desktopNotify);
        Start();
        Action("mnuCheckNow")->trigger();
        ASSERT_TRUE(WaitFor([&] { return HistoryTexts().size() == 2; }, 5000));
        const QStringList shown = {c.title, HistoryTexts().last(), c.icon};
        EXPECT_EQ(Tray()->property("shownMessage").toStringList(), c.title.isEmpty() ? QStringList() : shown);
    }
}

TEST_F(MainWindow, AnOutsideEditRefillsTheList)
{
    WriteThreeFiles();
    Start();
    ASSERT_TRUE(WriteProfile(QStringLiteral("[General]\nNumberFiles=1\n[File1]\nFileName=%1\n").arg(m_missing)));
    ASSERT_TRUE(WaitFor([&] { return Files(*m_window)->rowCount() == 1; }));
    EXPECT_EQ(FilesCell(1, "STATUS"), QStringLiteral("File not found"));
}

TEST_F(MainWindow, AFailedSaveIsOneHistoryLineForEachReasonAndIsMadeGoodOnceSavesWork)
{
    WriteThreeFiles();
    Start();
    ProfileStore::SetFaultInjector([](ProfileStore::Step step) { return step == ProfileStore::Step::Write ? EIO : 0; });
    const auto reset = qScopeGuard([] { ProfileStore::SetFaultInjector(nullptr); });
    ASSERT_TRUE(ProfileText().contains(QStringLiteral("MissingSince=")));
    ASSERT_TRUE(TestEnvironment::WriteFile(m_missing, "back"));
    for (int cycle = 0; cycle < 3; ++cycle) {
        Action("mnuCheckNow")->trigger();
    }
    EXPECT_EQ(HistoryTexts().filter(QStringLiteral(" was not saved (")).size(), 1);
    EXPECT_TRUE(ProfileText().contains(QStringLiteral("MissingSince=")));
    // Once the disk takes writes again, the next check saves what the failed ones could not.
    ProfileStore::SetFaultInjector(nullptr);
    Action("mnuCheckNow")->trigger();
    EXPECT_FALSE(ProfileText().contains(QStringLiteral("MissingSince="))) << ProfileText().toStdString();
    Action("mnuCheckNow")->trigger();
    EXPECT_EQ(HistoryTexts().filter(QStringLiteral(" is saved again")).size(), 1);
}

TEST_F(MainWindow, HistoryKeepsTheNewest500Lines)
{
    Start();
    const QDateTime when = DateTimeUtility::Now();
    for (int i = 1; i <= 501; ++i) {
        m_window->AddHistory(when.addSecs(i), QStringLiteral("line %1").arg(i));
    }
    const QStringList texts = HistoryTexts();
    ASSERT_EQ(texts.size(), 500);
    EXPECT_EQ(texts.first(), QStringLiteral("line 2"));
    EXPECT_EQ(texts.last(), QStringLiteral("line 501"));
}

TEST_F(MainWindow, MinimiseHidesToTheTrayOnlyWhenThereIsOneAndEachRestoreBringsItBack)
{
    frmMain::SetTrayProbe([] { return false; });
    Start();
    Minimise();
    EXPECT_FALSE(WaitFor([this] { return !m_window->isVisible(); }, 100));
    m_window->showNormal();
    frmMain::SetTrayProbe([] { return true; });
    const std::pair<const char*, std::function<void()>> restores[] = {
        {"tray click", [this] { Q_EMIT Tray()->activated(QSystemTrayIcon::Trigger); }},
        {"tray double-click", [this] { Q_EMIT Tray()->activated(QSystemTrayIcon::DoubleClick); }},
        {"Restore", [this] { Action("mnuSysRestore")->trigger(); }},
    };
    for (const auto& [name, restore] : restores) {
        SCOPED_TRACE(name);
        Minimise();
        ASSERT_TRUE(WaitFor([this] { return !m_window->isVisible(); }));
        Q_EMIT Tray()->activated(QSystemTrayIcon::Context);
        EXPECT_FALSE(m_window->isVisible());
        restore();
        EXPECT_TRUE(m_window->isVisible());
    }
}

TEST_F(MainWindow, CloseBoxOrExitInEitherMenuEndsTheProgram)
{
    for (const char* exit : {"", "mnuExit", "mnuSysExit"}) {
        SCOPED_TRACE(exit);
        Start();
        QSignalSpy unloaded(m_window.get(), &frmMain::Unloaded);
        *exit == 0 ? (void)m_window->close() : Action(exit)->trigger();
        EXPECT_EQ(unloaded.count(), 1);
        EXPECT_FALSE(Tray()->isVisible());
        EXPECT_FALSE(m_window->isVisible());
        EXPECT_FALSE(Find<QTimer>(m_window.get(), "tmrCheckFiles")->isActive());
    }
}

TEST_F(MainWindow, AProfileThatCannotBeReadIsToldAtStart)
{
    ScriptedUi ui;
    UserInterface::Install(&ui);
    const auto uninstall = qScopeGuard([] { UserInterface::Install(nullptr); });
    ASSERT_TRUE(WriteProfile(QStringLiteral("\x01\x02=\x00\x00")));
    Start();
    EXPECT_EQ(ui.asked,
              QStringList {QStringLiteral("The profile ") + ProfilePath() +
                           QStringLiteral(" cannot be read: it is not an INI file.\n\nNo files are watched until it "
                                          "can be read.")});
}

} // namespace
