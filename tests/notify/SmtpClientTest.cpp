#include "notify/SmtpClient.h"
#include "ScriptedUi.h"
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "notify/cEmail.h"
#include "notify/cMessage.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

const QString kUtils = QStringLiteral("SOFTWARE\\Brackwell\\Utils");
const QString kMarker = QStringLiteral("SendingToSMTPServer");

// Lines that start with dots, and a lone dot that would end the data early
// unless it is escaped on the way.
const QByteArray kMime = "From: Sentrel <sentrel@example.com>\r\n"
                         "To: ops@example.com\r\n"
                         "Subject: Disk report\r\n"
                         "MIME-Version: 1.0\r\n"
                         "Content-Type: text/plain; charset=us-ascii\r\n"
                         "\r\n"
                         "First line\r\n"
                         ".starts with a dot\r\n"
                         "..two dots\r\n"
                         ".\r\n"
                         "the line above is a lone dot\r\n";

// QStrings as gtest can show them.
std::string Std(const QString& text)
{
    return text.toStdString();
}

QString Text(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

SmtpConfig Loopback(const SmtpSink& sink)
{
    SmtpConfig config;
    config.Server = QStringLiteral("127.0.0.1");
    config.Port = sink.Port();
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

bool Send(const SmtpConfig& config, QString& reason, const QList<QByteArray>& to = {"ops@example.com"})
{
    return SmtpClient::Send(config, "sentrel@example.com", to, kMime, reason);
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
                c.Error =
                    QStringLiteral("failed: ") + command + QStringLiteral("\n") + Text(TestEnvironment::ReadFile(log));
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
        c.Ca = path("ca.pem");
        c.StrangerCa = path("stranger.pem");
        c.ServerCert = path("server.pem");
        c.ServerKey = path("server.key");
        c.OtherCert = path("other.pem");
        c.OtherKey = path("other.key");
        return c;
    }();
    return certificates;
}

#define START_SINK(sink) ASSERT_TRUE((sink).Started()) << (sink).Error().toStdString()

} // namespace

TEST(SmtpDelivery, MessageArrivesByteForByte)
{
    SmtpSink sink;
    START_SINK(sink);
    QString reason;
    ASSERT_TRUE(Send(Loopback(sink), reason)) << reason.toStdString();
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].MailFrom, QStringLiteral("sentrel@example.com"));
    EXPECT_EQ(messages[0].RcptTos, QStringList {QStringLiteral("ops@example.com")});
    // Dot lines intact, nothing cut off after the lone dot, nothing added.
    EXPECT_EQ(Text(messages[0].Raw), Text(kMime));
    EXPECT_TRUE(messages[0].AuthUser.isEmpty()); // no login without a user name
}

TEST(SmtpDelivery, ComposedMessageParsesBack)
{
    cMessage m;
    m.SetFrom(QStringLiteral("Jürgen Müller <jm@example.com>"));
    m.SetTo(QStringLiteral("ops@example.com, \"Desk, Night\" <desk@example.com>"));
    m.SetSubject(QStringLiteral("Größe geändert: report.log"));
    m.SetTextBody(QStringLiteral("Line one\n.hidden? no\nLast line"));
    m.SetHTMLBody(QStringLiteral("<p>Line one</p>"));
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);

    SmtpSink sink;
    START_SINK(sink);
    QString reason;
    ASSERT_TRUE(SmtpClient::Send(Loopback(sink), m.EnvelopeFrom(), m.EnvelopeRecipients(), mime, reason))
        << reason.toStdString();
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].Raw, mime);
    EXPECT_EQ(messages[0].MailFrom, QStringLiteral("jm@example.com"));
    EXPECT_EQ(messages[0].RcptTos,
              (QStringList {QStringLiteral("ops@example.com"), QStringLiteral("desk@example.com")}));

    cMessage back;
    ASSERT_TRUE(back.FromMime(messages[0].Raw));
    EXPECT_EQ(back.Subject(), QStringLiteral("Größe geändert: report.log"));
    EXPECT_TRUE(back.From().contains(QStringLiteral("Jürgen Müller"))) << back.From().toStdString();
    EXPECT_TRUE(back.To().contains(QStringLiteral("desk@example.com")));
    QString text = back.TextBody();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(text.trimmed(), QStringLiteral("Line one\n.hidden? no\nLast line"));
    EXPECT_EQ(back.HTMLBody().trimmed(), QStringLiteral("<p>Line one</p>"));
}

