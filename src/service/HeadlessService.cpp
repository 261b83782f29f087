#include "service/HeadlessService.h"

#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/UserInterface.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
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

// The SMTP password that systemd hands over (LoadCredential=smtp-password:...),
// or nullopt when there is none or it cannot be read, which is said on standard error.
std::optional<QString> credentialPassword()
{
    const QString folder = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    const QString path = folder + QStringLiteral("/smtp-password");
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        return std::nullopt;
    }
    // systemd bounds a unit's credentials to 1 MB; a password is far smaller.
    constexpr qint64 maxBytes = 64 * 1024;
    QByteArray bytes;
    QString error;
    if (!FileSystemUtility::ReadRegularFile(path, maxBytes, bytes, error)) {
        const QString line = QStringLiteral("The SMTP password credential ") + path +
                             QStringLiteral(" cannot be read (") + error +
                             QStringLiteral("); the profile's password is used");
        DebugLog(line, 5, LogIndentKeep);
        std::fprintf(stderr, "sentrel: %s\n", qUtf8Printable(UserInterface::ConsoleText(line)));
        return std::nullopt;
    }
    // Written with echo or an editor, the file ends in a line break that is no part of the password.
    if (bytes.endsWith('\n')) {
        bytes.chop(1);
        if (bytes.endsWith('\r')) {
            bytes.chop(1);
        }
    }
    DebugLog(QStringLiteral("The SMTP password comes from the credential ") + path, 5, LogIndentKeep);
    return QString::fromUtf8(bytes);
}

} // namespace

HeadlessService::HeadlessService(QString profileName, std::FILE* history, QObject* parent)
    : QObject(parent)
    , m_profileName(std::move(profileName))
    , m_history(history)
{
    m_monitor.SetNotifier(&m_notifier);
    connect(&m_monitor, &cMonitor::HistoryLine, this, &HeadlessService::AddHistory);
    connect(&m_monitor, &cMonitor::ListReplaced, this, &HeadlessService::ListReplaced);
    connect(&m_monitor, &cMonitor::SavingTold, this, &HeadlessService::Warn);
    connect(&m_monitor, &cMonitor::Stopped, this, [] { QCoreApplication::exit(0); });
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
            m_monitor.ReloadProfile();
        } else {
            DebugLog(
                QStringLiteral("Signal ") + QString::number(number) + QStringLiteral(": closing"), 5, LogIndentKeep);
            m_monitor.Stop();
        }
    }
}

bool HeadlessService::Start()
{
    const std::optional<QString> password = credentialPassword();
    m_hasCredential = password.has_value();
    m_notifier.SetPassword(password);
    if (!m_monitor.Load(m_profileName) || !m_monitor.Settings().ReadProblem().isEmpty()) {
        return false;
    }
    AddHistory(DateTimeUtility::Now(), QStringLiteral("Sentrel started"));
    return true;
}

void HeadlessService::ListReplaced()
{
    const cSettings& settings = m_monitor.Settings();
    if (!settings.ReadProblem().isEmpty()) {
        std::fprintf(stderr,
                     "sentrel: the profile %s cannot be read: %s\n",
                     qUtf8Printable(settings.ProfilePath()),
                     qUtf8Printable(settings.ReadProblem()));
    }
    // The window keeps such a password in the desktop's keyring, which a service has no
    // session to reach: without the credential it would log in with no password at all.
    if (settings.SMTPPasswordStore() == cSettings::PasswordStore::Keyring && !m_hasCredential &&
        settings.SMTPEnabled() && !settings.SMTPLoginName().isEmpty()) {
        Warn(QStringLiteral("The profile keeps its SMTP password in the desktop's keyring, which this service "
                            "cannot read: give it the password as the smtp-password credential "
                            "(LoadCredential=smtp-password:FILE)"));
    }
}

void HeadlessService::Warn(const QString& line)
{
    DebugLog(line, 5, LogIndentKeep);
    std::fprintf(stderr, "sentrel: %s\n", qUtf8Printable(line));
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
