#pragma once

#include "model/cSettings.h"
#include "monitor/cChangeWatcher.h"
#include "notify/Notifier.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

// The watch over one profile: owns its settings, the poll interval, the
// change watcher and the watch on the profile file, runs the check cycle and
// hands each due notification to the notifier. Front ends only subscribe.
// File indexes in signals are 1-based, as in the profile.
class cMonitor : public QObject
{
    Q_OBJECT

public:
    explicit cMonitor(QObject* parent = nullptr);
    cMonitor(const cMonitor&) = delete;
    cMonitor& operator=(const cMonitor&) = delete;

    // Sends the notifications from now on; not owned. Without one every event
    // is marked as notified unsent, as with e-mail switched off.
    void SetNotifier(Notifier* notifier);
    // The timer then ticks every second, and each tick reports the time left;
    // without it the timer wakes only when a check is due.
    void ShowCountdown();

    // Reads the profile (every file compared once with its stored time) and
    // starts the interval; false for an empty name.
    bool Load(const QString& profileName);
    // Reads the profile again now, or when the running cycle ends.
    void ReloadProfile();
    // A check of all files at once, whatever the interval.
    void CheckNow() { CheckFiles(true); }
    // What a timer tick does: the countdown, and a check once the interval is up.
    void Tick() { CheckFiles(false); }
    // Ends the watch: a send in flight is cancelled and no further file is
    // checked. Stopped follows once the cancelled send has reported.
    void Stop();

    // While held (a dialog edits the profile), no cycle starts and changes
    // wait; what came due meanwhile is checked once the hold ends.
    void Hold(bool held);

    // Tells a failed save of the profile, or that saves work again (SavingTold), unless told already.
    void ReportSaving();

    [[nodiscard]] cSettings& Settings() { return m_settings; }
    [[nodiscard]] const cSettings& Settings() const { return m_settings; }
    [[nodiscard]] bool Running() const { return m_running; }

Q_SIGNALS:
    // The status line: the countdown, the file being checked, the end of a cycle.
    void StatusText(const QString& text);
    void Progress(int percent);
    // A cycle begins (true) or ends (false).
    void RunningChanged(bool running);
    // The file about to be checked.
    void SelectRow(int index);
    // The file was checked and notified as needed: its state in Settings() is current.
    void FileChecked(int index);
    // The file's notification is handed to the notifier now; its state in
    // Settings() shows what is being notified (a stale file's row turns red).
    void Notifying(int index);
    void HistoryLine(const QDateTime& when, const QString& text);
    // A notification's outcome, after its history line: sent or not, and that line.
    void Notified(int index, bool sent, const QString& line);
    // The profile was read (again): the list is new.
    void ListReplaced();
    void CycleFinished();
    // A save of the profile failed (once for each reason), or saves work again.
    void SavingTold(const QString& line);
    void Stopped();

private:
    void CheckFiles(bool forceCheck);
    bool readProfile();
    void checkRemaining();
    bool notifyDue(qint32 index, cMonitorFile& file);
    void sendFinished(bool sent, const QString& historyLine);
    [[nodiscard]] static QString futureLine(const cMonitorFile& file);
    void fileDone(qint32 index);
    void finishCycle();
    void cycleStarts();
    void writeMetrics();
    void cycleEnds();
    void restartInterval();
    [[nodiscard]] qint64 remainingMs() const;
    void schedule();
    void timerFired();
    void filesChanged();
    void watchProfile();
    void profileTouched();

    cSettings m_settings;
    QString m_profileName;
    QPointer<Notifier> m_notifier;
    QTimer m_tmrCheckFiles;
    QTimer m_profileSettle;
    QFileSystemWatcher m_profileWatcher;
    cChangeWatcher m_changes;
    qint64 m_lastCheckMonotonic = 0;
    qint64 m_cycleStartMonotonic = 0;
    quint64 m_notificationsSent = 0;
    quint64 m_notificationsFailed = 0;
    QString m_metricsProblem;
    qint32 m_count = 0;
    qint32 m_next = 0;
    qint32 m_sending = 0;
    bool m_countdown = false;
    bool m_loaded = false;
    bool m_running = false;
    bool m_stopped = false;
    bool m_reloadPending = false;
    bool m_held = false;
    bool m_changedWhileRunning = false;
};
