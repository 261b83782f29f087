#include "notify/cEmail.h"

#include "notify/SmtpClient.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <iterator>

namespace {

const QString kUtilsKey = QStringLiteral("SOFTWARE\\Brackwell\\Utils");
const QString kMarker = QStringLiteral("SendingToSMTPServer");

// ISO-8859-9 is Latin-1 with six Turkish letters in place of Icelandic ones.
constexpr struct
{
    uchar byte;
    char16_t unicode;
} kTurkish[] =
    {{0xD0, u'\u011E'}, {0xDD, u'\u0130'}, {0xDE, u'\u015E'}, {0xF0, u'\u011F'}, {0xFD, u'\u0131'}, {0xFE, u'\u015F'}};

QString decodeLatin5(const QByteArray& bytes)
{
    QString text = QString::fromLatin1(bytes);
    for (QChar& c : text) {
        for (const auto& t : kTurkish) {
            if (c.unicode() == t.byte) {
                c = QChar(t.unicode);
                break;
            }
        }
    }
    return text;
}

QByteArray encodeLatin5(const QString& text)
{
    const auto isTurkishSlot = [](char16_t u) {
        return std::any_of(std::begin(kTurkish), std::end(kTurkish), [u](const auto& t) { return t.byte == u; });
    };
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        char byte = '?'; // not representable
        if (u < 0x100 && !isTurkishSlot(u)) {
            byte = static_cast<char>(u);
        } else {
            for (const auto& t : kTurkish) {
                if (u == t.unicode) {
                    byte = static_cast<char>(t.byte);
                }
            }
        }
        out += byte;
    }
    return out;
}

} // namespace

cEmail::cEmail()
    : m_message(std::make_unique<cMessage>())
{ }

cEmail::~cEmail() = default;

bool cEmail::ParseSecurity(const QString& text, Security& security)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0) {
        security = Security::None;
    } else if (t.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0) {
        security = Security::StartTls;
    } else if (t.compare(QLatin1String("TLS"), Qt::CaseInsensitive) == 0) {
        security = Security::Tls;
    } else {
        return false;
    }
    return true;
}

namespace {
std::atomic<int> g_testTimeoutMs {0};
}

void cEmail::SetTimeoutForTesting(int milliseconds)
{
    g_testTimeoutMs.store(milliseconds);
}

bool cEmail::SendEmail(QString& failReason, bool silentMode)
{
    if (!silentMode && Usable(failReason)) {
        const QString interrupted =
            MachineStore::ReadRegString(MachineStore::Root::CurrentUser, kUtilsKey, kMarker, QString());
        if (interrupted.compare(MailServer, Qt::CaseInsensitive) == 0) {
            const auto answer = UserInterface::Message(
                QStringLiteral("The last time an email was being sent via the mail server '") + MailServer +
                    QStringLiteral("', it was not successfully sent.\n\nAre you sure you want to try and use this "
                                   "server again?"),
                UserInterface::Icon::Question,
                UserInterface::Buttons::YesNo,
                UserInterface::Answer::No);
            if (answer != UserInterface::Answer::Yes) {
                failReason = QStringLiteral("User decided not to use the previously failed mail server '") +
                             MailServer + QLatin1Char('\'');
                return false;
            }
        }
    }
    return submit(failReason, nullptr);
}

bool cEmail::Send(QString& failReason, const std::atomic<bool>& cancel)
{
    return submit(failReason, &cancel);
}

bool cEmail::Usable(QString& failReason) const
{
    if (!m_message) {
        failReason = QStringLiteral("Email not initialised correctly.");
        return false;
    }
    if (MailServer.isEmpty()) {
        failReason = QStringLiteral("Mail Server not configured.");
        return false;
    }
    const cMessage& message = *m_message;
    if (message.From().isEmpty() || message.To().isEmpty() ||
        (message.TextBody().isEmpty() && message.HTMLBody().isEmpty() && message.Subject().isEmpty())) {
        failReason = QStringLiteral("Email not configured correctly.");
        return false;
    }
    return true;
}

bool cEmail::submit(QString& failReason, const std::atomic<bool>* cancel)
{
    if (!Usable(failReason)) {
        return false;
    }
    const cMessage& message = *m_message;
    SmtpConfig config;
    config.Server = MailServer;
    config.Port = Port;
    switch (TransportSecurity) {
    case Security::None:
        config.Security = SmtpConfig::Security::None;
        break;
    case Security::StartTls:
        config.Security = SmtpConfig::Security::StartTls;
        break;
    case Security::Tls:
        config.Security = SmtpConfig::Security::Tls;
        break;
    }
    config.CAFile = CAFile;
    if (!UserName.isEmpty()) {
        config.UserName = UserName;
        config.Password = Password;
    }
    const int testTimeoutMs = g_testTimeoutMs.load();
    config.ConnectTimeoutMs = TimeoutMilliseconds > 0 ? TimeoutMilliseconds
                              : testTimeoutMs > 0     ? testTimeoutMs
                                                      : qMax<int>(1, SendTimeout) * 1000;

    const QByteArray mime = message.ToMime(cMessage::Purpose::Send);
    const QByteArray from = message.EnvelopeFrom();
    const QList<QByteArray> recipients = message.EnvelopeRecipients();

    MachineStore::WriteRegString(MachineStore::Root::CurrentUser, kUtilsKey, kMarker, MailServer);
    QString reason;
    const bool sent = SmtpClient::Send(config, from, recipients, mime, reason, cancel);
    MachineStore::DeleteRegValue(MachineStore::Root::CurrentUser, kUtilsKey, kMarker);
    if (!sent) {
        failReason = reason;
    }
    return sent;
}

bool cEmail::LoadFromFile(const QString& filename)
{
    if (FileSystemUtility::FileSize(filename) <= 0) {
        return false;
    }
    m_message = std::make_unique<cMessage>();
    QByteArray bytes;
    QString why;
    if (!FileSystemUtility::ReadRegularFile(filename, MaxTemplateBytes, bytes, why)) {
        DebugLog(QStringLiteral("The e-mail template ") + filename + QStringLiteral(" was not read: ") + why, 5);
        return false;
    }
    return m_message->FromMime(decodeLatin5(bytes).toUtf8());
}

bool cEmail::SaveToFile(const QString& filename)
{
    const QByteArray bytes = encodeLatin5(QString::fromUtf8(m_message->ToMime(cMessage::Purpose::Store)));
    if (!FileSystemUtility::CreateFolderPath(FileSystemUtility::ParentFolder(filename))) {
        return false;
    }
    QFile file(filename);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