TEST(SmtpDelivery, EveryRecipientGetsTheMessage)
{
    SmtpSink sink;
    START_SINK(sink);
    const QList<QByteArray> to {"a@example.com", "b@example.org", "c@example.net"};
    QString reason;
    ASSERT_TRUE(Send(Loopback(sink), reason, to)) << reason.toStdString();
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1); // one transaction for all of them
    EXPECT_EQ(messages[0].RcptTos,
              (QStringList {
                  QStringLiteral("a@example.com"), QStringLiteral("b@example.org"), QStringLiteral("c@example.net")}));
}

TEST(SmtpDelivery, ServerByNameAndNullSender)
{
    SmtpSink sink;
    START_SINK(sink);
    SmtpConfig config = Loopback(sink);
    config.Server = QStringLiteral("localhost");
    QString reason;
    ASSERT_TRUE(SmtpClient::Send(config, QByteArray(), {"ops@example.com"}, kMime, reason)) << reason.toStdString();
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].MailFrom, QStringLiteral("<>")); // the null sender, as bounces are sent
}

TEST(SmtpLogin, MechanismsAndCredentials)
{
    struct Case
    {
        const char* name;
        QString offered;
        QString user, password;
        bool sent;
        QString reason;
    } const cases[] = {
        {"PLAIN", QStringLiteral("PLAIN"), QStringLiteral("alice"), QStringLiteral("s3cret"), true, QString()},
        {"LOGIN", QStringLiteral("LOGIN"), QStringLiteral("alice"), QStringLiteral("s3cret"), true, QString()},
        {"both offered", QString(), QStringLiteral("alice"), QStringLiteral("s3cret"), true, QString()},
        {"PLAIN, wrong password",
         QStringLiteral("PLAIN"),
         QStringLiteral("alice"),
         QStringLiteral("Wr0ng-Pa55"),
         false,
         QStringLiteral("535 5.7.8 Authentication credentials invalid")},
        {"LOGIN, wrong password",
         QStringLiteral("LOGIN"),
         QStringLiteral("alice"),
         QStringLiteral("Wr0ng-Pa55"),
         false,
         QStringLiteral("535 5.7.8 Authentication credentials invalid")},
        {"unknown user",
         QString(),
         QStringLiteral("mallory"),
         QStringLiteral("s3cret"),
         false,
         QStringLiteral("535 5.7.8 Authentication credentials invalid")},
        // The password alone does not log in: no user name, no AUTH.
        {"no user name",
         QString(),
         QString(),
         QStringLiteral("s3cret"),
         false,
         QStringLiteral("530 5.7.0 Authentication required")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        options.Auth = true;
        options.AuthMechanisms = c.offered;
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink);
        config.UserName = c.user;
        config.Password = c.password;
        QString reason;
        EXPECT_EQ(Send(config, reason), c.sent) << reason.toStdString();
        EXPECT_EQ(Std(reason), Std(c.reason));
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), c.sent ? 1 : 0);
        if (c.sent) {
            EXPECT_EQ(messages[0].AuthUser, QStringLiteral("alice"));
            if (!c.offered.isEmpty()) {
                EXPECT_EQ(messages[0].AuthMechanism, c.offered);
            }
        }
    }
}

TEST(SmtpFailures, ConnectionRefused)
{
    const quint16 port = ClosedPort();
    SmtpConfig config;
    config.Server = QStringLiteral("127.0.0.1");
    config.Port = port;
    config.ConnectTimeoutMs = 2000;
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_EQ(Std(reason), Std(QStringLiteral("Could not connect to 127.0.0.1 port %1: Connection refused").arg(port)));
}

TEST(SmtpFailures, RejectedRecipientGivesTheServersLine)
{
    SmtpSink::Options options;
    options.RejectRcpt = QStringLiteral("gone@example.com");
    SmtpSink sink(options);
    START_SINK(sink);
    QString reason;
    EXPECT_FALSE(Send(Loopback(sink), reason, {"ops@example.com", "gone@example.com", "desk@example.com"}));
    EXPECT_EQ(Std(reason), Std(QStringLiteral("550 5.1.1 <gone@example.com>: Recipient address rejected")));
    EXPECT_TRUE(sink.Messages().isEmpty()); // no partial delivery to the others
}

