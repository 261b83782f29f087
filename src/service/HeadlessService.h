#pragma once

#include "model/cSettings.h"
#include "monitor/cChangeWatcher.h"
#include "monitor/cCheckCycle.h"
#include "monitor/cCycleView.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <vector>

class QSocketNotifier;

// The check cycle without a window: the same profile, cycle, composer and
// sender, with the history written to a stream (standard output) and the log.
// A terminate or interrupt signal stops it, a hang-up signal re-reads the
// profile, and so does a change to the profile file made by anyone else.
class HeadlessService : public QObject, public cCycleView
{
    Q_OBJECT

public:
    explicit HeadlessService(QString profileName, std::FILE* history = stdout, QObject* parent = nullptr);
    ~HeadlessService() override;
    HeadlessService(const HeadlessService&) = delete;
    HeadlessService& operator=(const HeadlessService&) = delete;

    // Reads the profile and schedules the first check one poll interval from now;
    // false when the profile file is there but cannot be read. That, and a
    // profile that cannot be read later, is told on standard error.
    bool Start();
    // Routes SIGTERM, SIGINT and SIGHUP to this service through the event loop.
    bool HandleSignals();

    // Re-reads the profile as the window does after its settings dialog: every
    // file compared once with its stored time. Waits for a running cycle.
    void Reload();
    // Stops a running cycle at its next file and ends the event loop with 0.
    void Stop();

    [[nodiscard]] const cSettings& Settings() const { return m_settings; }

    // cCycleView: the history goes out; of the rows only their colours are
    // kept, which the cycle reads back. No cell texts are built at all.
    void AddHistory(const QDateTime& when, const QString& text) override;
    void ShowStatus(const QString& text) override;
    void ShowProgress(int) override { }
    void EnterRunning() override { }
    void LeaveRunning() override { }
    void SelectRow(qint16) override { }
    [[nodiscard]] QString CellText(qint16, Cell) const override { return {}; }
    void SetCellText(qint16, Cell, const QString&) override { }
    [[nodiscard]] quint32 RowColour(qint16 row) const override;
    void SetRowColour(qint16 row, quint32 rgb) override;
    void HighlightRow(qint16, bool) override { }
    [[nodiscard]] bool ShowsRows() const override { return false; }

private:
    bool LoadProfile();
    void RunCycle();
    void ScheduleNextCycle();
    void WatchProfile();
    void ProfileTouched();
    void AfterCycle();
    void OnSignal();
    void WatchFiles();
    // A failed save of the profile goes to standard error, once for each reason.
    void ReportSaveFailure();
    // Whether someone else changed the profile since the service last read it.
    [[nodiscard]] bool ProfileEditedElsewhere() const;

    QString m_profileName;
    std::FILE* m_history;
    cSettings m_settings;
    cCheckCycle m_cycle;
    std::vector<quint32> m_colours;
    QTimer m_cycleTimer;
    QTimer m_profileSettle;
    QFileSystemWatcher m_profileWatcher;
    bool m_reloadPending = false;
    cChangeWatcher m_changes;
    bool m_stopping = false;
    QSocketNotifier* m_signalNotifier = nullptr;
};
