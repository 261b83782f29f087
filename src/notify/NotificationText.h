#pragma once

#include "notify/Notification.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

class cSettings;

// What every program says about a notification, whether its mail code is
// linked in or loaded on first use.
namespace NotificationText {

// The notification of the file at that 1-based position, checked now; nullopt
// when none can be sent: no file there, or no sender, recipient or server in the profile.
[[nodiscard]] std::optional<Notification> ToNotify(const cSettings& settings, qint32 index);
// "Changed", "Out Of Date", "Missing" or "Recovered": the event as the history and the mails word it.
[[nodiscard]] QString EventText(Notification::Event event);
// "File:<title> - " and the event ("Out Of Date Reminder" for a reminder): how the history lines of a notification
// start.
[[nodiscard]] QString ReportPrefix(const Notification& notification);
// The history line of a notification that was not sent.
[[nodiscard]] QString FailedLine(const Notification& notification, const QString& reason);

// Folders searched for the mail templates, in order: Templates/ beside the
// executable, then the installed share/sentrel/Templates.
[[nodiscard]] QStringList TemplateFolders();

} // namespace NotificationText
