#include "notify/NotificationComposer.h"

#include "SentrelConfig.h"
#include "model/cSettings.h"
#include "notify/HistorySink.h"
#include "notify/NotificationText.h"
#include "notify/cEmail.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"
#include "support/SystemUtility.h"

#include <QDir>

#include <cmath>

const QString NotificationComposer::ChangeTemplate = QStringLiteral("NotifyOnChange.eml");
const QString NotificationComposer::StaleTemplate = QStringLiteral("NotifyOnStale.eml");

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

} // namespace

void NotificationComposer::SetSendTimeoutForTesting(int milliseconds)
{
    cEmail::SetTimeoutForTesting(milliseconds);
}

QStringList NotificationComposer::TemplateFolders()
{
    const QString exeDir = GeneralUtility::App().ExePath;
    QStringList folders {QDir::cleanPath(exeDir + QStringLiteral("/Templates"))};
    const QStringList installed {
        QDir::cleanPath(exeDir + QStringLiteral("/../share/sentrel/Templates")),
        QDir::cleanPath(QStringLiteral(SENTREL_INSTALLED_TEMPLATES)),
    };
    for (const QString& folder : installed) {
        if (!folders.contains(folder)) {
            folders << folder;
        }
    }
    return folders;
}

QString NotificationComposer::FillPlaceholders(const QString& text, const cSettings& settings, qint16 index)
{
    const cMonitorFile* f = settings.MonitorFile(index);
    if (!f) {
        return text;
    }
    const QString expanded = f->Filename();
    const QDateTime lastModified = f->LastModifiedVB();
    const qint64 nowSecs = floorDiv(Clock::Current().NowMSecsSinceEpoch(), 1000);
    // Both moments cut to the whole minute: 10:00:59 to 10:01:00 is one minute.
    const qint64 minutes = floorDiv(nowSecs, 60) - floorDiv(lastModified.toSecsSinceEpoch(), 60);

    const std::pair<QString, QString> table[] = {
        {QStringLiteral("<SENTREL_FILETITLE>"), FileSystemUtility::FileTitle(expanded)},
        {QStringLiteral("<SENTREL_FULLFILENAME>"), expanded},
        {QStringLiteral("<SENTREL_FILENAME>"), FileSystemUtility::FileNamePart(expanded)},
        {QStringLiteral("<SENTREL_FRIENDLYNAME>"), f->FriendlyName()},
        {QStringLiteral("<SENTREL_DISPLAYNAME>"), f->DisplayName()},
        {QStringLiteral("<SENTREL_LASTMODIFIED>"), DateTimeUtility::GeneralDate(lastModified)},
        {QStringLiteral("<SENTREL_MINSSINCELASTMODIFIED>"), QString::number(minutes)},
        {QStringLiteral("<SENTREL_DATETIME>"), DateTimeUtility::GeneralDate(DateTimeUtility::Now())},
        {QStringLiteral("<SENTREL_COMPUTERNAME>"), SystemUtility::ComputerName()},
    };
    QString out = text;
    for (const auto& [placeholder, value] : table) {
        out.replace(placeholder, value, Qt::CaseInsensitive);
    }
    return out;
}

bool NotificationComposer::SendNotification(const cSettings& settings, qint16 index, HistorySink& history)
{
    const cMonitorFile* f = NotificationText::FileToNotify(settings, index);
    if (!f) {
        return false;
    }

    cEmail email;
    email.MailServer = settings.SMTPServerAddress();
    if (!settings.SMTPLoginName().isEmpty()) {
        email.UserName = settings.SMTPLoginName();
        email.Password = settings.SMTPPassword();
    }

    const QString name = f->StaleMins() == 0 ? ChangeTemplate : StaleTemplate;
    QString tried;
    bool loaded = false;
    for (const QString& folder : TemplateFolders()) {
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
        history.AddHistory(DateTimeUtility::Now(), QStringLiteral("Couldn't load e-mail template file:") + tried);
        return false;
    }

    cMessage& message = email.Message();
    message.SetTo(settings.EmailTo());
    message.SetFrom(settings.EmailFrom());
    message.SetSubject(FillPlaceholders(unescapeBrackets(message.Subject()), settings, index));
    const QString body = FillPlaceholders(unescapeBrackets(message.HTMLBody()), settings, index);
    message.SetAutoGenerateTextBody(true);
    message.SetHTMLBody(body);

    const auto failed = [&](const QString& reason) {
        history.AddHistory(DateTimeUtility::Now(), NotificationText::FailedLine(*f, reason));
        return false;
    };
    if (f->AttachFileToEmail()) {
        QString error;
        if (!message.AddAttachment(f->Filename(), &error)) {
            return failed(error);
        }
    }
    if (settings.SMTPPort() < 1 || settings.SMTPPort() > 65535) {
        return failed(QStringLiteral("The SMTP port ") + QString::number(settings.SMTPPort()) +
                      QStringLiteral(" in the profile is not a port number (1 to 65535)"));
    }
    email.Port = static_cast<quint16>(settings.SMTPPort());
    if (!cEmail::ParseSecurity(settings.SMTPSecurity(), email.TransportSecurity)) {
        return failed(QStringLiteral("The SMTP security '") + settings.SMTPSecurity() +
                      QStringLiteral("' in the profile is none of None, STARTTLS and TLS"));
    }
    email.CAFile = settings.SMTPCAFile();

    QString reason;
    if (email.SendEmail(reason, true)) {
        history.AddHistory(DateTimeUtility::Now(),
                           NotificationText::ReportPrefix(*f) + QStringLiteral(" Notification Email Sent OK"));
        return true;
    }
    return failed(reason);
}
