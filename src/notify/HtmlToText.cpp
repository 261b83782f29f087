#include "notify/HtmlToText.h"

#include <QHash>

namespace {

const QHash<QString, char32_t>& namedEntities()
{
    static const QHash<QString, char32_t> table = {
        {QStringLiteral("amp"), U'&'},    {QStringLiteral("lt"), U'<'},     {QStringLiteral("gt"), U'>'},
        {QStringLiteral("quot"), U'"'},   {QStringLiteral("apos"), U'\''},  {QStringLiteral("nbsp"), U'\u00A0'},
        {QStringLiteral("copy"), U'©'},   {QStringLiteral("reg"), U'®'},    {QStringLiteral("trade"), U'™'},
        {QStringLiteral("euro"), U'€'},   {QStringLiteral("pound"), U'£'},  {QStringLiteral("yen"), U'¥'},
        {QStringLiteral("cent"), U'¢'},   {QStringLiteral("sect"), U'§'},   {QStringLiteral("deg"), U'°'},
        {QStringLiteral("middot"), U'·'}, {QStringLiteral("bull"), U'•'},   {QStringLiteral("hellip"), U'…'},
        {QStringLiteral("ndash"), U'–'},  {QStringLiteral("mdash"), U'—'},  {QStringLiteral("lsquo"), U'‘'},
        {QStringLiteral("rsquo"), U'’'},  {QStringLiteral("ldquo"), U'“'},  {QStringLiteral("rdquo"), U'”'},
        {QStringLiteral("laquo"), U'«'},  {QStringLiteral("raquo"), U'»'},  {QStringLiteral("times"), U'×'},
        {QStringLiteral("divide"), U'÷'}, {QStringLiteral("plusmn"), U'±'}, {QStringLiteral("micro"), U'µ'},
        {QStringLiteral("para"), U'¶'},   {QStringLiteral("iexcl"), U'¡'},  {QStringLiteral("iquest"), U'¿'},
        {QStringLiteral("auml"), U'ä'},   {QStringLiteral("ouml"), U'ö'},   {QStringLiteral("uuml"), U'ü'},
        {QStringLiteral("Auml"), U'Ä'},   {QStringLiteral("Ouml"), U'Ö'},   {QStringLiteral("Uuml"), U'Ü'},
        {QStringLiteral("szlig"), U'ß'},  {QStringLiteral("eacute"), U'é'}, {QStringLiteral("egrave"), U'è'},
        {QStringLiteral("aacute"), U'á'}, {QStringLiteral("agrave"), U'à'}, {QStringLiteral("ccedil"), U'ç'},
        {QStringLiteral("ntilde"), U'ñ'}, {QStringLiteral("oacute"), U'ó'}, {QStringLiteral("uacute"), U'ú'},
        {QStringLiteral("iacute"), U'í'}, {QStringLiteral("Eacute"), U'É'}, {QStringLiteral("ecirc"), U'ê'},
    };
    return table;
}

void appendCodePoint(QString& out, char32_t cp)
{
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        out += QChar(QChar::ReplacementCharacter);
        return;
    }
    if (QChar::requiresSurrogates(cp)) {
        out += QChar(QChar::highSurrogate(cp));
        out += QChar(QChar::lowSurrogate(cp));
    } else {
        out += QChar(static_cast<char16_t>(cp));
    }
}

// Elements whose content is never shown.
bool isHiddenElement(QStringView name)
{
    return name.compare(u"script", Qt::CaseInsensitive) == 0 || name.compare(u"style", Qt::CaseInsensitive) == 0 ||
           name.compare(u"head", Qt::CaseInsensitive) == 0 || name.compare(u"title", Qt::CaseInsensitive) == 0;
}

