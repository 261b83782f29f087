#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class cEmail;

// Builds and sends one e-mail at a time on a worker thread, so the event
// loop of its own thread never waits for a server or a large attachment.
class MailSender : public QObject
{
    Q_OBJECT

public:
    // Runs on the worker before the send: fills email, or gives false with the reason.
    using Compose = std::function<bool(cEmail& email, QString& reason)>;

    explicit MailSender(QObject* parent = nullptr);
    // Cancels a send in flight and waits for its worker; no Done follows.
    ~MailSender() override;
    MailSender(const MailSender&) = delete;
    MailSender& operator=(const MailSender&) = delete;

    // False, and nothing started, while a send is in flight.
    bool Start(Compose compose);
    // Ends the send in flight at once; its Done follows, as failed.
    void Cancel();
    [[nodiscard]] bool Busy() const { return m_busy; }

Q_SIGNALS:
    // From this object's thread, once for each Start.
    void Done(bool sent, const QString& reason);

private:
    void finish(bool sent, const QString& reason);

    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_busy = false;
};