TEST(SmtpFailures, RefusedMessageGivesTheServersLine)
{
    SmtpSink::Options options;
    options.RejectData = true;
    SmtpSink sink(options);
    START_SINK(sink);
    QString reason;
    EXPECT_FALSE(Send(Loopback(sink), reason));
    EXPECT_EQ(Std(reason), Std(QStringLiteral("554 5.6.0 Message content rejected")));
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
        int connectMs;
        int overallMs;
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
        SmtpConfig config = Loopback(sink);
        config.ConnectTimeoutMs = c.connectMs;
        config.OverallTimeoutMs = c.overallMs;
        QString reason;
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(Send(config, reason));
        const qint64 elapsed = timer.elapsed();
        EXPECT_GE(elapsed, c.boundMs - 50);
        EXPECT_LT(elapsed, c.boundMs + 1000);
        const QRegularExpressionMatch timedOut =
            QRegularExpression(
                QStringLiteral("^Timed out after (\\d+(?:\\.\\d)?) s waiting for the server 127.0.0.1 port %1 (.*)$")
                    .arg(sink.Port()))
                .match(reason);
        ASSERT_TRUE(timedOut.hasMatch()) << Std(reason);
        EXPECT_EQ(Std(timedOut.captured(2)), c.what);
        EXPECT_GE(timedOut.captured(1).toDouble(), c.waitedFrom) << Std(reason);
        EXPECT_LE(timedOut.captured(1).toDouble(), c.waitedTo) << Std(reason);
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
        SmtpConfig config = Loopback(sink);
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
        EXPECT_EQ(SmtpClient::Send(config, "sentrel@example.com", {"ops@example.com"}, kMime, reason, &cancel), c.sent);
        const Clock::time_point returnedAt = Clock::now();
        canceller.join();
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - cancelledAt).count(), c.within);
        EXPECT_EQ(
            Std(reason),
            Std(c.sent ? QString() : QStringLiteral("Sending to 127.0.0.1 port %1 was cancelled").arg(sink.Port())));
    }
    // Cancelled before it starts: no connection at all.
    SmtpSink sink;
    START_SINK(sink);
    const std::atomic<bool> cancelled {true};
    QString reason;
    EXPECT_FALSE(
        SmtpClient::Send(Loopback(sink), "sentrel@example.com", {"ops@example.com"}, kMime, reason, &cancelled));
    EXPECT_EQ(Std(reason), Std(QStringLiteral("Sending to 127.0.0.1 port %1 was cancelled").arg(sink.Port())));
    EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST(SmtpFailures, UnresolvableHost)
{
    SmtpConfig config;
    config.Server = QStringLiteral("no-such-host.invalid");
    config.ConnectTimeoutMs = 2000;
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    if (reason.startsWith(QStringLiteral("Timed out after 2 s connecting to no-such-host.invalid"))) {
        GTEST_SKIP() << "this machine's resolver does not answer within 2 s";
    }
    EXPECT_EQ(Std(reason), Std(QStringLiteral("Could not resolve host no-such-host.invalid")));
}

