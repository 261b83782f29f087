// Monitored file names and stored date stamps: expanding any name terminates
// and keeps every character outside its templates; any stamp text reads back
// the same stamp after it is written again.

#include "support/Clock.h"
#include "support/DatePattern.h"
#include "support/DateTimeUtility.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QLocale locales[] = {
        QLocale::c(), QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates)};
    if (size > 4096) {
        return 0;
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QLocale& locale = locales[size % 3];

    // A moment somewhere between 1901 and 2100, picked by the input.
    qint64 msecs = 0;
    for (std::size_t i = 0; i < size && i < 6; ++i) {
        msecs = msecs * 257 + data[i];
    }
    FixedClock clock(msecs % (6311390400000LL) - 2177452800000LL);

    const QString expanded = DatePattern::ExpandName(text, locale);
    if (!text.contains(QLatin1Char('#'))) {
        require(expanded == text);
    }
    (void)DatePattern::Render(text, CivilTime {}, locale);

    const DateTimeStamp stamp = DateTimeUtility::ParseStamp(text);
    if (stamp.Day > 0) {
        const DateTimeStamp again = DateTimeUtility::ParseStamp(DateTimeUtility::FormatDateStamp(stamp));
        require(DateTimeUtility::SameStamp(again, stamp));
        (void)DateTimeUtility::StampToDate(stamp);
    }
    return 0;
}
