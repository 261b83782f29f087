#include "notify/SmtpDialogue.h"

#include <algorithm>

namespace {

// Hands each completed line (without CR LF or LF) to line; keeps the rest in pending.
template<typename LineFunction>
void takeLines(QByteArray& pending, QByteArrayView bytes, LineFunction line)
{
    pending.append(bytes);
    qsizetype end = 0;
    while ((end = pending.indexOf('\n')) >= 0) {
        QByteArray text = pending.left(end);
        pending.remove(0, end + 1);
        if (text.endsWith('\r')) {
            text.chop(1);
        }
        line(text);
    }
}

} // namespace

void SmtpDialogue::FromServer(QByteArrayView bytes)
{
    takeLines(m_fromServer, bytes, [this](const QByteArray& line) { serverLine(line); });
}

void SmtpDialogue::FromClient(QByteArrayView bytes)
{
    takeLines(m_fromClient, bytes, [this](const QByteArray& line) { clientLine(line); });
}

void SmtpDialogue::Note(QByteArrayView text)
{
    m_transcript << QStringLiteral("* ") + QString::fromUtf8(text).trimmed();
}

void SmtpDialogue::serverLine(const QByteArray& line)
{
    m_transcript << QStringLiteral("S: ") + QString::fromUtf8(line);
    m_replied = true;
    if (m_quitting || line.size() < 3 ||
        !std::all_of(line.cbegin(), line.cbegin() + 3, [](char c) { return c >= '0' && c <= '9'; })) {
        return;
    }
    if (line.size() > 3 && line[3] != ' ') {
        return; // "250-..." : more lines of this reply follow
    }
    m_lastCode = line.left(3).toInt();
    m_lastReply = line;
    m_errorReply = m_lastCode >= 400 ? line : QByteArray();
    m_credentials = m_lastCode == 334;
}

void SmtpDialogue::clientLine(const QByteArray& line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    if (m_quitting || verb == "QUIT") {
        // After a failure libcurl says goodbye; the failure's reply stays the one to report.
        m_transcript << QStringLiteral("C: ") + QString::fromUtf8(line);
        m_quitting = true;
        return;
    }
    m_errorReply.clear();
    if (m_credentials) {
        m_transcript << QStringLiteral("C: (credentials not logged)");
        return;
    }
    if (verb == "AUTH") {
        const QList<QByteArray> words = line.split(' ');
        m_transcript << QStringLiteral("C: AUTH ") + QString::fromLatin1(words.value(1)) +
                            (words.size() > 2 ? QStringLiteral(" (credentials not logged)") : QString());
    } else {
        m_transcript << QStringLiteral("C: ") + QString::fromUtf8(line);
    }
    m_lastCommand = verb;
    m_mailStarted = m_mailStarted || verb == "MAIL";
}
