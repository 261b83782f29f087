#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A mail server for one test: tests/common/smtp_sink.py under the system's
// Python (which has Debian's aiosmtpd) on a free loopback port, writing what
// it is sent into a folder of its own. Stopped when the object goes.
class SmtpSink
{
public:
    struct Options
    {
        bool Auth = false;                 // AUTH required; alice / s3cret is the one login it takes
        QString AuthMechanisms;            // offered, e.g. "LOGIN"; empty: PLAIN and LOGIN
        QString RejectRcpt;                // answered 550 5.1.1
        bool RejectData = false;           // the message is recorded, then refused with 554
        bool Silent = false;               // takes connections and never says a word
        QString StartTlsCert, StartTlsKey; // STARTTLS required
        QString TlsCert, TlsKey;           // TLS from the first byte
        QString CopyFrom, CopyTo;          // after each message, before its answer: CopyFrom's bytes over CopyTo
        int DataDelayMs = 0;               // how long it waits before it answers a message
        QStringList Hold;                  // commands it answers late ("MAIL=0.7", in s) or never ("QUIT")
    };

    struct Message
    {
        QByteArray Raw; // as the server received it, dot-stuffing undone
        QString MailFrom;
        QStringList RcptTos;
        QString AuthUser;
        QString AuthMechanism;
    };

    SmtpSink()
        : SmtpSink(Options {})
    { }
    explicit SmtpSink(const Options& options);
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    // False (with the reason in Error) when the server did not come up.
    [[nodiscard]] bool Started() const { return m_port != 0; }
    [[nodiscard]] const QString& Error() const { return m_error; }
    [[nodiscard]] quint16 Port() const { return m_port; }
    // Whether it has begun to hold back an answer (silent, Hold, DataDelayMs).
    [[nodiscard]] bool Held() const;
    // Every message received so far, oldest first.
    [[nodiscard]] QList<Message> Messages() const;

private:
    QString m_folder;
    QString m_error;
    quint16 m_port = 0;
    pid_t m_pid = -1;
};
