#include "support/IniDocument.h"

#include <QHash>

#include <cstring>
#include <vector>

namespace {

enum class LineKind : quint8 { Blank, Comment, Header, Key, Other, Removed };

// A line points into the parsed bytes until it is written; then start is the
// index of its own text in the document's written texts. A removed line stays
// as a tombstone so that the indexes of the lines after it stay valid. Kept
// small: a profile of thousands of files has tens of thousands of lines.
struct Line
{
    qsizetype start = 0;
    qsizetype size = 0;
    LineKind kind = LineKind::Other;
    bool owned = false;
};

struct Section
{
    // lines[0] is the header, except in the part before the first header.
    std::vector<Line> lines;
    // Folded key name -> index of its first line; built on the first lookup in
    // a section of more than kIndexedLines lines. Smaller sections (a watched
    // file's has a handful of keys) are searched line by line, which is as
    // fast and saves a table in each of thousands of sections.
    QHash<QString, qsizetype> keys;
    bool indexed = false;
    bool duplicates = false;
    // The document's change count at this section's last change.
    quint64 version = 0;
};

constexpr QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

constexpr size_t kIndexedLines = 16;

// QString::fromUtf8 drops a leading byte order mark; here it is text like any other.
[[nodiscard]] QString decodeUtf8(QByteArrayView bytes)
{
    qsizetype marks = 0;
    while (bytes.startsWith(kByteOrderMark)) {
        bytes = bytes.sliced(kByteOrderMark.size());
        ++marks;
    }
    const QString rest = QString::fromUtf8(bytes);
    return marks == 0 ? rest : QString(marks, QChar(0xFEFF)) + rest;
}

[[nodiscard]] bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

[[nodiscard]] QByteArrayView trimBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// The line without its LF, CRLF or (on the last line) lone CR.
[[nodiscard]] QByteArrayView content(QByteArrayView line)
{
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

[[nodiscard]] QByteArrayView terminator(QByteArrayView line)
{
    return line.sliced(content(line).size());
}

[[nodiscard]] LineKind classify(QByteArrayView text, QByteArrayView* headerName)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    if (i == text.size()) {
        return LineKind::Blank;
    }
    const char first = text[i];
    if (first == '[') {
        const qsizetype close = text.indexOf(']', i + 1);
        if (close < 0) {
            return LineKind::Other;
        }
        *headerName = trimBlanks(text.sliced(i + 1, close - i - 1));
        return LineKind::Header;
    }
    if (first == ';' || first == '#') {
        return LineKind::Comment;
    }
    return text.indexOf('=', i) >= 0 ? LineKind::Key : LineKind::Other;
}

[[nodiscard]] QByteArrayView keyBytes(QByteArrayView text)
{
    return trimBlanks(text.first(text.indexOf('=')));
}

[[nodiscard]] QString decodeValue(QByteArrayView text)
{
    QByteArrayView value = trimBlanks(text.sliced(text.indexOf('=') + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.sliced(1, value.size() - 2);
    }
    return decodeUtf8(value);
}

// Line breaks and NUL become spaces so that no text can add lines; lone
// surrogates go through UTF-8 once so the text equals what reads back.
[[nodiscard]] QString cleanText(QStringView text)
{
    QString result = text.toString();
    bool surrogates = false;
    for (QChar& c : result) {
        if (c == u'\r' || c == u'\n' || c == u'\0') {
            c = u' ';
        } else if (c.isSurrogate()) {
            surrogates = true;
        }
    }
    if (surrogates) {
        result = decodeUtf8(result.toUtf8());
    }
    return result;
}

[[nodiscard]] QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) {
        --end;
    }
    return begin == 0 && end == text.size() ? text : text.sliced(begin, end - begin);
}

[[nodiscard]] QString cleanName(QStringView name)
{
    return trimBlanks(cleanText(name));
}

[[nodiscard]] char16_t codeOf(QChar c)
{
    return c.unicode();
}

[[nodiscard]] char16_t codeOf(char c)
{
    return char16_t(quint8(c));
}

// Plain ASCII names, the usual case, fold in one pass; others take the general path.
template<typename View>
[[nodiscard]] std::optional<QString> foldedAscii(View name)
{
    qsizetype begin = 0;
    qsizetype end = name.size();
    while (begin < end && (codeOf(name[begin]) == u' ' || codeOf(name[begin]) == u'\t')) {
        ++begin;
    }
    while (end > begin && (codeOf(name[end - 1]) == u' ' || codeOf(name[end - 1]) == u'\t')) {
        --end;
    }
    QString folded(end - begin, Qt::Uninitialized);
    QChar* out = folded.data();
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = codeOf(name[i]);
        if (c >= 0x80 || c == u'\r' || c == u'\n' || c == 0) {
            return std::nullopt;
        }
        *out++ = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c);
    }
    return folded;
}

