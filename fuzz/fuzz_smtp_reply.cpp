// SMTP dialogues: whatever the bytes, and wherever libcurl cuts them into
// pieces, reading them ends with the same result, one transcript line per
// line sent, and a last reply whose code is its own first three digits.

#include "notify/SmtpDialogue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void feed(SmtpDialogue& dialogue, bool fromServer, QByteArrayView bytes)
{
    if (fromServer) {
        dialogue.FromServer(bytes);
    } else {
        dialogue.FromClient(bytes);
    }
}

bool same(const SmtpDialogue& a, const SmtpDialogue& b)
{
    return a.Transcript() == b.Transcript() && a.LastCommand() == b.LastCommand() && a.LastCode() == b.LastCode() &&
           a.LastReply() == b.LastReply() && a.ErrorReply() == b.ErrorReply() && a.Replied() == b.Replied() &&
           a.MailStarted() == b.MailStarted();
}

} // namespace

// The input is a list of pieces, each a byte whose lowest bit tells who sent
// it (1: the server) and whose other bits its length, then its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536) {
        return 0;
    }
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    SmtpDialogue inPieces;
    SmtpDialogue byteByByte;
    qsizetype lines = 0;
    for (qsizetype at = 0; at < input.size();) {
        const auto head = static_cast<unsigned char>(input[at++]);
        const bool fromServer = (head & 1) != 0;
        const QByteArrayView piece = input.sliced(at, std::min<qsizetype>(head >> 1, input.size() - at));
        at += piece.size();
        feed(inPieces, fromServer, piece);
        for (qsizetype i = 0; i < piece.size(); ++i) {
            feed(byteByByte, fromServer, piece.sliced(i, 1));
        }
        lines += std::count(piece.begin(), piece.end(), '\n');
    }

    require(same(inPieces, byteByByte));
    require(inPieces.Transcript().size() == lines);
    const QByteArray& reply = inPieces.LastReply();
    require(reply.isEmpty() ? inPieces.LastCode() == 0 : reply.left(3).toInt() == inPieces.LastCode());
    require(reply.size() <= 3 || reply[3] == ' ');
    require(inPieces.ErrorReply().isEmpty() || (inPieces.ErrorReply() == reply && inPieces.LastCode() >= 400));
    return 0;
}
