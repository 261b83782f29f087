#include "ScriptedUi.h"
#include "TestEnvironment.h"
#include "notify/HtmlToText.h"
#include "notify/cEmail.h"
#include "notify/cMessage.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

QByteArray Template(const QByteArray& extraHeaders, const QByteArray& body)
{
    return "From: Template <t@example.com>\r\nTo: nobody@example.com\r\nSubject: Hello <SENTREL_FILENAME>\r\n" +
           extraHeaders + "MIME-Version: 1.0\r\n" + body;
}

// A message from sentrel@example.com to ops@example.com, as it goes out.
QByteArray Sent(cMessage& m)
{
    m.SetFrom("sentrel@example.com");
    m.SetTo("ops@example.com");
    return m.ToMime(cMessage::Purpose::Send);
}

const QString kUtils = "SOFTWARE\\Brackwell\\Utils";
const QString kMarker = "SendingToSMTPServer";

} // namespace

TEST(HtmlToText, DropsTagsAndDecodesEntities)
{
    struct Case
    {
        const char* name;
        QString html;
        QString text;
    } const cases[] = {
        // A no-break space is a space of its own: it does not fold into the one before it.
        {"entities",
         "a &amp; b &lt;c&gt; &quot;d&quot; &#233; &#x20AC; &nbsp;x",
         QStringLiteral("a & b <c> \"d\" é €  x")},
        {"unknown entity stays", "&bogus; &", "&bogus; &"},
        // Between two paragraphs one blank line.
        {"blocks on lines", "<p>one</p><p>two</p>line<br>break", "one\n\ntwo\nline\nbreak"},
        {"white space folds", "a \n\t  b", "a b"},
        {"hidden elements", "<head><title>T</title><style>p{}</style></head><script>x()</script>shown", "shown"},
        {"comment", "a<!-- hidden -->b", "ab"},
        {"table cells", "<table><tr><td>File</td><td>x.log</td></tr></table>", "File x.log"},
        {"unfinished tag", "text <b", "text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HtmlToText::Convert(c.html), c.text);
    }
}

TEST(Message, BodiesAndAttachmentGoOutAsOneMail)
{
    const QString dir = TestEnvironment::NewFolder("attach");
    ASSERT_TRUE(TestEnvironment::WriteFile(dir + "/report.bin", QByteArray(5000, '\xF7')));
    cMessage m;
    m.SetSubject("Report");
    m.SetAutoGenerateTextBody(true);
    m.SetHTMLBody("<p>The <b>report</b> changed &amp; was mailed.</p>");
    EXPECT_EQ(m.TextBody(), QStringLiteral("The report changed & was mailed."));
    ASSERT_TRUE(m.AddAttachment(dir + "/report.bin"));
    QString error;
    EXPECT_FALSE(m.AddAttachment(dir + "/gone.bin", &error));
    EXPECT_TRUE(error.contains("gone.bin")) << error.toStdString();

    const QByteArray mime = Sent(m);
    for (const char* part : {"multipart/mixed", "multipart/alternative", "Date: ", "Message-I", "report.bin"}) {
        EXPECT_TRUE(mime.contains(part)) << part;
    }
    cMessage back;
    ASSERT_TRUE(back.FromMime(mime));
    EXPECT_EQ(back.HTMLBody().trimmed(), QStringLiteral("<p>The <b>report</b> changed &amp; was mailed.</p>"));
    EXPECT_EQ(back.TextBody().trimmed(), QStringLiteral("The report changed & was mailed."));
    EXPECT_EQ(back.AttachmentCount(), 1);
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
    m.SetFrom("Evil\r\nBcc: victim@example.com <a@example.com>");
    m.SetTo("ops@example.com");
    m.SetSubject("Hi\r\nBcc: victim@example.com\r\n\r\nbody");
    m.SetTextBody("x");
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    EXPECT_FALSE(("\n" + mime).toLower().contains("\nbcc:")) << mime.toStdString();
    EXPECT_EQ(m.EnvelopeRecipients(), QList<QByteArray> {"ops@example.com"});
}

TEST(Message, CutShortTemplateHeadersStayOnTheirOwnLines)
{
    // A template whose header block ends without a line end, or holds a NUL
    // or a lone CR, must not let the next header written run into a value.
    for (const QByteArray& bytes : {QByteArray("From: a@example.com\nX-Note: open"),
                                    QByteArray("Subject: x\rN\0\0tail\nX-Other: y\0z\n\nbody\n", 29)}) {
        SCOPED_TRACE(bytes.toStdString());
        cMessage m;
        ASSERT_TRUE(m.FromMime(bytes));
        const QByteArray mime = Sent(m);
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
    m.SetTo("ops@example.com");
    m.SetSubject(QStringLiteral("Größe geändert: ğüşıöç"));
    m.SetHTMLBody("<p>" + QString(5000, QLatin1Char('x')) + QStringLiteral(" ß</p>"));
    m.SetTextBody(QString(3000, QLatin1Char('y')));
    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    for (const char c : mime) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "raw 8-bit octet in the message";
    }
    for (const QByteArray& line : mime.split('\n')) {
        EXPECT_LE(line.size(), 999);
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
    m.SetTo("a@example.com; \"Doe, Jo\" <b@example.com>, c@example.com;; a@EXAMPLE.com");
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"a@example.com", "b@example.com", "c@example.com"}));
    EXPECT_TRUE(m.To().contains("Doe, Jo"));
}

