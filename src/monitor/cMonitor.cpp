#include "monitor/cMonitor.h"

#include "monitor/MetricsText.h"
#include "notify/Notification.h"
#include "notify/NotificationText.h"
#include "notify/Notifier.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/ProfileStore.h"

#include <QFileInfo>
#include <QMetaMethod>

#include <limits>
#include <optional>

namespace {

// The settle time after the profile folder reports a change: a save is a
// temporary file and a rename, and an editor may write in several steps.
constexpr int kProfileSettleMs = 100;

} // namespace

cMonitor::cMonitor(QObject* parent)
    : QObject(parent)
{
    m_tmrCheckFiles.setParent(this);
    m_tmrCheckFiles.setObjectName(QStringLiteral("tmrCheckFiles"));
    m_tmrCheckFiles.setTimerType(Qt::PreciseTimer);
    connect(&m_tmrCheckFiles, &QTimer::timeout, this, &cMonitor::timerFired);
    m_profileSettle.setSingleShot(true);
    m_profileSettle.setInterval(kProfileSettleMs);
    connect(&m_profileSettle, &QTimer::timeout, this, &cMonitor::profileTouched);
    connect(&m_profileWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_profileSettle.start(); });
    connect(&m_profileWatcher, &QFileSystemWatcher::fileChanged, this, [this] { m_profileSettle.start(); });
    connect(&m_changes, &cChangeWatcher::Changed, this, &cMonitor::filesChanged);
}

void cMonitor::SetNotifier(Notifier* notifier)
{
    if (m_notifier) {
        disconnect(m_notifier, nullptr, this, nullptr);
    }
    m_notifier = notifier;
    if (m_notifier) {
        connect(m_notifier, &Notifier::Finished, this, &cMonitor::sendFinished);
    }
}

void cMonitor::ShowCountdown()
{
    m_countdown = true;
    schedule();
}

bool cMonitor::Load(const QString& profileName)
{
    m_profileName = profileName;
    // The first automatic check comes one interval after the start.
    restartInterval();
    return readProfile();
}

bool cMonitor::readProfile()
{
    if (!m_settings.ReadSettings(m_profileName)) {
        return false;
    }
    m_loaded = true;
    Q_EMIT StatusText(QStringLiteral(" Loading Settings..."));
    Q_EMIT ListReplaced();
    ReportSaving();
    watchProfile();
    m_changes.Follow(&m_settings);
    schedule();
    Q_EMIT StatusText(QStringLiteral(" Loading Settings...Completed"));
    return true;
}

void cMonitor::ReloadProfile()
{
    if (m_stopped || !m_loaded) {
        return;
    }
    if (m_running) {
        m_reloadPending = true;
        return;
    }
    readProfile();
}

void cMonitor::Stop()
{
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_tmrCheckFiles.stop();
    m_profileSettle.stop();
    m_changes.Clear();
    if (m_sending != 0 && m_notifier) {
        // Its Finished comes at once, as failed; Stopped follows it.
        m_notifier->Cancel();
        return;
    }
    Q_EMIT Stopped();
}

void cMonitor::Hold(bool held)
{
    m_held = held;
    if (held || m_stopped) {
        return;
    }
    if (m_changedWhileRunning) {
        m_changedWhileRunning = false;
        m_changes.CheckAgainSoon();
    }
    schedule();
}

void cMonitor::CheckFiles(bool forceCheck)
{
    if (!m_loaded || m_stopped || m_held) {
        return;
    }
    DebugLog(QStringLiteral("CheckFiles ") + (forceCheck ? QStringLiteral("True") : QStringLiteral("False")),
             5,
             LogIndentKeep);
    // Ticks and Check Now while a cycle waits for its send change nothing, not even the countdown.
    if (m_running) {
        return;
    }
    const qint64 remaining = remainingMs();
    if (m_countdown) {
        Q_EMIT StatusText(QStringLiteral(" Time until next check : ") +
                          DateTimeUtility::FormatSeconds(static_cast<double>(remaining) / 1000.0, 22));
    }
    if (!forceCheck && remaining > 0) {
        return;
    }
    m_running = true;
    m_cycleStartMonotonic = Clock::Current().MonotonicMSecs();
    cycleStarts();
    Q_EMIT RunningChanged(true);
    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    m_count = m_settings.NumberFiles();
    m_next = 1;
    checkRemaining();
}

