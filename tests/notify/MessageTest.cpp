#include "ScriptedUi.h"
#include "TestEnvironment.h"
#include "notify/HtmlToText.h"
#include "notify/cEmail.h"
#include "notify/cMessage.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QScopeGuard>
#include <QTcpServer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A message from sentrel@example.com to ops@example.com, as it goes out.
QByteArray Sent(cMessage& m)
{
    m.SetFrom("sentrel@example.com");
    m.SetTo("ops@example.com");
    return m.ToMime(cMessage::Purpose::Send);
}

QString WriteTemplate(const QByteArray& bytes)
{
    const QString path = TestEnvironment::NewFolder("templates") + "/template.eml";
    EXPECT_TRUE(TestEnvironment::WriteFile(path, bytes));
    return path;
}

const QString kUtils = "SOFTWARE\\Brackwell\\Utils";

QString Marker()
{
    return MachineStore::ReadRegString(MachineStore::Root::CurrentUser, kUtils, "SendingToSMTPServer", "<absent>");
}

} // namespace

TEST(HtmlToText, DropsTagsAndDecodesEntities)
{
    const std::pair<QString, QString> cases[] = {
        // A no-break space is a space of its own: it does not fold into the one before it.
        {"a &amp; b &lt;c&gt; &quot;d&quot; &#233; &#x20AC; &nbsp;x", QStringLiteral("a & b <c> \"d\" é €  x")},
        // Between two paragraphs one blank line; white space folds.
        {"<p>one</p><p>two</p>line<br>break a \n\t  b", "one\n\ntwo\nline\nbreak a b"},
        {"<head><title>T</title><style>p{}</style></head><script>x()</script>a<!-- hidden -->b", "ab"},
        // A row per line, its label apart from its value; empty cells add nothing.
        {"<table><tr><td>File</td> <td>x.log</td></tr>\n<tr><th>At:</th><td></td><td>10:00</td><td>UTC</td></tr>",
         "File: x.log\nAt: 10:00\tUTC"},
    };
    for (const auto& [html, text] : cases) {
        EXPECT_EQ(HtmlToText::Convert(html), text) << html.toStdString();
    }
    // Runs of unfinished entities and tags take no longer than their length.
    const TestEnvironment::Deadline deadline(5);
    EXPECT_EQ(HtmlToText::Convert(QString(4 << 20, '&') + "<x").size(), 4 << 20);
}

TEST(Message, BodiesAndAttachmentGoOutAsOneSevenBitMailWithShortLines)
{
    const QString dir = TestEnvironment::NewFolder("attach");
    ASSERT_TRUE(TestEnvironment::WriteFile(dir + "/report.bin", QByteArray(5000, '\xF7')));
    cMessage m;
    m.SetFrom(QStringLiteral("Jürgen Müller <jm@example.com>"));
    m.SetTo("ops@example.com");
    m.SetSubject(QStringLiteral("Größe geändert: ğüşıöç"));
    m.SetAutoGenerateTextBody(true);
    const QString html = "<p>The <b>report</b> changed &amp; was mailed: " + QString(5000, 'x') + " ß</p>";
    m.SetHTMLBody(html);
    ASSERT_TRUE(m.AddAttachment(dir + "/report.bin"));

    const QByteArray mime = m.ToMime(cMessage::Purpose::Send);
    for (const char* part : {"multipart/mixed", "multipart/alternative", "Date: ", "Message-I", "report.bin"}) {
        EXPECT_TRUE(mime.contains(part)) << part;
    }
    for (const QByteArray& line : mime.split('\n')) {
        ASSERT_LE(line.size(), 999);
        ASSERT_FALSE(std::any_of(line.begin(), line.end(), [](char c) { return c & 0x80; })) << "a raw 8-bit octet";
    }
    cMessage back;
    ASSERT_TRUE(back.FromMime(mime));
    EXPECT_EQ(back.Subject(), QStringLiteral("Größe geändert: ğüşıöç"));
    EXPECT_TRUE(back.From().contains(QStringLiteral("Jürgen Müller")));
    EXPECT_EQ(back.HTMLBody().trimmed(), html);
    EXPECT_EQ(back.TextBody().trimmed(), "The report changed & was mailed: " + QString(5000, 'x') + " ß");
    EXPECT_EQ(back.AttachmentCount(), 1);
}