TEST(Message, TemplateHeadersGoOutUnchangedButFromAndToAreReplaced)
{
    cMessage m;
    ASSERT_TRUE(m.FromMime(Template("Cc: boss@example.com\r\nBcc: audit@example.com\r\nReply-To: desk@example.com\r\n"
                                    "X-Priority: 1\r\n",
                                    "Content-Type: text/html\r\n\r\n<p>hi</p>\r\n")));
    const QByteArray mime = Sent(m);
    for (const char* kept : {"Cc: boss@example.com", "Reply-To: desk@example.com", "X-Priority: 1"}) {
        EXPECT_TRUE(mime.contains(kept)) << kept;
    }
    for (const char* gone : {"audit@example.com", "t@example.com", "nobody@example.com"}) {
        EXPECT_FALSE(mime.contains(gone)) << gone;
    }
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"ops@example.com", "boss@example.com", "audit@example.com"}));
}

class EmailFiles : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = TestEnvironment::NewFolder("templates"); }
    QString Write(const QString& name, const QByteArray& bytes) const
    {
        EXPECT_TRUE(TestEnvironment::WriteFile(m_dir + "/" + name, bytes));
        return m_dir + "/" + name;
    }
    QString m_dir;
};

TEST_F(EmailFiles, MissingOrEmptyFileKeepsTheMessage)
{
    cEmail e;
    e.Message().SetSubject("kept");
    EXPECT_FALSE(e.LoadFromFile(m_dir + "/missing.eml"));
    EXPECT_FALSE(e.LoadFromFile(Write("empty.eml", QByteArray())));
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
        {"no headers", "just some text\r\nwithout headers\r\n"},
        {"headers only", "Subject: only\r\n"},
        {"nested without end", QByteArray("Content-Type: message/rfc822\r\n\r\n").repeated(200)},
        {"50 MB", "Subject: big\r\n\r\n" + QByteArray(50 * 1024 * 1024, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cEmail e;
        e.Message().SetSubject("before");
        if (e.LoadFromFile(Write("hostile.eml", c.bytes))) {
            // Usable: it can be filled in and written out.
            e.Message().SetHTMLBody("<p>x</p>");
            EXPECT_FALSE(Sent(e.Message()).isEmpty());
        } else {
            EXPECT_NE(e.Message().Subject(), QStringLiteral("before")); // replaced by a fresh message
        }
    }
}

TEST_F(EmailFiles, TemplatesAreReadAsIso8859_9)
{
    // 0xFD is dotless i and 0xDE is S-cedilla in ISO-8859-9 (not Latin-1's ý and Þ).
    cEmail e;
    ASSERT_TRUE(e.LoadFromFile(Write(
        "turkish.eml",
        Template("",
                 "Content-Type: text/html\r\nContent-Transfer-Encoding: 8bit\r\n\r\n<p>Dosya ad\xFD \xDE</p>\r\n"))));
    EXPECT_EQ(e.Message().HTMLBody().trimmed(), QStringLiteral("<p>Dosya adı Ş</p>"));
    EXPECT_EQ(e.Message().Subject(), QStringLiteral("Hello <SENTREL_FILENAME>"));
}

class EmailChecks : public ::testing::Test
{
protected:
    void SetUp() override { UserInterface::Install(&m_ui); }
    void TearDown() override
    {
        UserInterface::Install(nullptr);
        MachineStore::DeleteRegValue(MachineStore::Root::CurrentUser, kUtils, kMarker);
    }
    static QString Marker()
    {
        return MachineStore::ReadRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, "<absent>");
    }
    ScriptedUi m_ui;
};

