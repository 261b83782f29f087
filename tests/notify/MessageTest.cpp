#include "ScriptedUi.h"
#include "TestEnvironment.h"
#include "notify/HtmlToText.h"
#include "notify/cEmail.h"
#include "notify/cMessage.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

QByteArray Template(const QByteArray& extraHeaders, const QByteArray& body)
{
    return "From: Template <t@example.com>\r\nTo: nobody@example.com\r\nSubject: Hello <SENTREL_FILENAME>\r\n" +
           extraHeaders + "MIME-Version: 1.0\r\n" + body;
}

QStringList Lines(const QByteArray& mime)
{
    return QString::fromLatin1(mime).split(QStringLiteral("\r\n"));
}

// A loopback port with nothing listening on it.
quint16 ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

const QString kUtils = QStringLiteral("SOFTWARE\\Brackwell\\Utils");
const QString kMarker = QStringLiteral("SendingToSMTPServer");

} // namespace

TEST(HtmlToText, DropsTagsAndDecodesEntities)
{
    struct Case
    {
        const char* name;
        QString html;
        QString text;
    } const cases[] = {
        {"plain", QStringLiteral("Hello"), QStringLiteral("Hello")},
        // A no-break space is a space of its own: it does not fold into the one before it.
        {"entities",
         QStringLiteral("a &amp; b &lt;c&gt; &quot;d&quot; &#233; &#x20AC; &nbsp;x"),
         QStringLiteral("a & b <c> \"d\" é €  x")},
        {"unknown entity stays", QStringLiteral("&bogus; &"), QStringLiteral("&bogus; &")},
        // Between two paragraphs one blank line.
        {"blocks on lines",
         QStringLiteral("<p>one</p><p>two</p>line<br>break"),
         QStringLiteral("one\n\ntwo\nline\nbreak")},
        {"white space folds", QStringLiteral("a \n\t  b"), QStringLiteral("a b")},
        {"hidden elements",
         QStringLiteral("<head><title>T</title><style>p{}</style></head><script>x()</script>shown"),
         QStringLiteral("shown")},
        {"comment", QStringLiteral("a<!-- hidden -->b"), QStringLiteral("ab")},
        {"table cells",
         QStringLiteral("<table><tr><td>File</td><td>x.log</td></tr></table>"),
         QStringLiteral("File x.log")},
        {"unfinished tag", QStringLiteral("text <b"), QStringLiteral("text")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HtmlToText::Convert(c.html), c.text);
    }
}

