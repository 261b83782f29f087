#include "notify/cMessage.h"

#include "notify/GObjectPtr.h"
#include "notify/HtmlToText.h"
#include "support/FileSystemUtility.h"
#include "support/SystemUtility.h"

#include <QMimeDatabase>

#include <gmime/gmime.h>

#include <mutex>

namespace {

void ensureGmime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// Header text may not carry line breaks or other control characters.
QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = QLatin1Char(' ');
        }
    }
    return out;
}

// Splits "a@x, "Doe; Jo" <b@y>; c@z" at the separators that stand outside
// quotes, angle brackets and comments.
QStringList splitAddresses(const QString& text)
{
    QStringList items;
    QString current;
    bool quoted = false;
    int angle = 0;
    int comment = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < text.size()) {
                current += c;
                current += text[++i];
                continue;
            }
            if (c == QLatin1Char('"')) {
                quoted = false;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('<')) {
            ++angle;
        } else if (c == QLatin1Char('>') && angle > 0) {
            --angle;
        } else if (c == QLatin1Char('(')) {
            ++comment;
        } else if (c == QLatin1Char(')') && comment > 0) {
            --comment;
        } else if ((c == QLatin1Char(',') || c == QLatin1Char(';')) && angle == 0 && comment == 0) {
            if (!current.trimmed().isEmpty()) {
                items << current.trimmed();
            }
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty()) {
        items << current.trimmed();
    }
    return items;
}

void setAddresses(InternetAddressList* list, const QString& text)
{
    internet_address_list_clear(list);
    for (const QString& item : splitAddresses(oneLine(text))) {
        const QByteArray utf8 = item.toUtf8();
        GObjectPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, utf8.constData()));
        if (parsed && internet_address_list_length(parsed.get()) > 0) {
            internet_address_list_append(list, parsed.get());
        } else {
            // Not an address GMime understands: keep it as written, so the user sees it refused.
            GObjectPtr<InternetAddress> mailbox(internet_address_mailbox_new(nullptr, utf8.constData()));
            internet_address_list_add(list, mailbox.get());
        }
    }
}

QString listText(InternetAddressList* list)
{
    if (!list || internet_address_list_length(list) == 0) {
        return {};
    }
    GCharPtr text(internet_address_list_to_string(list, nullptr, FALSE));
    return QString::fromUtf8(text.get());
}

void collectMailboxes(InternetAddressList* list, QList<QByteArray>& out)
{
    if (!list) {
        return;
    }
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char* addr = internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr && *addr) {
                out << QByteArray(addr);
            }
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            collectMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
        }
    }
}

QByteArray streamBytes(GMimeStream* stream)
{
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len))
                 : QByteArray();
}

// The content of a leaf part with its transfer encoding undone.
QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) {
        return {};
    }
    GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    return streamBytes(mem.get());
}

GMimeTextPart* newTextPart(const char* subtype, const QString& text)
{
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
    const QByteArray utf8 = text.toUtf8();
    g_mime_text_part_set_text(part, utf8.constData());
    g_mime_part_set_content_encoding(
        GMIME_PART(part), g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return part;
}

} // namespace

struct cMessage::Gmime
{
    GObjectPtr<GMimeMessage> message;

    Gmime()
    {
        ensureGmime();
        message.reset(g_mime_message_new(TRUE));
    }
};

cMessage::cMessage()
    : m_gmime(std::make_unique<Gmime>())
{ }

cMessage::~cMessage() = default;

QString cMessage::From() const
{
    return listText(g_mime_message_get_from(m_gmime->message.get()));
}

void cMessage::SetFrom(const QString& from)
{
    setAddresses(g_mime_message_get_from(m_gmime->message.get()), from);
}

QString cMessage::To() const
{
    return listText(g_mime_message_get_to(m_gmime->message.get()));
}

void cMessage::SetTo(const QString& to)
{
    setAddresses(g_mime_message_get_to(m_gmime->message.get()), to);
}

QString cMessage::Subject() const
{
    const char* subject = g_mime_message_get_subject(m_gmime->message.get());
    return subject ? QString::fromUtf8(subject) : QString();
}

void cMessage::SetSubject(const QString& subject)
{
    const QByteArray utf8 = oneLine(subject).toUtf8();
    g_mime_message_set_subject(m_gmime->message.get(), utf8.constData(), "utf-8");
}

