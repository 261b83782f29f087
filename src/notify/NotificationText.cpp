#include "notify/NotificationText.h"

#include "SentrelConfig.h"
#include "model/cSettings.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"

#include <QDir>

#include <climits>

namespace {

QString reportPrefix(const QString& fileName, bool stale)
{
    return QStringLiteral("File:") + FileSystemUtility::FileTitle(fileName) + QStringLiteral(" - ") +
           (stale ? QStringLiteral("Out Of Date") : QStringLiteral("Changed"));
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
    n.event = f->StaleMins() != 0 ? Notification::Event::OutOfDate : Notification::Event::Changed;
    n.fileName = f->Filename();
    n.friendlyName = f->FriendlyName();
    n.displayName = f->DisplayName();
    n.lastModified = f->LastModifiedVB();
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

QString NotificationText::ReportPrefix(const Notification& notification)
{
    return reportPrefix(notification.fileName, notification.event == Notification::Event::OutOfDate);
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