TEST(Message, BodiesAndAttachmentRoundTrip)
{
    const QString dir = TestEnvironment::NewFolder(QStringLiteral("attach"));
    QByteArray binary;
    for (int i = 0; i < 5000; ++i) {
        binary += static_cast<char>(i * 7);
    }
    ASSERT_TRUE(TestEnvironment::WriteFile(dir + QStringLiteral("/report.bin"), binary));

    cMessage m;
    m.SetFrom(QStringLiteral("\"Sentrel Monitor\" <sentrel@example.com>"));
    m.SetTo(QStringLiteral("ops@example.com"));
    m.SetSubject(QStringLiteral("Report"));
    m.SetAutoGenerateTextBody(true);
    m.SetHTMLBody(QStringLiteral("<p>The <b>report</b> changed &amp; was mailed.</p>"));
    EXPECT_EQ(m.TextBody(), QStringLiteral("The report changed & was mailed."));
    ASSERT_TRUE(m.AddAttachment(dir + QStringLiteral("/report.bin")));
    QString error;
    EXPECT_FALSE(m.AddAttachment(dir + QStringLiteral("/gone.bin"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("gone.bin"))) << error.toStdString();

    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    EXPECT_TRUE(mime.contains("multipart/mixed"));
    EXPECT_TRUE(mime.contains("multipart/alternative"));
    EXPECT_TRUE(mime.contains("Date: "));
    EXPECT_TRUE(mime.contains("Message-Id: ") || mime.contains("Message-ID: "));

    cMessage back;
    ASSERT_TRUE(back.FromMime(mime));
    EXPECT_EQ(back.Subject(), QStringLiteral("Report"));
    EXPECT_EQ(back.HTMLBody().trimmed(), QStringLiteral("<p>The <b>report</b> changed &amp; was mailed.</p>"));
    EXPECT_EQ(back.TextBody().trimmed(), QStringLiteral("The report changed & was mailed."));
    EXPECT_EQ(back.EnvelopeFrom(), QByteArray("sentrel@example.com"));
    ASSERT_EQ(back.AttachmentCount(), 1);
    // The attachment survives byte for byte.
    const QByteArray again = back.ToMime();
    cMessage third;
    ASSERT_TRUE(third.FromMime(again));
    EXPECT_EQ(third.AttachmentCount(), 1);
    EXPECT_TRUE(again.contains("report.bin"));
}

TEST(Message, OnlyRegularFilesAreAttached)
{
    cMessage m;
    for (const auto& [path, kind] : TestEnvironment::NonRegularFiles()) {
        SCOPED_TRACE(kind.toStdString());
        QString error;
        const TestEnvironment::Deadline deadline(3);
        EXPECT_FALSE(m.AddAttachment(path, &error));
        EXPECT_EQ(error, QStringLiteral("Could not attach %1: it is %2, not a regular file").arg(path, kind));
    }
    EXPECT_EQ(m.AttachmentCount(), 0);
}

TEST(Message, HeadersCannotBeInjected)
{
    cMessage m;
    m.SetFrom(QStringLiteral("Evil\r\nBcc: victim@example.com <a@example.com>"));
    m.SetTo(QStringLiteral("ops@example.com"));
    m.SetSubject(QStringLiteral("Hi\r\nBcc: victim@example.com\r\n\r\nbody"));
    m.SetTextBody(QStringLiteral("x"));
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    for (const QString& line : Lines(mime)) {
        EXPECT_FALSE(line.startsWith(QStringLiteral("Bcc:"), Qt::CaseInsensitive)) << line.toStdString();
    }
    EXPECT_EQ(m.EnvelopeRecipients(), QList<QByteArray> {"ops@example.com"});
}

TEST(Message, CutShortTemplateHeadersStayOnTheirOwnLines)
{
    // A template whose header block ends without a line end, or holds a NUL
    // or a lone CR, must not let the next header written run into a value.
    const QByteArray templates[] = {
        QByteArray("From: a@example.com\nX-Note: open"),
        QByteArray("Subject: x\rN\0\0tail\nX-Other: y\0z\n\nbody\n", 29),
    };
    for (const QByteArray& bytes : templates) {
        SCOPED_TRACE(bytes.toStdString());
        cMessage m;
        ASSERT_TRUE(m.FromMime(bytes));
        m.SetTo(QStringLiteral("ops@example.com"));
        m.SetFrom(QStringLiteral("sentrel@example.com"));
        const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
        cMessage back;
        ASSERT_TRUE(back.FromMime(mime));
        EXPECT_EQ(back.EnvelopeRecipients(), QList<QByteArray> {"ops@example.com"});
        EXPECT_EQ(back.EnvelopeFrom(), QByteArray("sentrel@example.com"));
        EXPECT_FALSE(mime.contains('\0'));
    }
}

TEST(Message, NonAsciiIsEncodedAndLinesStayShort)
{
    cMessage m;
    m.SetFrom(QStringLiteral("Jürgen Müller <jm@example.com>"));
    m.SetTo(QStringLiteral("ops@example.com"));
    m.SetSubject(QStringLiteral("Größe geändert: ğüşıöç"));
    m.SetHTMLBody(QStringLiteral("<p>") + QString(5000, QLatin1Char('x')) + QStringLiteral(" ß</p>"));
    m.SetTextBody(QString(3000, QLatin1Char('y')));
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    for (const char c : mime) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "raw 8-bit octet in the message";
    }
    for (const QString& line : Lines(mime)) {
        EXPECT_LE(line.size(), 998);
    }
    cMessage back;
    ASSERT_TRUE(back.FromMime(mime));
    EXPECT_EQ(back.Subject(), QStringLiteral("Größe geändert: ğüşıöç"));
    EXPECT_TRUE(back.From().contains(QStringLiteral("Jürgen Müller")));
    EXPECT_TRUE(back.HTMLBody().contains(QString(5000, QLatin1Char('x')) + QStringLiteral(" ß")));
}

TEST(Message, RecipientsAsEntered)
{
    cMessage m;
    m.SetTo(QStringLiteral("a@example.com; \"Doe, Jo\" <b@example.com>, c@example.com;; a@EXAMPLE.com"));
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"a@example.com", "b@example.com", "c@example.com"}));
    EXPECT_TRUE(m.To().contains(QStringLiteral("Doe, Jo")));
}