[[nodiscard]] QString foldedName(QStringView name)
{
    if (std::optional<QString> folded = foldedAscii(name)) {
        return *std::move(folded);
    }
    return cleanName(name).toCaseFolded();
}

[[nodiscard]] QString foldedName(QByteArrayView name)
{
    if (std::optional<QString> folded = foldedAscii(name)) {
        return *std::move(folded);
    }
    return foldedName(QStringView(decodeUtf8(name)));
}

// Whether a key's bytes (blanks trimmed) fold to the folded name, without
// building the folded text in the usual case of a plain ASCII name.
[[nodiscard]] bool sameKey(QByteArrayView key, const QString& folded)
{
    bool plain = true;
    for (const char c : key) {
        // Line breaks inside a key read as blanks, as foldedName() has them.
        if (static_cast<quint8>(c) >= 0x80 || c == 0 || c == '\r' || c == '\n') {
            plain = false;
            break;
        }
    }
    if (!plain) {
        return foldedName(key) == folded;
    }
    if (key.size() != folded.size()) {
        return false;
    }
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char c = key[i];
        const char lower = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
        if (folded[i].unicode() != char16_t(quint8(lower))) {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool validKey(const QString& key)
{
    return !key.contains(u'=') && !key.startsWith(u';') && !key.startsWith(u'#') && !key.startsWith(u'[');
}

[[nodiscard]] bool validSection(const QString& section)
{
    return !section.contains(u']');
}

// Quotes keep blanks at either end, and a value already in quotes, through a read.
[[nodiscard]] QByteArray encodeValue(const QString& value)
{
    QByteArray bytes = value.toUtf8();
    const bool quote = !bytes.isEmpty() && (isBlank(bytes.front()) || isBlank(bytes.back()) ||
                                            (bytes.size() >= 2 && bytes.front() == '"' && bytes.back() == '"'));
    if (quote) {
        bytes.prepend('"');
        bytes.append('"');
    }
    return bytes;
}

} // namespace

struct IniDocument::Data
{
    QByteArray source;
    // The texts of the lines written since the parse.
    std::vector<QByteArray> texts;
    // sections[0] holds the lines before the first header; it is never matched.
    std::vector<Section> sections;
    // Folded section name -> index of its first section.
    QHash<QString, qsizetype> index;
    QByteArray newline = QByteArrayLiteral("\n");
    qsizetype size = 0;
    // Changes to any section's keys since the text was parsed.
    quint64 changes = 0;
    bool modified = false;

    [[nodiscard]] QByteArrayView bytes(const Line& line) const
    {
        return line.owned ? QByteArrayView(texts[size_t(line.start)])
                          : QByteArrayView(source.constData() + line.start, line.size);
    }

    void setText(Line& line, QByteArray text)
    {
        size += text.size() - bytes(line).size();
        own(line, std::move(text));
        modified = true;
    }

    void own(Line& line, QByteArray text)
    {
        if (line.owned) {
            texts[size_t(line.start)] = std::move(text);
            return;
        }
        line.start = qsizetype(texts.size());
        line.size = 0;
        texts.push_back(std::move(text));
        line.owned = true;
    }

    void ensureTerminated(Line& line)
    {
        const QByteArrayView text = bytes(line);
        if (text.endsWith('\r')) {
            // Completes the CRLF instead of adding a break the CR would join.
            setText(line, text.toByteArray() + '\n');
        } else if (!text.endsWith('\n')) {
            setText(line, text.toByteArray() + newline);
        }
    }

    // Builds the key table of a large section; false for a small one, which is searched instead.
    bool ensureIndexed(Section& section) const
    {
        if (section.indexed) {
            return true;
        }
        if (section.lines.size() <= kIndexedLines) {
            return false;
        }
        for (qsizetype i = 1; i < qsizetype(section.lines.size()); ++i) {
            const Line& line = section.lines[size_t(i)];
            if (line.kind != LineKind::Key) {
                continue;
            }
            const QString name = foldedName(keyBytes(content(bytes(line))));
            if (section.keys.contains(name)) {
                section.duplicates = true;
            } else {
                section.keys.insert(name, i);
            }
        }
        section.indexed = true;
        return true;
    }

    [[nodiscard]] Section* findSection(const QString& folded)
    {
        const auto it = index.constFind(folded);
        return it == index.cend() ? nullptr : &sections[size_t(*it)];
    }

    [[nodiscard]] qsizetype findKey(Section& section, const QString& folded) const
    {
        if (ensureIndexed(section)) {
            return section.keys.value(folded, -1);
        }
        for (qsizetype i = 1; i < qsizetype(section.lines.size()); ++i) {
            const Line& line = section.lines[size_t(i)];
            if (line.kind == LineKind::Key && sameKey(keyBytes(content(bytes(line))), folded)) {
                return i;
            }
        }
        return -1;
    }

    [[nodiscard]] Line makeLine(QByteArray text, LineKind kind)
    {
        size += text.size();
        modified = true;
        Line line;
        own(line, std::move(text));
        line.kind = kind;
        return line;
    }

    [[nodiscard]] Line* lastLine()
    {
        for (auto section = sections.rbegin(); section != sections.rend(); ++section) {
            for (auto line = section->lines.rbegin(); line != section->lines.rend(); ++line) {
                if (line->kind != LineKind::Removed) {
                    return &*line;
                }
            }
        }
        return nullptr;
    }
};

IniDocument::IniDocument()
    : d(std::make_unique<Data>())
{
    d->sections.emplace_back();
}
IniDocument::~IniDocument() = default;
IniDocument::IniDocument(const IniDocument& other)
    : d(std::make_unique<Data>(*other.d))
{ }
IniDocument& IniDocument::operator=(const IniDocument& other)
{
    if (this != &other) {
        d = std::make_unique<Data>(*other.d);
    }
    return *this;
}
IniDocument::IniDocument(IniDocument&&) noexcept = default;
IniDocument& IniDocument::operator=(IniDocument&&) noexcept = default;

IniDocument IniDocument::Parse(QByteArrayView bytes)
{
    IniDocument doc;
    Data& d = *doc.d;
    d.source = bytes.toByteArray();
    d.size = d.source.size();
    const char* base = d.source.constData();
    const qsizetype total = d.source.size();
    qsizetype pos = 0;
    while (pos < total) {
        const auto* lf = static_cast<const char*>(std::memchr(base + pos, '\n', size_t(total - pos)));
        const qsizetype end = lf ? lf - base + 1 : total;
        Line line;
        line.start = pos;
        line.size = end - pos;
        const QByteArrayView raw(base + pos, end - pos);
        QByteArrayView text = content(raw);
        if (pos == 0) {
            if (raw.endsWith("\r\n")) {
                d.newline = QByteArrayLiteral("\r\n");
            }
            // Editors on Windows start UTF-8 files with a byte order mark.
            if (text.startsWith(kByteOrderMark)) {
                text = text.sliced(kByteOrderMark.size());
            }
        }
        QByteArrayView name;
        line.kind = classify(text, &name);
        if (line.kind == LineKind::Header) {
            const auto sectionIndex = qsizetype(d.sections.size());
            d.sections.emplace_back();
            const QString folded = foldedName(name);
            if (!d.index.contains(folded)) {
                d.index.insert(folded, sectionIndex);
            }
        }
        d.sections.back().lines.push_back(line);
        pos = end;
    }
    // The document usually lives on in a cache; the growth room is not needed.
    d.sections.shrink_to_fit();
    return doc;
}

QByteArray IniDocument::Serialize() const
{
    if (!d->modified) {
        return d->source;
    }
    QByteArray out;
    out.reserve(d->size);
    for (const Section& section : d->sections) {
        for (const Line& line : section.lines) {
            if (line.kind != LineKind::Removed) {
                out.append(d->bytes(line));
            }
        }
    }
    return out;
}

bool IniDocument::LooksLikeIni() const
{
    bool known = false;
    bool unknown = false;
    for (const Section& section : d->sections) {
        for (const Line& line : section.lines) {
            if (line.kind == LineKind::Removed) {
                continue;
            }
            if (d->bytes(line).contains('\0')) {
                return false;
            }
            known =
                known || line.kind == LineKind::Header || line.kind == LineKind::Key || line.kind == LineKind::Comment;
            unknown = unknown || line.kind == LineKind::Other;
        }
    }
    return known || !unknown;
}

std::optional<QString> IniDocument::Value(QStringView section, QStringView key) const
{
    Section* found = d->findSection(foldedName(section));
    if (!found) {
        return std::nullopt;
    }
    const qsizetype line = d->findKey(*found, foldedName(key));
    if (line < 0) {
        return std::nullopt;
    }
    return decodeValue(content(d->bytes(found->lines[size_t(line)])));
}

std::optional<IniDocument::SectionMark> IniDocument::FindSection(QStringView section) const
{
    const auto it = d->index.constFind(foldedName(section));
    if (it == d->index.cend()) {
        return std::nullopt;
    }
    return SectionMark {*it, d->sections[size_t(*it)].version};
}

std::optional<quint64> IniDocument::SectionVersionAt(qsizetype place) const
{
    // Place 0 holds the lines before the first header, which no name finds.
    if (place <= 0 || size_t(place) >= d->sections.size()) {
        return std::nullopt;
    }
    return d->sections[size_t(place)].version;
}

bool IniDocument::CanWrite(QStringView section, QStringView key)
{
    // Names of plain printable ASCII need no cleaning and are checked in place.
    const auto plain = [](QStringView name) {
        if (name.isEmpty() || name.front() == u' ' || name.back() == u' ' || name.front() == u'\t' ||
            name.back() == u'\t') {
            return false;
        }
        for (const QChar c : name) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
                return false;
            }
        }
        return true;
    };
    if (plain(section) && plain(key)) {
        return !section.contains(u']') && !key.contains(u'=') && !key.startsWith(u';') && !key.startsWith(u'#') &&
               !key.startsWith(u'[');
    }
    return validSection(cleanName(section)) && validKey(cleanName(key));
}