void cMessage::SetHTMLBody(const QString& html)
{
    m_htmlBody = html;
    if (m_autoGenerateTextBody) {
        m_textBody = HtmlToText::Convert(html);
    }
}

bool cMessage::AddAttachment(const QString& path, QString* error)
{
    Attachment attachment;
    QString why;
    if (!FileSystemUtility::ReadRegularFile(path, MaxAttachmentBytes, attachment.Data, why)) {
        if (error) {
            *error = QStringLiteral("Could not attach ") + path + QStringLiteral(": ") + why;
        }
        return false;
    }
    attachment.FileName = FileSystemUtility::FileNamePart(path);
    // Typed from the bytes read: the path is not opened a second time.
    attachment.ContentType =
        QMimeDatabase().mimeTypeForFileNameAndData(attachment.FileName, attachment.Data).name().toLatin1();
    m_attachments << attachment;
    return true;
}

QString cMessage::Header(const QString& name) const
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(m_gmime->message.get()));
    const QByteArray key = name.toLatin1();
    GMimeHeader* header = g_mime_header_list_get_header(headers, key.constData());
    if (!header) {
        return {};
    }
    const char* value = g_mime_header_get_value(header);
    return value ? QString::fromUtf8(value).trimmed() : QString();
}

QByteArray cMessage::EnvelopeFrom() const
{
    QList<QByteArray> from;
    collectMailboxes(g_mime_message_get_from(m_gmime->message.get()), from);
    return from.value(0);
}

QList<QByteArray> cMessage::EnvelopeRecipients() const
{
    QList<QByteArray> all;
    GMimeMessage* message = m_gmime->message.get();
    collectMailboxes(g_mime_message_get_to(message), all);
    collectMailboxes(g_mime_message_get_cc(message), all);
    collectMailboxes(g_mime_message_get_bcc(message), all);
    QList<QByteArray> unique;
    for (const QByteArray& address : all) {
        const bool seen = std::any_of(unique.cbegin(), unique.cend(), [&](const QByteArray& u) {
            return u.compare(address, Qt::CaseInsensitive) == 0;
        });
        if (!seen) {
            unique << address;
        }
    }
    return unique;
}

QByteArray cMessage::ToMime(Purpose purpose) const
{
    GMimeMessage* message = m_gmime->message.get();

    GObjectPtr<GMimeObject> body;
    const bool hasText = !m_textBody.isEmpty();
    const bool hasHtml = !m_htmlBody.isEmpty();
    if (hasText && hasHtml) {
        GMimeMultipart* alternative = g_mime_multipart_new_with_subtype("alternative");
        GObjectPtr<GMimeTextPart> text(newTextPart("plain", m_textBody));
        GObjectPtr<GMimeTextPart> html(newTextPart("html", m_htmlBody));
        g_mime_multipart_add(alternative, GMIME_OBJECT(text.get()));
        g_mime_multipart_add(alternative, GMIME_OBJECT(html.get()));
        body.reset(GMIME_OBJECT(alternative));
    } else if (hasHtml) {
        body.reset(GMIME_OBJECT(newTextPart("html", m_htmlBody)));
    } else {
        body.reset(GMIME_OBJECT(newTextPart("plain", m_textBody)));
    }
    if (!m_attachments.isEmpty()) {
        GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
        g_mime_multipart_add(mixed, body.get());
        for (const Attachment& a : m_attachments) {
            const QList<QByteArray> type = a.ContentType.split('/');
            const QByteArray major = type.value(0, "application");
            const QByteArray minor = type.size() > 1 ? type.value(1) : QByteArray("octet-stream");
            GObjectPtr<GMimePart> part(g_mime_part_new_with_type(major.constData(), minor.constData()));
            const QByteArray name = a.FileName.toUtf8();
            g_mime_object_set_disposition(GMIME_OBJECT(part.get()), "attachment");
            g_mime_part_set_filename(part.get(), name.constData());
            GObjectPtr<GMimeStream> data(
                g_mime_stream_mem_new_with_buffer(a.Data.constData(), static_cast<size_t>(a.Data.size())));
            GObjectPtr<GMimeDataWrapper> wrapper(
                g_mime_data_wrapper_new_with_stream(data.get(), GMIME_CONTENT_ENCODING_DEFAULT));
            g_mime_part_set_content(part.get(), wrapper.get());
            g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
            g_mime_multipart_add(mixed, GMIME_OBJECT(part.get()));
        }
        body.reset(GMIME_OBJECT(mixed));
    }
    g_mime_message_set_mime_part(message, body.get());

    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    if (purpose == Purpose::Send) {
        // A template's own Date and Message-Id describe the template, not this send.
        GDateTime* now = g_date_time_new_now_local();
        g_mime_message_set_date(message, now);
        g_date_time_unref(now);
        const QByteArray host = SystemUtility::ComputerName().toUtf8();
        GCharPtr id(g_mime_utils_generate_message_id(host.isEmpty() ? "localhost" : host.constData()));
        g_mime_message_set_message_id(message, id.get());
        g_mime_format_options_add_hidden_header(options, "Bcc");
    }
    GObjectPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message), options, out.get());
    g_mime_format_options_free(options);
    return streamBytes(out.get());
}

