#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "model/cMonitorFile.h"
#include "model/cSettings.h"
#include "notify/MailNotifier.h"
#include "notify/NotificationComposer.h"
#include "notify/NotificationText.h"
#include "notify/cMessage.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/SystemUtility.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <numeric>

namespace {

// Friday 4 December 2026, 10:00:30 in Berlin.
const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 30), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

// The bytes of the first attachment of a received message (base64 part), empty without one.
QByteArray FirstAttachment(const QByteArray& raw)
{
    const qsizetype start = raw.indexOf("\r\n\r\n", raw.indexOf("Content-Disposition: attachment"));
    const QByteArray part = raw.contains("Content-Disposition: attachment") ? raw.mid(start + 4) : QByteArray();
    return QByteArray::fromBase64(part.left(part.indexOf("\r\n--")).replace("\r\n", ""));
}

class Notify : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
        m_dir = TestEnvironment::NewFolder(QStringLiteral("composer"));
    }

    // The notification of a profile on disk with one file, checked at kNow.
    Notification Checked(const QString& file, qint32 staleMins, bool attach, const QString& to, qint32 port = 0)
    {
        const FixedClock clock(kNow * 1000);
        cSettings s;
        s.SetSMTPServerAddress(QStringLiteral("127.0.0.1"));
        s.SetSMTPPort(port == 0 ? m_sink.Port() : port);
        s.SetEmailFrom(QStringLiteral("Sentrel <sentrel@example.com>"));
        s.SetEmailTo(to);
        cMonitorFile f;
        f.SetRawFileName(file);
        f.SetFriendlyName(QStringLiteral("Nightly export"));
        f.SetStaleMins(staleMins);
        f.SetAttachFileToEmail(attach);
        EXPECT_EQ(s.AddFile(&f), 1);
        m_settings = s;
        return NotificationText::ToNotify(s, 1).value_or(Notification {});
    }
    QString Watched(const QByteArray& bytes, qint64 secondsAgo)
    {
        const QString path = m_dir + QStringLiteral("/export.2026-12-04.bin");
        EXPECT_TRUE(TestEnvironment::WriteFile(path, bytes));
        EXPECT_TRUE(TestEnvironment::SetModified(path, kNow - secondsAgo));
        return path;
    }
    // Sends through the notifier and gives what its one Finished said.
    static std::pair<bool, QString> Sent(Notifier& notifier, const Notification& n, int withinMs = 10000)
    {
        QSignalSpy finished(&notifier, &Notifier::Finished);
        notifier.Send(n);
        EXPECT_TRUE(finished.wait(withinMs));
        EXPECT_FALSE(finished.wait(50)); // once only
        return finished.isEmpty() ? std::pair {false, QString()}
                                  : std::pair {finished[0][0].toBool(), finished[0][1].toString()};
    }

    cSettings m_settings; // the last profile made
    int m_argc = 1;
    char* m_argv[2] = {const_cast<char*>("test_notify"), nullptr};
    QCoreApplication m_app {m_argc, m_argv};
    SmtpSink m_sink;
    QString m_dir;
    MailNotifier m_notifier {NotificationText::TemplateFolders()};
};

} // namespace

TEST_F(Notify, EachRuleMailsItsFilledTemplateAndTheFile)
{
    QByteArray bytes(3000, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0'); // every byte value
    struct Case
    {
        qint32 staleMins;
        bool attach;
        const char* subject;
        const char* event;
    } const cases[] = {
        {0, true, "Sentrel: Nightly export has changed", "Changed"},
        {30, false, "Sentrel: Nightly export is out of date (for less than a minute)", "Out Of Date"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject);
        const qsizetype before = m_sink.Messages().size();
        // Modified at 09:57:59: cut to whole minutes that is 3 minutes before the check at 10:00.
        Watched(bytes, 151);
        const QString to = QStringLiteral("ops@example.com; oncall@example.com");
        const Notification n = Checked(m_dir + "/export.#yyyy-mm-dd#.bin", c.staleMins, c.attach, to);
        // The minutes and the time are those of the check, whatever the clock says by the time of the send.
        EXPECT_EQ(
            Sent(m_notifier, n),
            std::pair(true, QStringLiteral("File:export.2026-12-04 - %1 Notification Email Sent OK").arg(c.event)));

        const QList<SmtpSink::Message> got = m_sink.Messages().mid(before);
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0].RcptTos, (QStringList {"ops@example.com", "oncall@example.com"}));
        cMessage message;
        ASSERT_TRUE(message.FromMime(got[0].Raw));
        EXPECT_EQ(message.Subject(), QLatin1String(c.subject));
        const QString html = message.HTMLBody();
        for (const QString& part : {m_dir + QStringLiteral("/export.2026-12-04.bin"),
                                    QStringLiteral(">3<"),
                                    SystemUtility::ComputerName(),
                                    DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(kNow))}) {
            EXPECT_TRUE(html.contains(part)) << part.toStdString() << " in " << html.toStdString();
        }
        EXPECT_FALSE(html.contains(QStringLiteral("SENTREL_"), Qt::CaseInsensitive));
        EXPECT_EQ(FirstAttachment(got[0].Raw), c.attach ? bytes : QByteArray());
    }
}

