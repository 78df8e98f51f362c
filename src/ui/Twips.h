#pragma once

#include <QRect>

// Window layouts are designed in twips (1/1440 inch) at 15 twips to a logical pixel;
// Qt scales logical pixels to the screen, so high-DPI screens keep the proportions.
inline constexpr int TwipsPerPixel = 15;
constexpr int twips(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}
constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}
