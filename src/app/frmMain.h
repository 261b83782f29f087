#pragma once

#include "monitor/cChangeWatcher.h"
#include "monitor/cCheckCycle.h"
#include "monitor/cCycleView.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <memory>

class FilesListModel;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QToolButton;
class QTreeView;
class QTreeWidget;
class cSettings;

// The program's one window: the files and history lists, the status line, the
// tray icon with its popup menu, and the one-second timer of the check cycle.
class frmMain : public QMainWindow, public cCycleView
{
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence, given the program's arguments (without its name).
    // False when the program is to end at once: another copy runs, or the
    // profile cannot be read.
    [[nodiscard]] bool Load(const QStringList& arguments);

    // Rebuilds the files list from the profile.
    void UpdateDisplay();

    void AddHistory(const QDateTime& when, const QString& text) override;

    // The cycle's view.
    void ShowStatus(const QString& text) override;
    void ShowProgress(int percent) override;
    void EnterRunning() override;
    void LeaveRunning() override;
    void SelectRow(qint16 row) override;
    [[nodiscard]] QString CellText(qint16 row, Cell cell) const override;
    void SetCellText(qint16 row, Cell cell, const QString& text) override;
    [[nodiscard]] quint32 RowColour(qint16 row) const override;
    void SetRowColour(qint16 row, quint32 rgb) override;
    void HighlightRow(qint16 row, bool on) override;

    [[nodiscard]] cCheckCycle& Cycle() { return m_cycle; }
    [[nodiscard]] cSettings* Settings() const { return m_settings.get(); }

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
    void setFilesColumns(double listWidth);
    void setHistoryColumns(double listWidth);
    bool LoadProfile();
    void ProgramSettings();
    void About();
    void CheckFiles(bool forceCheck);
    void Restore();
    void Unload();
    void LayoutContent();
    void minimised();
    void selectPendingRow();
    void watchFiles();
    void changeCheck();
    void reportSaveFailure();

    std::unique_ptr<cSettings> m_settings;
    cCheckCycle m_cycle;
    QTimer m_tmrCheckFiles;
    QTimer m_tmrSelectRow;
    // Files that change start a check at once when the profile asks for it.
    cChangeWatcher m_changes;
    qint16 m_selectRow = 0;
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
