#include "service/HeadlessService.h"

#include "notify/cEmail.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"
#include "support/ProfileStore.h"
#include "support/UserInterface.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

// The signal handlers only write the signal's number here; the service reads
// it in the event loop, where anything may be done.
int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// The settle time after the profile folder reports a change: a save is a
// temporary file and a rename, and an editor may write in several steps.
constexpr int kProfileSettleMs = 100;

} // namespace

HeadlessService::HeadlessService(QString profileName, std::FILE* history, QObject* parent)
    : QObject(parent)
    , m_profileName(std::move(profileName))
    , m_history(history)
    , m_cycle(*this)
{
    m_cycleTimer.setSingleShot(true);
    m_cycleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_cycleTimer, &QTimer::timeout, this, &HeadlessService::RunCycle);
    m_profileSettle.setSingleShot(true);
    m_profileSettle.setInterval(kProfileSettleMs);
    connect(&m_profileSettle, &QTimer::timeout, this, &HeadlessService::ProfileTouched);
    connect(&m_profileWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_profileSettle.start(); });
    connect(&m_profileWatcher, &QFileSystemWatcher::fileChanged, this, [this] { m_profileSettle.start(); });
    connect(&m_changes, &cChangeWatcher::Changed, this, &HeadlessService::RunCycle);
    m_cycle.SetSettings(&m_settings);
}

HeadlessService::~HeadlessService()
{
    if (m_signalNotifier) {
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            std::signal(number, SIG_DFL);
        }
    }
}

bool HeadlessService::HandleSignals()
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(number, &action, nullptr) != 0) {
            return false;
        }
    }
    // A reader of the history that went away must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &HeadlessService::OnSignal);
    return true;
}

void HeadlessService::OnSignal()
{
    unsigned char number = 0;
    while (::read(g_signalPipe[0], &number, 1) == 1) {
        if (number == SIGHUP) {
            DebugLog(QStringLiteral("SIGHUP: reading the profile again"), 5, LogIndentKeep);
            Reload();
        } else {
            DebugLog(
                QStringLiteral("Signal ") + QString::number(number) + QStringLiteral(": closing"), 5, LogIndentKeep);
            Stop();
        }
    }
}

bool HeadlessService::Start()
{
    m_cycle.RestartInterval();
    if (!LoadProfile() || !m_settings.ReadProblem().isEmpty()) {
        return false;
    }
    AddHistory(DateTimeUtility::Now(), QStringLiteral("Sentrel started"));
    return true;
}

bool HeadlessService::LoadProfile()
{
    m_colours.clear();
    if (!m_settings.ReadSettings(m_profileName)) {
        return false;
    }
    if (!m_settings.ReadProblem().isEmpty()) {
        std::fprintf(stderr,
                     "sentrel: the profile %s cannot be read: %s\n",
                     qUtf8Printable(m_settings.ProfilePath()),
                     qUtf8Printable(m_settings.ReadProblem()));
    }
    const qint32 count = m_settings.NumberFiles();
    m_colours.assign(static_cast<size_t>(qMax(0, count)), White);
    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    for (qint32 i = 1; i <= count; ++i) {
        const cMonitorFile* file = m_settings.MonitorFile(static_cast<qint16>(i));
        if (file->NotifyNeeded() && file->MonitorType() == cMonitorFile::NotifyWhenStale) {
            m_colours[static_cast<size_t>(i - 1)] = Red;
        }
    }
    ReportSaveFailure();
    WatchProfile();
    WatchFiles();
    ScheduleNextCycle();
    return true;
}

void HeadlessService::ReportSaveFailure()
{
    const QString line = m_settings.SaveFailureToReport();
    if (!line.isEmpty()) {
        DebugLog(line, 5, LogIndentKeep);
        std::fprintf(stderr, "sentrel: %s\n", qUtf8Printable(line));
    }
}

