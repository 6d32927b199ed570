#pragma once

#include <QRect>

namespace skarnel {

// The window's geometry is drawn up in twips, 1440 to the inch. At 96 dots per inch 15 twips make
// one device-independent pixel, which Qt scales to the screen.
constexpr int TwipsPerPixel = 15;

constexpr int pixelsFromTwips(int twips)
{
    return (twips + (twips >= 0 ? TwipsPerPixel / 2 : -TwipsPerPixel / 2)) / TwipsPerPixel;
}

constexpr QRect rectFromTwips(int left, int top, int width, int height)
{
    return QRect(pixelsFromTwips(left), pixelsFromTwips(top), pixelsFromTwips(width),
                 pixelsFromTwips(height));
}

} // namespace skarnel
