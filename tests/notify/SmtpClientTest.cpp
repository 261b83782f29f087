#include "notify/SmtpClient.h"
#include "ScriptedUi.h"
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "notify/cEmail.h"
#include "notify/cMessage.h"
#include "support/MachineStore.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"
#include "support/UserInterface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

// QStrings as gtest shows them, in values and in messages.
static std::ostream& operator<<(std::ostream& os, const QString& text)
{
    return os << '"' << text.toStdString() << '"';
}

namespace {

const QString kUtils = QStringLiteral("SOFTWARE\\Brackwell\\Utils");
const QString kMarker = QStringLiteral("SendingToSMTPServer");

// Lines that start with dots, and a lone dot that would end the data early
// unless it is escaped on the way.
const QByteArray kMime = "From: Sentrel <sentrel@example.com>\r\nTo: ops@example.com\r\nSubject: Disk report\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
                         "First line\r\n.starts with a dot\r\n..two dots\r\n.\r\nthe line above is a lone dot\r\n";

SmtpConfig Loopback(quint16 port, const QString& server = QStringLiteral("127.0.0.1"))
{
    SmtpConfig config;
    config.Server = server;
    config.Port = port;
    config.ConnectTimeoutMs = 2000;
    return config;
}

// A loopback port with nothing listening on it.
quint16 ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool Send(const SmtpConfig& config,
          QString& reason,
          const QList<QByteArray>& to = {"ops@example.com"},
          const std::atomic<bool>* cancel = nullptr)
{
    return SmtpClient::Send(config, "sentrel@example.com", to, kMime, reason, cancel);
}

QString Cancelled(quint16 port)
{
    return QStringLiteral("Sending to 127.0.0.1 port %1 was cancelled").arg(port);
}

// A throwaway CA, certificates it signed for this host and for another name,
// and a CA that signed nothing; made once per test process with openssl.
struct Certificates
{
    QString Ca;
    QString ServerCert, ServerKey; // IP:127.0.0.1 and DNS:localhost
    QString OtherCert, OtherKey;   // DNS:mail.other.test only
    QString StrangerCa;
    QString Error;
};

const Certificates& TestCertificates()
{
    static const Certificates certificates = [] {
        Certificates c;
        const QString dir = TestEnvironment::NewFolder(QStringLiteral("certificates"));
        const auto path = [&dir](const char* name) { return dir + QLatin1Char('/') + QLatin1String(name); };
        const QString log = path("openssl.log");
        const auto run = [&](const QString& command) {
            const QByteArray line = (command + QStringLiteral(" >>'") + log + QStringLiteral("' 2>&1")).toLocal8Bit();
            if (c.Error.isEmpty() && std::system(line.constData()) != 0) {
                c.Error = "failed: " + command + "\n" + QString::fromUtf8(TestEnvironment::ReadFile(log));
            }
        };
        const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
        const auto makeCa = [&](const char* name, const char* subject) {
            run(QStringLiteral("openssl req -x509 %1 -keyout '%2.key' -out '%2.pem' -days 2 -subj '/CN=%3' "
                               "-addext 'basicConstraints=critical,CA:TRUE' "
                               "-addext 'keyUsage=critical,keyCertSign,cRLSign'")
                    .arg(key, path(name), QLatin1String(subject)));
        };
        const auto makeServer = [&](const char* name, const char* altNames) {
            TestEnvironment::WriteFile(path(name) + QStringLiteral(".ext"),
                                       QByteArray("subjectAltName=") + altNames +
                                           "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                           "extendedKeyUsage=serverAuth\nsubjectKeyIdentifier=hash\n"
                                           "authorityKeyIdentifier=keyid,issuer\n");
            run(QStringLiteral("openssl req -new %1 -keyout '%2.key' -out '%2.csr' -subj '/CN=Sentrel test server'")
                    .arg(key, path(name)));
            run(QStringLiteral("openssl x509 -req -in '%1.csr' -CA '%2.pem' -CAkey '%2.key' -CAcreateserial "
                               "-out '%1.pem' -days 2 -extfile '%1.ext'")
                    .arg(path(name), path("ca")));
        };
        makeCa("ca", "Sentrel Test CA");
        makeCa("stranger", "Sentrel Stranger CA");
        makeServer("server", "IP:127.0.0.1,DNS:localhost");
        makeServer("other", "DNS:mail.other.test");
        c = {path("ca.pem"),
             path("server.pem"),
             path("server.key"),
             path("other.pem"),
             path("other.key"),
             path("stranger.pem"),
             c.Error};
        return c;
    }();
    return certificates;
}

#define START_SINK(sink) ASSERT_TRUE((sink).Started()) << (sink).Error().toStdString()
#define CERTIFICATES(certs) \
    const Certificates& certs = TestCertificates(); \
    ASSERT_TRUE(certs.Error.isEmpty()) << certs.Error.toStdString()

} // namespace

