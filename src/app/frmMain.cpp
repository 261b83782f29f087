#include "app/frmMain.h"

#include "SentrelConfig.h"
#include "app/FilesListModel.h"
#include "app/FilesListView.h"
#include "app/KeyringNotifier.h"
#include "dialogs/ControlUtility.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmSettings.h"
#include "model/cSettings.h"
#include "monitor/cMonitor.h"
#include "notify/NotificationText.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"
#include "support/ProgramStart.h"
#include "support/UserInterface.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QScopeGuard>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <cmath>
#include <optional>

namespace {

// Geometry is worked out in twips, as the window was designed; 15 twips make
// one device-independent pixel and Qt scales those for high-DPI screens.
constexpr double kTwipsPerPixel = 15.0;

// Nearest whole number, ties to even.
double whole(double value)
{
    return std::nearbyint(value);
}

int px(double twips)
{
    return static_cast<int>(whole(twips / kTwipsPerPixel));
}

double twips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

// A computed length never goes below 0, however small the window is made.
int pxLength(double twips)
{
    return qMax(0, px(twips));
}

QRect designRect(double left, double top, double width, double height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

constexpr double kMinWidth = 9780;
constexpr double kMinHeight = 6600;
constexpr double kScrollBarRoom = 285;
constexpr double kLastModifiedWidth = 2000;
constexpr double kStatusWidth = 1500;
constexpr double kDateWidth = 1800;
constexpr double kListWidth = 2655;

const QString kIcon = QStringLiteral(":/sentrel/sentrel.svg");

// The width a cell of the view needs to show the widest of the texts whole, in bold as a stale row has it.
int cellWidth(const QTreeView* view, const QStringList& texts)
{
    QFont bold = view->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    int widest = 0;
    for (const QString& text : texts) {
        widest = qMax(widest, metrics.horizontalAdvance(text));
    }
    // The style's text margin on either side, and a pixel for rounding.
    return widest + 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 1;
}

// Times as wide as the locale's formats make them: two-digit day, month and hour, morning and evening.
QStringList sampleTimes(QString (*format)(const QDateTime&, const QLocale&))
{
    QStringList texts;
    for (const int month : {9, 12}) {
        for (const int hour : {10, 22}) {
            texts << format(QDateTime(QDate(2026, month, 28), QTime(hour, 58, 58)), QLocale::system());
        }
    }
    return texts;
}

bool systemTrayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

frmMain::TrayProbe g_trayProbe = &systemTrayAvailable;

QLabel* newLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    // The design sizes suit a smaller font than most desktops have; never clip the caption.
    label->setGeometry(geometry.x(),
                       geometry.y(),
                       qMax(geometry.width(), label->sizeHint().width()),
                       qMax(geometry.height(), label->sizeHint().height()));
    return label;
}

QLabel* newPicture(QWidget* parent, const char* name, const QString& resource, const QRect& geometry)
{
    auto* picture = new QLabel(parent);
    picture->setObjectName(QLatin1String(name));
    picture->setGeometry(geometry);
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QIcon(resource).pixmap(geometry.size()));
    return picture;
}

QAction* newAction(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

void newSeparator(QMenu* menu, const char* name)
{
    menu->addSeparator()->setObjectName(QLatin1String(name));
}

} // namespace

void frmMain::SetTrayProbe(TrayProbe probe)
{
    g_trayProbe = probe ? probe : &systemTrayAvailable;
}

