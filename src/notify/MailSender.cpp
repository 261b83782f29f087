#include "notify/MailSender.h"

#include "notify/SmtpClient.h"
#include "notify/cEmail.h"

MailSender::MailSender(QObject* parent)
    : QObject(parent)
{ }

MailSender::~MailSender()
{
    Cancel();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool MailSender::Start(Compose compose)
{
    if (m_busy) {
        return false;
    }
    if (m_worker.joinable()) {
        m_worker.join(); // ended already: its Done was handled
    }
    m_busy = true;
    // A flag of this send alone, so cancelling it leaves every other send alone.
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_worker = std::thread([this, compose = std::move(compose), cancel = m_cancel] {
        QString reason;
        bool sent = false;
        {
            cEmail email;
            sent = compose(email, reason) && email.Send(reason, *cancel);
        }
        // Queued to this object's thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this, [this, sent, reason] { finish(sent, reason); }, Qt::QueuedConnection);
    });
    return true;
}

void MailSender::Cancel()
{
    if (!m_busy || !m_cancel) {
        return;
    }
    m_cancel->store(true);
    SmtpClient::CutCancelled();
}

void MailSender::finish(bool sent, const QString& reason)
{
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_busy = false;
    Q_EMIT Done(sent, reason);
}