void HeadlessService::WatchFiles()
{
    m_changes.Follow(&m_settings);
}

void HeadlessService::ScheduleNextCycle()
{
    if (m_stopping) {
        return;
    }
    // As in the window, the next check is one poll interval after the end of
    // the last; an interval of 0 or less checks every second, as its ticks do.
    const qint64 intervalMs = qMax<qint64>(1, m_settings.PollInterval()) * 1000;
    const qint64 delayMs = qBound<qint64>(0, intervalMs - m_cycle.MSecsSinceLastCheck(), intervalMs);
    m_cycleTimer.start(static_cast<int>(qMin<qint64>(delayMs, std::numeric_limits<int>::max())));
}

void HeadlessService::RunCycle()
{
    if (m_stopping) {
        return;
    }
    if (m_cycle.Running()) {
        // Asked for by a change while a send runs: once more after this cycle.
        m_changes.CheckAgainSoon();
        return;
    }
    m_changes.CheckStarting();
    m_cycleTimer.stop();
    m_cycle.CheckFiles(true);
    m_changes.CheckDone();
    AfterCycle();
}

void HeadlessService::AfterCycle()
{
    if (m_stopping || m_cycle.Running()) {
        return;
    }
    ReportSaveFailure();
    // What the cycle saved is this service's own doing; an edit by someone
    // else, merged into a save or not, is read now.
    if (ProfileEditedElsewhere()) {
        m_reloadPending = true;
    }
    WatchFiles();
    if (m_reloadPending) {
        m_reloadPending = false;
        LoadProfile();
        return;
    }
    ScheduleNextCycle();
}

void HeadlessService::Reload()
{
    if (m_stopping) {
        return;
    }
    if (m_cycle.Running()) {
        m_reloadPending = true;
        return;
    }
    LoadProfile();
}

void HeadlessService::Stop()
{
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    m_cycle.SetClosing(true);
    m_cycleTimer.stop();
    m_changes.Clear();
    m_profileSettle.stop();
    // A send in flight ends at once, as cancelled; what it leaves (history,
    // marker, profile) is as after any failed send.
    cEmail::CancelSends();
    QCoreApplication::exit(0);
}

void HeadlessService::WatchProfile()
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

void HeadlessService::ProfileTouched()
{
    if (m_stopping) {
        return;
    }
    WatchProfile();
    if (!ProfileEditedElsewhere()) {
        return; // the service's own save
    }
    if (m_cycle.Running()) {
        // The cycle saves as it goes; read the edit once it has finished.
        m_reloadPending = true;
        return;
    }
    DebugLog(QStringLiteral("The profile ") + m_settings.ProfilePath() + QStringLiteral(" changed; reading it again"),
             5,
             LogIndentKeep);
    LoadProfile();
}

bool HeadlessService::ProfileEditedElsewhere() const
{
    // The store knows the file as the service last read or wrote it, and the edits by others it merged since.
    return m_settings.Store() && m_settings.Store()->EditedElsewhere();
}

void HeadlessService::AddHistory(const QDateTime& when, const QString& text)
{
    DebugLog(QStringLiteral("History: ") + text, 5, LogIndentKeep);
    if (!m_history) {
        return;
    }
    const QString stamped =
        when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("  ") + UserInterface::ConsoleText(text);
    const QByteArray line = stamped.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_history);
    // One line at a time, also when the journal or a pipe reads it.
    std::fflush(m_history);
}

void HeadlessService::ShowStatus(const QString&) { }

quint32 HeadlessService::RowColour(qint16 row) const
{
    return row >= 1 && static_cast<size_t>(row) <= m_colours.size() ? m_colours[static_cast<size_t>(row - 1)] : White;
}

void HeadlessService::SetRowColour(qint16 row, quint32 rgb)
{
    if (row >= 1 && static_cast<size_t>(row) <= m_colours.size()) {
        m_colours[static_cast<size_t>(row - 1)] = rgb;
    }
}