frmMain::frmMain(QWidget* parent)
    : QMainWindow(parent)
    , m_monitor(new cMonitor(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral(SENTREL_PRODUCT_NAME));
    setWindowIcon(QIcon(kIcon));
    m_tmrSelectRow.setSingleShot(true);
    m_tmrSelectRow.setInterval(0);
    connect(&m_tmrSelectRow, &QTimer::timeout, this, &frmMain::selectPendingRow);

    createMenus();
    createContent();
    createTray();

    m_notifier = new KeyringNotifier(NotificationText::TemplateFolders(), this);
    m_monitor->SetNotifier(m_notifier);
    // Each read of the profile tells the notifier where the password is; a keyring read starts at once.
    connect(m_monitor, &cMonitor::ListReplaced, this, [this] { m_notifier->Follow(m_monitor->Settings()); });
    connect(m_notifier, &KeyringNotifier::ReadFailed, this, [this](const QString& reason) {
        AddHistory(DateTimeUtility::Now(), reason);
    });
    connect(m_notifier, &KeyringNotifier::Stored, this, &frmMain::passwordStored);
    m_monitor->ShowCountdown();
    connect(m_monitor, &cMonitor::StatusText, m_lblCurrentStatus, &QLabel::setText);
    connect(m_monitor, &cMonitor::Progress, m_prgProgress, &QProgressBar::setValue);
    connect(m_monitor, &cMonitor::RunningChanged, this, &frmMain::runningChanged);
    connect(m_monitor, &cMonitor::SelectRow, this, &frmMain::selectRow);
    connect(m_monitor, &cMonitor::FileChecked, this, &frmMain::fileChecked);
    // A stale file's row is red while its mail is on the way, not only after.
    connect(m_monitor, &cMonitor::Notifying, this, &frmMain::fileChecked);
    connect(m_monitor, &cMonitor::HistoryLine, this, &frmMain::AddHistory);
    connect(m_monitor, &cMonitor::ListReplaced, this, &frmMain::UpdateDisplay);
    connect(m_monitor, &cMonitor::Notified, this, &frmMain::notified);
    connect(m_monitor, &cMonitor::SavingTold, this, [this](const QString& line) {
        AddHistory(DateTimeUtility::Now(), line);
    });

    // The settings command opens the dialog through the settings object, over this window.
    cSettings::SetDialogHook([this](cSettings& settings) { return EditSettings(settings); });

    // A session that ends closes no window first; the cycle must still stop.
    connect(qApp, &QCoreApplication::aboutToQuit, m_monitor, &cMonitor::Stop);
}

frmMain::~frmMain()
{
    cSettings::SetDialogHook(nullptr);
    m_monitor->Stop();
}