TEST(Message, TemplateHeadersGoOutUnchangedButFromAndToAreReplaced)
{
    cMessage m;
    ASSERT_TRUE(m.FromMime(Template("Cc: boss@example.com\r\nBcc: audit@example.com\r\nReply-To: desk@example.com\r\n"
                                    "X-Priority: 1\r\n",
                                    "Content-Type: text/html\r\n\r\n<p>hi</p>\r\n")));
    m.SetFrom(QStringLiteral("sentrel@example.com"));
    m.SetTo(QStringLiteral("ops@example.com"));
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    EXPECT_TRUE(mime.contains("Cc: boss@example.com"));
    EXPECT_TRUE(mime.contains("Reply-To: desk@example.com"));
    EXPECT_TRUE(mime.contains("X-Priority: 1"));
    EXPECT_FALSE(mime.contains("audit@example.com"));
    EXPECT_FALSE(mime.contains("t@example.com"));
    EXPECT_FALSE(mime.contains("nobody@example.com"));
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"ops@example.com", "boss@example.com", "audit@example.com"}));
}

class EmailFiles : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = TestEnvironment::NewFolder(QStringLiteral("templates")); }
    QString Write(const QString& name, const QByteArray& bytes) const
    {
        const QString path = m_dir + QLatin1Char('/') + name;
        EXPECT_TRUE(TestEnvironment::WriteFile(path, bytes));
        return path;
    }
    QString m_dir;
};

TEST_F(EmailFiles, MissingOrEmptyFileKeepsTheMessage)
{
    cEmail e;
    e.Message().SetSubject(QStringLiteral("kept"));
    EXPECT_FALSE(e.LoadFromFile(m_dir + QStringLiteral("/missing.eml")));
    EXPECT_FALSE(e.LoadFromFile(Write(QStringLiteral("empty.eml"), QByteArray())));
    EXPECT_EQ(e.Message().Subject(), QStringLiteral("kept"));
}

TEST_F(EmailFiles, HostileTemplatesGiveFalseOrAUsableMessage)
{
    QByteArray binary;
    for (int i = 0; i < 70000; ++i) {
        binary += static_cast<char>((i * 131) ^ (i >> 3));
    }
    const QByteArray good = Template("",
                                     "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\n"
                                     "Content-Type: text/html\r\n\r\n<p>x</p>\r\n--b--\r\n");
    struct Case
    {
        const char* name;
        QByteArray bytes;
    } const cases[] = {
        {"truncated multipart", good.left(good.size() - 20)},
        {"unterminated boundary", Template("", "Content-Type: multipart/mixed; boundary=\"zz\"\r\n\r\n--zz\r\nabc")},
        {"binary", binary},
        {"no headers", QByteArray("just some text\r\nwithout headers\r\n")},
        {"headers only", QByteArray("Subject: only\r\n")},
        {"nested without end", QByteArray("Content-Type: message/rfc822\r\n\r\n").repeated(200)},
        {"50 MB", QByteArray("Subject: big\r\n\r\n") + QByteArray(50 * 1024 * 1024, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cEmail e;
        e.Message().SetSubject(QStringLiteral("before"));
        const bool loaded = e.LoadFromFile(Write(QStringLiteral("hostile.eml"), c.bytes));
        if (loaded) {
            // Usable: it can be filled in and written out.
            e.Message().SetTo(QStringLiteral("ops@example.com"));
            e.Message().SetHTMLBody(QStringLiteral("<p>x</p>"));
            EXPECT_FALSE(e.Message().ToMime(cMessage::Purpose::Send).isEmpty());
        } else {
            EXPECT_NE(e.Message().Subject(), QStringLiteral("before")); // replaced by a fresh message
        }
    }
}

TEST_F(EmailFiles, TemplatesAreReadAsIso8859_9)
{
    // 0xFD is dotless i and 0xDE is S-cedilla in ISO-8859-9 (not Latin-1's ý and Þ).
    const QString path = Write(QStringLiteral("turkish.eml"),
                               Template("",
                                        "Content-Type: text/html\r\nContent-Transfer-Encoding: 8bit"
                                        "\r\n\r\n<p>Dosya ad\xFD \xDE</p>\r\n"));
    cEmail e;
    ASSERT_TRUE(e.LoadFromFile(path));
    EXPECT_EQ(e.Message().HTMLBody().trimmed(), QStringLiteral("<p>Dosya adı Ş</p>"));
    EXPECT_EQ(e.Message().Subject(), QStringLiteral("Hello <SENTREL_FILENAME>"));
}

TEST_F(EmailFiles, SaveCreatesTheFolderAndLoadsBack)
{
    cEmail e;
    e.Message().SetFrom(QStringLiteral("sentrel@example.com"));
    e.Message().SetTo(QStringLiteral("ops@example.com"));
    e.Message().SetSubject(QStringLiteral("Dosya adı"));
    e.Message().SetHTMLBody(QStringLiteral("<p>ı ş ğ</p>"));
    const QString path = m_dir + QStringLiteral("/new/deeper/saved.eml");
    ASSERT_TRUE(e.SaveToFile(path));
    cEmail back;
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.Message().Subject(), QStringLiteral("Dosya adı"));
    EXPECT_EQ(back.Message().HTMLBody().trimmed(), QStringLiteral("<p>ı ş ğ</p>"));
    // A folder that cannot be made: a file is in the way.
    Write(QStringLiteral("blocker"), "x");
    EXPECT_FALSE(e.SaveToFile(m_dir + QStringLiteral("/blocker/saved.eml")));
}

class EmailChecks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserInterface::Install(&m_ui);
        m_email.MailServer = QStringLiteral("127.0.0.1");
        m_email.Port = ClosedPort();
        m_email.TimeoutMilliseconds = 2000;
        m_email.Message().SetFrom(QStringLiteral("sentrel@example.com"));
        m_email.Message().SetTo(QStringLiteral("ops@example.com"));
        m_email.Message().SetSubject(QStringLiteral("subject only"));
    }
    void TearDown() override
    {
        UserInterface::Install(nullptr);
        MachineStore::DeleteRegValue(MachineStore::Root::CurrentUser, kUtils, kMarker);
    }
    QString Marker() const
    {
        return MachineStore::ReadRegString(
            MachineStore::Root::CurrentUser, kUtils, kMarker, QStringLiteral("<absent>"));
    }
    ScriptedUi m_ui;
    cEmail m_email;
};

