#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

class FilesListModel;
class KeyringNotifier;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QToolButton;
class QTreeView;
class QTreeWidget;
class cMonitor;
class cSettings;

// The program's one window: the files and history lists, the status line and
// the tray icon with its popup menu, all showing what the monitor reports.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence, given the program's arguments (without its name).
    // False when the program is to end at once: another copy runs, or the
    // profile cannot be read.
    [[nodiscard]] bool Load(const QStringList& arguments);

    void AddHistory(const QDateTime& when, const QString& text);

    [[nodiscard]] cMonitor& Monitor() { return *m_monitor; }

    // Whether a notification area exists to minimise into; tests stand one in.
    using TrayProbe = bool (*)();
    static void SetTrayProbe(TrayProbe probe);

    // The history list holds at most this many lines.
    static constexpr int MaxHistoryLines = 500;

Q_SIGNALS:
    // The window has closed and unloaded: the program ends.
    void Unloaded();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();
    void createTray();
    void createContent();
    void tintSettingsIcon();
    void setFilesColumns(double listWidth);
    void setHistoryColumns(double listWidth);
    // What the history's date column needs for its widest text in the current font.
    [[nodiscard]] int historyDateWidth() const;
    void UpdateDisplay();
    void ProgramSettings();
    // The settings dialog over the settings; a password to be kept in the keyring goes there after it.
    bool EditSettings(cSettings& settings);
    void passwordStored(bool stored, const QString& reason);
    void About();
    void Restore();
    void Unload();
    void LayoutContent();
    void minimised();
    void runningChanged(bool running);
    void selectRow(int index);
    void selectPendingRow();
    void fileChecked(int index);
    // A notification's outcome as a desktop notification from the tray icon, when the profile asks for it.
    void notified(int index, bool sent, const QString& line);

    cMonitor* m_monitor = nullptr;
    KeyringNotifier* m_notifier = nullptr;
    QTimer m_tmrSelectRow;
    int m_selectRow = 0;
    bool m_unloaded = false;
    bool m_noTrayLogged = false;

    QFrame* m_tbsImporter = nullptr;
    QLabel* m_picStatusLED = nullptr;
    QToolButton* m_cmdSettings = nullptr;
    QLabel* m_picLogo = nullptr;
    QLabel* m_lblFilesDesc = nullptr;
    QTreeView* m_lvwFiles = nullptr;
    FilesListModel* m_files = nullptr;
    QLabel* m_lblHistoryDesc = nullptr;
    QTreeWidget* m_lvwHistory = nullptr;
    QProgressBar* m_prgProgress = nullptr;
    QFrame* m_picStatus = nullptr;
    QLabel* m_lblCurrentStatusDesc = nullptr;
    QLabel* m_lblCurrentStatus = nullptr;

    QMenu* m_mnuFile = nullptr;
    QMenu* m_mnuSettings = nullptr;
    QMenu* m_mnuHelp = nullptr;
    QAction* m_mnuCheckNow = nullptr;
    QAction* m_mnuExit = nullptr;
    QAction* m_mnuProgramSettings = nullptr;
    QAction* m_mnuAbout = nullptr;
    QMenu* m_mPopupSys = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
};
