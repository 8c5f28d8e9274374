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

// The one mapping between client and picture pixels, on one axis where the picture's N pixels
// are drawn L client pixels long, in exact 64-bit integers. Every operand is non-negative, so
// each division is both floor and truncation toward zero, and nothing is rounded first: a
// floating-point quotient rounded before its product puts many whole numbers just below
// themselves (300 × (49 ÷ 300) truncates to 48), and so selects the pixel to the left even on
// a picture shown at its own size.
//
// The picture coordinate under client position c: (c × N) div L. The drawing takes each client
// pixel's colour from it and a click selects it, so the pixel shown is the pixel clicked. An
// axis drawn 0 pixels long maps every position to 0.
qint32 pictureCoordinate(qint32 clientPos, qint32 drawnLength, qint32 pictureLength);

// The client position of picture coordinate k's top-left corner, scaled: (k × L) div N, the
// client pixel that holds the corner. The cross cursor stands there; k = N gives L, one past
// the picture's last client pixel.
qint32 clientPosition(qint32 pictureCoord, qint32 pictureLength, qint32 drawnLength);

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