void frmMain::createMenus()
{
    m_mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    m_mnuFile->setObjectName(QStringLiteral("mnuFile"));
    m_mnuCheckNow = newAction(m_mnuFile, "mnuCheckNow", QStringLiteral("&Check Files Now"));
    newSeparator(m_mnuFile, "mnuExitSep");
    m_mnuExit = newAction(m_mnuFile, "mnuExit", QStringLiteral("E&xit"));

    m_mnuSettings = menuBar()->addMenu(QStringLiteral("&Settings"));
    m_mnuSettings->setObjectName(QStringLiteral("mnuSettings"));
    m_mnuProgramSettings = newAction(m_mnuSettings, "mnuProgramSettings", QStringLiteral("&Program Settings"));

    m_mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    m_mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    m_mnuAbout = newAction(m_mnuHelp, "mnuAbout", QStringLiteral("&About"));

    m_mPopupSys = new QMenu(this);
    m_mPopupSys->setObjectName(QStringLiteral("mPopupSys"));
    QAction* restore = newAction(m_mPopupSys, "mnuSysRestore", QStringLiteral("Restore"));
    newSeparator(m_mPopupSys, "mnuSysCheckSep");
    QAction* checkNow = newAction(m_mPopupSys, "mnuSysCheckNow", QStringLiteral("Check Now"));
    newSeparator(m_mPopupSys, "mnuSysExitSep");
    QAction* exit = newAction(m_mPopupSys, "mnuSysExit", QStringLiteral("E&xit"));

    connect(m_mnuCheckNow, &QAction::triggered, m_monitor, &cMonitor::CheckNow);
    connect(checkNow, &QAction::triggered, m_monitor, &cMonitor::CheckNow);
    connect(m_mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(restore, &QAction::triggered, this, &frmMain::Restore);
    connect(m_mnuProgramSettings, &QAction::triggered, this, &frmMain::ProgramSettings);
    connect(m_mnuAbout, &QAction::triggered, this, &frmMain::About);
}

void frmMain::createContent()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->installEventFilter(this);

    m_tbsImporter = new QFrame(client);
    m_tbsImporter->setObjectName(QStringLiteral("tbsImporter"));
    m_tbsImporter->setFrameShape(QFrame::StyledPanel);
    m_tbsImporter->setGeometry(designRect(120, 60, 9585, 5385));

    QWidget* tab = m_tbsImporter;
    m_picStatusLED =
        newPicture(tab, "picStatusLED", QStringLiteral(":/sentrel/status-led.svg"), designRect(120, 120, 555, 555));
    m_cmdSettings = new QToolButton(tab);
    m_cmdSettings->setObjectName(QStringLiteral("cmdSettings"));
    m_cmdSettings->setGeometry(designRect(120, 720, 555, 555));
    m_cmdSettings->setIconSize(m_cmdSettings->size() - QSize(8, 8));
    tintSettingsIcon();
    m_cmdSettings->setToolTip(QStringLiteral("Program Settings"));
    m_cmdSettings->setVisible(false);
    connect(m_cmdSettings, &QToolButton::clicked, this, &frmMain::ProgramSettings);
    m_picLogo = newPicture(tab, "picLogo", kIcon, designRect(120, 1920, 555, 555));

    m_lblFilesDesc = newLabel(tab, "lblFilesDesc", QStringLiteral("Files:"), designRect(900, 75, 360, 195));

    m_files = new FilesListModel(this);
    m_lvwFiles = new FilesListView(tab);
    m_lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    m_lvwFiles->setGeometry(designRect(1560, 60, kListWidth, 1425));
    m_lvwFiles->setModel(m_files);
    m_lvwFiles->setRootIsDecorated(false);
    m_lvwFiles->setItemsExpandable(false);
    m_lvwFiles->setUniformRowHeights(true);
    m_lvwFiles->setAllColumnsShowFocus(true);
    m_lvwFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvwFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvwFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The cycle selects each row in turn; the list must not jump to the last one.
    m_lvwFiles->setAutoScroll(false);
    QPalette filesPalette = m_lvwFiles->palette();
    filesPalette.setColor(QPalette::Base, Qt::black);
    filesPalette.setColor(QPalette::Text, Qt::white);
    m_lvwFiles->setPalette(filesPalette);
    m_lvwFiles->header()->setStretchLastSection(false);
    m_lvwFiles->header()->setMinimumSectionSize(0);

    m_lblHistoryDesc = newLabel(tab, "lblHistoryDesc", QStringLiteral("History:"), designRect(5040, 75, 525, 195));

    m_lvwHistory = new QTreeWidget(tab);
    m_lvwHistory->setObjectName(QStringLiteral("lvwHistory"));
    m_lvwHistory->setGeometry(designRect(5700, 60, kListWidth, 1425));
    m_lvwHistory->setRootIsDecorated(false);
    m_lvwHistory->setItemsExpandable(false);
    m_lvwHistory->setUniformRowHeights(true);
    m_lvwHistory->setAllColumnsShowFocus(true);
    m_lvwHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvwHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvwHistory->header()->setStretchLastSection(false);
    m_lvwHistory->header()->setMinimumSectionSize(0);

    // The lists start right of their captions, however wide the desktop's font makes them.
    const int listLeft =
        qMax(m_lvwFiles->x(), m_lblFilesDesc->x() + qMax(m_lblFilesDesc->width(), m_lblHistoryDesc->width()) + px(60));
    m_lvwFiles->move(listLeft, m_lvwFiles->y());
    m_lvwHistory->move(listLeft, m_lvwHistory->y());

    m_prgProgress = new QProgressBar(tab);
    m_prgProgress->setObjectName(QStringLiteral("prgProgress"));
    m_prgProgress->setGeometry(designRect(780, 2115, 8715, 75));
    m_prgProgress->setRange(0, 100);
    m_prgProgress->setValue(0);
    m_prgProgress->setTextVisible(false);

    m_picStatus = new QFrame(tab);
    m_picStatus->setObjectName(QStringLiteral("picStatus"));
    m_picStatus->setGeometry(designRect(780, 2205, 8715, 315));
    m_picStatus->setFrameShape(QFrame::Panel);
    m_picStatus->setFrameShadow(QFrame::Sunken);
    m_lblCurrentStatusDesc =
        newLabel(m_picStatus, "lblCurrentStatusDesc", QStringLiteral("Current Status:"), designRect(60, 0, 1110, 255));
    // A box as tall as its labels need: the design height is for a smaller font.
    m_picStatus->resize(m_picStatus->width(), qMax(m_picStatus->height(), m_lblCurrentStatusDesc->height() + 2));
    const QRect statusRect = designRect(1200, 0, 7425, 255);
    m_lblCurrentStatus = new QLabel(m_picStatus);
    m_lblCurrentStatus->setObjectName(QStringLiteral("lblCurrentStatus"));
    m_lblCurrentStatus->setGeometry(qMax(statusRect.x(), m_lblCurrentStatusDesc->geometry().right() + 1),
                                    statusRect.y(),
                                    statusRect.width(),
                                    qMax(statusRect.height(), m_lblCurrentStatus->sizeHint().height()));
    for (QLabel* label : {m_lblCurrentStatusDesc, m_lblCurrentStatus}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setFixedHeight(m_picStatus->height() - 2);
        label->move(label->x(), 1);
    }

    // The first layout happens when the window is shown; until then the design size.
    const QSize designClient(px(9585 + 2 * 120), px(5385 + 2 * 60));
    client->resize(designClient);
    resize(designClient.width(), designClient.height() + menuBar()->sizeHint().height());
}

