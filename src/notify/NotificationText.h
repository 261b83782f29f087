#pragma once

#include <QString>
#include <QtGlobal>

class cMonitorFile;
class cSettings;

// What every program says about a notification, whether its mail code is
// linked in or loaded on first use.
namespace NotificationText {

// The file a notification would be about; nullptr when none can be sent: no
// file at that 1-based position, or no sender, recipient or server in the profile.
[[nodiscard]] const cMonitorFile* FileToNotify(const cSettings& settings, qint16 index);
// "File:<title> - Changed" or "File:<title> - Out Of Date", how the history lines of a notification start.
[[nodiscard]] QString ReportPrefix(const cMonitorFile& file);
// The history line of a notification that was not sent.
[[nodiscard]] QString FailedLine(const cMonitorFile& file, const QString& reason);

} // namespace NotificationText
