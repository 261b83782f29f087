#include "SmtpSink.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Debian's aiosmtpd is a module of the system's Python, not of others on PATH.
constexpr char kPython[] = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 10000;

} // namespace

SmtpSink::SmtpSink(const Options& options)
    : m_folder(TestEnvironment::NewFolder(QStringLiteral("smtp-sink")))
{
    QList<QByteArray> args {kPython, SENTREL_SMTP_SINK, "--port", "0", "--out", QFile::encodeName(m_folder)};
    const auto add = [&args](bool on, std::initializer_list<QByteArray> more) {
        if (on) {
            args << QList<QByteArray>(more);
        }
    };
    add(options.Auth, {"--auth"});
    add(options.Auth && !options.AuthMechanisms.isEmpty(), {"--auth-mechanisms", options.AuthMechanisms.toLatin1()});
    add(!options.RejectRcpt.isEmpty(), {"--reject-rcpt", options.RejectRcpt.toUtf8()});
    add(options.RejectData, {"--reject-data"});
    add(options.Silent, {"--silent"});
    add(!options.StartTlsCert.isEmpty(),
        {"--starttls", QFile::encodeName(options.StartTlsCert), QFile::encodeName(options.StartTlsKey)});
    add(!options.TlsCert.isEmpty(), {"--tls", QFile::encodeName(options.TlsCert), QFile::encodeName(options.TlsKey)});
    add(!options.CopyFrom.isEmpty(),
        {"--copy-on-data", QFile::encodeName(options.CopyFrom), QFile::encodeName(options.CopyTo)});
    add(options.DataDelayMs > 0, {"--data-delay", QByteArray::number(options.DataDelayMs / 1000.0)});
    for (const QString& hold : options.Hold) {
        args << "--hold" << hold.toLatin1();
    }
    QList<char*> argv;
    for (QByteArray& arg : args) {
        argv << arg.data();
    }
    argv << nullptr;

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int spawned = posix_spawn(&m_pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        m_pid = -1;
        ::close(pipeFds[0]);
        m_error = QStringLiteral("cannot start ") + QLatin1String(kPython) + QStringLiteral(": ") +
                  QString::fromLocal8Bit(std::strerror(spawned));
        return;
    }

    // Its first write is its port and a line break, which a pipe delivers whole.
    pollfd fd {pipeFds[0], POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&fd, 1, kStartTimeoutMs)) < 0 && errno == EINTR) { }
    char buffer[16] = {};
    const ssize_t n = ready > 0 ? ::read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
    ::close(pipeFds[0]);
    bool ok = false;
    const uint port = QByteArray(buffer).trimmed().toUInt(&ok);
    if (ok && port > 0 && port <= 65535) {
        m_port = static_cast<quint16>(port);
    } else {
        m_error = n < 0 ? QStringLiteral("the SMTP sink did not report its port within 10 s")
                        : QStringLiteral("the SMTP sink reported no port (see its errors above): ") +
                              QString::fromUtf8(buffer);
    }
}

SmtpSink::~SmtpSink()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
}

bool SmtpSink::Held() const
{
    return QFile::exists(m_folder + QStringLiteral("/held"));
}

QList<SmtpSink::Message> SmtpSink::Messages() const
{
    QList<Message> messages;
    const QDir folder(m_folder);
    const QStringList envelopes = folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString& name : envelopes) {
        const QString base = folder.filePath(name.chopped(5));
        const QJsonObject envelope =
            QJsonDocument::fromJson(TestEnvironment::ReadFile(base + QStringLiteral(".json"))).object();
        Message m;
        m.Raw = TestEnvironment::ReadFile(base + QStringLiteral(".eml"));
        m.MailFrom = envelope.value(QStringLiteral("mail_from")).toString();
        for (const QJsonValue& to : envelope.value(QStringLiteral("rcpt_tos")).toArray()) {
            m.RcptTos << to.toString();
        }
        m.AuthUser = envelope.value(QStringLiteral("auth_user")).toString();
        m.AuthMechanism = envelope.value(QStringLiteral("auth_mechanism")).toString();
        messages << m;
    }
    return messages;
}
