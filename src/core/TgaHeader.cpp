#include "core/TgaHeader.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace tgaheader {

namespace {

// Offsets of the header's fields.
constexpr int IdLength = 0, ColourMapType = 1, ImageType = 2, ColourMapFields = 3,
              ColourMapLength = 5, ColourMapDepth = 7, Width = 12, Height = 14, PixelDepth = 16,
              Descriptor = 17;

// Bytes a pixel of this image type and depth takes, 0 for a kind the loader does not read.
int bytesPerPixel(int imageType, int depth)
{
    constexpr int TrueColour = 2, Greyscale = 3;
    if ((imageType == TrueColour && (depth == 24 || depth == 32)) ||
        (imageType == Greyscale && (depth == 8 || depth == 16)))
        return depth / 8;
    return 0;
}

} // namespace

TTgaLayout layout(const uchar *head)
{
    qint64 colourMapBytes = 0;
    if (head[ColourMapType] == 1) {
        // Stepped over, not used: the pixels hold colours themselves.
        const int entryBits = head[ColourMapDepth];
        if (entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32)
            return {};
        colourMapBytes =
            qint64(qFromLittleEndian<quint16>(head + ColourMapLength)) * ((entryBits + 7) / 8);
    } else if (head[ColourMapType] != 0 ||
               std::any_of(head + ColourMapFields, head + ColourMapFields + 5,
                           [](uchar field) { return field != 0; })) {
        return {}; // without a colour map, its five bytes are 0
    }
    const int descriptor = head[Descriptor];
    const int width = qFromLittleEndian<quint16>(head + Width);
    const int height = qFromLittleEndian<quint16>(head + Height);
    const int bytes = bytesPerPixel(head[ImageType], head[PixelDepth]);
    // Bits 6 and 7 interleave the rows (TGA 1.0 only), which the loader does not undo.
    if (width == 0 || height == 0 || (descriptor & 0xC0) != 0)
        return {};
    return {width,
            height,
            bytes,
            (descriptor & 0x20) != 0,
            (descriptor & 0x10) != 0,
            HeaderSize + head[IdLength] + colourMapBytes};
}

bool isFooterSignature(const uchar *tail)
{
    return std::memcmp(tail, "TRUEVISION-XFILE.", SignatureSize) == 0;
}

bool endsBeforeLastPixel(const TTgaLayout &layout, qint64 size, bool footer)
{
    // Sides of at most 65535 and 4 bytes a pixel: below 2^35, no overflow.
    const qint64 end =
        layout.pixelStart + qint64(layout.width) * layout.height * layout.bytesPerPixel;
    return end > size - (footer ? FooterSize : 0);
}

} // namespace tgaheader
