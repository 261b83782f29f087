#pragma once

#include "notify/Notification.h"

#include <QString>
#include <QStringList>

class cEmail;

// Builds the mail of one notification from the template of its rule, and the
// history lines of its outcome.
class NotificationComposer
{
public:
    // Files of the templates, one for each event; a reminder uses its event's.
    static const QString ChangeTemplate;    // "NotifyOnChange.eml"
    static const QString StaleTemplate;     // "NotifyOnStale.eml"
    static const QString MissingTemplate;   // "NotifyOnMissing.eml"
    static const QString RecoveredTemplate; // "NotifyOnRecovered.eml"
    [[nodiscard]] static const QString& TemplateFor(Notification::Event event);

    // Fills email (template, placeholders, addresses, attachment, server) for
    // the notification; false with the whole history line when it cannot be sent.
    [[nodiscard]] static bool
    Compose(const Notification& notification, const QStringList& templateFolders, cEmail& email, QString& historyLine);
    // The history line after the server accepted the mail, or refused it for reason.
    [[nodiscard]] static QString OutcomeLine(const Notification& notification, bool sent, const QString& reason);

    // What is being filled: an HTML body takes its values HTML-escaped, a subject takes them as written.
    enum class Into { Subject, HtmlBody };
    // Replaces every placeholder (any letter case) in the table's order; times from the moment of the check.
    [[nodiscard]] static QString FillPlaceholders(const QString& text, const Notification& notification, Into into);

    // A span of time in words, its two largest units: "2 hours 5 minutes", "less than a minute".
    [[nodiscard]] static QString SpanInWords(qint64 seconds);

    // Milliseconds for the send's time-outs instead of the usual 15 s (0: the usual); for tests.
    static void SetSendTimeoutForTesting(int milliseconds);
};