bool isBlockElement(QStringView name)
{
    static const char16_t* const blocks[] = {u"p",  u"div",  u"br",      u"tr",         u"li",     u"h1",
                                             u"h2", u"h3",   u"h4",      u"h5",         u"h6",     u"table",
                                             u"ul", u"ol",   u"pre",     u"blockquote", u"hr",     u"dt",
                                             u"dd", u"body", u"section", u"article",    u"header", u"footer"};
    for (const char16_t* b : blocks) {
        if (name.compare(QStringView(b), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

bool isLineElement(QStringView name)
{
    for (const char16_t* line : {u"tr", u"li", u"dt", u"dd"}) {
        if (name.compare(QStringView(line), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

QString HtmlToText::DecodeEntities(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            out += c;
            continue;
        }
        // Look no further than the longest entity, so a run of '&' stays linear.
        const qsizetype semi = text.mid(i + 1, 12).indexOf(QLatin1Char(';')) + i + 1;
        if (semi == i) {
            out += c;
            continue;
        }
        const QStringView name = text.mid(i + 1, semi - i - 1);
        bool decoded = false;
        if (name.startsWith(QLatin1Char('#')) && name.size() > 1) {
            bool ok = false;
            const bool hex = name.size() > 2 && (name[1] == QLatin1Char('x') || name[1] == QLatin1Char('X'));
            const uint cp = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok) {
                appendCodePoint(out, cp);
                decoded = true;
            }
        } else {
            const auto it = namedEntities().constFind(name.toString());
            if (it != namedEntities().constEnd()) {
                appendCodePoint(out, it.value());
                decoded = true;
            }
        }
        if (decoded) {
            i = semi;
        } else {
            out += c;
        }
    }
    return out;
}

QString HtmlToText::Convert(QStringView html)
{
    // Text between tags, with runs of white space folded as a browser does.
    QString raw;
    raw.reserve(html.size());
    bool pendingSpace = false;
    bool preformatted = false;
    qsizetype hiddenUntil = -1;
    // A table row reads "label: value", any further cells after a tab; the separator waits for the cell's text.
    qsizetype cellStart = -1;
    int filledCells = 0;
    QLatin1StringView separator;
    // Ends the line; a paragraph also leaves one blank line, a table row or list item does not.
    const auto newline = [&](bool paragraph) {
        while (raw.endsWith(QLatin1Char(' '))) {
            raw.chop(1);
        }
        if (!raw.isEmpty() && !raw.endsWith(paragraph ? QStringView(u"\n\n") : QStringView(u"\n"))) {
            raw += QLatin1Char('\n');
        }
        pendingSpace = false;
        cellStart = -1;
        filledCells = 0;
        separator = {};
    };
    for (qsizetype i = 0; i < html.size();) {
        const QChar c = html[i];
        if (c == QLatin1Char('<')) {
            if (html.mid(i, 4) == u"<!--") {
                const qsizetype end = html.indexOf(u"-->", i + 4);
                i = end < 0 ? html.size() : end + 3;
                continue;
            }
            const qsizetype end = html.indexOf(QLatin1Char('>'), i + 1);
            if (end < 0) {
                break; // an unfinished tag ends the text
            }
            QStringView tag = html.mid(i + 1, end - i - 1).trimmed();
            const bool closing = tag.startsWith(QLatin1Char('/'));
            if (closing) {
                tag = tag.mid(1);
            }
            qsizetype nameEnd = 0;
            while (nameEnd < tag.size() && (tag[nameEnd].isLetterOrNumber())) {
                ++nameEnd;
            }
            const QStringView name = tag.left(nameEnd);
            i = end + 1;
            if (!closing && isHiddenElement(name)) {
                // Skip to the matching close tag.
                const QString close = QStringLiteral("</") + name.toString();
                hiddenUntil = html.indexOf(close, i, Qt::CaseInsensitive);
                if (hiddenUntil < 0) {
                    break;
                }
                const qsizetype after = html.indexOf(QLatin1Char('>'), hiddenUntil);
                i = after < 0 ? html.size() : after + 1;
                continue;
            }
            if (name.compare(u"pre", Qt::CaseInsensitive) == 0) {
                preformatted = !closing;
            }
            if (name.compare(u"td", Qt::CaseInsensitive) == 0 || name.compare(u"th", Qt::CaseInsensitive) == 0) {
                if (!closing) {
                    if (cellStart >= 0 && raw.size() > cellStart && ++filledCells == 1) {
                        separator = raw.endsWith(QLatin1Char(':')) ? QLatin1StringView(" ") : QLatin1StringView(": ");
                    } else if (filledCells > 1) {
                        separator = QLatin1StringView("\t");
                    }
                    pendingSpace = !raw.isEmpty() && !raw.endsWith(QLatin1Char('\n'));
                    cellStart = raw.size();
                }
            } else if (isBlockElement(name)) {
                newline(!isLineElement(name));
                if (!closing && name.compare(u"li", Qt::CaseInsensitive) == 0) {
                    raw += QStringLiteral("- ");
                }
            }
            continue;
        }
        if (!preformatted && c.isSpace()) {
            pendingSpace = !raw.isEmpty() && !raw.endsWith(QLatin1Char('\n'));
            ++i;
            continue;
        }
        if (!separator.isEmpty()) {
            raw += separator;
            separator = {};
        } else if (pendingSpace) {
            raw += QLatin1Char(' ');
        }
        pendingSpace = false;
        raw += c;
        ++i;
    }
    QString text = DecodeEntities(raw);
    text.replace(QChar(0x00A0), QLatin1Char(' '));
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char(' '))) {
        text.chop(1);
    }
    return text;
}