bool cMessage::FromMime(const QByteArray& bytes)
{
    m_gmime = std::make_unique<Gmime>();
    m_textBody.clear();
    m_htmlBody.clear();
    m_attachments.clear();
    m_autoGenerateTextBody = false;

    // A text that stops in the middle of its last header line would leave that
    // header without a line end, and the next header written after it would
    // run into its value; the parser sees a complete last line instead. A NUL
    // or a lone CR inside the header block would cut a value short the same
    // way; they become spaces.
    QByteArray text = bytes;
    if (!text.endsWith('\n')) {
        text += "\r\n";
    }
    qsizetype headerEnd = text.indexOf("\n\n");
    const qsizetype crlfEnd = text.indexOf("\n\r\n");
    if (headerEnd < 0 || (crlfEnd >= 0 && crlfEnd < headerEnd)) {
        headerEnd = crlfEnd;
    }
    if (headerEnd < 0) {
        headerEnd = text.size();
    }
    for (qsizetype i = 0; i < headerEnd; ++i) {
        if (text[i] == '\0' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            text[i] = ' ';
        }
    }
    GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(text.constData(), static_cast<size_t>(text.size())));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed) {
        return false;
    }
    m_gmime->message = std::move(parsed);

    struct Walk
    {
        cMessage* self;
    } walk {this};
    g_mime_message_foreach(
        m_gmime->message.get(),
        [](GMimeObject*, GMimeObject* object, gpointer data) {
            cMessage* self = static_cast<Walk*>(data)->self;
            if (GMIME_IS_MESSAGE_PART(object)) {
                GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
                if (inner) {
                    GCharPtr text(g_mime_object_to_string(GMIME_OBJECT(inner), nullptr));
                    self->m_attachments << Attachment {
                        QStringLiteral("message.eml"), "message/rfc822", QByteArray(text.get())};
                }
                return;
            }
            if (!GMIME_IS_PART(object)) {
                return;
            }
            GMimePart* part = GMIME_PART(object);
            GMimeContentType* type = g_mime_object_get_content_type(object);
            const bool plain = type && g_mime_content_type_is_type(type, "text", "plain");
            const bool html = type && g_mime_content_type_is_type(type, "text", "html");
            const bool isBody = (plain || html) && !g_mime_part_is_attachment(part) &&
                                (plain ? self->m_textBody.isEmpty() : self->m_htmlBody.isEmpty());
            if (isBody) {
                QString text;
                const GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
                const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                                     encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                                     encoding == GMIME_CONTENT_ENCODING_UUENCODE;
                if (encoded && GMIME_IS_TEXT_PART(part)) {
                    // Encoded octets are in the charset the part declares.
                    GCharPtr decoded(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
                    text = decoded ? QString::fromUtf8(decoded.get()) : QString();
                } else {
                    // Raw text came in as UTF-8.
                    text = QString::fromUtf8(decodedContent(part));
                }
                (plain ? self->m_textBody : self->m_htmlBody) = text;
                return;
            }
            Attachment attachment;
            const char* name = g_mime_part_get_filename(part);
            attachment.FileName = name ? QString::fromUtf8(name) : QStringLiteral("attachment");
            if (type) {
                GCharPtr mime(g_mime_content_type_get_mime_type(type));
                attachment.ContentType = mime ? QByteArray(mime.get()) : QByteArray("application/octet-stream");
            }
            attachment.Data = decodedContent(part);
            self->m_attachments << attachment;
        },
        &walk);
    return true;
}