TEST_F(EmailChecks, ChecksBeforeSending)
{
    QString reason = QStringLiteral("unchanged");
    cEmail noServer;
    EXPECT_FALSE(noServer.SendEmail(reason, true));
    EXPECT_EQ(reason, QStringLiteral("Mail Server not configured."));

    struct Case
    {
        const char* name;
        QString from, to, subject, html;
    } const cases[] = {
        {"no sender", QString(), QStringLiteral("a@x.org"), QStringLiteral("s"), QString()},
        {"no recipients", QStringLiteral("a@x.org"), QString(), QStringLiteral("s"), QString()},
        {"nothing to say", QStringLiteral("a@x.org"), QStringLiteral("b@x.org"), QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cEmail e;
        e.MailServer = QStringLiteral("127.0.0.1");
        e.Message().SetFrom(c.from);
        e.Message().SetTo(c.to);
        e.Message().SetSubject(c.subject);
        reason.clear();
        EXPECT_FALSE(e.SendEmail(reason, true));
        EXPECT_EQ(reason, QStringLiteral("Email not configured correctly."));
    }
    EXPECT_EQ(Marker(), QStringLiteral("<absent>")); // nothing got as far as the server
}

TEST_F(EmailChecks, InterruptedServerIsQuestionedWhenNotSilent)
{
    MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, QStringLiteral("127.0.0.1"));
    m_email.MailServer = QStringLiteral("127.0.0.1");
    QString reason;
    EXPECT_FALSE(m_email.SendEmail(reason, false));
    ASSERT_EQ(m_ui.asked.size(), 1);
    EXPECT_EQ(m_ui.asked[0],
              QStringLiteral("The last time an email was being sent via the mail server '127.0.0.1', "
                             "it was not successfully sent.\n\nAre you sure you want to try and use "
                             "this server again?"));
    EXPECT_EQ(reason, QStringLiteral("User decided not to use the previously failed mail server '127.0.0.1'"));
    EXPECT_EQ(Marker(), QStringLiteral("127.0.0.1")); // not sent, so left as found
}

TEST_F(EmailChecks, MarkerIsRemovedAfterAFailedSend)
{
    struct Case
    {
        const char* name;
        QString marker;
        bool silent;
        qsizetype questions;
    } const cases[] = {
        {"same server, other case, answered yes", QStringLiteral("LOCALHOST"), false, 1},
        {"another server", QStringLiteral("mail.example.com"), false, 0},
        {"silent never asks", QStringLiteral("localhost"), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.asked.clear();
        m_ui.answer = UserInterface::Answer::Yes;
        m_email.MailServer = QStringLiteral("localhost");
        MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, c.marker);
        QString reason;
        EXPECT_FALSE(m_email.SendEmail(reason, c.silent));
        EXPECT_EQ(m_ui.asked.size(), c.questions);
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_EQ(Marker(), QStringLiteral("<absent>"));
    }
}