TEST(SmtpDelivery, MessageArrivesByteForByteToEveryRecipient)
{
    struct Case
    {
        const char* server;
        QByteArray from;
        QList<QByteArray> to;
        QString mailFrom;
    } const cases[] = {
        {"127.0.0.1", "sentrel@example.com", {"ops@example.com"}, "sentrel@example.com"},
        // By name, all recipients in one transaction, the null sender as bounces are sent.
        {"localhost", "", {"a@example.com", "b@example.org", "c@example.net"}, "<>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        SmtpSink sink;
        START_SINK(sink);
        QString reason;
        ASSERT_TRUE(SmtpClient::Send(Loopback(sink.Port(), c.server), c.from, c.to, kMime, reason)) << reason;
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].MailFrom, c.mailFrom);
        EXPECT_EQ(messages[0].RcptTos.join(','), QString::fromUtf8(c.to.join(',')));
        // Dot lines intact, nothing cut off after the lone dot, nothing added.
        EXPECT_EQ(QString::fromUtf8(messages[0].Raw), QString::fromUtf8(kMime));
        EXPECT_TRUE(messages[0].AuthUser.isEmpty()); // no login without a user name
    }
}

TEST(SmtpLogin, MechanismsAndCredentials)
{
    const QString refused = "535 5.7.8 Authentication credentials invalid";
    struct Case
    {
        const char* name;
        QString offered, user, password;
        QString reason; // empty: sent
    } const cases[] = {
        {"PLAIN", "PLAIN", "alice", "s3cret", {}},
        {"LOGIN", "LOGIN", "alice", "s3cret", {}},
        {"both offered", {}, "alice", "s3cret", {}},
        {"PLAIN, wrong password", "PLAIN", "alice", "Wr0ng-Pa55", refused},
        {"LOGIN, wrong password", "LOGIN", "alice", "Wr0ng-Pa55", refused},
        {"unknown user", {}, "mallory", "s3cret", refused},
        // The password alone does not log in: no user name, no AUTH.
        {"no user name", {}, {}, "s3cret", "530 5.7.0 Authentication required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        options.Auth = true;
        options.AuthMechanisms = c.offered;
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port());
        config.UserName = c.user;
        config.Password = c.password;
        QString reason;
        EXPECT_EQ(Send(config, reason), c.reason.isEmpty());
        EXPECT_EQ(reason, c.reason);
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), c.reason.isEmpty() ? 1 : 0);
        if (!messages.isEmpty()) {
            EXPECT_EQ(messages[0].AuthUser, QStringLiteral("alice"));
            if (!c.offered.isEmpty()) {
                EXPECT_EQ(messages[0].AuthMechanism, c.offered);
            }
        }
    }
}

