#pragma once

// Pictures made in the tests themselves. Pixel values encode their coordinates, so a row or
// column out of place, or swapped channels, show up as wrong values.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QVector>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace testpictures {

inline QRgb coordinateColour(int x, int y)
{
    return qRgb(x & 255, y & 255, (x * 7 + y * 13) & 255);
}

inline QImage coordinatePicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, coordinateColour(x, y));
    return picture;
}

// Distinct colours for a palette of 2, 4, 16 or 256 entries.
inline QVector<QRgb> testPalette(int entries)
{
    QVector<QRgb> palette;
    for (int i = 0; i < entries; ++i)
        palette << qRgb((i * 37 + 5) & 255, (i * 91 + 17) & 255, (i * 53 + 101) & 255);
    return palette;
}

inline int paletteIndexAt(int x, int y, int entries)
{
    return (x + 3 * y) % entries;
}

inline QByteArray encoded(const QImage &picture, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (qstrcmp(format, "jpeg") == 0)
        writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(picture))
        qFatal("cannot encode a %s test picture: %s", format, qPrintable(writer.errorString()));
    return bytes;
}

// The pixels of a hand-written BMP: palette entry paletteIndexAt for 1, 4 and 8 bits,
// coordinateColour for 24 and 32 bits.
inline QRgb bmpPixel(int x, int y, int bitsPerPixel)
{
    if (bitsPerPixel <= 8)
        return testPalette(1 << bitsPerPixel).at(paletteIndexAt(x, y, 1 << bitsPerPixel));
    return coordinateColour(x, y);
}

// An uncompressed BMP with the 40-byte info header. The 32-bit form leaves its fourth byte 0.
inline QByteArray bmpBytes(int width, int height, int bitsPerPixel, bool topDown = false)
{
    const int entries = bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
    const int stride = (width * bitsPerPixel + 31) / 32 * 4;
    const int offset = 54 + entries * 4;
    QByteArray bytes(offset + stride * height, '\0');
    auto *data = reinterpret_cast<uchar *>(bytes.data());
    data[0] = 'B';
    data[1] = 'M';
    qToLittleEndian<quint32>(bytes.size(), data + 2);
    qToLittleEndian<quint32>(offset, data + 10);
    qToLittleEndian<quint32>(40, data + 14);
    qToLittleEndian<qint32>(width, data + 18);
    qToLittleEndian<qint32>(topDown ? -height : height, data + 22);
    qToLittleEndian<quint16>(1, data + 26);
    qToLittleEndian<quint16>(bitsPerPixel, data + 28);
    qToLittleEndian<quint32>(stride * height, data + 34);
    qToLittleEndian<quint32>(entries, data + 46);
    const QVector<QRgb> palette = testPalette(entries);
    for (int i = 0; i < entries; ++i) {
        data[54 + 4 * i] = qBlue(palette[i]);
        data[55 + 4 * i] = qGreen(palette[i]);
        data[56 + 4 * i] = qRed(palette[i]);
    }
    for (int stored = 0; stored < height; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        uchar *row = data + offset + qsizetype(stored) * stride;
        for (int x = 0; x < width; ++x) {
            const int index = entries ? paletteIndexAt(x, y, entries) : 0;
            const QRgb colour = coordinateColour(x, y);
            switch (bitsPerPixel) {
            case 1:
                row[x / 8] |= index << (7 - x % 8);
                break;
            case 4:
                row[x / 2] |= index << (x % 2 ? 0 : 4);
                break;
            case 8:
                row[x] = index;
                break;
            case 24:
            case 32: {
                uchar *pixel = row + x * bitsPerPixel / 8;
                pixel[0] = qBlue(colour);
                pixel[1] = qGreen(colour);
                pixel[2] = qRed(colour);
                break;
            }
            }
        }
    }
    return bytes;
}

// bmpBytes' 24-bit BMP with an info header of infoHeaderSize bytes (12, or another size read the
// same way, up to 40) in the OS/2 1.x layout: 16-bit sides at 18 and 20, bit depth at 24. The
// bytes at 30 to 33 are 0, as the compression rule asks, whichever pixels they belong to.
inline QByteArray os2BmpBytes(int width, int height, int infoHeaderSize = 12)
{
    const int offset = 14 + infoHeaderSize;
    QByteArray bytes = bmpBytes(width, height, 24).mid(54 - offset);
    auto *data = reinterpret_cast<uchar *>(bytes.data());
    std::fill(data, data + 34, uchar(0));
    data[0] = 'B';
    data[1] = 'M';
    qToLittleEndian<quint32>(bytes.size(), data + 2);
    qToLittleEndian<quint32>(offset, data + 10);
    qToLittleEndian<quint32>(infoHeaderSize, data + 14);
    qToLittleEndian<quint16>(width, data + 18);
    qToLittleEndian<quint16>(height, data + 20);
    qToLittleEndian<quint16>(1, data + 22);
    qToLittleEndian<quint16>(24, data + 24);
    return bytes;
}

