#include "support/DatePattern.h"

#include "support/Clock.h"

#include <QDate>
#include <QTime>

namespace {

QChar lower(QChar c)
{
    return c.toLower();
}

// How many times the character at i repeats (case-insensitively), at most limit.
qsizetype runLength(QStringView text, qsizetype i, qsizetype limit)
{
    const QChar c = lower(text.at(i));
    qsizetype n = 0;
    while (i + n < text.size() && n < limit && lower(text.at(i + n)) == c) {
        ++n;
    }
    return n;
}

bool matchesAt(QStringView text, qsizetype i, QLatin1StringView word)
{
    return text.mid(i).startsWith(word, Qt::CaseInsensitive);
}

// The length of an AM/PM designator token at i, or 0.
qsizetype designatorAt(QStringView text, qsizetype i)
{
    if (matchesAt(text, i, QLatin1StringView("am/pm"))) {
        return 5;
    }
    if (matchesAt(text, i, QLatin1StringView("ampm"))) {
        return 4;
    }
    if (matchesAt(text, i, QLatin1StringView("a/p"))) {
        return 3;
    }
    return 0;
}

// True when the pattern holds a designator outside quotes and escapes: hours then run 1..12.
bool hasDesignator(QStringView pattern)
{
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\\')) {
            ++i;
        } else if (c == QLatin1Char('"')) {
            const qsizetype close = pattern.indexOf(QLatin1Char('"'), i + 1);
            i = close < 0 ? pattern.size() : close;
        } else if (designatorAt(pattern, i) > 0) {
            return true;
        }
    }
    return false;
}

QString padded(int value, int width)
{
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

QChar firstSeparator(const QString& format)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && !c.isLetter() && !c.isSpace()) {
            return c;
        }
    }
    return QChar();
}

QString generalDate(const QDate& date, const QTime& time, const QLocale& locale)
{
    const QString shortDate = locale.toString(date, QLocale::ShortFormat);
    if (time == QTime(0, 0)) {
        return shortDate;
    }
    return shortDate + QLatin1Char(' ') + locale.toString(time, DatePattern::LongTimeFormat(locale));
}

} // namespace

QString DatePattern::LongTimeFormat(const QLocale& locale)
{
    // Drops the zone ("t" runs outside quotes) and the spaces around it.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        out += c;
    }
    out = out.trimmed();
    return out.isEmpty() ? QStringLiteral("HH:mm:ss") : out;
}

QChar DatePattern::DateSeparator(const QLocale& locale)
{
    const QChar c = firstSeparator(locale.dateFormat(QLocale::ShortFormat));
    return c.isNull() ? QLatin1Char('/') : c;
}

QChar DatePattern::TimeSeparator(const QLocale& locale)
{
    const QChar c = firstSeparator(locale.timeFormat(QLocale::ShortFormat));
    return c.isNull() ? QLatin1Char(':') : c;
}