TEST(SmtpFailures, RefusalsGiveTheServersLineAndDeliverToNobody)
{
    SmtpSink::Options rcpt;
    rcpt.RejectRcpt = QStringLiteral("gone@example.com");
    SmtpSink::Options data;
    data.RejectData = true;
    for (const auto& [options, line] : {std::pair {rcpt, "550 5.1.1 <gone@example.com>: Recipient address rejected"},
                                        std::pair {data, "554 5.6.0 Message content rejected"}}) {
        SCOPED_TRACE(line);
        SmtpSink sink(options);
        START_SINK(sink);
        QString reason;
        EXPECT_FALSE(Send(Loopback(sink.Port()), reason, {"ops@example.com", "gone@example.com", "desk@example.com"}));
        EXPECT_EQ(reason, QString::fromUtf8(line));
        if (!options.RejectData) {
            EXPECT_TRUE(sink.Messages().isEmpty()); // no partial delivery to the others
        }
    }
}

TEST(SmtpFailures, ATimeOutEndsWithinItsBoundAndNamesTheTimeWaited)
{
    SmtpSink::Options silent;
    silent.Silent = true;
    SmtpSink::Options slowMail;
    slowMail.Hold = QStringList {QStringLiteral("MAIL=0.7"), QStringLiteral("RCPT")};
    struct Case
    {
        const char* name;
        SmtpSink::Options options;
        int connectMs, overallMs;
        qint64 boundMs;
        const char* what;
        double waitedFrom, waitedTo; // the seconds the reason names
    } const cases[] = {
        {"connect time-out, overall derived", silent, 1000, 0, 1000, "to greet", 1, 1.1},
        {"connect time-out not whole seconds", silent, 1500, 0, 1500, "to greet", 1.5, 1.6},
        {"overall time-out shorter", silent, 5000, 1500, 1500, "to greet", 1.5, 1.6},
        // After a slow answer to MAIL, the overall bound ends the wait for RCPT 0.8 s into it.
        {"overall time-out in a later step", slowMail, 5000, 1500, 1500, "to answer RCPT", 0.6, 0.9},
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
        EXPECT_GE(timer.elapsed(), c.boundMs - 50);
        EXPECT_LT(timer.elapsed(), c.boundMs + 1000);
        const QRegularExpressionMatch timedOut =
            QRegularExpression(
                QStringLiteral("^Timed out after (\\d+(?:\\.\\d)?) s waiting for the server 127.0.0.1 port %1 (.*)$")
                    .arg(sink.Port()))
                .match(reason);
        ASSERT_TRUE(timedOut.hasMatch()) << reason;
        EXPECT_EQ(timedOut.captured(2), QLatin1String(c.what));
        EXPECT_GE(timedOut.captured(1).toDouble(), c.waitedFrom) << reason;
        EXPECT_LE(timedOut.captured(1).toDouble(), c.waitedTo) << reason;
    }
}