TEST(Message, OnlyRegularFilesAreAttached)
{
    cMessage m;
    QString missing;
    EXPECT_FALSE(m.AddAttachment(TestEnvironment::Root() + "/gone.bin", &missing));
    EXPECT_TRUE(missing.contains("gone.bin")) << missing.toStdString();
    for (const auto& [path, kind] : TestEnvironment::NonRegularFiles()) {
        SCOPED_TRACE(kind.toStdString());
        QString error;
        const TestEnvironment::Deadline deadline(3);
        EXPECT_FALSE(m.AddAttachment(path, &error));
        EXPECT_EQ(error, QStringLiteral("Could not attach %1: it is %2, not a regular file").arg(path, kind));
    }
    EXPECT_EQ(m.AttachmentCount(), 0);
}

TEST(Message, RecipientsAsEnteredNoInjectedOnesAndTemplateCopiesGoToTheEnvelope)
{
    cMessage m;
    m.SetFrom("Evil\r\nBcc: victim@example.com <a@example.com>");
    m.SetTo("a@example.com; \"Doe, Jo\" <b@example.com>, c@example.com;; a@EXAMPLE.com");
    m.SetSubject("Hi\r\nBcc: victim@example.com\r\n\r\nbody");
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"a@example.com", "b@example.com", "c@example.com"}));
    const QByteArray injected = m.ToMime(cMessage::Purpose::Send);
    EXPECT_FALSE(("\n" + injected).toLower().contains("\nbcc:")) << injected.toStdString();

    // A template's headers go out unchanged, but for From and To, which are replaced, and Bcc, which is hidden.
    ASSERT_TRUE(m.FromMime("From: Template <t@example.com>\r\nTo: nobody@example.com\r\nCc: boss@example.com\r\n"
                           "Bcc: audit@example.com\r\nX-Priority: 1\r\n\r\n<p>hi</p>\r\n"));
    const QByteArray mime = Sent(m);
    EXPECT_TRUE(mime.contains("Cc: boss@example.com") && mime.contains("X-Priority: 1")) << mime.toStdString();
    for (const char* gone : {"audit@example.com", "t@example.com", "nobody@example.com"}) {
        EXPECT_FALSE(mime.contains(gone)) << gone;
    }
    EXPECT_EQ(m.EnvelopeRecipients(), (QList<QByteArray> {"ops@example.com", "boss@example.com", "audit@example.com"}));
}

TEST(EmailFiles, TemplatesAreReadAsIso8859_9AndUnreadableOnesGiveFalse)
{
    // 0xFD is dotless i and 0xDE is S-cedilla in ISO-8859-9 (not Latin-1's ý and Þ).
    cEmail e;
    ASSERT_TRUE(e.LoadFromFile(
        WriteTemplate("Subject: Hello <SENTREL_FILENAME>\r\nMIME-Version: 1.0\r\nContent-Type: "
                      "text/html\r\nContent-Transfer-Encoding: 8bit\r\n\r\n<p>Dosya ad\xFD \xDE</p>\r\n")));
    EXPECT_EQ(e.Message().HTMLBody().trimmed(), QStringLiteral("<p>Dosya adı Ş</p>"));
    // A missing or empty file keeps the message.
    EXPECT_FALSE(e.LoadFromFile(TestEnvironment::Root() + "/missing.eml"));
    EXPECT_FALSE(e.LoadFromFile(WriteTemplate(QByteArray())));
    EXPECT_EQ(e.Message().Subject(), QStringLiteral("Hello <SENTREL_FILENAME>"));
}