// An uncompressed TGA of `picture` (Format_RGB32: true colour, Format_Grayscale8: greyscale) of
// 8, 16, 24 or 32 bits, the second or fourth byte alpha 0x80, as Pillow and ImageMagick write
// them: the descriptor's bits 4 and 5 put the first stored pixel right and top.
inline QByteArray tgaBytes(const QImage &picture, int bitsPerPixel, uchar descriptor = 0,
                           bool footer = true, int idLength = 0)
{
    const bool grey = picture.format() == QImage::Format_Grayscale8;
    const int width = picture.width(), height = picture.height();
    QByteArray tga(12, '\0');
    tga[0] = char(idLength);
    tga[2] = char(grey ? 3 : 2);
    const char fields[6] = {char(width),       char(width >> 8),   char(height),
                            char(height >> 8), char(bitsPerPixel), char(descriptor)};
    tga.append(fields, 6).append(idLength, 'i');
    for (int stored = 0; stored < height; ++stored) {
        const int y = descriptor & 0x20 ? stored : height - 1 - stored;
        for (int i = 0; i < width; ++i) {
            const QRgb colour = picture.pixel(descriptor & 0x10 ? width - 1 - i : i, y);
            const char pixel[4] = {char(qBlue(colour)), char(grey ? 0x80 : qGreen(colour)),
                                   char(qRed(colour)), char(0x80)};
            tga.append(pixel, bitsPerPixel / 8);
        }
    }
    return footer ? tga + QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18) : tga;
}

inline void putLittleEndian32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + offset);
}

// A GIF whose pixels are paletteIndexAt(x, y, 4) into testPalette(4). Each pixel's code follows
// a clear code, so the LZW table never grows and every code is 3 bits. The header may declare
// another size than the pixels written.
inline QByteArray gifBytes(int width, int height, int declaredWidth = 0, int declaredHeight = 0)
{
    const quint16 shownWidth = declaredWidth ? declaredWidth : width;
    const quint16 shownHeight = declaredHeight ? declaredHeight : height;
    QByteArray bytes("GIF89a");
    const auto put16 = [&bytes](quint16 value) {
        bytes.append(char(value & 0xFF)).append(char(value >> 8));
    };
    put16(shownWidth);
    put16(shownHeight);
    bytes.append(char(0x81)).append('\0').append('\0'); // 4-entry global colour table
    for (QRgb colour : testPalette(4))
        bytes.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
    bytes.append(',');
    put16(0);
    put16(0);
    put16(shownWidth);
    put16(shownHeight);
    bytes.append('\0');
    bytes.append(char(2)); // minimum code size: clear = 4, end = 5

    QByteArray codes;
    quint32 bitBuffer = 0;
    int bitCount = 0;
    const auto putCode = [&](int code) {
        bitBuffer |= quint32(code) << bitCount;
        bitCount += 3;
        while (bitCount >= 8) {
            codes.append(char(bitBuffer & 0xFF));
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            putCode(4);
            putCode(paletteIndexAt(x, y, 4));
        }
    }
    putCode(5);
    if (bitCount > 0)
        codes.append(char(bitBuffer & 0xFF));
    for (int at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        bytes.append(char(block.size())).append(block);
    }
    bytes.append('\0').append(';');
    return bytes;
}

