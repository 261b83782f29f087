#include "notify/NotificationComposer.h"

#include "notify/NotificationText.h"
#include "notify/cEmail.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/SystemUtility.h"

#include <QDir>

#include <cmath>

const QString NotificationComposer::ChangeTemplate = QStringLiteral("NotifyOnChange.eml");
const QString NotificationComposer::StaleTemplate = QStringLiteral("NotifyOnStale.eml");
const QString NotificationComposer::MissingTemplate = QStringLiteral("NotifyOnMissing.eml");
const QString NotificationComposer::RecoveredTemplate = QStringLiteral("NotifyOnRecovered.eml");

const QString& NotificationComposer::TemplateFor(Notification::Event event)
{
    switch (event) {
    case Notification::Event::OutOfDate:
        return StaleTemplate;
    case Notification::Event::Missing:
        return MissingTemplate;
    case Notification::Event::Recovered:
        return RecoveredTemplate;
    case Notification::Event::Changed:
        break;
    }
    return ChangeTemplate;
}

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// "&lt;" and "&gt;" as an HTML editor stores the brackets of a placeholder.
QString unescapeBrackets(QString text)
{
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    return text;
}

// A value as text in HTML: no name or file name may bring its own markup or remote images.
QString htmlEscaped(const QString& value)
{
    return value.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

} // namespace

void NotificationComposer::SetSendTimeoutForTesting(int milliseconds)
{
    cEmail::SetTimeoutForTesting(milliseconds);
}

QString NotificationComposer::SpanInWords(qint64 seconds)
{
    if (seconds < 60) {
        return QStringLiteral("less than a minute");
    }
    const qint64 minutes = seconds / 60;
    const auto part = [](qint64 n, const char* unit) {
        return QString::number(n) + QLatin1Char(' ') + QLatin1String(unit) + (n == 1 ? QString() : QStringLiteral("s"));
    };
    // The two largest units are enough to read: "3 days 4 hours", "1 hour 5 minutes".
    if (minutes >= 24 * 60) {
        const qint64 hours = minutes / 60 % 24;
        return part(minutes / (24 * 60), "day") + (hours ? QLatin1Char(' ') + part(hours, "hour") : QString());
    }
    if (minutes >= 60) {
        return part(minutes / 60, "hour") +
               (minutes % 60 ? QLatin1Char(' ') + part(minutes % 60, "minute") : QString());
    }
    return part(minutes, "minute");
}

QString NotificationComposer::FillPlaceholders(const QString& text, const Notification& notification, Into into)
{
    const QString& expanded = notification.fileName;
    const QDateTime& lastModified = notification.lastModified;
    const qint64 nowSecs = floorDiv(notification.checkedAt.toMSecsSinceEpoch(), 1000);
    // Both moments cut to the whole minute: 10:00:59 to 10:01:00 is one minute.
    const qint64 minutes = floorDiv(nowSecs, 60) - floorDiv(lastModified.toSecsSinceEpoch(), 60);

    const std::pair<QString, QString> table[] = {
        {QStringLiteral("<SENTREL_FILETITLE>"), FileSystemUtility::FileTitle(expanded)},
        {QStringLiteral("<SENTREL_FULLFILENAME>"), expanded},
        {QStringLiteral("<SENTREL_FILENAME>"), FileSystemUtility::FileNamePart(expanded)},
        {QStringLiteral("<SENTREL_FRIENDLYNAME>"), notification.friendlyName},
        {QStringLiteral("<SENTREL_DISPLAYNAME>"), notification.displayName},
        // A file never seen (missing since before the first check) has no time to tell.
        {QStringLiteral("<SENTREL_LASTMODIFIED>"),
         lastModified.isValid() ? DateTimeUtility::GeneralDate(lastModified) : QStringLiteral("(Unknown)")},
        {QStringLiteral("<SENTREL_MINSSINCELASTMODIFIED>"),
         lastModified.isValid() ? QString::number(minutes) : QString()},
        {QStringLiteral("<SENTREL_DATETIME>"), DateTimeUtility::GeneralDate(notification.checkedAt)},
        {QStringLiteral("<SENTREL_COMPUTERNAME>"), SystemUtility::ComputerName()},
        {QStringLiteral("<SENTREL_STALEMINS>"), QString::number(notification.staleMins)},
        {QStringLiteral("<SENTREL_EVENT>"), NotificationText::EventText(notification.event)},
        {QStringLiteral("<SENTREL_SINCE>"),
         notification.since.isValid()
             ? SpanInWords(
                   floorDiv(notification.checkedAt.toMSecsSinceEpoch() - notification.since.toMSecsSinceEpoch(), 1000))
             : QString()},
        {QStringLiteral("<SENTREL_SHORTNAME>"),
         notification.friendlyName.isEmpty() ? FileSystemUtility::FileTitle(expanded) : notification.friendlyName},
    };
    QString out = text;
    for (const auto& [placeholder, value] : table) {
        out.replace(placeholder, into == Into::HtmlBody ? htmlEscaped(value) : value, Qt::CaseInsensitive);
    }
    return out;
}

bool NotificationComposer::Compose(const Notification& n,
                                   const QStringList& templateFolders,
                                   cEmail& email,
                                   QString& historyLine)
{
    email.MailServer = n.server;
    if (!n.loginName.isEmpty()) {
        email.UserName = n.loginName;
        email.Password = n.password;
    }

    const QString& name = TemplateFor(n.event);
    QString tried;
    bool loaded = false;
    for (const QString& folder : templateFolders) {
        const QString path = QDir::toNativeSeparators(folder + QLatin1Char('/') + name);
        if (tried.isEmpty() || FileSystemUtility::FileSize(path) > 0) {
            tried = path; // the line names the template that was there, else the first place looked
        }
        if (email.LoadFromFile(path)) {
            loaded = true;
            break;
        }
    }
    if (!loaded) {
        historyLine = QStringLiteral("Couldn't load e-mail template file:") + tried;
        return false;
    }

    cMessage& message = email.Message();
    message.SetTo(n.to);
    message.SetFrom(n.from);
    message.SetSubject(FillPlaceholders(unescapeBrackets(message.Subject()), n, Into::Subject));
    const QString body = FillPlaceholders(unescapeBrackets(message.HTMLBody()), n, Into::HtmlBody);
    message.SetAutoGenerateTextBody(true);
    message.SetHTMLBody(body);

    const auto failed = [&](const QString& reason) {
        historyLine = NotificationText::FailedLine(n, reason);
        return false;
    };
    if (n.attachFile) {
        QString error;
        if (!message.AddAttachment(n.fileName, &error)) {
            return failed(error);
        }
    }
    if (n.port < 1 || n.port > 65535) {
        return failed(QStringLiteral("The SMTP port ") + QString::number(n.port) +
                      QStringLiteral(" in the profile is not a port number (1 to 65535)"));
    }
    email.Port = static_cast<quint16>(n.port);
    if (!cEmail::ParseSecurity(n.security, email.TransportSecurity)) {
        return failed(QStringLiteral("The SMTP security '") + n.security +
                      QStringLiteral("' in the profile is none of None, STARTTLS and TLS"));
    }
    email.CAFile = n.caFile;
    return true;
}

QString NotificationComposer::OutcomeLine(const Notification& notification, bool sent, const QString& reason)
{
    return sent ? NotificationText::ReportPrefix(notification) + QStringLiteral(" Notification Email Sent OK")
                : NotificationText::FailedLine(notification, reason);
}