TEST(EmailFiles, HostileTemplatesAreRefusedOrGoOutWhole)
{
    // Parsing any bytes is the fuzzer's; here are its findings and the sizes and depths it does not reach.
    const std::pair<QByteArray, bool> cases[] = {
        // A header block that ends without a line end, or holds a NUL or a lone CR, must not let the
        // next header written run into a value.
        {"From: a@example.com\nX-Note: open", true},
        {QByteArray("Subject: x\rN\0\0tail\nX-Other: y\0z\n\nbody\n", 29), true},
        {QByteArray("Content-Type: message/rfc822\r\n\r\n").repeated(200), true},
        {"Subject: big\r\n\r\n" + QByteArray(50 * 1024 * 1024, 'a'), false},
    };
    for (const auto& [bytes, loads] : cases) {
        SCOPED_TRACE(bytes.left(40).toStdString());
        cEmail e;
        ASSERT_EQ(e.LoadFromFile(WriteTemplate(bytes)), loads);
        const QByteArray mime = Sent(e.Message());
        cMessage back;
        ASSERT_TRUE(back.FromMime(mime));
        EXPECT_EQ(back.EnvelopeRecipients(), QList<QByteArray> {"ops@example.com"});
        EXPECT_EQ(back.EnvelopeFrom(), QByteArray("sentrel@example.com"));
        EXPECT_FALSE(mime.contains('\0'));
    }
}

TEST(EmailChecks, UnusableMailIsRefusedAndAServerLeftMarkedIsQuestioned)
{
    ScriptedUi ui;
    UserInterface::Install(&ui);
    const auto uninstall = qScopeGuard([] { UserInterface::Install(nullptr); });
    // Nothing listens on the port, so every send that is tried fails and removes the marker.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    // An e-mail from sentrel@example.com to ops@example.com with a subject through localhost, spoilt; its reason.
    const auto send = [&](const std::function<void(cEmail&)>& spoil, bool silent) {
        cEmail e;
        e.MailServer = "localhost";
        e.Port = port;
        e.TimeoutMilliseconds = 2000;
        e.Message().SetFrom("sentrel@example.com");
        e.Message().SetTo("ops@example.com");
        e.Message().SetSubject("subject only");
        spoil(e);
        QString reason;
        EXPECT_FALSE(e.SendEmail(reason, silent));
        return reason;
    };
    const std::pair<std::function<void(cEmail&)>, QString> refusals[] = {
        {[](cEmail& e) { e.MailServer.clear(); }, "Mail Server not configured."},
        {[](cEmail& e) { e.Message().SetFrom(""); }, "Email not configured correctly."},
        {[](cEmail& e) { e.Message().SetTo(""); }, "Email not configured correctly."},
        {[](cEmail& e) { e.Message().SetSubject(""); }, "Email not configured correctly."},
    };
    for (const auto& [spoil, expected] : refusals) {
        EXPECT_EQ(send(spoil, true), expected);
    }
    EXPECT_EQ(Marker(), "<absent>"); // nothing got as far as the server

    const QString question = "The last time an email was being sent via the mail server 'localhost', it was not "
                             "successfully sent.\n\nAre you sure you want to try and use this server again?";
    // The marker left, silent, the answer, whether the question came, the marker afterwards.
    const std::tuple<QString, bool, UserInterface::Answer, bool, QString> cases[] = {
        {"localhost", false, UserInterface::Answer::No, true, "localhost"},
        {"LOCALHOST", false, UserInterface::Answer::Yes, true, "<absent>"},
        {"mail.example.com", false, UserInterface::Answer::No, false, "<absent>"},
        {"localhost", true, UserInterface::Answer::No, false, "<absent>"},
    };
    for (const auto& [marker, silent, answer, asked, markerAfter] : cases) {
        SCOPED_TRACE(marker.toStdString());
        ui.asked.clear();
        ui.answer = answer;
        MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtils, "SendingToSMTPServer", marker);
        const QString reason = send([](cEmail&) {}, silent);
        EXPECT_EQ(ui.asked, asked ? QStringList {question} : QStringList {});
        EXPECT_EQ(Marker(), markerAfter);
        EXPECT_EQ(reason == "User decided not to use the previously failed mail server 'localhost'",
                  markerAfter != "<absent>");
    }
}