void frmMain::createTray()
{
    m_tray = new QSystemTrayIcon(QIcon(kIcon), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    m_tray->setToolTip(QStringLiteral(SENTREL_PRODUCT_NAME));
    m_tray->setContextMenu(m_mPopupSys);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A right click opens mPopupSys by itself and leaves the window as it is.
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            Restore();
        }
    });
}

void frmMain::notified(int /*index*/, bool sent, const QString& line)
{
    if (!m_monitor->Settings().DesktopNotify()) {
        return;
    }
    const QString title = sent ? QStringLiteral("Sentrel") : QStringLiteral("Sentrel: notification failed");
    m_tray->showMessage(title, line, sent ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning);
    // Kept on the icon too: a session without a notification service shows nothing, and tests look here.
    m_tray->setProperty("shownMessage",
                        QStringList {title, line, sent ? QStringLiteral("information") : QStringLiteral("warning")});
}

void frmMain::setFilesColumns(double listWidth)
{
    // The design widths, or wider where the desktop's font and date format need it.
    const int lastModified =
        qMax(px(kLastModifiedWidth),
             cellWidth(m_lvwFiles, sampleTimes(&DateTimeUtility::GeneralDate) << QStringLiteral("(Unknown)")));
    const int status = qMax(px(kStatusWidth),
                            cellWidth(m_lvwFiles,
                                      {QStringLiteral("Out of Date!"),
                                       QStringLiteral("File not found"),
                                       QStringLiteral("Changed!"),
                                       QStringLiteral("Missing!")}));
    QHeaderView* header = m_lvwFiles->header();
    header->resizeSection(FilesListModel::ColumnEnabled, 0);
    header->resizeSection(
        FilesListModel::ColumnFileName,
        px(GeneralUtility::MaxOf(
            0, static_cast<qint32>(whole(listWidth - kScrollBarRoom - twips(lastModified) - twips(status))))));
    header->resizeSection(FilesListModel::ColumnLastModified, lastModified);
    header->resizeSection(FilesListModel::ColumnStatus, status);
}

int frmMain::historyDateWidth() const
{
    return cellWidth(m_lvwHistory, sampleTimes(&DateTimeUtility::ShortDateTime24));
}

void frmMain::setHistoryColumns(double listWidth)
{
    m_lvwHistory->setColumnCount(2);
    m_lvwHistory->setHeaderLabels({QStringLiteral("Date/Time"), QStringLiteral("Information")});
    QTreeWidgetItem* header = m_lvwHistory->headerItem();
    header->setData(0, FilesListModel::KeyRole, QStringLiteral("DATE"));
    header->setData(1, FilesListModel::KeyRole, QStringLiteral("INFORMATION"));
    const int dateWidth = qMax(px(kDateWidth), historyDateWidth());
    m_lvwHistory->header()->resizeSection(0, dateWidth);
    m_lvwHistory->header()->resizeSection(
        1, px(GeneralUtility::MaxOf(0, static_cast<qint32>(whole(listWidth - kScrollBarRoom - twips(dateWidth))))));
}

bool frmMain::Load(const QStringList& arguments)
{
    if (!ProgramStart::FirstCopy(arguments)) {
        Unload();
        return false;
    }

    // The tab strip's role, not a copy of its colour: the window follows a theme changed later.
    setBackgroundRole(m_tbsImporter->backgroundRole());
    setMinimumSize(px(kMinWidth), px(kMinHeight));

    setFilesColumns(twips(m_lvwFiles->width()));
    setHistoryColumns(twips(m_lvwHistory->width()));

    if (!m_monitor->Load(QStringLiteral("Profile1"))) {
        Unload();
        return false;
    }

    show();
    m_tray->show();
    AddHistory(DateTimeUtility::Now(), QStringLiteral("Sentrel started"));
    const cSettings& settings = m_monitor->Settings();
    if (!settings.ReadProblem().isEmpty()) {
        UserInterface::Message(QStringLiteral("The profile ") + settings.ProfilePath() +
                                   QStringLiteral(" cannot be read: ") + settings.ReadProblem() +
                                   QStringLiteral(".\n\nNo files are watched until it can be read."),
                               UserInterface::Icon::Exclamation);
    }
    return true;
}

