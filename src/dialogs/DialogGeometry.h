#pragma once

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

} // namespace DialogGeometry
