#include "notify/SmtpClient.h"
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "support/DebugLog.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

// QStrings as gtest shows them, in values and in messages.
static std::ostream& operator<<(std::ostream& os, const QString& text)
{
    return os << '"' << text.toStdString() << '"';
}

using namespace Qt::StringLiterals;

namespace {

// Lines that start with dots, and a lone dot that would end the data early unless escaped.
const QByteArray kMime = "From: Sentrel <sentrel@example.com>\r\nTo: ops@example.com\r\nSubject: Disk report\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
                         "First line\r\n.starts with a dot\r\n..two dots\r\n.\r\nthe line above is a lone dot\r\n";

SmtpConfig Loopback(int port, const QString& server = u"127.0.0.1"_s)
{
    return {.Server = server, .Port = port, .CAFile = {}, .UserName = {}, .Password = {}, .ConnectTimeoutMs = 2000};
}

bool Send(const SmtpConfig& config, QString& reason, const std::atomic<bool>* cancel = nullptr)
{
    return SmtpClient::Send(config, "sentrel@example.com", {"ops@example.com"}, kMime, reason, cancel);
}

// A throwaway CA, certificates it signed for this host and for another name,
// and a CA that signed nothing; made once per test process with openssl.
struct Certificates
{
    QString Dir, Error;
    [[nodiscard]] QString operator()(const char* name) const { return Dir + QLatin1Char('/') + QLatin1String(name); }
};

const Certificates& TestCertificates()
{
    static const Certificates certificates = [] {
        Certificates c {TestEnvironment::NewFolder(u"certificates"_s), {}};
        const auto run = [&](const QString& command) {
            const QByteArray line = (command + " >>'" + c("openssl.log") + "' 2>&1").toLocal8Bit();
            if (c.Error.isEmpty() && std::system(line.constData()) != 0) {
                c.Error = "failed: " + command + "\n" + QString::fromUtf8(TestEnvironment::ReadFile(c("openssl.log")));
            }
        };
        const QString key = u"-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"_s;
        for (const char* ca : {"ca", "stranger"}) {
            run(u"openssl req -x509 %1 -keyout '%2.key' -out '%2.pem' -days 2 -subj '/CN=Sentrel %3' "
                "-addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign'"_s.arg(
                    key, c(ca), QLatin1String(ca)));
        }
        for (const auto& [name, altNames] :
             {std::pair {"server", "IP:127.0.0.1,DNS:localhost"}, std::pair {"other", "DNS:mail.other.test"}}) {
            TestEnvironment::WriteFile(c(name) + ".ext",
                                       QByteArray("subjectAltName=") + altNames +
                                           "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
            run(u"openssl req -new %1 -keyout '%2.key' -out '%2.csr' -subj '/CN=Sentrel test server'"_s.arg(key,
                                                                                                            c(name)));
            run(u"openssl x509 -req -in '%1.csr' -CA '%2.pem' -CAkey '%2.key' -CAcreateserial "
                "-out '%1.pem' -days 2 -extfile '%1.ext'"_s.arg(c(name), c("ca")));
        }
        return c;
    }();
    return certificates;
}

#define START_SINK(sink) ASSERT_TRUE((sink).Started()) << (sink).Error().toStdString()

} // namespace

TEST(SmtpDelivery, EachOutcomeWithItsReason)
{
    SmtpSink::Options plainOnly, loginOnly, rejectRcpt, rejectData, silent;
    plainOnly.Auth = loginOnly.Auth = true;
    silent.Silent = true;
    plainOnly.AuthMechanisms = u"PLAIN"_s;
    loginOnly.AuthMechanisms = u"LOGIN"_s;
    rejectRcpt.RejectRcpt = u"gone@example.com"_s;
    rejectData.RejectData = true;
    const QList<QByteArray> three = {"ops@example.com", "gone@example.com", "desk@example.com"};
    const QString refused = u"535 5.7.8 Authentication credentials invalid"_s;
    const auto unusable = [](const char* address) {
        return u"The address '%1' cannot be used in an SMTP command"_s.arg(QLatin1String(address));
    };
    struct Case
    {
        const char* name;
        SmtpSink::Options options = {};
        QString reason = {}; // empty: sent, byte for byte, to every recipient; %1: the server's port
        QList<QByteArray> to = {"ops@example.com"};
        QByteArray from = "sentrel@example.com";
        QString server = u"127.0.0.1"_s;
        int port = 0; // 0: the server's
        QString user = {}, password = {};
    } const cases[] = {
        {"by address"},
        // By name, all recipients in one transaction, the null sender as bounces are sent.
        {.name = "by name, null sender", .to = {"a@a.example", "b@b.example"}, .from = "", .server = "localhost"},
        {.name = "PLAIN", .options = plainOnly, .user = "alice", .password = "s3cret"},
        {.name = "LOGIN", .options = loginOnly, .user = "alice", .password = "s3cret"},
        {.name = "wrong password", .options = loginOnly, .reason = refused, .user = "alice", .password = "Wr0ng"},
        // The password alone does not log in: no user name, no AUTH.
        {.name = "no user", .options = plainOnly, .reason = "530 5.7.0 Authentication required", .password = "s3cret"},
        // No partial delivery to the others.
        {"recipient refused", rejectRcpt, "550 5.1.1 <gone@example.com>: Recipient address rejected", three},
        {"message refused", rejectData, "554 5.6.0 Message content rejected", three},
        {.name = "no host", .reason = "The mail server '1/x' is not a host name or address", .server = "1/x"},
        {.name = "no port", .reason = "The SMTP port 65536 is not a port number (1 to 65535)", .port = 65536},
        {.name = "command in a recipient", .reason = unusable("b@x> RCPT TO:<c@x"), .to = {"b@x>\r\nRCPT TO:<c@x"}},
        {.name = "command in the sender", .reason = unusable("a@b.c RSET"), .from = "a@b.c\r\nRSET"},
        {.name = "silent server",
         .options = silent,
         .reason = "Timed out after 2 s waiting for the server 127.0.0.1 port %1 to greet",
         .user = "alice",
         .password = "Wr0ng-Pa55"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink sink(c.options);
        START_SINK(sink);
        SmtpConfig config = Loopback(c.port != 0 ? c.port : sink.Port(), c.server);
        config.UserName = c.user;
        config.Password = c.password;
        ResetDebugLogState();
        SetDebugPath(TestEnvironment::NewFolder(u"log"_s) + QLatin1Char('/'));
        SetDebugLevel(10);
        QString reason;
        EXPECT_EQ(SmtpClient::Send(config, c.from, c.to, kMime, reason), c.reason.isEmpty());
        EXPECT_EQ(reason, c.reason.contains(u"%1"_s) ? c.reason.arg(sink.Port()) : c.reason);
        const QByteArray log = TestEnvironment::ReadFile(DebugLogFilePath());
        ResetDebugLogState();
        // The password, as it is and as PLAIN and LOGIN carry it, is in no reason and in no line of a log that
        // has the dialogue.
        const QByteArray password = c.password.toUtf8();
        EXPECT_TRUE(password.isEmpty() ||
                    log.contains(c.user.isEmpty() || c.options.Silent ? "SMTP: sending " : "C: AUTH "))
            << log.toStdString();
        for (const QByteArray& form : {password,
                                       password.toBase64(),
                                       (QByteArray("\0alice\0", 7) + password).toBase64(),
                                       (QByteArray("alice\0alice\0", 12) + password).toBase64()}) {
            EXPECT_TRUE(password.isEmpty() || !(reason.toUtf8().contains(form) || log.contains(form)))
                << form.toStdString() << " in\n"
                << reason << "\n"
                << log.toStdString();
        }
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), c.reason.isEmpty() || c.options.RejectData ? 1 : 0);
        if (c.reason.isEmpty()) {
            EXPECT_EQ(messages[0].MailFrom, c.from.isEmpty() ? u"<>"_s : QString::fromUtf8(c.from));
            EXPECT_EQ(messages[0].RcptTos.join(','), QString::fromUtf8(c.to.join(',')));
            EXPECT_EQ(messages[0].Raw, kMime); // dot lines intact, nothing cut off after the lone dot
            EXPECT_EQ(messages[0].AuthUser, c.user);
            EXPECT_EQ(messages[0].AuthMechanism, c.options.AuthMechanisms);
        }
    }
}

