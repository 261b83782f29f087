#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "model/cMonitorFile.h"
#include "model/cSettings.h"
#include "notify/HistorySink.h"
#include "notify/NotificationComposer.h"
#include "notify/cMessage.h"
#include "support/Clock.h"
#include "support/SystemUtility.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QTimeZone kBerlin("Europe/Berlin");
// Friday 4 December 2026, 10:00:30 in Berlin.
const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 30), kBerlin).toSecsSinceEpoch();

struct RecordedHistory : HistorySink
{
    void AddHistory(const QDateTime&, const QString& text) override { lines << text; }
    QStringList lines;
};

// The bytes of the first attachment of a received message (base64 part).
QByteArray FirstAttachment(const QByteArray& raw)
{
    const qsizetype disposition = raw.indexOf("Content-Disposition: attachment");
    if (disposition < 0) {
        return {};
    }
    const qsizetype start = raw.indexOf("\r\n\r\n", disposition);
    const qsizetype end = raw.indexOf("\r\n--", start);
    return QByteArray::fromBase64(raw.mid(start + 4, end - start - 4).replace("\r\n", ""));
}

class Composer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NotificationComposer::SetSendTimeoutForTesting(3000);
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
        m_dir = TestEnvironment::NewFolder(QStringLiteral("composer"));
    }
    void TearDown() override { NotificationComposer::SetSendTimeoutForTesting(0); }

    // A profile on disk with one file, read back the way the program reads it.
    cSettings Profile(const QString& file, qint32 staleMins, bool attach, const QString& to, qint32 port = 0)
    {
        const QString name = QStringLiteral("Composer") + QString::number(++s_counter);
        cSettings s;
        s.ReadSettings(name);
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
        EXPECT_TRUE(s.WriteSettings());
        cSettings back;
        back.ReadSettings(name);
        return back;
    }
    QString Watched(const QByteArray& bytes, qint64 secondsAgo)
    {
        const QString path = m_dir + QStringLiteral("/export.2026-12-04.bin");
        EXPECT_TRUE(TestEnvironment::WriteFile(path, bytes));
        EXPECT_TRUE(TestEnvironment::SetModified(path, kNow - secondsAgo));
        return path;
    }

    static inline int s_counter = 0;
    FixedClock m_clock {kNow * 1000};
    SmtpSink m_sink;
    QString m_dir;
};

} // namespace

TEST_F(Composer, ChangeNotificationCarriesTheFilledTemplateAndTheFile)
{
    QByteArray bytes;
    for (int i = 0; i < 3000; ++i) {
        bytes += char(i % 256);
    }
    // Modified at 09:57:59: cut to whole minutes that is 3 minutes before 10:00.
    Watched(bytes, 151);
    const cSettings s = Profile(m_dir + "/export.#yyyy-mm-dd#.bin", 0, true, "ops@example.com; oncall@example.com");
    RecordedHistory history;
    ASSERT_TRUE(NotificationComposer::SendNotification(s, 1, history));
    EXPECT_EQ(history.lines, QStringList {"File:export.2026-12-04 - Changed Notification Email Sent OK"});

    const QList<SmtpSink::Message> got = m_sink.Messages();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].MailFrom, QStringLiteral("sentrel@example.com"));
    EXPECT_EQ(got[0].RcptTos, (QStringList {"ops@example.com", "oncall@example.com"}));

    cMessage message;
    ASSERT_TRUE(message.FromMime(got[0].Raw));
    EXPECT_EQ(message.Subject(), QStringLiteral("Sentrel: Nightly export has changed"));
    EXPECT_TRUE(message.To().contains(QStringLiteral("oncall@example.com")));
    EXPECT_EQ(message.Header(QStringLiteral("X-Mailer")), QStringLiteral("Brackwell Sentrel v1"));
    const QString html = message.HTMLBody();
    EXPECT_TRUE(html.contains(m_dir + QStringLiteral("/export.2026-12-04.bin")));
    EXPECT_TRUE(html.contains(QStringLiteral(">3<"))) << html.toStdString();
    EXPECT_TRUE(html.contains(SystemUtility::ComputerName()));
    EXPECT_FALSE(html.contains(QStringLiteral("SENTREL_"), Qt::CaseInsensitive));
    // The text part is made from the filled HTML.
    EXPECT_TRUE(message.TextBody().contains(QStringLiteral("Nightly export")));
    EXPECT_FALSE(message.TextBody().contains(QLatin1Char('<')));
    EXPECT_EQ(FirstAttachment(got[0].Raw), bytes);
}

TEST_F(Composer, StaleRuleUsesItsOwnTemplate)
{
    const QString path = Watched("x", 3600);
    const cSettings s = Profile(path, 30, false, "ops@example.com");
    RecordedHistory history;
    ASSERT_TRUE(NotificationComposer::SendNotification(s, 1, history));
    EXPECT_EQ(history.lines, QStringList {"File:export.2026-12-04 - Out Of Date Notification Email Sent OK"});
    const QList<SmtpSink::Message> got = m_sink.Messages();
    ASSERT_EQ(got.size(), 1);
    cMessage message;
    ASSERT_TRUE(message.FromMime(got[0].Raw));
    EXPECT_EQ(message.Subject(), QStringLiteral("Sentrel: Nightly export is out of date"));
    EXPECT_TRUE(message.HTMLBody().contains(QStringLiteral(">60<")));
    EXPECT_EQ(message.AttachmentCount(), 0);
}

TEST_F(Composer, FailuresGoToTheHistoryWithTheirReason)
{
    const QString path = Watched("x", 60);
    const QString fifo = TestEnvironment::NonRegularFiles().first().first;
    struct Case
    {
        const char* name;
        qint32 port;
        QString attach; // empty: nothing attached
        QString reason;
    } const cases[] = {
        {"port out of range", 70000, {}, "The SMTP port 70000 in the profile is not a port number (1 to 65535)"},
        {"nobody listening", 1, {}, "Could not connect to 127.0.0.1 port 1"},
        {"attachment gone", 0, m_dir + "/gone.bin", "Could not attach "},
        {"attachment is a FIFO", 0, fifo, QString("Could not attach %1: it is a FIFO, not a regular file").arg(fifo)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = c.attach.isEmpty() ? path : c.attach;
        cSettings s = Profile(file, 0, !c.attach.isEmpty(), "ops@example.com", c.port);
        RecordedHistory history;
        const TestEnvironment::Deadline deadline(10);
        EXPECT_FALSE(NotificationComposer::SendNotification(s, 1, history));
        ASSERT_EQ(history.lines.size(), 1);
        EXPECT_TRUE(history.lines[0].startsWith("File:" + QFileInfo(file).completeBaseName() +
                                                " - Changed Notification Email Failed - Reason: " + c.reason))
            << history.lines[0].toStdString();
    }
    EXPECT_TRUE(m_sink.Messages().isEmpty());

    // Without a sender, recipients or server nothing is tried and nothing is said.
    cSettings s = Profile(path, 0, false, QString());
    RecordedHistory history;
    EXPECT_FALSE(NotificationComposer::SendNotification(s, 1, history));
    EXPECT_FALSE(NotificationComposer::SendNotification(s, 2, history));
    EXPECT_TRUE(history.lines.isEmpty());
}
