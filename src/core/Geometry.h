#pragma once

#include <QtGlobal>

#include <cstdint>

// A colour laid out 0x00BBGGRR, red in the low byte: 0xFF0000 is pure blue.
using TColor = std::uint32_t;

// Left, Top, Right, Bottom in client pixels; Right and Bottom lie one past the last pixel.
struct TRect
{
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 Right = 0;
    qint32 Bottom = 0;

    friend bool operator==(const TRect &a, const TRect &b)
    {
        return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
    }
};

// The picture's W x H fitted into an AW x AH area, anchored top-left, aspect kept, scaled up
// or down so it fills the full width or the full height. Quotients truncate toward zero;
// products are 64-bit so that no picture size overflows.
TRect FitRect(qint32 areaWidth, qint32 areaHeight, qint32 pictureWidth, qint32 pictureHeight);

namespace geometry {

// Client position of the cross for picture coordinate `coord` on an axis of `pictureSize`
// pixels drawn `fittedSize` pixels long: trunc((coord / size) * fitted), in the 80-bit
// extended format, quotient first.
qint32 crossPosition(qint32 coord, qint32 pictureSize, qint32 fittedSize);

// Picture coordinate of a click at client position `clientPos` on an axis drawn `fittedSize`
// pixels long: trunc(size * (pos / fitted)), in the 80-bit extended format, quotient first.
// A zero-sized axis maps every click to 0 instead of dividing 0 by 0.
qint32 clickToPicture(qint32 clientPos, qint32 fittedSize, qint32 pictureSize);

// Step of the point for a click at magnifier-local position 0..319 on one axis: the offset of
// the magnified cell under the pointer from the point's own cell (which starts at 160).
constexpr int magnifierStep(int magnifierPos)
{
    return magnifierPos / 16 - 10;
}

// 0x00BBGGRR to 0xAARRGGBB and back.
constexpr unsigned int tcolorToRgb(TColor c)
{
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr TColor rgbToTColor(unsigned int rgb)
{
    return ((rgb >> 16) & 0xFFu) | (rgb & 0xFF00u) | ((rgb & 0xFFu) << 16);
}

} // namespace geometry
