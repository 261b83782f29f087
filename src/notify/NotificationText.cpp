#include "notify/NotificationText.h"

#include "SentrelConfig.h"
#include "model/cSettings.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"

#include <QDir>

#include <climits>

namespace {

Notification::Event toEvent(cMonitorFile::Event event)
{
    switch (event) {
    case cMonitorFile::Event::OutOfDate:
        return Notification::Event::OutOfDate;
    case cMonitorFile::Event::Missing:
        return Notification::Event::Missing;
    case cMonitorFile::Event::Recovered:
        return Notification::Event::Recovered;
    case cMonitorFile::Event::Changed:
        break;
    }
    return Notification::Event::Changed;
}

const QString kFailed = QStringLiteral(" Notification Email Failed - Reason: ");

const cMonitorFile* fileToNotify(const cSettings& settings, qint16 index)
{
    if (index <= 0) {
        return nullptr;
    }
    if (settings.EmailFrom().isEmpty() || settings.EmailTo().isEmpty() || settings.SMTPServerAddress().isEmpty()) {
        return nullptr;
    }
    return settings.MonitorFile(index);
}

} // namespace

std::optional<Notification> NotificationText::ToNotify(const cSettings& settings, qint32 index)
{
    if (index <= 0 || index > SHRT_MAX) {
        return std::nullopt;
    }
    const cMonitorFile* f = fileToNotify(settings, static_cast<qint16>(index));
    if (!f) {
        return std::nullopt;
    }
    Notification n;
    n.index = index;
    if (const std::optional<cMonitorFile::Due> due = f->DueNotification()) {
        n.event = toEvent(due->event);
        n.reminder = due->reminder;
        if (due->since != 0) {
            n.since = QDateTime::fromSecsSinceEpoch(due->since);
        }
    } else {
        // The rule's own event, from the time last seen.
        const bool stale = f->StaleMins() != 0;
        n.event = stale ? Notification::Event::OutOfDate : Notification::Event::Changed;
        if (f->LastModifiedSD().Day > 0) {
            n.since = f->LastModifiedVB().addSecs(stale ? static_cast<qint64>(f->StaleMins()) * 60 : 0);
        }
    }
    n.fileName = f->Filename();
    n.friendlyName = f->FriendlyName();
    n.displayName = f->DisplayName();
    if (f->LastModifiedSD().Day > 0) {
        n.lastModified = f->LastModifiedVB();
    }
    n.staleMins = f->StaleMins();
    n.attachFile = f->AttachFileToEmail();
    n.checkedAt = DateTimeUtility::Now();
    n.server = settings.SMTPServerAddress();
    n.port = settings.SMTPPort();
    n.security = settings.SMTPSecurity();
    n.caFile = settings.SMTPCAFile();
    n.loginName = settings.SMTPLoginName();
    n.password = settings.SMTPPassword();
    n.from = settings.EmailFrom();
    n.to = settings.EmailTo();
    return n;
}

QString NotificationText::EventText(Notification::Event event)
{
    switch (event) {
    case Notification::Event::OutOfDate:
        return QStringLiteral("Out Of Date");
    case Notification::Event::Missing:
        return QStringLiteral("Missing");
    case Notification::Event::Recovered:
        return QStringLiteral("Recovered");
    case Notification::Event::Changed:
        break;
    }
    return QStringLiteral("Changed");
}

QString NotificationText::ReportPrefix(const Notification& notification)
{
    return QStringLiteral("File:") + FileSystemUtility::FileTitle(notification.fileName) + QStringLiteral(" - ") +
           EventText(notification.event) + (notification.reminder ? QStringLiteral(" Reminder") : QString());
}

QString NotificationText::FailedLine(const Notification& notification, const QString& reason)
{
    return ReportPrefix(notification) + kFailed + reason;
}

QStringList NotificationText::TemplateFolders()
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
