#pragma once

#include "support/CivilTime.h"

#include <QLocale>
#include <QString>
#include <QStringView>

// Date patterns between '#' signs in monitored file names ("c:\MyFile.#YYYY-MM-DD#.log").
class DatePattern
{
public:
    // Renders a moment with a pattern; letters are case-insensitive, weeks start on
    // Sunday and week 1 holds 1 January. An empty pattern gives the general date.
    [[nodiscard]] static QString Render(QStringView pattern, const CivilTime& moment, const QLocale& locale);
    [[nodiscard]] static QString Render(QStringView pattern, const CivilTime& moment);

    // Expands every #pattern# of a name for the current moment (a trailing z or Z
    // in a pattern selects UTC). A '#' without a partner and everything after it
    // stays as written.
    [[nodiscard]] static QString ExpandName(const QString& rawName);
    [[nodiscard]] static QString ExpandName(const QString& rawName, const QLocale& locale);

    // The locale's parts the patterns use: its long time format without the
    // time-zone name, and the separators of its short date and time formats.
    [[nodiscard]] static QString LongTimeFormat(const QLocale& locale);
    [[nodiscard]] static QChar DateSeparator(const QLocale& locale);
    [[nodiscard]] static QChar TimeSeparator(const QLocale& locale);
};