TEST(SmtpFailures, ATimeOutEndsWithinItsBoundAndNamesTheTimeWaited)
{
    SmtpSink::Options silent, slowMail;
    silent.Silent = true;
    slowMail.Hold = QStringList {u"MAIL=0.7"_s, u"RCPT"_s};
    struct Case
    {
        const char* name;
        SmtpSink::Options options;
        int connectMs, overallMs;
        const char* what;
        double waitedFrom, waitedTo; // the seconds the reason names
    } const cases[] = {
        {"connect time-out not whole seconds", silent, 1500, 0, "to greet", 1.5, 1.6},
        // After a slow answer to MAIL, the overall bound ends the wait for RCPT 0.8 s into it.
        {"overall time-out in a later step", slowMail, 5000, 1500, "to answer RCPT", 0.6, 0.9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink sink(c.options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port());
        config.ConnectTimeoutMs = c.connectMs;
        config.OverallTimeoutMs = c.overallMs;
        QString reason;
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(Send(config, reason));
        EXPECT_TRUE(timer.elapsed() >= 1450 && timer.elapsed() < 2500) << timer.elapsed();
        const QRegularExpressionMatch timedOut =
            QRegularExpression(u"^Timed out after (\\d+(?:\\.\\d)?) s waiting for the server "
                               "127.0.0.1 port %1 (.*)$"_s.arg(sink.Port()))
                .match(reason);
        ASSERT_TRUE(timedOut.hasMatch()) << reason;
        EXPECT_EQ(timedOut.captured(2), QLatin1String(c.what));
        EXPECT_GE(timedOut.captured(1).toDouble(), c.waitedFrom) << reason;
        EXPECT_LE(timedOut.captured(1).toDouble(), c.waitedTo) << reason;
    }
}

TEST(SmtpFailures, CancelEndsASendAtOnceWhateverItWaitsFor)
{
    SmtpSink::Options silent, slow, holdQuit, none;
    silent.Silent = true;
    slow.DataDelayMs = 600000;
    holdQuit.Hold = QStringList {u"QUIT"_s}; // the server has taken the message: it is sent
    for (const auto& [name, options, early, sent] : {std::tuple {"before it starts", none, true, false},
                                                     std::tuple {"greeting", silent, false, false},
                                                     std::tuple {"the message", slow, false, false},
                                                     std::tuple {"QUIT", holdQuit, false, true}}) {
        SCOPED_TRACE(name);
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port());
        config.ConnectTimeoutMs = 20000;
        std::atomic<bool> cancel {early};
        using Clock = std::chrono::steady_clock;
        Clock::time_point cancelledAt = Clock::now();
        std::thread canceller([&] {
            for (int i = 0; i < 500 && !cancel && !sink.Held(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            cancelledAt = Clock::now();
            cancel = true;
            SmtpClient::CutCancelled();
        });
        QString reason;
        EXPECT_EQ(Send(config, reason, &cancel), sent);
        const Clock::time_point returnedAt = Clock::now();
        canceller.join();
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - cancelledAt).count(), 500);
        EXPECT_EQ(reason, sent ? QString() : u"Sending to 127.0.0.1 port %1 was cancelled"_s.arg(sink.Port()));
        EXPECT_TRUE(!early || sink.Messages().isEmpty()); // no connection at all before it starts
    }
}

