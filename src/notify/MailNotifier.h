#pragma once

#include "notify/MailSender.h"
#include "notify/Notifier.h"

#include <QStringList>

#include <deque>
#include <memory>

// Mails notifications made from the templates in its folders, composing and
// sending each on a worker thread; one at a time, later ones wait their turn.
class MailNotifier : public Notifier
{
    Q_OBJECT

public:
    explicit MailNotifier(QStringList templateFolders, QObject* parent = nullptr);

    void Send(const Notification& notification) override;
    void Cancel() override;

private:
    void startNext();
    void sent(bool sent, const QString& reason);

    QStringList m_templateFolders;
    MailSender m_sender;
    struct Waiting
    {
        Notification notification;
        bool cancelled = false;
    };
    std::deque<Waiting> m_waiting; // the front one is in flight
    // The history line of a notification that could not be composed, written on the worker.
    std::shared_ptr<QString> m_composeLine;
};
