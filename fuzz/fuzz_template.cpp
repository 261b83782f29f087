// E-mail templates: any bytes parse to a message or to nothing, and a parsed
// message can be filled in, written out and read back.
#include "notify/cMessage.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    cMessage message;
    if (!message.FromMime(bytes)) {
        return 0;
    }
    const QString subject = message.Subject();
    message.SetTo(QStringLiteral("ops@example.com; ") + message.To());
    message.SetFrom(QStringLiteral("sentrel@example.com"));
    message.SetAutoGenerateTextBody(true);
    message.SetHTMLBody(message.HTMLBody());
    const QByteArray sent = message.ToMime(cMessage::Purpose::Send);
    cMessage again;
    if (!again.FromMime(sent)) {
        std::abort(); // what we write must parse
    }
    if (again.EnvelopeRecipients().isEmpty() || again.EnvelopeFrom() != QByteArray("sentrel@example.com")) {
        std::abort();
    }
    (void)subject;
    return 0;
}
