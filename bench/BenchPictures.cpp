#include "BenchPictures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace benchpictures {

QImage photoLike(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    quint32 state = 0x9E3779B9u; // xorshift32, fixed seed: the same picture on every run
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const int gy = int(qint64(y) * 160 / height);
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state >> 29); // 0..7
            const int gx = int(qint64(x) * 160 / width);
            // Patches of about 90 pixels with a 16-step ramp at their edges.
            const int px = x % 90, py = y % 88;
            const int edge = std::min(std::min(px, 89 - px), std::min(py, 87 - py));
            const int patch = ((x / 90) * 7 + (y / 88) * 3) % 5 * 12 * std::min(edge, 16) / 16;
            row[x] = qRgb(std::min(255, gx + patch + noise), std::min(255, gy + 40 + noise),
                          std::min(255, (gx + gy) / 2 + 2 * patch + noise));
        }
    }
    return picture;
}

namespace {

// libjpeg-turbo's encoder over rows handed out one at a time by rowAt(y), each `components`
// samples a pixel in `space`.
template <class RowAt>
QByteArray encodeJpeg(int width, int height, int components, J_COLOR_SPACE space, int quality,
                      bool progressive, RowAt rowAt)
{
    jpeg_compress_struct cinfo = {};
    jpeg_error_mgr errors = {};
    cinfo.err = jpeg_std_error(&errors); // exits the process on an encoder error
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rowAt(int(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

} // namespace

QByteArray jpeg(const QImage &picture, int quality, bool progressive)
{
    Q_ASSERT(picture.format() == QImage::Format_RGB32);
    return encodeJpeg(picture.width(), picture.height(), 4,
                      Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB, quality,
                      progressive,
                      [&picture](int y) { return const_cast<JSAMPROW>(picture.constScanLine(y)); });
}

QByteArray drawingJpeg(int width, int height)
{
    std::vector<JSAMPLE> row(std::size_t(width) * 3);
    return encodeJpeg(width, height, 3, JCS_RGB, 90, false, [&](int y) {
        const int curve = height / 2 + int(double(height) / 3 * std::sin(double(y) / height * 7));
        for (int x = 0; x < width; ++x) {
            JSAMPLE value = 250;
            if (x % 200 == 0 || y % 200 == 0)
                value = 190;
            if (std::abs(x - curve) <= 2)
                value = 30;
            std::fill_n(row.begin() + std::ptrdiff_t(x) * 3, 3, value);
        }
        return row.data();
    });
}

QByteArray bmp24(const QImage &picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(picture.convertToFormat(QImage::Format_RGB32)))
        qFatal("cannot write a BMP: %s", qPrintable(writer.errorString()));
    // Qt writes every picture without a palette as 24 bits a pixel; make sure of it.
    if (bytes.size() < 54 || qFromLittleEndian<quint16>(bytes.constData() + 28) != 24)
        qFatal("Qt's BMP writer did not write 24 bits a pixel");
    return bytes;
}

QByteArray hugeBmp()
{
    // File header and 40-byte info header, 24 bits a pixel, uncompressed, then one row's
    // worth of pixel bytes: far too few for what the header declares.
    QByteArray bytes(54 + 1024, '\0');
    auto *b = reinterpret_cast<uchar *>(bytes.data());
    b[0] = 'B';
    b[1] = 'M';
    qToLittleEndian<quint32>(quint32(bytes.size()), b + 2);
    qToLittleEndian<quint32>(54, b + 10);
    qToLittleEndian<quint32>(40, b + 14);
    qToLittleEndian<qint32>(65535, b + 18);
    qToLittleEndian<qint32>(65535, b + 22);
    qToLittleEndian<quint16>(1, b + 26);
    qToLittleEndian<quint16>(24, b + 28);
    return bytes;
}

QByteArray hugeJpeg(int side)
{
    // A real 16 x 16 JPEG whose frame header (SOF0) is rewritten to side x side.
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(qRgb(90, 140, 200));
    QByteArray bytes = jpeg(small, 90, false);
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        qFatal("no SOF0 marker in the JPEG just written");
    auto *b = reinterpret_cast<uchar *>(bytes.data()) + sof;
    // FF C0, length (2), precision (1), height (2), width (2), big-endian.
    qToBigEndian<quint16>(quint16(side), b + 5);
    qToBigEndian<quint16>(quint16(side), b + 7);
    return bytes;
}

namespace {
quint32 crc32(const uchar *data, qsizetype length)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < length; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
} // namespace

QByteArray hugePng()
{
    // A real 16 x 16 PNG whose IHDR is rewritten to 65535 x 65535, its CRC made right again
    // so that the header itself is valid.
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(qRgb(90, 140, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!small.save(&buffer, "png"))
        qFatal("cannot write a PNG");
    // Signature (8), then IHDR: length (4), type (4), width (4), height (4), ... CRC at 29.
    auto *b = reinterpret_cast<uchar *>(bytes.data());
    if (bytes.size() < 33 || std::memcmp(b + 12, "IHDR", 4) != 0)
        qFatal("unexpected PNG layout");
    qToBigEndian<quint32>(65535, b + 16);
    qToBigEndian<quint32>(65535, b + 20);
    qToBigEndian<quint32>(crc32(b + 12, 4 + 13), b + 29);
    return bytes;
}

QByteArray hugeGif()
{
    // GIF89a, logical screen and one image of 65535 x 65535, a two-entry palette, and an LZW
    // stream holding a single pixel.
    // clang-format off
    const uchar bytes[] = {
        'G', 'I', 'F', '8', '9', 'a',
        0xFF, 0xFF, 0xFF, 0xFF,       // screen width, height (little-endian)
        0x80, 0x00, 0x00,             // global palette of 2 entries, background 0, no aspect
        0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
        0x2C, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, // image descriptor
        0x02, 0x02, 0x44, 0x01, 0x00, // LZW minimum code size 2, one sub-block, end
        0x3B,
    };
    // clang-format on
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

QByteArray iconHoldingPng(int side)
{
    // The PNG's rows (a filter byte and side black RGB pixels each) deflated one at a time, so
    // that the picture itself is never held.
    z_stream z{};
    if (deflateInit(&z, Z_BEST_SPEED) != Z_OK)
        qFatal("deflateInit failed");
    const QByteArray row(1 + 3 * qsizetype(side), '\0');
    QByteArray idat;
    std::array<char, 1 << 16> out{};
    for (int y = 0; y <= side; ++y) {
        const bool last = y == side;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.constData()));
        z.avail_in = last ? 0 : uInt(row.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            idat.append(out.data(), qsizetype(out.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    const auto chunk = [&png](const char *type, const QByteArray &data) {
        uchar length[4];
        qToBigEndian<quint32>(quint32(data.size()), length);
        const QByteArray body = QByteArray(type, 4) + data;
        uchar crc[4];
        qToBigEndian<quint32>(crc32(reinterpret_cast<const uchar *>(body.constData()), body.size()),
                              crc);
        png.append(reinterpret_cast<const char *>(length), 4)
            .append(body)
            .append(reinterpret_cast<const char *>(crc), 4);
    };
    uchar header[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0}; // 8-bit RGB, not interlaced
    qToBigEndian<quint32>(quint32(side), header);
    qToBigEndian<quint32>(quint32(side), header + 4);
    chunk("IHDR", QByteArray(reinterpret_cast<const char *>(header), sizeof header));
    chunk("IDAT", idat);
    chunk("IEND", {});

    // ICONDIR (reserved, type 1 = icon, one entry), then the entry: 0 x 0 meaning 256 x 256,
    // no palette, one plane, 32 bits, the PNG's size and offset.
    QByteArray icon(6 + 16, '\0');
    auto *b = reinterpret_cast<uchar *>(icon.data());
    qToLittleEndian<quint16>(1, b + 2);
    qToLittleEndian<quint16>(1, b + 4);
    qToLittleEndian<quint16>(1, b + 10);
    qToLittleEndian<quint16>(32, b + 12);
    qToLittleEndian<quint32>(quint32(png.size()), b + 14);
    qToLittleEndian<quint32>(quint32(icon.size()), b + 18);
    return icon + png;
}

QByteArray cutShort(const QByteArray &bmp, double keepFraction)
{
    return bmp.left(qsizetype(double(bmp.size()) * keepFraction));
}

void writeFile(const QString &path, const QByteArray &bytes, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || (size > bytes.size() && !file.resize(size)))
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace benchpictures
