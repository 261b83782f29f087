#pragma once

#include <QString>
#include <QStringList>

class cSettings;
class HistorySink;

// Builds the notification for one monitored file from the template of its
// rule, sends it and writes the outcome to the history.
class NotificationComposer
{
public:
    // Files of the two templates.
    static const QString ChangeTemplate; // "NotifyOnChange.eml"
    static const QString StaleTemplate;  // "NotifyOnStale.eml"

    // True only when the server accepted the mail. index is the file's 1-based position.
    static bool SendNotification(const cSettings& settings, qint16 index, HistorySink& history);

    // Folders searched for the templates, in order: Templates/ beside the
    // executable, then the installed share/sentrel/Templates.
    [[nodiscard]] static QStringList TemplateFolders();
    // Replaces every placeholder (any letter case) in the table's order.
    [[nodiscard]] static QString FillPlaceholders(const QString& text, const cSettings& settings, qint16 index);

    // Milliseconds for the send's time-outs instead of the usual 15 s (0: the usual); for tests.
    static void SetSendTimeoutForTesting(int milliseconds);
};
