#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QRect>

#include <cmath>

// The dialogs were laid out in twips; 15 twips make one device-independent
// pixel, which Qt scales for high-DPI screens.
namespace DialogGeometry {

constexpr double kTwipsPerPixel = 15.0;

// Nearest whole pixel, ties to even.
inline int Px(double twips)
{
    return static_cast<int>(std::nearbyint(twips / kTwipsPerPixel));
}

inline QRect Rect(double left, double top, double width, double height)
{
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

// How much taller a line of the font is than one of the 8-point font the twip
// layouts were drawn for, and never less than 1: a larger desktop font gets
// proportionally larger controls instead of cut-off captions.
inline double FontScale(const QFont& font)
{
    QFont design = font;
    design.setPointSize(8);
    return qMax(1.0, QFontMetricsF(font).height() / QFontMetricsF(design).height());
}

inline QRect Rect(double left, double top, double width, double height, double scale)
{
    return Rect(left * scale, top * scale, width * scale, height * scale);
}

} // namespace DialogGeometry