TEST(SmtpFailures, UnusableSettingsAreRefusedBeforeConnecting)
{
    SmtpSink sink;
    START_SINK(sink);
    struct Case
    {
        const char* name;
        QString server;
        int port;
        QByteArray from;
        QList<QByteArray> to;
        QString reason;
    } const cases[] = {
        {"no server",
         QString(),
         sink.Port(),
         "a@example.com",
         {"b@example.com"},
         QStringLiteral("No mail server is set")},
        {"server with a path",
         QStringLiteral("127.0.0.1/x"),
         sink.Port(),
         "a@example.com",
         {"b@example.com"},
         QStringLiteral("The mail server '127.0.0.1/x' is not a host name or address")},
        {"port 0",
         QStringLiteral("127.0.0.1"),
         0,
         "a@example.com",
         {"b@example.com"},
         QStringLiteral("The SMTP port 0 is not a port number (1 to 65535)")},
        {"port 65536",
         QStringLiteral("127.0.0.1"),
         65536,
         "a@example.com",
         {"b@example.com"},
         QStringLiteral("The SMTP port 65536 is not a port number (1 to 65535)")},
        {"no recipients",
         QStringLiteral("127.0.0.1"),
         sink.Port(),
         "a@example.com",
         {},
         QStringLiteral("The message has no recipients")},
        {"command in a recipient",
         QStringLiteral("127.0.0.1"),
         sink.Port(),
         "a@example.com",
         {"b@example.com>\r\nRCPT TO:<c@example.com"},
         QStringLiteral("The address 'b@example.com> RCPT TO:<c@example.com' cannot be used in an SMTP command")},
        {"line break in the sender",
         QStringLiteral("127.0.0.1"),
         sink.Port(),
         "a@example.com\r\nRSET",
         {"b@example.com"},
         QStringLiteral("The address 'a@example.com RSET' cannot be used in an SMTP command")},
        {"empty recipient",
         QStringLiteral("127.0.0.1"),
         sink.Port(),
         "a@example.com",
         {"b@example.com", ""},
         QStringLiteral("The address '' cannot be used in an SMTP command")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpConfig config;
        config.Server = c.server;
        config.Port = c.port;
        QString reason;
        EXPECT_FALSE(SmtpClient::Send(config, c.from, c.to, kMime, reason));
        EXPECT_EQ(Std(reason), Std(c.reason));
    }
    EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST(SmtpTls, CertificatesAreVerified)
{
    const Certificates& certs = TestCertificates();
    ASSERT_TRUE(certs.Error.isEmpty()) << certs.Error.toStdString();
    using S = enum SmtpConfig::Security;
    enum class Ca { Ours, None, Stranger };
    struct Case
    {
        const char* name;
        S security;
        QString host;
        Ca ca;
        bool otherName; // the server shows the certificate for mail.other.test
        bool sent;
        QString reason; // what the reason starts with; %1 is the port
        QString detail; // and holds
    } const cases[] = {
        {"STARTTLS to an address", S::StartTls, QStringLiteral("127.0.0.1"), Ca::Ours, false, true, {}, {}},
        {"STARTTLS to a name", S::StartTls, QStringLiteral("localhost"), Ca::Ours, false, true, {}, {}},
        {"TLS to an address", S::Tls, QStringLiteral("127.0.0.1"), Ca::Ours, false, true, {}, {}},
        {"TLS to a name", S::Tls, QStringLiteral("localhost"), Ca::Ours, false, true, {}, {}},
        {"STARTTLS, CA unknown",
         S::StartTls,
         QStringLiteral("127.0.0.1"),
         Ca::None,
         false,
         false,
         QStringLiteral("The TLS connection to 127.0.0.1 port %1 failed: "),
         QStringLiteral("certificate")},
        {"TLS, CA unknown",
         S::Tls,
         QStringLiteral("127.0.0.1"),
         Ca::None,
         false,
         false,
         QStringLiteral("The TLS connection to 127.0.0.1 port %1 failed: "),
         QStringLiteral("certificate")},
        {"TLS, a CA that signed nothing here",
         S::Tls,
         QStringLiteral("localhost"),
         Ca::Stranger,
         false,
         false,
         QStringLiteral("The TLS connection to localhost port %1 failed: "),
         QStringLiteral("certificate")},
        {"STARTTLS, certificate for another name",
         S::StartTls,
         QStringLiteral("localhost"),
         Ca::Ours,
         true,
         false,
         QStringLiteral("The TLS connection to localhost port %1 failed: "),
         QStringLiteral("'localhost'")},
        {"TLS, certificate for another name",
         S::Tls,
         QStringLiteral("127.0.0.1"),
         Ca::Ours,
         true,
         false,
         QStringLiteral("The TLS connection to 127.0.0.1 port %1 failed: "),
         QStringLiteral("'127.0.0.1'")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString cert = c.otherName ? certs.OtherCert : certs.ServerCert;
        const QString key = c.otherName ? certs.OtherKey : certs.ServerKey;
        SmtpSink::Options options;
        (c.security == S::Tls ? options.TlsCert : options.StartTlsCert) = cert;
        (c.security == S::Tls ? options.TlsKey : options.StartTlsKey) = key;
        SmtpSink sink(options);
        START_SINK(sink);
        SmtpConfig config = Loopback(sink);
        config.Server = c.host;
        config.Security = c.security;
        switch (c.ca) {
        case Ca::Ours:
            config.CAFile = certs.Ca;
            break;
        case Ca::Stranger:
            config.CAFile = certs.StrangerCa;
            break;
        case Ca::None:
            break;
        }
        QString reason;
        EXPECT_EQ(Send(config, reason), c.sent) << reason.toStdString();
        EXPECT_EQ(sink.Messages().size(), c.sent ? 1 : 0);
        if (!c.sent) {
            const QString start = c.reason.contains(QStringLiteral("%1")) ? c.reason.arg(sink.Port()) : c.reason;
            EXPECT_TRUE(reason.startsWith(start)) << reason.toStdString();
            EXPECT_TRUE(reason.contains(c.detail)) << reason.toStdString();
        }
    }
}

TEST(SmtpTls, CaFileThatIsNoRegularFileIsRefusedBeforeConnecting)
{
    const QString missing = TestEnvironment::Root() + QStringLiteral("/missing-ca.pem");
    auto files = TestEnvironment::NonRegularFiles();
    files.append({missing, QString()});
    for (const auto& [path, kind] : files) {
        SCOPED_TRACE(path.toStdString());
        SmtpConfig config;
        config.Server = QStringLiteral("127.0.0.1");
        config.Port = ClosedPort();
        config.Security = SmtpConfig::Security::Tls;
        config.CAFile = path;
        QString reason;
        const TestEnvironment::Deadline deadline(3);
        EXPECT_FALSE(Send(config, reason));
        EXPECT_EQ(Std(reason),
                  Std(QStringLiteral("Could not read the CA file '%1': %2")
                          .arg(path,
                               kind.isEmpty() ? QStringLiteral("No such file or directory")
                                              : QStringLiteral("it is %1, not a regular file").arg(kind))));
    }
}

TEST(SmtpTls, EncryptionAskedForIsNeverDropped)
{
    // A server without TLS: STARTTLS is not offered, and TLS from the first byte meets a plain greeting.
    SmtpSink sink;
    START_SINK(sink);
    SmtpConfig config = Loopback(sink);
    config.CAFile = TestCertificates().Ca;
    QString reason;
    config.Security = SmtpConfig::Security::StartTls;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_EQ(Std(reason),
              Std(QStringLiteral("The server 127.0.0.1 port %1 does not offer STARTTLS, and the mail is not sent "
                                 "without it")
                      .arg(sink.Port())));
    config.Security = SmtpConfig::Security::Tls;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_TRUE(reason.startsWith(QStringLiteral("The TLS connection to 127.0.0.1 port %1 failed: ").arg(sink.Port())))
        << reason.toStdString();
    EXPECT_TRUE(sink.Messages().isEmpty());
}

TEST(SmtpTls, LoginOverStartTls)
{
    const Certificates& certs = TestCertificates();
    ASSERT_TRUE(certs.Error.isEmpty()) << certs.Error.toStdString();
    SmtpSink::Options options;
    options.Auth = true;
    options.StartTlsCert = certs.ServerCert;
    options.StartTlsKey = certs.ServerKey;
    SmtpSink sink(options);
    START_SINK(sink);
    SmtpConfig config = Loopback(sink);
    config.Security = SmtpConfig::Security::StartTls;
    config.CAFile = certs.Ca;
    config.UserName = QStringLiteral("alice");
    config.Password = QStringLiteral("s3cret");
    QString reason;
    ASSERT_TRUE(Send(config, reason)) << reason.toStdString();
    ASSERT_EQ(sink.Messages().size(), 1);
    EXPECT_EQ(sink.Messages()[0].AuthUser, QStringLiteral("alice"));
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

    // The password as it is, and as PLAIN and LOGIN carry it.
    static QList<QByteArray> Forms(const QByteArray& user, const QByteArray& password)
    {
        return {password,
                password.toBase64(),
                (QByteArray(1, '\0') + user + '\0' + password).toBase64(),
                (user + '\0' + user + '\0' + password).toBase64()};
    }
    static QByteArray Log() { return TestEnvironment::ReadFile(DebugLogFilePath()); }
};

TEST_F(SmtpSecrets, PasswordIsInNoReasonAndNoLogLine)
{
    SmtpSink::Options login;
    login.Auth = true;
    SmtpSink::Options plainLogin = login;
    plainLogin.AuthMechanisms = QStringLiteral("PLAIN");
    SmtpSink::Options loginOnly = login;
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
        SmtpConfig config = Loopback(sink);
        config.ConnectTimeoutMs = 1000;
        config.UserName = QStringLiteral("alice");
        config.Password = QString::fromUtf8(c.password);
        QString reason;
        EXPECT_EQ(Send(config, reason), c.sent) << reason.toStdString();
        const QByteArray log = Log();
        // The log has the dialogue, so the checks below look at something.
        EXPECT_TRUE(log.contains("SMTP: sending ")) << log.toStdString();
        if (!c.options.Silent) {
            EXPECT_TRUE(log.contains("C: AUTH ")) << log.toStdString();
        }
        for (const QByteArray& form : Forms("alice", c.password)) {
            EXPECT_FALSE(reason.toUtf8().contains(form)) << reason.toStdString();
            EXPECT_FALSE(log.contains(form)) << form.toStdString() << " in\n" << log.toStdString();
        }
    }
}

TEST_F(SmtpSecrets, ConnectionRefusedReasonHidesAPasswordThatIsAlsoTheHostName)
{
    // Whatever text a failure quotes, the password in it is masked.
    SmtpConfig config;
    config.Server = QStringLiteral("127.0.0.1");
    config.Port = ClosedPort();
    config.UserName = QStringLiteral("alice");
    config.Password = QStringLiteral("127.0.0.1");
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    EXPECT_EQ(Std(reason),
              Std(QStringLiteral("Could not connect to ******** port %1: Connection refused").arg(config.Port)));
    EXPECT_TRUE(Log().contains("Connection refused")) << Log().toStdString();
    EXPECT_FALSE(Log().contains("127.0.0.1")) << Log().toStdString();
}

TEST(SmtpWaiting, MainThreadKeepsHandlingEventsDuringASend)
{
    int argc = 1;
    char name[] = "test_notify";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent server" : "working server");
        SmtpSink::Options options;
        options.Silent = silent;
        SmtpSink sink(options);
        START_SINK(sink);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start();
        SmtpConfig config = Loopback(sink);
        config.ConnectTimeoutMs = 1000;
        QString reason;
        EXPECT_EQ(Send(config, reason), !silent) << reason.toStdString();
        if (silent) {
            EXPECT_GE(ticks, 10); // a second of 50 ms ticks, handled while the send waited
        }
        EXPECT_EQ(sink.Messages().size(), silent ? 0 : 1);
    }
}

TEST(SmtpWaiting, QuittingTheApplicationEndsASendAtOnce)
{
    int argc = 1;
    char name[] = "test_notify";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
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
    SmtpConfig config = Loopback(sink);
    config.ConnectTimeoutMs = 20000;
    QString reason;
    EXPECT_FALSE(Send(config, reason));
    ASSERT_TRUE(sinceQuit.isValid());
    EXPECT_LT(sinceQuit.elapsed(), 500);
    EXPECT_EQ(Std(reason), Std(QStringLiteral("Sending to 127.0.0.1 port %1 was cancelled").arg(sink.Port())));
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
    // The per-user store the marker is written to.
    static QString StoreFile() { return QSettings(QSettings::UserScope, "Brackwell", "Utils").fileName(); }
    static QString Marker()
    {
        return MachineStore::ReadRegString(
            MachineStore::Root::CurrentUser, kUtils, kMarker, QStringLiteral("<absent>"));
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
    struct Case
    {
        const char* name;
        bool refuse;
    } const cases[] = {{"accepted", false}, {"refused by the server", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink::Options options;
        options.MarkerFile = StoreFile();
        options.RejectData = c.refuse;
        SmtpSink sink(options);
        START_SINK(sink);
        cEmail email;
        Fill(email, sink.Port());
        QString reason;
        EXPECT_EQ(email.SendEmail(reason, true), !c.refuse) << reason.toStdString();
        EXPECT_EQ(Std(reason), Std(c.refuse ? QStringLiteral("554 5.6.0 Message content rejected") : QString()));
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].Marker.contains(QStringLiteral("SendingToSMTPServer=127.0.0.1")))
            << messages[0].Marker.toStdString();
        EXPECT_EQ(Marker(), QStringLiteral("<absent>"));
    }
}

TEST_F(EmailSend, TemplateMessageGoesOutWithItsEnvelope)
{
    const QString dir = TestEnvironment::NewFolder(QStringLiteral("email-template"));
    const QString path = dir + QStringLiteral("/NotifyOnChange.eml");
    ASSERT_TRUE(TestEnvironment::WriteFile(
        path,
        "From: t@example.com\r\nTo: nobody@example.com\r\nCc: boss@example.com\r\nBcc: audit@example.com\r\n"
        "Subject: Changed\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>Dosya ad\xFD</p>\r\n"));
    SmtpSink sink;
    START_SINK(sink);
    cEmail email;
    ASSERT_TRUE(email.LoadFromFile(path));
    email.MailServer = QStringLiteral("127.0.0.1");
    email.Port = sink.Port();
    email.TimeoutMilliseconds = 2000;
    email.Message().SetFrom(QStringLiteral("sentrel@example.com"));
    email.Message().SetTo(QStringLiteral("ops@example.com"));
    QString reason;
    ASSERT_TRUE(email.SendEmail(reason, true)) << reason.toStdString();
    const QList<SmtpSink::Message> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].MailFrom, QStringLiteral("sentrel@example.com"));
    EXPECT_EQ(messages[0].RcptTos,
              (QStringList {QStringLiteral("ops@example.com"),
                            QStringLiteral("boss@example.com"),
                            QStringLiteral("audit@example.com")}));
    EXPECT_FALSE(messages[0].Raw.contains("audit@example.com")); // Bcc is in the envelope only
    cMessage back;
    ASSERT_TRUE(back.FromMime(messages[0].Raw));
    EXPECT_EQ(back.Subject(), QStringLiteral("Changed"));
    EXPECT_EQ(back.HTMLBody().trimmed(), QStringLiteral("<p>Dosya adı</p>"));
}

