#include "notify/MailNotifier.h"

#include "notify/NotificationComposer.h"
#include "notify/NotificationText.h"
#include "notify/cEmail.h"

MailNotifier::MailNotifier(QStringList templateFolders, QObject* parent)
    : Notifier(parent)
    , m_templateFolders(std::move(templateFolders))
{
    connect(&m_sender, &MailSender::Done, this, &MailNotifier::sent);
}

void MailNotifier::Send(const Notification& notification)
{
    m_waiting.push_back({notification, false});
    if (m_waiting.size() == 1) {
        startNext();
    }
}

void MailNotifier::Cancel()
{
    // Those still waiting end as the one in flight does, as cancelled, each in its turn.
    for (Waiting& waiting : m_waiting) {
        waiting.cancelled = true;
    }
    m_sender.Cancel();
}

void MailNotifier::startNext()
{
    const Notification& n = m_waiting.front().notification;
    auto line = std::make_shared<QString>();
    m_composeLine = line;
    if (m_waiting.front().cancelled) {
        // Cancelled before its turn: nothing is composed, and it finishes from the event loop as failed.
        const QString reason = QStringLiteral("Sending to ") + n.server + QStringLiteral(" port ") +
                               QString::number(n.port) + QStringLiteral(" was cancelled");
        QMetaObject::invokeMethod(
            this, [this, reason] { sent(false, reason); }, Qt::QueuedConnection);
        return;
    }
    m_sender.Start([n, folders = m_templateFolders, line](cEmail& email, QString& reason) {
        if (!NotificationComposer::Compose(n, folders, email, *line)) {
            reason = *line;
            return false;
        }
        return true;
    });
}

void MailNotifier::sent(bool sent, const QString& reason)
{
    const Notification n = m_waiting.front().notification;
    m_waiting.pop_front();
    const QString line = m_composeLine && !m_composeLine->isEmpty()
                             ? *m_composeLine
                             : NotificationComposer::OutcomeLine(n, sent, reason);
    m_composeLine.reset();
    if (!m_waiting.empty()) {
        startNext();
    }
    Q_EMIT Finished(sent, line);
}
