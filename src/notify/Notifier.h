#pragma once

#include "notify/Notification.h"

#include <QObject>
#include <QString>

// Sends notifications, one at a time, without blocking the event loop: Send
// returns at once and Finished follows, always later from the event loop,
// exactly once for each Send (a cancelled send finishes as failed).
class Notifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void Send(const Notification& notification) = 0;
    // Ends a send in flight at once; its Finished still follows, as failed.
    virtual void Cancel() = 0;

Q_SIGNALS:
    // sent: the server accepted the mail. historyLine: what the history shows
    // of the outcome, empty when there is nothing to show.
    void Finished(bool sent, const QString& historyLine);
};
