#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

// Where and how one message is submitted.
struct SmtpConfig
{
    enum class Security { None, StartTls, Tls };

    QString Server;
    int Port = 25;
    // The member has the type's name, so both SmtpConfig::Security::Tls and
    // config.Security read as written; where the type itself is meant, it is
    // "enum SmtpConfig::Security".
    enum Security Security = Security::None;
    // A PEM bundle trusted besides the system's CA store (empty: the system's only).
    QString CAFile;
    QString UserName; // logs in only when not empty
    QString Password;
    // Bound on reaching the server (resolving, connecting, TLS, greeting, login),
    // and on each silence of the server afterwards (rounded up to whole seconds).
    int ConnectTimeoutMs = 15000;
    // Bound on the whole submission; 0 derives it from the connect time-out and
    // the message's size (see SmtpClient.cpp).
    int OverallTimeoutMs = 0;
};

// Submits a message over SMTP with libcurl.
class SmtpClient
{
public:
    // Sends mime (CRLF lines, headers included) from envelopeFrom to every
    // recipient, blocking the calling thread (a worker: the event loop of the
    // main thread must not wait on a server). Returns once the server has
    // accepted the message (true) or the submission failed (false, with what an
    // operator needs in reason). Setting *cancel stops the submission within a
    // second; CutCancelled() after it stops it at once.
    static bool Send(const SmtpConfig& config,
                     const QByteArray& envelopeFrom,
                     const QList<QByteArray>& recipients,
                     const QByteArray& mime,
                     QString& reason,
                     const std::atomic<bool>* cancel = nullptr);

    // Ends every submission in flight whose cancel flag is set, whatever it
    // waits for, by cutting its connection. Safe from any thread.
    static void CutCancelled();
};
