#pragma once

#include "notify/cMessage.h"

#include <QString>

#include <atomic>
#include <memory>

// One e-mail with the SMTP settings to submit it: loaded from a template file,
// filled in through Message(), sent once.
class cEmail
{
public:
    enum class Security { None, StartTls, Tls };

    cEmail();
    ~cEmail();
    cEmail(const cEmail&) = delete;
    cEmail& operator=(const cEmail&) = delete;

    QString MailServer;
    QString UserName;
    QString Password;        // used only when UserName is not empty
    qint16 SendTimeout = 15; // seconds to connect, and of silence from the server

    // Beyond the plain port-25 submission: port, transport security and an extra CA bundle.
    quint16 Port = 25;
    Security TransportSecurity = Security::None;
    QString CAFile;
    // When above 0, replaces SendTimeout (in milliseconds).
    int TimeoutMilliseconds = 0;

    // The message itself, not a copy.
    [[nodiscard]] cMessage& Message() { return *m_message; }
    [[nodiscard]] const cMessage& Message() const { return *m_message; }

    // True only when the server accepted the message; otherwise the reason in failReason.
    // Blocks the calling thread until the server answers: a program with a
    // window sends through MailSender, which runs it on a worker.
    bool SendEmail(QString& failReason, bool silentMode);
    // As SendEmail silently; setting cancel ends it at once.
    bool Send(QString& failReason, const std::atomic<bool>& cancel);
    // Reads a MIME message stored as ISO-8859-9 text. A missing or empty file keeps the current message.
    bool LoadFromFile(const QString& filename);
    // Writes the MIME message as ISO-8859-9 text, creating the folder.
    bool SaveToFile(const QString& filename);

    // Security from its profile text ("None", "STARTTLS", "TLS", any case); false for anything else.
    [[nodiscard]] static bool ParseSecurity(const QString& text, Security& security);

    // Milliseconds for every send's time-outs where TimeoutMilliseconds is 0
    // (0: SendTimeout as usual); lets tests wait on silent servers briefly.
    static void SetTimeoutForTesting(int milliseconds);

    // Largest template LoadFromFile reads.
    static constexpr qint64 MaxTemplateBytes = 32 * 1024 * 1024;

private:
    [[nodiscard]] bool Usable(QString& failReason) const;
    bool submit(QString& failReason, const std::atomic<bool>* cancel);

    std::unique_ptr<cMessage> m_message;
};