void cMonitor::checkRemaining()
{
    // Nobody may listen (a service): then the texts are not even built.
    const bool statusShown = isSignalConnected(QMetaMethod::fromSignal(&cMonitor::StatusText));
    while (m_next <= m_count) {
        if (m_stopped) {
            return;
        }
        const qint32 index = m_next;
        Q_EMIT SelectRow(index);
        Q_EMIT Progress(0);
        if (DebugLogWanted(5)) {
            DebugLog(QStringLiteral("Check File ") + QString::number(index), 5, LogIndentKeep);
        }
        cMonitorFile* file = m_settings.MonitorFile(static_cast<qint16>(index));
        if (!file) {
            break; // the list is shorter than when the cycle began
        }
        if (statusShown) {
            Q_EMIT StatusText(QStringLiteral(" Checking ") + file->Filename());
        }
        file->CheckFile(m_settings.CycleFolders());
        if (file->TakeFutureWarning()) {
            Q_EMIT HistoryLine(DateTimeUtility::Now(), futureLine(*file));
        }
        if (notifyDue(index, *file)) {
            return; // on with sendFinished
        }
        fileDone(index);
    }
    if (!m_stopped) {
        finishCycle();
    }
}

// Hands the file's next due notification to the notifier; false when none
// is left to send. Each event is notified at most once: marked unsent with
// e-mail off or nothing to send it with, and not retried after a failure.
bool cMonitor::notifyDue(qint32 index, cMonitorFile& file)
{
    while (file.DueNotification()) {
        if (m_settings.SMTPEnabled() && m_notifier) {
            if (const std::optional<Notification> notification = NotificationText::ToNotify(m_settings, index)) {
                m_sending = index;
                Q_EMIT Notifying(index);
                m_notifier->Send(*notification);
                return true;
            }
        }
        file.MarkAsNotified();
    }
    return false;
}

void cMonitor::sendFinished(bool sent, const QString& historyLine)
{
    const qint32 index = m_sending;
    if (index == 0) {
        return;
    }
    m_sending = 0;
    ++(sent ? m_notificationsSent : m_notificationsFailed);
    if (!historyLine.isEmpty()) {
        Q_EMIT HistoryLine(DateTimeUtility::Now(), historyLine);
        Q_EMIT Notified(index, sent, historyLine);
    }
    cMonitorFile* file = m_settings.MonitorFile(static_cast<qint16>(index));
    if (file) {
        file->MarkAsNotified();
    }
    if (m_stopped) {
        fileDone(index);
        Q_EMIT Stopped();
        return;
    }
    // A file back to normal with a new time has a second notification.
    if (file && notifyDue(index, *file)) {
        return;
    }
    fileDone(index);
    checkRemaining();
}

QString cMonitor::futureLine(const cMonitorFile& file)
{
    return QStringLiteral("File:") + FileSystemUtility::FileTitle(file.Filename()) +
           QStringLiteral(" - Last modified ") + DateTimeUtility::GeneralDate(file.LastModifiedVB()) +
           QStringLiteral(", ahead of this computer's clock: it cannot go out of date before then");
}

void cMonitor::fileDone(qint32 index)
{
    ++m_next;
    Q_EMIT FileChecked(index);
}

void cMonitor::finishCycle()
{
    Q_EMIT Progress(100);
    m_running = false;
    Q_EMIT RunningChanged(false);
    Q_EMIT StatusText(QStringLiteral(" Checking...Finished"));
    restartInterval();
    cycleEnds();
    writeMetrics();
    m_settings.SaveAgainAfterFailure();
    ReportSaving();
    // What the cycle saved is this program's own doing; an edit by someone
    // else, merged into a save or not, is read now.
    const bool editedElsewhere = m_settings.Store() && m_settings.Store()->EditedElsewhere();
    if (m_reloadPending || editedElsewhere) {
        m_reloadPending = false;
        readProfile();
    } else {
        // The cycle may have moved a dated name on to today's file.
        m_changes.Follow(&m_settings);
        schedule();
    }
    if (m_changedWhileRunning) {
        m_changedWhileRunning = false;
        m_changes.CheckAgainSoon();
    }
    Q_EMIT CycleFinished();
}

