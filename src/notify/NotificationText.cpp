#include "notify/NotificationText.h"

#include "model/cSettings.h"
#include "support/FileSystemUtility.h"

const cMonitorFile* NotificationText::FileToNotify(const cSettings& settings, qint16 index)
{
    if (index <= 0) {
        return nullptr;
    }
    if (settings.EmailFrom().isEmpty() || settings.EmailTo().isEmpty() || settings.SMTPServerAddress().isEmpty()) {
        return nullptr;
    }
    return settings.MonitorFile(index);
}

QString NotificationText::ReportPrefix(const cMonitorFile& file)
{
    return QStringLiteral("File:") + FileSystemUtility::FileTitle(file.Filename()) + QStringLiteral(" - ") +
           (file.StaleMins() != 0 ? QStringLiteral("Out Of Date") : QStringLiteral("Changed"));
}

QString NotificationText::FailedLine(const cMonitorFile& file, const QString& reason)
{
    return ReportPrefix(file) + QStringLiteral(" Notification Email Failed - Reason: ") + reason;
}
