#pragma once

#include <QString>
#include <QStringView>

// The plain-text rendering of an HTML body for the text part of a mail:
// tags dropped, entities decoded, block elements on lines of their own.
class HtmlToText
{
public:
    [[nodiscard]] static QString Convert(QStringView html);
    // "&amp;" → "&", "&#233;" → "é"; unknown entities stay as written.
    [[nodiscard]] static QString DecodeEntities(QStringView text);
};