TEST(SmtpFailures, CancelEndsASendWhateverItWaitsFor)
{
    SmtpSink::Options silent;
    silent.Silent = true;
    SmtpSink::Options slow;
    slow.DataDelayMs = 600000;
    SmtpSink::Options holdQuit;
    holdQuit.Hold = QStringList {QStringLiteral("QUIT")};
    struct Case
    {
        const char* name;
        SmtpSink::Options options;
        bool cut;      // the connection cut at once, as the program does; else the flag alone
        qint64 within; // ms after the cancel
        bool sent;
    } const cases[] = {
        {"greeting", silent, true, 500, false},
        {"the message", slow, true, 500, false},
        {"QUIT", holdQuit, true, 500, true},
        {"the message, flag alone", slow, false, 1500, false},
        {"QUIT, flag alone", holdQuit, false, 1500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink sink(c.options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port());
        config.ConnectTimeoutMs = 20000;
        std::atomic<bool> cancel {false};
        using Clock = std::chrono::steady_clock;
        Clock::time_point cancelledAt;
        std::thread canceller([&] {
            for (int i = 0; i < 500 && !sink.Held(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            cancelledAt = Clock::now();
            cancel = true;
            if (c.cut) {
                SmtpClient::CutCancelled();
            }
        });
        QString reason;
        EXPECT_EQ(Send(config, reason, {"ops@example.com"}, &cancel), c.sent);
        const Clock::time_point returnedAt = Clock::now();
        canceller.join();
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - cancelledAt).count(), c.within);
        EXPECT_EQ(reason, c.sent ? QString() : Cancelled(sink.Port()));
    }
    // Cancelled before it starts: no connection at all.
    SmtpSink sink;
    START_SINK(sink);
    const std::atomic<bool> cancelled {true};
    QString reason;
    EXPECT_FALSE(Send(Loopback(sink.Port()), reason, {"ops@example.com"}, &cancelled));
    EXPECT_EQ(reason, Cancelled(sink.Port()));
    EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST(SmtpFailures, UnresolvableHost)
{
    QString reason;
    EXPECT_FALSE(Send(Loopback(25, "no-such-host.invalid"), reason));
    if (reason.startsWith(QStringLiteral("Timed out after 2 s connecting to no-such-host.invalid"))) {
        GTEST_SKIP() << "this machine's resolver does not answer within 2 s";
    }
    EXPECT_EQ(reason, QStringLiteral("Could not resolve host no-such-host.invalid"));
}

TEST(SmtpFailures, UnusableSettingsAreRefusedBeforeConnecting)
{
    SmtpSink sink;
    START_SINK(sink);
    struct Case
    {
        QString reason;
        QString server = QStringLiteral("127.0.0.1");
        int port = 0; // 0: the sink's
        QByteArray from = "a@example.com";
        QList<QByteArray> to = {"b@example.com"};
    } const cases[] = {
        {"No mail server is set", ""},
        {"The mail server '127.0.0.1/x' is not a host name or address", "127.0.0.1/x"},
        {"The SMTP port 0 is not a port number (1 to 65535)", "127.0.0.1", -1},
        {"The SMTP port 65536 is not a port number (1 to 65535)", "127.0.0.1", 65536},
        {.reason = "The message has no recipients", .to = {}},
        {.reason = "The address 'b@example.com> RCPT TO:<c@example.com' cannot be used in an SMTP command",
         .to = {"b@example.com>\r\nRCPT TO:<c@example.com"}},
        {.reason = "The address 'a@example.com RSET' cannot be used in an SMTP command",
         .from = "a@example.com\r\nRSET"},
        {.reason = "The address '' cannot be used in an SMTP command", .to = {"b@example.com", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason.toStdString());
        SmtpConfig config;
        config.Server = c.server;
        config.Port = c.port == 0 ? sink.Port() : std::max(c.port, 0);
        QString reason;
        EXPECT_FALSE(SmtpClient::Send(config, c.from, c.to, kMime, reason));
        EXPECT_EQ(reason, c.reason);
    }
    EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST(SmtpTls, CertificatesAreVerified)
{
    CERTIFICATES(certs);
    using S = enum SmtpConfig::Security;
    struct Case
    {
        const char* name;
        S security;
        const char* host;
        QString ca;         // empty: none
        bool otherName;     // the server shows the certificate for mail.other.test
        const char* detail; // what the failure reason holds; null: sent
    } const cases[] = {
        {"STARTTLS to an address", S::StartTls, "127.0.0.1", certs.Ca, false, nullptr},
        {"STARTTLS to a name", S::StartTls, "localhost", certs.Ca, false, nullptr},
        {"TLS to an address", S::Tls, "127.0.0.1", certs.Ca, false, nullptr},
        {"TLS to a name", S::Tls, "localhost", certs.Ca, false, nullptr},
        {"STARTTLS, CA unknown", S::StartTls, "127.0.0.1", {}, false, "certificate"},
        {"TLS, CA unknown", S::Tls, "127.0.0.1", {}, false, "certificate"},
        {"TLS, a CA that signed nothing here", S::Tls, "localhost", certs.StrangerCa, false, "certificate"},
        {"STARTTLS, certificate for another name", S::StartTls, "localhost", certs.Ca, true, "'localhost'"},
        {"TLS, certificate for another name", S::Tls, "127.0.0.1", certs.Ca, true, "'127.0.0.1'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        (c.security == S::Tls ? options.TlsCert : options.StartTlsCert) =
            c.otherName ? certs.OtherCert : certs.ServerCert;
        (c.security == S::Tls ? options.TlsKey : options.StartTlsKey) = c.otherName ? certs.OtherKey : certs.ServerKey;
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port(), c.host);
        config.Security = c.security;
        config.CAFile = c.ca;
        QString reason;
        EXPECT_EQ(Send(config, reason), c.detail == nullptr) << reason;
        EXPECT_EQ(sink.Messages().size(), c.detail ? 0 : 1);
        if (c.detail) {
            EXPECT_TRUE(reason.startsWith(QStringLiteral("The TLS connection to %1 port %2 failed: ")
                                              .arg(QLatin1String(c.host))
                                              .arg(sink.Port())))
                << reason;
            EXPECT_TRUE(reason.contains(QLatin1String(c.detail))) << reason;
        }
    }
}

TEST(SmtpTls, CaFileThatIsNoRegularFileIsRefusedBeforeConnecting)
{
    auto files = TestEnvironment::NonRegularFiles();
    files.append({TestEnvironment::Root() + QStringLiteral("/missing-ca.pem"), QString()});
    for (const auto& [path, kind] : files) {
        SCOPED_TRACE(path.toStdString());
        SmtpConfig config = Loopback(ClosedPort());
        config.Security = SmtpConfig::Security::Tls;
        config.CAFile = path;
        QString reason;
        const TestEnvironment::Deadline deadline(3);
        EXPECT_FALSE(Send(config, reason));
        EXPECT_EQ(reason,
                  QStringLiteral("Could not read the CA file '%1': %2")
                      .arg(path,
                           kind.isEmpty() ? QStringLiteral("No such file or directory")
                                          : QStringLiteral("it is %1, not a regular file").arg(kind)));
    }
}

TEST(SmtpTls, EncryptionAskedForIsNeverDropped)
{
    // A server without TLS: STARTTLS is not offered, and TLS from the first byte meets a plain greeting.
    SmtpSink sink;
    START_SINK(sink);
    SmtpConfig config = Loopback(sink.Port());
    config.CAFile = TestCertificates().Ca;
    QString reason;
    config.Security = SmtpConfig::Security::StartTls;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_EQ(
        reason,
        QStringLiteral("The server 127.0.0.1 port %1 does not offer STARTTLS, and the mail is not sent without it")
            .arg(sink.Port()));
    config.Security = SmtpConfig::Security::Tls;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("The TLS connection to 127.0.0.1 port %1 failed: ").arg(sink.Port())))
        << reason;
    EXPECT_TRUE(sink.Messages().isEmpty());
}

class SmtpSecrets : public ::testing::Test
{
protected:
    void SetUp() override { FreshLog(); }
    void TearDown() override { ResetDebugLogState(); }

    // A log of its own, with the whole dialogue in it.
    static void FreshLog()
    {
        ResetDebugLogState();
        SetDebugPath(TestEnvironment::NewFolder(QStringLiteral("log")) + QLatin1Char('/'));
        SetDebugLevel(10);
    }
    static QByteArray Log() { return TestEnvironment::ReadFile(DebugLogFilePath()); }
};

TEST_F(SmtpSecrets, PasswordIsInNoReasonAndNoLogLine)
{
    SmtpSink::Options plainLogin;
    plainLogin.Auth = true;
    plainLogin.AuthMechanisms = QStringLiteral("PLAIN");
    SmtpSink::Options loginOnly = plainLogin;
    loginOnly.AuthMechanisms = QStringLiteral("LOGIN");
    SmtpSink::Options silent;
    silent.Silent = true;
    struct Case
    {
        const char* name;
        SmtpSink::Options options;
        QByteArray password;
        bool sent;
    } const cases[] = {
        {"PLAIN accepted", plainLogin, "s3cret", true},
        {"LOGIN accepted", loginOnly, "s3cret", true},
        {"PLAIN refused", plainLogin, "Wr0ng-Pa55", false},
        {"LOGIN refused", loginOnly, "Wr0ng-Pa55", false},
        {"silent server", silent, "Wr0ng-Pa55", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshLog();
        SmtpSink sink(c.options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink.Port());
        config.ConnectTimeoutMs = 1000;
        config.UserName = QStringLiteral("alice");
        config.Password = QString::fromUtf8(c.password);
        QString reason;
        EXPECT_EQ(Send(config, reason), c.sent) << reason;
        const QByteArray log = Log();
        // The log has the dialogue, so the checks below look at something.
        EXPECT_TRUE(log.contains(c.options.Silent ? "SMTP: sending " : "C: AUTH ")) << log.toStdString();
        // The password as it is, and as PLAIN and LOGIN carry it.
        for (const QByteArray& form : {c.password,
                                       c.password.toBase64(),
                                       (QByteArray("\0alice\0", 7) + c.password).toBase64(),
                                       (QByteArray("alice\0alice\0", 12) + c.password).toBase64()}) {
            EXPECT_FALSE(reason.toUtf8().contains(form)) << reason;
            EXPECT_FALSE(log.contains(form)) << form.toStdString() << " in\n" << log.toStdString();
        }
    }
}

TEST_F(SmtpSecrets, ConnectionRefusedReasonHidesAPasswordThatIsAlsoTheHostName)
{
    // Whatever text a failure quotes, the password in it is masked.
    SmtpConfig config = Loopback(ClosedPort());
    config.UserName = QStringLiteral("alice");
    config.Password = QStringLiteral("127.0.0.1");
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_EQ(reason, QStringLiteral("Could not connect to ******** port %1: Connection refused").arg(config.Port));
    EXPECT_TRUE(Log().contains("Connection refused")) << Log().toStdString();
    EXPECT_FALSE(Log().contains("127.0.0.1")) << Log().toStdString();
}

TEST(SmtpWaiting, MainThreadKeepsHandlingEventsAndQuittingEndsASendAtOnce)
{
    int argc = 1;
    char name[] = "test_notify";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    {
        SmtpSink::Options silent;
        silent.Silent = true;
        SmtpSink sink(silent);
        START_SINK(sink);
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(50);
        SmtpConfig config = Loopback(sink.Port());
        config.ConnectTimeoutMs = 1000;
        QString reason;
        EXPECT_FALSE(Send(config, reason));
        EXPECT_GE(ticks, 10); // a second of 50 ms ticks, handled while the send waited
    }
    SmtpSink::Options options;
    options.DataDelayMs = 600000;
    SmtpSink sink(options);
    START_SINK(sink);
    QElapsedTimer sinceQuit;
    QTimer quitter;
    QObject::connect(&quitter, &QTimer::timeout, [&] {
        if (sink.Held() && !sinceQuit.isValid()) {
            sinceQuit.start();
            QCoreApplication::exit(0);
        }
    });
    quitter.start(10);
    SmtpConfig config = Loopback(sink.Port());
    config.ConnectTimeoutMs = 20000;
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    ASSERT_TRUE(sinceQuit.isValid());
    EXPECT_LT(sinceQuit.elapsed(), 500);
    EXPECT_EQ(reason, Cancelled(sink.Port()));
}

class EmailSend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserInterface::Install(&m_ui);
        MachineStore::DeleteRegValue(MachineStore::Root::CurrentUser, kUtils, kMarker);
    }
    void TearDown() override
    {
        UserInterface::Install(nullptr);
        MachineStore::DeleteRegValue(MachineStore::Root::CurrentUser, kUtils, kMarker);
    }
    static void Fill(cEmail& email, quint16 port)
    {
        email.MailServer = QStringLiteral("127.0.0.1");
        email.Port = port;
        email.TimeoutMilliseconds = 2000;
        email.Message().SetFrom(QStringLiteral("sentrel@example.com"));
        email.Message().SetTo(QStringLiteral("ops@example.com"));
        email.Message().SetSubject(QStringLiteral("File changed"));
        email.Message().SetTextBody(QStringLiteral("report.log changed"));
    }
    ScriptedUi m_ui;
};

TEST_F(EmailSend, MarkerStandsDuringTheSendOnly)
{
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused by the server" : "accepted");
        SmtpSink::Options options;
        // The per-user store the marker is written to.
        options.MarkerFile = QSettings(QSettings::UserScope, "Brackwell", "Utils").fileName();
        options.RejectData = refuse;
        SmtpSink sink(options);
        START_SINK(sink);
        cEmail email;
        Fill(email, sink.Port());
        QString reason;
        EXPECT_EQ(email.SendEmail(reason, true), !refuse) << reason;
        EXPECT_EQ(reason, refuse ? QStringLiteral("554 5.6.0 Message content rejected") : QString());
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].Marker.contains(QStringLiteral("SendingToSMTPServer=127.0.0.1"))) << messages[0].Marker;
        EXPECT_EQ(MachineStore::ReadRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, "<absent>"),
                  QStringLiteral("<absent>"));
    }
}