TEST(SmtpTls, CertificatesAreVerifiedAndEncryptionIsNeverDropped)
{
    const Certificates& certs = TestCertificates();
    ASSERT_TRUE(certs.Error.isEmpty()) << certs.Error.toStdString();
    using S = enum SmtpConfig::Security;
    const QString failed = u"The TLS connection to %1 port %2 failed: "_s;
    struct Case
    {
        const char* name;
        S security;
        const char* host;
        const char* ca;     // null: none
        const char* server; // the certificate it shows; null: it has no TLS
        QString start;      // of the failure reason, "%1" the host, "%2" the port; empty: sent
        const char* detail; // what else the reason holds
    } const cases[] = {
        {"STARTTLS to an address", S::StartTls, "127.0.0.1", "ca.pem", "server", {}, ""},
        {"TLS to a name", S::Tls, "localhost", "ca.pem", "server", {}, ""},
        {"STARTTLS, CA unknown", S::StartTls, "127.0.0.1", nullptr, "server", failed, "certificate"},
        {"TLS, a CA that signed nothing here", S::Tls, "localhost", "stranger.pem", "server", failed, "certificate"},
        {"STARTTLS, certificate for another name", S::StartTls, "localhost", "ca.pem", "other", failed, "'localhost'"},
        {"TLS, certificate for another name", S::Tls, "127.0.0.1", "ca.pem", "other", failed, "'127.0.0.1'"},
        {"TLS, server without it", S::Tls, "127.0.0.1", "ca.pem", nullptr, failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        if (c.server) {
            (c.security == S::Tls ? options.TlsCert : options.StartTlsCert) = certs(c.server) + ".pem";
            (c.security == S::Tls ? options.TlsKey : options.StartTlsKey) = certs(c.server) + ".key";
        }
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port(), QLatin1String(c.host));
        config.Security = c.security;
        config.CAFile = c.ca ? certs(c.ca) : QString();
        QString reason;
        EXPECT_EQ(Send(config, reason), c.start.isEmpty()) << reason;
        EXPECT_EQ(sink.Messages().size(), c.start.isEmpty() ? 1 : 0);
        EXPECT_TRUE(c.start.isEmpty() || reason.startsWith(c.start.arg(QLatin1String(c.host)).arg(sink.Port())))
            << reason;
        EXPECT_TRUE(reason.contains(QLatin1String(c.detail))) << reason;
    }
}

TEST(SmtpTls, CaFileThatIsNoRegularFileIsRefusedBeforeConnecting)
{
    auto files = TestEnvironment::NonRegularFiles();
    files.append({TestEnvironment::Root() + u"/missing-ca.pem"_s, QString()});
    for (const auto& [path, kind] : files) {
        SCOPED_TRACE(path.toStdString());
        SmtpConfig config = Loopback(1); // never reached
        config.Security = SmtpConfig::Security::Tls;
        config.CAFile = path;
        QString reason;
        const TestEnvironment::Deadline deadline(3);
        EXPECT_FALSE(Send(config, reason));
        EXPECT_EQ(
            reason,
            u"Could not read the CA file '%1': %2"_s.arg(
                path, kind.isEmpty() ? u"No such file or directory"_s : u"it is %1, not a regular file"_s.arg(kind)));
    }
}