QString DatePattern::Render(QStringView pattern, const CivilTime& moment, const QLocale& locale)
{
    const QDate date(moment.Year, moment.Month, moment.Day);
    const QTime time(moment.Hour, moment.Minute, moment.Second);
    if (pattern.isEmpty()) {
        return generalDate(date, time, locale);
    }
    const bool twelveHour = hasDesignator(pattern);
    const int qtWeekday = moment.DayOfWeek == 1 ? 7 : moment.DayOfWeek - 1; // Qt counts Monday = 1
    QString out;
    out.reserve(pattern.size() + 16);
    bool afterHour = false; // "m" right after an hour token means minutes

    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        const QChar l = lower(c);
        if (c == QLatin1Char('\\')) {
            if (i + 1 < pattern.size()) {
                out += pattern.at(i + 1);
            }
            i += 2;
            continue;
        }
        if (c == QLatin1Char('"')) {
            const qsizetype close = pattern.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? pattern.size() : close;
            out += pattern.mid(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (const qsizetype len = designatorAt(pattern, i); len > 0) {
            const bool pm = moment.Hour >= 12;
            if (len == 4) {
                out += pm ? locale.pmText() : locale.amText();
            } else if (len == 5) {
                out += pattern.mid(pm ? i + 3 : i, 2);
            } else {
                out += pattern.at(pm ? i + 2 : i);
            }
            i += len;
            afterHour = false;
            continue;
        }
        if (c == QLatin1Char('/')) {
            out += DateSeparator(locale);
            ++i;
            continue;
        }
        if (c == QLatin1Char(':')) {
            out += TimeSeparator(locale);
            ++i;
            continue;
        }

        qsizetype used = 1;
        bool hourToken = false;
        switch (l.unicode()) {
        case 'd':
            used = runLength(pattern, i, 6);
            switch (used) {
            case 1:
                out += QString::number(moment.Day);
                break;
            case 2:
                out += padded(moment.Day, 2);
                break;
            case 3:
                out += locale.dayName(qtWeekday, QLocale::ShortFormat);
                break;
            case 4:
                out += locale.dayName(qtWeekday, QLocale::LongFormat);
                break;
            case 5:
                out += locale.toString(date, QLocale::ShortFormat);
                break;
            default:
                out += locale.toString(date, QLocale::LongFormat);
                break;
            }
            break;
        case 'w':
            used = runLength(pattern, i, 2);
            if (used == 1) {
                out += QString::number(moment.DayOfWeek);
            } else {
                // Weeks start on Sunday; week 1 holds 1 January.
                const int jan1 = ((moment.DayOfWeek - 1 - (moment.DayOfYear - 1)) % 7 + 7) % 7;
                out += QString::number((moment.DayOfYear - 1 + jan1) / 7 + 1);
            }
            break;
        case 'm':
            used = runLength(pattern, i, 4);
            if (used <= 2 && afterHour) {
                out += used == 1 ? QString::number(moment.Minute) : padded(moment.Minute, 2);
            } else if (used == 1) {
                out += QString::number(moment.Month);
            } else if (used == 2) {
                out += padded(moment.Month, 2);
            } else {
                out += locale.monthName(moment.Month, used == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            }
            break;
        case 'q':
            out += QString::number((moment.Month - 1) / 3 + 1);
            break;
        case 'y':
            used = runLength(pattern, i, 4);
            if (used == 4) {
                out += padded(moment.Year, 4);
            } else if (used >= 2) {
                used = 2;
                out += padded(((moment.Year % 100) + 100) % 100, 2);
            } else {
                out += QString::number(moment.DayOfYear);
            }
            break;
        case 'h': {
            used = runLength(pattern, i, 2);
            int hour = moment.Hour;
            if (twelveHour) {
                hour %= 12;
                hour = hour == 0 ? 12 : hour;
            }
            out += used == 1 ? QString::number(hour) : padded(hour, 2);
            hourToken = true;
            break;
        }
        case 'n':
            used = runLength(pattern, i, 2);
            out += used == 1 ? QString::number(moment.Minute) : padded(moment.Minute, 2);
            break;
        case 's':
            used = runLength(pattern, i, 2);
            out += used == 1 ? QString::number(moment.Second) : padded(moment.Second, 2);
            break;
        case 't':
            if (runLength(pattern, i, 5) == 5) {
                used = 5;
                out += locale.toString(time, LongTimeFormat(locale));
            } else {
                out += c;
                i += 1;
                continue; // a lone "t" is plain text
            }
            break;
        case 'c':
            out += generalDate(date, time, locale);
            break;
        default:
            out += c;
            i += 1;
            continue; // plain text does not end the "after an hour" state
        }
        afterHour = hourToken;
        i += used;
    }
    return out;
}

QString DatePattern::Render(QStringView pattern, const CivilTime& moment)
{
    return Render(pattern, moment, QLocale::system());
}

QString DatePattern::ExpandName(const QString& rawName)
{
    // Most names hold no template; they need no locale (which is not free to get).
    if (!rawName.contains(QLatin1Char('#'))) {
        return rawName;
    }
    return ExpandName(rawName, QLocale::system());
}

QString DatePattern::ExpandName(const QString& rawName, const QLocale& locale)
{
    QString working = rawName;
    qsizetype from = working.indexOf(QLatin1Char('#'));
    while (from >= 0) {
        const qsizetype close = working.indexOf(QLatin1Char('#'), from + 1);
        if (close < 0) {
            break; // a '#' without a partner: the rest stays as written
        }
        const QString templateText = working.mid(from + 1, close - from - 1);
        const bool utc = !templateText.isEmpty() && lower(templateText.back()) == QLatin1Char('z');
        const QStringView pattern = utc ? QStringView(templateText).chopped(1) : QStringView(templateText);

        // The moment is taken afresh for each template.
        CivilTime moment;
        if (!CivilTime::FromEpochMSecs(Clock::Current().NowMSecsSinceEpoch(), utc, moment)) {
            moment = CivilTime {};
        }
        const QString rendered = Render(pattern, moment, locale);

        // Every occurrence of the whole token from here on is replaced; the
        // search goes on after the rendered text, so a '#' a pattern renders
        // literally is not read as the start of another template.
        const QString token = QLatin1Char('#') + templateText + QLatin1Char('#');
        QString tail = working.mid(from);
        tail.replace(token, rendered);
        working.truncate(from);
        working += tail;
        from = working.indexOf(QLatin1Char('#'), from + rendered.size());
    }
    return working;
}
