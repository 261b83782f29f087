#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

// One e-mail message: its headers live in a GMime message, its bodies and
// attachments beside them; it reads and writes its whole MIME form. Headers
// it does not manage (Cc, Reply-To, X-...) go out as they came.
class cMessage
{
public:
    cMessage();
    ~cMessage();
    cMessage(const cMessage&) = delete;
    cMessage& operator=(const cMessage&) = delete;

    // Address lists as entered: several addresses separated by "," or ";".
    [[nodiscard]] QString From() const;
    void SetFrom(const QString& from);
    [[nodiscard]] QString To() const;
    void SetTo(const QString& to);
    [[nodiscard]] QString Subject() const;
    void SetSubject(const QString& subject);
    [[nodiscard]] const QString& TextBody() const { return m_textBody; }
    void SetTextBody(const QString& text) { m_textBody = text; }
    [[nodiscard]] const QString& HTMLBody() const { return m_htmlBody; }
    // With AutoGenerateTextBody set, the text body is regenerated from the HTML.
    void SetHTMLBody(const QString& html);
    [[nodiscard]] bool AutoGenerateTextBody() const { return m_autoGenerateTextBody; }
    void SetAutoGenerateTextBody(bool on) { m_autoGenerateTextBody = on; }

    // Reads the file now and attaches it; false with the reason when it cannot be read.
    bool AddAttachment(const QString& path, QString* error = nullptr);
    [[nodiscard]] qsizetype AttachmentCount() const { return m_attachments.size(); }

    // Any header's decoded value (empty when absent).
    [[nodiscard]] QString Header(const QString& name) const;

    // The sender's address and every recipient's (To, Cc and Bcc), for the SMTP envelope.
    [[nodiscard]] QByteArray EnvelopeFrom() const;
    [[nodiscard]] QList<QByteArray> EnvelopeRecipients() const;

    // The whole message with CRLF lines, every part in a transfer encoding that
    // keeps lines short. For sending, Date and Message-Id are those of now and
    // Bcc is left out; otherwise the message is written as it stands.
    enum class Purpose { Store, Send };
    [[nodiscard]] QByteArray ToMime(Purpose purpose = Purpose::Store) const;
    // Replaces the whole message with a parsed one (8-bit text is read as UTF-8);
    // false when the bytes hold no message, leaving an empty one.
    bool FromMime(const QByteArray& bytes);

    // Largest file AddAttachment reads.
    static constexpr qint64 MaxAttachmentBytes = 64 * 1024 * 1024;

private:
    struct Attachment
    {
        QString FileName;
        QByteArray ContentType;
        QByteArray Data;
    };
    struct Gmime;
    std::unique_ptr<Gmime> m_gmime;
    QString m_textBody;
    QString m_htmlBody;
    bool m_autoGenerateTextBody = false;
    QList<Attachment> m_attachments;
};