TEST_F(EmailSend, SecurityAndLoginReachTheServer)
{
    const Certificates& certs = TestCertificates();
    ASSERT_TRUE(certs.Error.isEmpty()) << certs.Error.toStdString();
    struct Case
    {
        const char* name;
        cEmail::Security security;
        bool login;
    } const cases[] = {
        {"STARTTLS", cEmail::Security::StartTls, false},
        {"TLS with login", cEmail::Security::Tls, true},
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
        EXPECT_TRUE(email.SendEmail(reason, true)) << reason.toStdString();
        const QList<SmtpSink::Message> messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].AuthUser, c.login ? QStringLiteral("alice") : QString());
    }
}

TEST_F(EmailSend, PreviouslyFailedServerIsTriedOnlyWhenTheUserSaysYes)
{
    struct Case
    {
        const char* name;
        UserInterface::Answer answer;
        bool sent;
        QString reason;
        QString markerAfter;
    } const cases[] = {
        {"no",
         UserInterface::Answer::No,
         false,
         QStringLiteral("User decided not to use the previously failed mail server '127.0.0.1'"),
         QStringLiteral("127.0.0.1")},
        {"yes", UserInterface::Answer::Yes, true, QString(), QStringLiteral("<absent>")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink sink;
        START_SINK(sink);
        MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, QStringLiteral("127.0.0.1"));
        m_ui.asked.clear();
        m_ui.answer = c.answer;
        cEmail email;
        Fill(email, sink.Port());
        QString reason;
        EXPECT_EQ(email.SendEmail(reason, false), c.sent) << reason.toStdString();
        EXPECT_EQ(m_ui.asked.size(), 1);
        EXPECT_EQ(Std(reason), Std(c.reason));
        EXPECT_EQ(sink.Messages().size(), c.sent ? 1 : 0);
        EXPECT_EQ(Marker(), c.markerAfter);
    }
}