void frmMain::UpdateDisplay()
{
    m_tmrSelectRow.stop();
    m_selectRow = 0;
    m_cmdSettings->setVisible(true);
    m_files->SetFiles(m_monitor->Settings());
}

void frmMain::fileChecked(int index)
{
    if (const cMonitorFile* file = m_monitor->Settings().MonitorFile(static_cast<qint16>(index))) {
        m_files->UpdateRow(index - 1, *file);
    }
}

void frmMain::AddHistory(const QDateTime& when, const QString& text)
{
    DebugLog(QStringLiteral("History: ") + text, 5, LogIndentKeep);
    while (m_lvwHistory->topLevelItemCount() >= MaxHistoryLines) {
        delete m_lvwHistory->takeTopLevelItem(0);
    }
    auto* item = new QTreeWidgetItem(m_lvwHistory, {DateTimeUtility::ShortDateTime24(when), text});
    m_lvwHistory->scrollToItem(item);
}

void frmMain::ProgramSettings()
{
    // The cycle reads the list the dialog would edit.
    if (m_monitor->Running()) {
        return;
    }
    // Nor may a cycle start while the dialog is open: it would check, mark and
    // save files whose copies the dialog writes back on OK.
    m_monitor->Hold(true);
    const auto release = qScopeGuard([this] { m_monitor->Hold(false); });
    if (m_monitor->Settings().DisplaySettings()) {
        m_monitor->ReloadProfile();
    }
    m_monitor->ReportSaving();
}

bool frmMain::EditSettings(cSettings& settings)
{
    using Store = cSettings::PasswordStore;
    const bool wasKeyring = settings.SMTPPasswordStore() == Store::Keyring;
    const std::optional<QString> kept = m_notifier->Password();
    if (wasKeyring && kept) {
        settings.SetSMTPPassword(*kept); // shown in the dialog; never written to the profile
    }
    if (!frmSettings::DisplaySettings(&settings, this)) {
        return false;
    }
    if (settings.SMTPPasswordStore() == Store::Profile) {
        if (wasKeyring && kept) { // unread, it may be the only copy
            m_notifier->Forget(settings.ProfileName());
        }
    } else if (!wasKeyring || (kept ? settings.SMTPPassword() != *kept : !settings.SMTPPassword().isEmpty())) {
        // The profile keeps the password until the keyring has taken it.
        settings.SetSMTPPasswordStore(Store::Profile);
        m_notifier->Store(settings.ProfileName(), settings.SMTPPassword());
    }
    return true;
}

void frmMain::passwordStored(bool stored, const QString& reason)
{
    cSettings& settings = m_monitor->Settings();
    if (!stored) {
        UserInterface::Message(QStringLiteral("The password could not be kept in the desktop's keyring (") + reason +
                                   QStringLiteral(").\n\nIt stays in the profile."),
                               UserInterface::Icon::Exclamation);
        return;
    }
    settings.SetSMTPPasswordStore(cSettings::PasswordStore::Keyring);
    settings.WriteSettings();
    m_monitor->ReportSaving();
}

void frmMain::About()
{
    frmAbout about(this);
    about.exec();
}

void frmMain::runningChanged(bool running)
{
    if (running) {
        setCursor(Qt::WaitCursor);
        m_mnuSettings->setEnabled(false);
        m_cmdSettings->setEnabled(false);
        if (isActiveWindow()) {
            m_mnuCheckNow->setEnabled(false);
        }
        return;
    }
    if (m_tmrSelectRow.isActive()) {
        selectPendingRow();
    }
    if (isActiveWindow()) {
        m_mnuCheckNow->setEnabled(true);
    }
    m_mnuSettings->setEnabled(true);
    m_cmdSettings->setEnabled(true);
    unsetCursor();
}

void frmMain::selectRow(int index)
{
    // Selecting costs more than checking the file; nobody sees a row selected until the event loop
    // runs, so the selection is made then (or when the cycle ends), for the row of that moment.
    m_selectRow = index;
    if (!m_tmrSelectRow.isActive()) {
        m_tmrSelectRow.start();
    }
}