TEST_F(EmailChecks, ChecksBeforeSending)
{
    QString reason = "unchanged";
    cEmail noServer;
    EXPECT_FALSE(noServer.SendEmail(reason, true));
    EXPECT_EQ(reason, QStringLiteral("Mail Server not configured."));

    struct Case
    {
        const char* name;
        QString from, to, subject;
    } const cases[] = {
        {"no sender", "", "a@x.org", "s"},
        {"no recipients", "a@x.org", "", "s"},
        {"nothing to say", "a@x.org", "b@x.org", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cEmail e;
        e.MailServer = "127.0.0.1";
        e.Message().SetFrom(c.from);
        e.Message().SetTo(c.to);
        e.Message().SetSubject(c.subject);
        reason.clear();
        EXPECT_FALSE(e.SendEmail(reason, true));
        EXPECT_EQ(reason, QStringLiteral("Email not configured correctly."));
    }
    EXPECT_EQ(Marker(), QStringLiteral("<absent>")); // nothing got as far as the server
}

TEST_F(EmailChecks, AServerLeftMarkedIsQuestionedAndTheMarkerGoesAfterAFailedSend)
{
    const QString question = "The last time an email was being sent via the mail server '%1', it was not successfully "
                             "sent.\n\nAre you sure you want to try and use this server again?";
    struct Case
    {
        const char* name;
        QString marker;
        bool silent;
        UserInterface::Answer answer;
        QStringList asked;
        QString markerAfter; // the failed send removes it when it was tried
    } const cases[] = {
        {"same server, answered no",
         "localhost",
         false,
         UserInterface::Answer::No,
         {question.arg("localhost")},
         "localhost"},
        {"same server, other case, answered yes",
         "LOCALHOST",
         false,
         UserInterface::Answer::Yes,
         {question.arg("localhost")},
         "<absent>"},
        {"another server", "mail.example.com", false, UserInterface::Answer::No, {}, "<absent>"},
        {"silent never asks", "localhost", true, UserInterface::Answer::No, {}, "<absent>"},
    };
    // Nothing listens on the port, so every send that is tried fails.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.asked.clear();
        m_ui.answer = c.answer;
        MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtils, kMarker, c.marker);
        cEmail e;
        e.MailServer = "localhost";
        e.Port = port;
        e.TimeoutMilliseconds = 2000;
        e.Message().SetFrom("sentrel@example.com");
        e.Message().SetTo("ops@example.com");
        e.Message().SetSubject("subject only");
        QString reason;
        EXPECT_FALSE(e.SendEmail(reason, c.silent));
        EXPECT_EQ(m_ui.asked, c.asked);
        EXPECT_EQ(Marker(), c.markerAfter);
        if (c.answer == UserInterface::Answer::No && !c.asked.isEmpty()) {
            EXPECT_EQ(reason, QStringLiteral("User decided not to use the previously failed mail server 'localhost'"));
        } else {
            EXPECT_FALSE(reason.isEmpty());
        }
    }
}
