#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// An SMTP dialogue read from the bytes each side sent, in pieces of any size
// as libcurl reports them: the last command and reply, the server's refusal,
// and a transcript for the log that leaves the credentials out.
class SmtpDialogue
{
public:
    void FromServer(QByteArrayView bytes);
    void FromClient(QByteArrayView bytes);
    // A remark of libcurl's own, for the transcript.
    void Note(QByteArrayView text);

    [[nodiscard]] const QByteArray& LastCommand() const { return m_lastCommand; } // its verb: "EHLO", "RCPT"
    [[nodiscard]] int LastCode() const { return m_lastCode; } // of the server's last complete reply; 0 before it
    [[nodiscard]] const QByteArray& LastReply() const { return m_lastReply; }
    // The server's 4xx or 5xx answer to the last command; empty otherwise.
    [[nodiscard]] const QByteArray& ErrorReply() const { return m_errorReply; }
    [[nodiscard]] bool Replied() const { return m_replied; }
    // MAIL FROM went out: greeting, TLS and login are done.
    [[nodiscard]] bool MailStarted() const { return m_mailStarted; }
    [[nodiscard]] const QStringList& Transcript() const { return m_transcript; }

private:
    void serverLine(const QByteArray& line);
    void clientLine(const QByteArray& line);

    QByteArray m_fromServer; // a line not yet ended
    QByteArray m_fromClient;
    QByteArray m_lastCommand;
    int m_lastCode = 0;
    QByteArray m_lastReply;
    QByteArray m_errorReply;
    bool m_replied = false;
    bool m_mailStarted = false;
    bool m_quitting = false;    // replies to QUIT say nothing about the message
    bool m_credentials = false; // the server asked for the next piece of a login
    QStringList m_transcript;
};