void frmMain::selectPendingRow()
{
    m_tmrSelectRow.stop();
    const QModelIndex index = m_files->index(m_selectRow - 1, FilesListModel::ColumnFileName);
    m_selectRow = 0;
    if (index.isValid()) {
        m_lvwFiles->selectionModel()->setCurrentIndex(index,
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void frmMain::Restore()
{
    showNormal();
    raise();
    activateWindow();
    LayoutContent();
}

void frmMain::tintSettingsIcon()
{
    // The gear in the button's text colour, so a dark theme does not lose it against a dark button.
    QPixmap gear = QIcon(QStringLiteral(":/sentrel/settings.svg")).pixmap(m_cmdSettings->iconSize());
    QPainter painter(&gear);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), gear.size()), palette().color(QPalette::ButtonText));
    painter.end();
    m_cmdSettings->setIcon(QIcon(gear));
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_cmdSettings) {
        tintSettingsIcon();
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        minimised();
    }
}

void frmMain::minimised()
{
    if (!g_trayProbe()) {
        // Hidden with no tray to bring it back, the window would be lost; it stays in the task bar.
        if (!m_noTrayLogged) {
            m_noTrayLogged = true;
            DebugLog(QStringLiteral("No system tray: a minimised window stays in the task bar"), 5, LogIndentKeep);
        }
        return;
    }
    // Hidden once the state change is through; the tray icon brings it back.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized()) {
            hide();
        }
    });
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // A send in flight ends at once, as failed; no further file is checked.
    m_monitor->Stop();
    event->accept();
    Unload();
}

void frmMain::Unload()
{
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    m_monitor->Stop();
    m_tray->hide();
    Q_EMIT Unloaded();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        LayoutContent();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::LayoutContent()
{
    if (isMinimized()) {
        if (g_trayProbe()) {
            minimised();
        }
        return;
    }
    const QWidget* client = centralWidget();
    const double clientWidth = twips(client->width());
    const double clientHeight = twips(client->height());

    const double tabLeft = twips(m_tbsImporter->x());
    const double tabTop = twips(m_tbsImporter->y());
    const double tabWidth = clientWidth - 2 * tabLeft;
    const double tabHeight = clientHeight - 2 * tabTop;
    m_tbsImporter->setGeometry(px(tabLeft), px(tabTop), pxLength(tabWidth), pxLength(tabHeight));

    const double statusLeft = twips(m_picStatus->x());
    const double statusHeight = twips(m_picStatus->height());
    const double statusTop = tabHeight - 120 - statusHeight;
    const double statusWidth = tabWidth - 120 - statusLeft;
    m_picStatus->setGeometry(px(statusLeft), px(statusTop), pxLength(statusWidth), px(statusHeight));

    const double progressHeight = twips(m_prgProgress->height());
    const double progressTop = statusTop - 30 - progressHeight;
    m_prgProgress->setGeometry(px(statusLeft), px(progressTop), pxLength(statusWidth), px(progressHeight));

    const double bottom = progressTop - 120;
    const double filesTop = whole(twips(m_lvwFiles->y()));
    const double filesLeft = twips(m_lvwFiles->x());
    const double listHeight = whole((bottom - filesTop - 120 - twips(m_lblHistoryDesc->height()) - 240) / 2);
    const double listWidth = tabWidth - 120 - filesLeft;
    m_lvwFiles->setGeometry(px(filesLeft), px(filesTop), pxLength(listWidth), pxLength(listHeight));

    const double historyTop = whole(listHeight + filesTop + 60);
    setFilesColumns(twips(m_lvwFiles->width()));

    m_lblHistoryDesc->move(m_lblFilesDesc->x(), px(historyTop));
    m_lvwHistory->setGeometry(
        px(filesLeft), px(historyTop), m_lvwFiles->width(), pxLength(whole(bottom - historyTop - 120)));
    // A date column the user widened keeps its width; one too narrow for the font grows.
    m_lvwHistory->header()->resizeSection(0, qMax(m_lvwHistory->header()->sectionSize(0), historyDateWidth()));
    const double dateWidth = twips(m_lvwHistory->header()->sectionSize(0));
    m_lvwHistory->header()->resizeSection(
        1,
        px(GeneralUtility::MaxOf(
            0, static_cast<qint32>(whole(twips(m_lvwHistory->width()) - dateWidth - kScrollBarRoom)))));

    m_picLogo->move(m_picLogo->x(), px(tabHeight - 120 - twips(m_picLogo->height())));
}
