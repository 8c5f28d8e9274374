#pragma once

#include <QtGlobal>

// The rules by which a file is taken for a TGA, which has no signature: the fields of its
// 18-byte header that the format fixes, and the TGA 2.0 footer where there is one. Only the
// uncompressed kinds the loader reads pass: true colour of 24 or 32 bits, greyscale of 8 bits
// or 8 with alpha.
namespace tgaheader {

constexpr int HeaderSize = 18;
constexpr int FooterSize = 26;
constexpr int SignatureSize = 18; // "TRUEVISION-XFILE.\0", the footer's last bytes

struct TTgaLayout
{
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0; // 1 or 2 greyscale (the first byte grey), 3 or 4 BGR(A)
    bool topDown = false;
    bool rightToLeft = false;
    qint64 pixelStart = 0; // header, ID field and colour map, in bytes
};

// The layout `head` (the file's first HeaderSize bytes) declares; bytesPerPixel is 0 when it
// is no TGA the loader reads.
TTgaLayout layout(const uchar *head);

// True when `tail`, the file's last SignatureSize bytes, is the signature of a TGA 2.0 footer.
bool isFooterSignature(const uchar *tail);

// True when a file of `size` bytes, ending in a footer or not, ends before the last pixel.
bool endsBeforeLastPixel(const TTgaLayout &layout, qint64 size, bool footer);

} // namespace tgaheader