TEST_F(EmailSend, TemplateMessageGoesOutWithItsEnvelope)
{
    const QString path = TestEnvironment::NewFolder(QStringLiteral("email-template")) + "/NotifyOnChange.eml";
    ASSERT_TRUE(TestEnvironment::WriteFile(
        path,
        "From: t@example.com\r\nTo: nobody@example.com\r\nCc: boss@example.com\r\nBcc: audit@example.com\r\n"
        "Subject: Changed\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>Dosya ad\xFD</p>\r\n"));
    SmtpSink sink;
    START_SINK(sink);
    cEmail email;
    ASSERT_TRUE(email.LoadFromFile(path));
    Fill(email, sink.Port());
    QString reason;
    ASSERT_TRUE(email.SendEmail(reason, true)) << reason;
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].MailFrom, QStringLiteral("sentrel@example.com"));
    EXPECT_EQ(messages[0].RcptTos.join(','), QStringLiteral("ops@example.com,boss@example.com,audit@example.com"));
    EXPECT_FALSE(messages[0].Raw.contains("audit@example.com")); // Bcc is in the envelope only
}

TEST_F(EmailSend, SecurityAndLoginReachTheServer)
{
    CERTIFICATES(certs);
    struct Case
    {
        const char* name;
        cEmail::Security security;
        bool login;
    } const cases[] = {
        {"STARTTLS with login", cEmail::Security::StartTls, true},
        {"TLS", cEmail::Security::Tls, false},
        {"plain with login", cEmail::Security::None, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        options.Auth = c.login;
        if (c.security == cEmail::Security::StartTls) {
            options.StartTlsCert = certs.ServerCert;
            options.StartTlsKey = certs.ServerKey;
        } else if (c.security == cEmail::Security::Tls) {
            options.TlsCert = certs.ServerCert;
            options.TlsKey = certs.ServerKey;
        }
        SmtpSink sink(options);
        START_SINK(sink);
        cEmail email;
        Fill(email, sink.Port());
        email.TransportSecurity = c.security;
        email.CAFile = certs.Ca;
        if (c.login) {
            email.UserName = QStringLiteral("alice");
            email.Password = QStringLiteral("s3cret");
        }
        QString reason;
        EXPECT_TRUE(email.SendEmail(reason, true)) << reason;
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].AuthUser, c.login ? QStringLiteral("alice") : QString());
    }
}