TEST_F(Notify, EachEventTellsItsValuesAsWrittenAndNeverAsMarkup)
{
    const QString name = R"(R&D <b>x</b> <img src="http://evil.example/i.png">)";
    const QString file = m_dir + R"(/a<b>&'q".log)";
    const QString stale = R"(Sentrel: a<b>&'q" is out of date (for less than a minute))";
    const QString back = R"(Sentrel: a<b>&'q" is back to normal)";
    using E = Notification::Event;
    struct Case
    {
        E event;
        QString friendly;
        qint64 sinceAgo;   // seconds before the check
        QStringList texts; // the subject, then lines of the text part
    } const cases[] = {
        {E::Changed, name, 0, {"Sentrel: " + name + " has changed", "What happened: Changed"}},
        {E::OutOfDate, "", 59, {stale, "What happened: Out Of Date", "Limit in minutes: 30"}},
        {E::Missing,
         name,
         7559,
         {"Sentrel: " + name + " is missing (for 2 hours 5 minutes)", "What happened: Missing"}},
        {E::Recovered, "", 90000, {back, "What happened: Recovered", "The problem lasted: 1 day 1 hour"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts[0].toStdString());
        Notification n = Checked(file, 30, false, "ops@example.com");
        n.event = c.event;
        n.since = QDateTime::fromSecsSinceEpoch(kNow - c.sinceAgo);
        n.friendlyName = c.friendly;
        n.displayName = c.friendly.isEmpty() ? file : c.friendly;
        const qsizetype before = m_sink.Messages().size();
        ASSERT_TRUE(Sent(m_notifier, n).first);
        cMessage message;
        ASSERT_TRUE(message.FromMime(m_sink.Messages().value(before).Raw));
        EXPECT_EQ(message.Subject(), c.texts[0]);
        const QString html = message.HTMLBody();
        for (const char* markup : {"<img", "<b>x", "a<b>", "'q"}) {
            EXPECT_FALSE(html.contains(markup)) << markup;
        }
        EXPECT_TRUE(html.contains("a&lt;b&gt;&amp;&#39;q&quot;.log") &&
                    html.contains(c.friendly.isEmpty() ? "" : "R&amp;D &lt;b&gt;x&lt;/b&gt; &lt;img src=&quot;"));
        const QStringList text = QString(message.TextBody()).remove('\r').split('\n');
        const QStringList lines = c.texts.mid(1) << "File: " + file;
        for (const QString& line : lines) {
            EXPECT_TRUE(text.contains(line)) << line.toStdString() << " in " << message.TextBody().toStdString();
        }
    }
}

TEST(Composer, SpansReadInTheirTwoLargestUnits)
{
    const std::pair<qint64, const char*> cases[] = {
        {59, "less than a minute"},
        {60, "1 minute"},
        {3599, "59 minutes"},
        {3600, "1 hour"},
        {3719, "1 hour 1 minute"},
        {86399, "23 hours 59 minutes"},
        {86400, "1 day"},
        {90060, "1 day 1 hour"},
        {180000, "2 days 2 hours"},
    };
    for (const auto& [seconds, words] : cases) {
        EXPECT_EQ(NotificationComposer::SpanInWords(seconds), words) << seconds;
    }
}

TEST_F(Notify, FailuresFinishWithTheirHistoryLine)
{
    const Notification checked = Checked(Watched("x", 60), 0, false, "ops@example.com");
    const QString fifo = TestEnvironment::NonRegularFiles().first().first;
    const QString empty = TestEnvironment::NewFolder(QStringLiteral("no-templates"));
    struct Case
    {
        const char* name;
        QString reason = {};
        qint32 port = 0;
        QString security = {};
        QString attach = {}; // empty: nothing attached
        QString folder = {}; // empty: the shipped templates
    } const cases[] = {
        {.name = "no template", .folder = empty},
        {"bad port", "The SMTP port 70000 in the profile is not a port number (1 to 65535)", 70000},
        {"bad security", "The SMTP security 'SSL' in the profile is none of None, STARTTLS and TLS", 0, "SSL"},
        {"STARTTLS asked for",
         QString("The server 127.0.0.1 port %1 does not offer STARTTLS, and the mail is not sent without it")
             .arg(m_sink.Port()),
         0,
         "starttls"},
        {.name = "FIFO",
         .reason = QString("Could not attach %1: it is a FIFO, not a regular file").arg(fifo),
         .attach = fifo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Notification n = checked;
        n.port = c.port != 0 ? c.port : n.port;
        n.security = c.security;
        n.attachFile = !c.attach.isEmpty();
        n.fileName = n.attachFile ? c.attach : n.fileName;
        MailNotifier notifier(c.folder.isEmpty() ? NotificationText::TemplateFolders() : QStringList {c.folder});
        const TestEnvironment::Deadline deadline(10);
        EXPECT_EQ(Sent(notifier, n),
                  std::pair(false,
                            c.folder.isEmpty()
                                ? NotificationText::FailedLine(n, c.reason)
                                : "Couldn't load e-mail template file:" + empty + "/NotifyOnChange.eml"));
    }
    EXPECT_TRUE(m_sink.Messages().isEmpty());
    // Without a sender, recipients or server, or a file there, there is nothing to notify.
    EXPECT_TRUE(NotificationText::ToNotify(m_settings, 1).has_value());
    EXPECT_FALSE(NotificationText::ToNotify(m_settings, 2).has_value());
    m_settings.SetEmailTo(QString());
    EXPECT_FALSE(NotificationText::ToNotify(m_settings, 1).has_value());
}