bool IniDocument::SetValue(QStringView section, QStringView key, QStringView value)
{
    const QString sectionName = cleanName(section);
    const QString keyName = cleanName(key);
    if (!validSection(sectionName) || !validKey(keyName)) {
        return false;
    }
    const QString text = cleanText(value);
    const QString foldedSection = foldedName(sectionName);
    const QString foldedKey = foldedName(keyName);
    const QByteArray encoded = encodeValue(text);
    const auto keyLine = [&] { return keyName.toUtf8() + '=' + encoded + d->newline; };

    Section* found = d->findSection(foldedSection);
    if (!found) {
        if (Line* last = d->lastLine()) {
            d->ensureTerminated(*last);
        }
        Section& previous = d->sections.back();
        if (d->size > 0) {
            previous.lines.push_back(d->makeLine(d->newline, LineKind::Blank));
        }
        Section added;
        added.lines.push_back(d->makeLine('[' + sectionName.toUtf8() + ']' + d->newline, LineKind::Header));
        added.lines.push_back(d->makeLine(keyLine(), LineKind::Key));
        added.version = ++d->changes;
        d->index.insert(foldedSection, qsizetype(d->sections.size()));
        d->sections.push_back(std::move(added));
        return true;
    }

    const qsizetype existing = d->findKey(*found, foldedKey);
    if (existing >= 0) {
        Line& line = found->lines[size_t(existing)];
        const QByteArrayView old = d->bytes(line);
        // Most writes store what is there already: the bytes as this class
        // writes them are compared first, the decoded text only when they differ.
        const QByteArrayView oldContent = content(old);
        if (trimBlanks(oldContent.sliced(oldContent.indexOf('=') + 1)) == QByteArrayView(encoded) ||
            decodeValue(oldContent) == text) {
            return false;
        }
        // The key keeps the spelling it has in the file.
        d->setText(line, keyBytes(content(old)).toByteArray() + '=' + encoded + terminator(old).toByteArray());
        found->version = ++d->changes;
        return true;
    }

    // After the last line with content, so that blank lines keep separating sections.
    auto at = qsizetype(found->lines.size());
    while (at > 1 && (found->lines[size_t(at - 1)].kind == LineKind::Blank ||
                      found->lines[size_t(at - 1)].kind == LineKind::Removed)) {
        --at;
    }
    d->ensureTerminated(found->lines[size_t(at - 1)]);
    found->lines.insert(found->lines.begin() + at, d->makeLine(keyLine(), LineKind::Key));
    found->version = ++d->changes;
    // Only blank or removed lines follow, so no indexed key moves.
    if (found->indexed) {
        found->keys.insert(foldedKey, at);
    }
    return true;
}

bool IniDocument::RemoveKey(QStringView section, QStringView key)
{
    Section* found = d->findSection(foldedName(section));
    if (!found) {
        return false;
    }
    const QString foldedKey = foldedName(key);
    const qsizetype at = d->findKey(*found, foldedKey);
    if (at < 0) {
        return false;
    }
    Line& line = found->lines[size_t(at)];
    d->size -= d->bytes(line).size();
    d->modified = true;
    if (line.owned) {
        d->texts[size_t(line.start)] = QByteArray();
    }
    line.kind = LineKind::Removed;
    found->version = ++d->changes;
    if (!found->indexed) {
        return true; // the search finds the next duplicate, if any
    }
    found->keys.remove(foldedKey);
    if (found->duplicates) {
        // The next duplicate, if any, is now the first.
        for (qsizetype i = at + 1; i < qsizetype(found->lines.size()); ++i) {
            const Line& next = found->lines[size_t(i)];
            if (next.kind == LineKind::Key && foldedName(keyBytes(content(d->bytes(next)))) == foldedKey) {
                found->keys.insert(foldedKey, i);
                break;
            }
        }
    }
    return true;
}