// Everything a cycle holds for its length is taken here and given back in cycleEnds.
void cMonitor::cycleStarts()
{
    m_changes.CheckStarting();
    // Files that share a folder are statted relative to one handle on it, opened afresh each cycle.
    m_settings.BeginCheckCycle();
}

void cMonitor::cycleEnds()
{
    m_changes.CheckDone();
    m_settings.EndCheckCycle();
}

void cMonitor::restartInterval()
{
    // Monotonic: setting the system time neither delays nor hastens a check.
    m_lastCheckMonotonic = Clock::Current().MonotonicMSecs();
}

qint64 cMonitor::remainingMs() const
{
    return static_cast<qint64>(m_settings.PollInterval()) * 1000 -
           (Clock::Current().MonotonicMSecs() - m_lastCheckMonotonic);
}

void cMonitor::schedule()
{
    if (!m_loaded || m_stopped) {
        return;
    }
    if (m_countdown) {
        m_tmrCheckFiles.setSingleShot(false);
        if (!m_tmrCheckFiles.isActive() || m_tmrCheckFiles.interval() != 1000) {
            m_tmrCheckFiles.start(1000);
        }
        return;
    }
    // One wake-up when the check is due; an interval of 0 or less checks every second.
    const qint64 intervalMs = qMax<qint64>(1, m_settings.PollInterval()) * 1000;
    const qint64 delayMs = qBound<qint64>(0, remainingMs(), intervalMs);
    m_tmrCheckFiles.setSingleShot(true);
    m_tmrCheckFiles.start(static_cast<int>(qMin<qint64>(delayMs, std::numeric_limits<int>::max())));
}

void cMonitor::timerFired()
{
    if (m_countdown) {
        Tick();
    } else if (m_settings.PollInterval() > 0 && remainingMs() > 0) {
        schedule();
    } else {
        CheckNow();
    }
}

void cMonitor::filesChanged()
{
    if (m_stopped) {
        return;
    }
    if (m_running || m_held) {
        // Looked at once more when this cycle or the hold is over.
        m_changedWhileRunning = true;
        return;
    }
    CheckNow();
}

void cMonitor::watchProfile()
{
    const QString path = m_settings.ProfilePath();
    const QString folder = QFileInfo(path).absolutePath();
    // A save replaces the file, which ends a watch on it; the folder's watch
    // sees the replacement, and the file is watched again each time.
    if (!m_profileWatcher.directories().contains(folder)) {
        m_profileWatcher.addPath(folder);
    }
    if (QFileInfo::exists(path) && !m_profileWatcher.files().contains(path)) {
        m_profileWatcher.addPath(path);
    }
}

void cMonitor::profileTouched()
{
    if (m_stopped || !m_loaded) {
        return;
    }
    watchProfile();
    if (!m_settings.Store() || !m_settings.Store()->EditedElsewhere()) {
        return; // this program's own save
    }
    if (m_running) {
        // The cycle saves as it goes; the edit is read once it has finished.
        m_reloadPending = true;
        return;
    }
    DebugLog(QStringLiteral("The profile ") + m_settings.ProfilePath() + QStringLiteral(" changed; reading it again"),
             5,
             LogIndentKeep);
    readProfile();
}

void cMonitor::writeMetrics()
{
    const QString path = m_settings.MetricsFile().trimmed();
    if (path.isEmpty()) {
        return;
    }
    const Clock& clock = Clock::Current();
    const MetricsText::Cycle cycle {clock.NowMSecsSinceEpoch(),
                                    clock.MonotonicMSecs() - m_cycleStartMonotonic,
                                    m_notificationsSent,
                                    m_notificationsFailed};
    QString error;
    if (FileSystemUtility::SwapInFile(path, MetricsText::Render(m_settings, cycle), error)) {
        m_metricsProblem.clear();
        return;
    }
    // Told once for each reason, not at every cycle.
    if (error != m_metricsProblem) {
        m_metricsProblem = error;
        Q_EMIT HistoryLine(DateTimeUtility::Now(),
                           QStringLiteral("Metrics file ") + path + QStringLiteral(" was not written: ") + error);
    }
}

void cMonitor::ReportSaving()
{
    const QString line = m_settings.SavingToReport();
    if (!line.isEmpty()) {
        Q_EMIT SavingTold(line);
    }
}
