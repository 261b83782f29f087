#include "dialogs/DialogParts.h"

#include "dialogs/DialogGeometry.h"
#include "support/GeneralUtility.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace DialogParts {

void UseDesign(QDialog* dialog, double widthTwips, double heightTwips)
{
    dialog->setModal(true);
    QFont designFont = dialog->font();
    designFont.setPointSize(8);
    dialog->setFont(designFont);
    dialog->setFixedSize(DialogGeometry::Px(widthTwips), DialogGeometry::Px(heightTwips));
}

void UseDesktopFont(QDialog* dialog, double widthTwips, double heightTwips)
{
    dialog->setModal(true);
    const double scale = DialogGeometry::FontScale(dialog->font());
    dialog->setFixedSize(DialogGeometry::Px(widthTwips * scale), DialogGeometry::Px(heightTwips * scale));
}

QLabel* NewNote(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = Named(new QLabel(text, parent), name, geometry);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    font.setItalic(true);
    label->setFont(font);
    // Where "Arial" is a metric-compatible font (Liberation Sans, Nimbus Sans) its
    // line is taller than the design's row: the note grows rather than being cut.
    label->resize(label->width(), qMax(label->height(), label->fontMetrics().height()));
    return label;
}

void FitDigits(QLineEdit* box)
{
    // The text sits inside the frame and a small margin on either side.
    const int padding = 2 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box) + 8;
    const int need = box->fontMetrics().horizontalAdvance(QString(box->maxLength(), QLatin1Char('9'))) + padding;
    box->resize(qMax(box->width(), need), box->height());
}

int TypedCode(const QKeyEvent* key)
{
    const QString text = key->text();
    const bool typed = text.size() == 1 && text.at(0).isPrint() &&
                       !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    return typed ? text.at(0).unicode() : 0;
}

bool FilterTyped(QLineEdit* box, int code, int mode)
{
    const int kept = GeneralUtility::FilterKeyPress(code, mode);
    if (kept == code) {
        return false;
    }
    if (kept != 0) {
        box->insert(QString(QChar(kept)));
    }
    return true;
}

double LeadingNumber(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    while (p != end && *p == ' ') {
        ++p;
    }
    double sign = 1;
    if (p != end && (*p == '+' || *p == '-')) {
        sign = *p == '-' ? -1 : 1;
        ++p;
    }
    // from_chars would take a second sign and "inf" or "nan"; none of them is a count.
    if (p == end || !(std::isdigit(static_cast<unsigned char>(*p)) || *p == '.')) {
        return 0;
    }
    double value = 0;
    const auto [last, error] = std::from_chars(p, end, value, std::chars_format::fixed);
    return error == std::errc() && std::isfinite(value) ? sign * value : 0;
}

qint32 WholeNumber(double value)
{
    const double rounded = std::nearbyint(value);
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(rounded < lowest ? lowest : rounded > highest ? highest : rounded);
}

} // namespace DialogParts