inline quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= uchar(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The same PNG with another size in its IHDR chunk (and that chunk's CRC mended).
inline QByteArray pngDeclaring(QByteArray png, quint32 width, quint32 height)
{
    auto *data = reinterpret_cast<uchar *>(png.data());
    qToBigEndian(width, data + 16);
    qToBigEndian(height, data + 20);
    qToBigEndian(crc32(png.mid(12, 17)), data + 29);
    return png;
}

// Offsets of the markers with the given code (of the 0xFF byte), entropy-coded data and the
// segments' contents skipped.
inline QVector<int> jpegMarkers(const QByteArray &jpeg, uchar code)
{
    QVector<int> found;
    const auto at = [&jpeg](int i) { return uchar(jpeg[i]); };
    int i = 2;
    while (i + 1 < jpeg.size()) {
        if (at(i) != 0xFF || at(i + 1) == 0x00 || at(i + 1) == 0xFF) {
            ++i;
            continue;
        }
        const uchar marker = at(i + 1);
        if (marker == code)
            found << i;
        if (marker == 0xD9)
            break;
        if (marker >= 0xD0 && marker <= 0xD7)
            i += 2;
        else if (i + 3 < jpeg.size())
            i += 2 + ((at(i + 2) << 8) | at(i + 3));
        else
            break;
    }
    return found;
}

// The same JPEG with another size in its frame header.
inline QByteArray jpegDeclaring(QByteArray jpeg, quint16 width, quint16 height)
{
    for (uchar frame : {0xC0, 0xC1, 0xC2, 0xC9, 0xCA}) {
        const QVector<int> at = jpegMarkers(jpeg, frame);
        if (!at.isEmpty()) {
            auto *data = reinterpret_cast<uchar *>(jpeg.data()) + at.first();
            qToBigEndian(height, data + 5);
            qToBigEndian(width, data + 7);
            break;
        }
    }
    return jpeg;
}

struct JpegRecipe
{
    bool cmyk = false;
    bool progressive = false;
    bool arithmetic = false;
    bool separateScans = false; // sequential, one scan per component
    int restartRows = 0;
    bool blockGrey = false; // one component, flat 8 x 8 blocks of blockGreyAt, quality 100
};

// Grey values flat over each 8 x 8 block, neighbours one or three apart: a file of a few bytes a
// block that decodes exactly (quality 100 keeps every block's mean), whose rows all differ.
inline uchar blockGreyAt(int x, int y)
{
    return uchar((x / 8 + 3 * (y / 8)) % 256);
}

// CMYK values (Adobe's inverted form, 255 = no ink) flat over each 8 x 8 block, so all the
// pixels keep them through compression.
inline void cmykAt(int x, int y, uchar *cmyk)
{
    const int bx = x / 8, by = y / 8;
    cmyk[0] = uchar(40 + 50 * (bx % 4));
    cmyk[1] = uchar(60 + 60 * (by % 3));
    cmyk[2] = uchar(200 - 30 * ((bx + by) % 5));
    cmyk[3] = uchar(255 - 60 * ((bx / 2 + by) % 3));
}

// A JPEG made with libjpeg for what Qt's writer cannot make: CMYK, arithmetic coding, restart
// markers. Pixels are coordinateColour, or cmykAt.
inline QByteArray libjpegBytes(int width, int height, const JpegRecipe &recipe)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = recipe.cmyk ? 4 : recipe.blockGrey ? 1 : 3;
    cinfo.in_color_space = recipe.cmyk ? JCS_CMYK : recipe.blockGrey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, recipe.blockGrey ? 100 : 95, TRUE);
    cinfo.arith_code = recipe.arithmetic ? TRUE : FALSE;
    cinfo.restart_in_rows = recipe.restartRows;
    if (recipe.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_scan_info scans[4] = {};
    if (recipe.separateScans) {
        for (int i = 0; i < cinfo.num_components; ++i) {
            scans[i].comps_in_scan = 1;
            scans[i].component_index[0] = i;
            scans[i].Se = 63;
        }
        cinfo.scan_info = scans;
        cinfo.num_scans = cinfo.num_components;
    }
    jpeg_start_compress(&cinfo, TRUE);
    QByteArray row(qsizetype(width) * cinfo.input_components, '\0');
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        auto *pixel = reinterpret_cast<uchar *>(row.data());
        for (int x = 0; x < width; ++x, pixel += cinfo.input_components) {
            if (recipe.cmyk) {
                cmykAt(x, y, pixel);
            } else if (recipe.blockGrey) {
                pixel[0] = blockGreyAt(x, y);
            } else {
                const QRgb colour = coordinateColour(x, y);
                pixel[0] = qRed(colour);
                pixel[1] = qGreen(colour);
                pixel[2] = qBlue(colour);
            }
        }
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row.data())};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return bytes;
}

inline QString writeFile(const QTemporaryDir &folder, const QString &name, const QByteArray &bytes)
{
    QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file %s", qPrintable(path));
    return path;
}

} // namespace testpictures
