#include "core/PictureLoader.h"

#include "core/ByteSource.h"
#include "core/Errors.h"
#include "core/JpegDecoder.h"
#include "core/PictureLimits.h"
#include "core/TgaHeader.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictureloader {

namespace {

EFOpenError openError(const QString &path, const QString &reason)
{
    return EFOpenError(QStringLiteral("ファイル \"%1\". %2 が開きません")
                           .arg(errors::absolutePathForMessage(path), reason));
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() { ::close(FFd); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return FFd; }

private:
    int FFd;
};

// Qt's image readers read through this: the byte source, followed by zeros up to `length` when
// that is longer. Unbuffered, so the readers get exactly the bytes they ask for and nothing more
// is read; a seek beyond the end fails, as in a QBuffer.
class TSourceDevice : public QIODevice
{
public:
    TSourceDevice(TByteSource &source, qint64 length) : FSource(source), FLength(length)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return FLength; }
    bool seek(qint64 pos) override { return pos <= FLength && QIODevice::seek(pos); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 wanted = std::clamp<qint64>(FLength - pos(), 0, maxSize);
        const qint64 got = FSource.read(pos(), data, wanted);
        if (got < 0)
            return -1;
        std::memset(data + got, 0, size_t(wanted - got));
        return wanted;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    TByteSource &FSource;
    qint64 FLength;
};

// Qt's readers refuse, on their own, a picture whose buffer in the reader's format exceeds Qt's
// allocation limit (MiB, process-wide, counted at no less than 32 bits a pixel). That is the only
// bound that holds before the pixels are allocated when a reader cannot tell the size beforehand,
// as an icon file (ICO, ICNS) holding a PNG far larger than its directory says cannot: the
// directory's size is all the reader reports. So the limit is set for each read to the loader's
// own, in the format the reader says it will produce: up to 32 bits a pixel exactly ours, wider
// formats (16-bit channels, floating point) in proportion, so that whatever passes the check of
// the declared size also passes Qt's, and nothing larger is ever allocated.
std::int64_t inReaderFormat(QImageReader &reader, std::int64_t limitBytes)
{
    constexpr int OwnBitsPerPixel = 32; // Format_RGB32, in which the loader's limit is counted
    const int readerBits = QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel();
    const std::int64_t bounded = std::clamp<std::int64_t>(limitBytes, 0, std::int64_t(1) << 50);
    return bounded * std::max(readerBits, OwnBitsPerPixel) / OwnBitsPerPixel;
}

void setQtAllocationLimit(std::int64_t bytes)
{
    constexpr std::int64_t MiB = std::int64_t(1) << 20;
    // 0 would switch Qt's check off: a limit under 1 MiB is held by the check after the read.
    const std::int64_t mib = std::clamp<std::int64_t>((bytes + MiB - 1) / MiB, 1, INT_MAX);
    QImageReader::setAllocationLimit(int(mib));
}

// The machine's limit holds for readers whose work a short file cannot inflate: they fail at
// the first missing row without filling the picture first (Qt's BMP reader behind the row rule,
// libpng, libtiff, Qt's GIF reader). Every other reader keeps the floor, which bounds what a few
// forged bytes can make it allocate and fill: Qt's XBM reader, for one, fills what a file
// lacks, turning 80 bytes into a picture of 30000 x 30000.
picturelimits::Options limitsFor(const QByteArray &format, const picturelimits::Options &machine)
{
    for (const char *bounded : {"bmp", "png", "tif", "tiff", "gif"}) {
        if (format == bounded)
            return machine;
    }
    return {std::min(machine.limitBytes, picturelimits::FloorBytes)};
}

// Decodes with Qt's readers, which see the source's bytes followed by zeros up to `length`.
// format is null to let the content choose the reader. A null picture when no reader takes the
// bytes, or the one that does fails.
QImage decodeWithQt(TByteSource &source, qint64 length, const char *format,
                    const picturelimits::Options &machine)
{
    // Some of Qt's readers decode while the content is being recognised: until the reader is
    // known, it may allocate no more than any reader.
    setQtAllocationLimit(limitsFor({}, machine).limitBytes);
    TSourceDevice device(source, length);
    QImageReader reader(&device, format ? QByteArray(format) : QByteArray());
    reader.setDecideFormatFromContent(format == nullptr);
    reader.setAutoTransform(false);
    // A TGA is read by the loader's own rules only (decodeTga): Qt's reader, which takes one by
    // its footer, fills what a short file lacks and misplaces the pixels after an ID field.
    if (format == nullptr && reader.format() == "tga")
        return {};
    // The size the header declares, when the reader can tell it without decoding.
    const QSize declared = reader.size();
    const picturelimits::Options options = limitsFor(reader.format(), machine);
    setQtAllocationLimit(inReaderFormat(reader, options.limitBytes));
    if (declared.isValid())
        picturelimits::checkDeclaredSize(declared.width(), declared.height(), options);

    QImage picture;
    const bool read = reader.read(&picture);
    if (source.failed())
        throw EReadError();
    // A reader refused by Qt's allocation limit fails like one given undecodable bytes: it could
    // not tell its size beforehand, so the content contradicts what the file declares.
    if (!read || picture.isNull())
        return {};
    // A reader that could not tell the size beforehand is held to the same limit, to the byte.
    picturelimits::checkDeclaredSize(picture.width(), picture.height(), options);
    return picture;
}

bool isRowBitDepth(quint16 bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// Where a BMP's pixel rows lie, in bytes.
struct BmpRows
{
    quint64 start;
    quint64 rows;
    quint64 stride;  // a row with its padding to 4 bytes
    quint64 lastRow; // the last row stored, without its padding
};

BmpRows bmpRows(quint64 start, qint64 width, qint64 height, int bitsPerPixel)
{
    const quint64 rowBits = quint64(width) * quint64(bitsPerPixel); // below 2^37
    return {start, quint64(height < 0 ? -height : height), (rowBits + 31) / 32 * 4,
            (rowBits + 7) / 8};
}

// True when the source ends before the last byte of the last row's pixels. A forged header can
// make start + (rows - 1) * stride exceed 64 bits, so it is compared by division instead.
bool endsBeforeLastRow(const BmpRows &layout, quint64 size)
{
    if (layout.start > size)
        return true;
    quint64 room = size - layout.start;
    if (layout.lastRow > room)
        return true;
    room -= layout.lastRow;
    return layout.rows > 1 && layout.stride > room / (layout.rows - 1);
}

// The file header (14 bytes) and the 40-byte info header: every field the rules below read
// lies in these first bytes.
constexpr qint64 BmpHeadersSize = 54;

// head holds the source's first BmpHeadersSize bytes.
QImage decodeBmp(TByteSource &source, const uchar *head, const picturelimits::Options &options)
{
    if (source.size() < BmpHeadersSize)
        throw EReadError();
    const auto u16 = [head](int offset) { return qFromLittleEndian<quint16>(head + offset); };
    const auto s16 = [head](int offset) { return qFromLittleEndian<qint16>(head + offset); };
    const auto u32 = [head](int offset) { return qFromLittleEndian<quint32>(head + offset); };
    const auto s32 = [head](int offset) { return qFromLittleEndian<qint32>(head + offset); };

    // Only uncompressed pixels are accepted. The bytes are read whatever the header type, so
    // in an OS/2 1.x file these are palette or pixel bytes.
    if (u32(30) != 0)
        throw EInvalidGraphicOperation();

    // The fields as Qt's reader takes them: 32-bit sides for the info header sizes it knows as
    // Windows 3, OS/2 2.x, Windows 4 and 5 headers; for any other size the OS/2 1.x layout,
    // signed 16-bit sides at 18 and 20 and the bit depth at 24.
    const quint32 infoHeaderSize = u32(14);
    const bool wide = infoHeaderSize == 40 || infoHeaderSize == 64 || infoHeaderSize == 108 ||
                      infoHeaderSize == 124;
    const qint64 width = wide ? s32(18) : s16(18);
    const qint64 height = wide ? s32(22) : s16(20); // negative for rows stored top-down
    const quint16 bitsPerPixel = wide ? u16(28) : u16(24);
    qint64 length = source.size();
    if (isRowBitDepth(bitsPerPixel) && width > 0 && height != 0) {
        // Qt reads the palette right after the info header, 3 bytes an entry after the 12-byte
        // one and 4 after any other, and then seeks to the pixel offset (signed) only when it
        // lies past the palette. A palette of no entries or of more than 256 it refuses.
        qint64 colours = 0;
        if (bitsPerPixel <= 8) {
            const qint64 used = wide ? s32(46) : 0;
            colours = used != 0 ? used : qint64(1) << bitsPerPixel;
            if (colours < 1 || colours > 256)
                colours = 0;
        }
        const quint64 paletteEnd =
            14 + quint64(infoHeaderSize) + quint64(colours) * (infoHeaderSize == 12 ? 3 : 4);
        const qint32 offset = s32(10);
        const BmpRows layout = bmpRows(std::max<quint64>(paletteEnd, offset > 0 ? offset : 0),
                                       width, height, bitsPerPixel);
        if (endsBeforeLastRow(layout, quint64(source.size())))
            throw EReadError();
        // Qt's reader wants every row with its padding and leaves a row it cannot read whole
        // undefined. A file may end without the last row's padding (under 4 bytes), which
        // holds no pixel: the reader is given zeros for it. Having passed the check above, this
        // sum cannot overflow.
        length = std::max(length, qint64(layout.start + layout.rows * layout.stride));
    }

    const qint64 columns = width < 0 ? -width : width, rows = height < 0 ? -height : height;
    picturelimits::checkDeclaredSize(columns, rows, options);
    // Qt's BMP reader refuses more pixels than this whatever the allocation limit, as if the
    // file were no picture at all: it is a picture too large for the reader.
    constexpr qint64 QtBmpMaxPixels = qint64(1) << 28;
    if (columns * rows > QtBmpMaxPixels) // sides of at most 2^31: no overflow
        throw EPictureTooLarge(columns, rows, QtBmpMaxPixels);
    return decodeWithQt(source, length, "bmp", options);
}

// Rows of `tga.width` pixels, each read whole from the source: what the header declares bounds
// the work, and a file that ends before its last pixel is refused before anything is allocated,
// so nothing is filled in and the machine's limit holds.
QImage decodeTga(TByteSource &source, const tgaheader::TTgaLayout &tga,
                 const picturelimits::Options &options)
{
    picturelimits::checkDeclaredSize(tga.width, tga.height, options);
    uchar tail[tgaheader::SignatureSize];
    const bool footer =
        source.read(source.size() - tgaheader::SignatureSize, reinterpret_cast<char *>(tail),
                    tgaheader::SignatureSize) == tgaheader::SignatureSize &&
        tgaheader::isFooterSignature(tail);
    if (source.failed() || tgaheader::endsBeforeLastPixel(tga, source.size(), footer))
        throw EReadError();
    QImage picture(tga.width, tga.height, QImage::Format_RGB32);
    if (picture.isNull())
        throw EPictureTooLarge(tga.width, tga.height,
                               picturelimits::limitPixels(options.limitBytes));
    const qint64 rowBytes = qint64(tga.width) * tga.bytesPerPixel;
    QByteArray row(rowBytes, Qt::Uninitialized);
    for (int stored = 0; stored < tga.height; ++stored) {
        if (source.read(tga.pixelStart + stored * rowBytes, row.data(), rowBytes) != rowBytes)
            throw EReadError();
        // Rows are stored bottom-up, and pixels left to right, unless the header says not.
        auto *to = reinterpret_cast<QRgb *>(
            picture.scanLine(tga.topDown ? stored : tga.height - 1 - stored));
        const auto *from = reinterpret_cast<const uchar *>(row.constData());
        for (int x = 0; x < tga.width; ++x, from += tga.bytesPerPixel)
            to[tga.rightToLeft ? tga.width - 1 - x : x] = tga.bytesPerPixel <= 2
                                                              ? qRgb(from[0], from[0], from[0])
                                                              : qRgb(from[2], from[1], from[0]);
    }
    return picture;
}

QImage toRgb32(QImage picture, const picturelimits::Options &options)
{
    if (picture.isNull())
        throw EInvalidGraphicOperation();
    const int width = picture.width(), height = picture.height();
    // In place where Qt can (from a format of the same depth, such as ARGB32), so that a
    // picture near the limit is not held twice.
    picture.convertTo(QImage::Format_RGB32);
    if (picture.isNull()) // Qt could not allocate the copy
        throw EPictureTooLarge(width, height, picturelimits::limitPixels(options.limitBytes));
    return picture;
}

// A regular file whose size reads 0 may still hold bytes: files under /proc and /sys, and on
// some network and FUSE file systems, tell their size only by being read. Such a file is read
// to its end as a stream, bounded by the largest picture the limit lets through (with room for
// its headers), and never waited on: the descriptor is non-blocking, so a file with nothing to
// give yet (/proc/kmsg) is refused at once. No byte at all is a file that holds none.
QByteArray readStream(int fd, const picturelimits::Options &options)
{
    constexpr qint64 HeaderRoom = qint64(1) << 20;
    constexpr qint64 Piece = qint64(64) << 10;
    const qint64 most = std::max<qint64>(options.limitBytes, 0) + HeaderRoom;
    QByteArray bytes;
    for (;;) {
        const qint64 at = bytes.size();
        if (at > most)
            throw EReadError();
        bytes.resize(at + Piece);
        const ssize_t got = ::read(fd, bytes.data() + at, size_t(Piece));
        if (got < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (got < 0) // EAGAIN too: the file would make us wait
            throw EReadError();
        bytes.resize(at + got);
        if (got == 0)
            return bytes;
    }
}

// The same rules for a file and for bytes in memory.
QImage decodeFrom(TByteSource &source, const picturelimits::Options &options)
{
    if (source.size() == 0)
        return QImage();
    // The format is told from the first bytes, and a BMP's rules need no more than these.
    uchar head[BmpHeadersSize] = {};
    const qint64 got = source.read(0, reinterpret_cast<char *>(head), BmpHeadersSize);
    if (got < 0)
        throw EReadError();
    if (got >= 2 && head[0] == 'B' && head[1] == 'M')
        return toRgb32(decodeBmp(source, head, options), options);
    // Every JPEG starts with the SOI marker; Qt's JPEG reader would take the same files, but
    // ours refuses the ones cut short.
    if (got >= 2 && head[0] == 0xFF && head[1] == 0xD8)
        return toRgb32(jpegdecoder::decode(source, options), options);
    QImage picture = decodeWithQt(source, source.size(), nullptr, options);
    // TGA has no signature: its header is tried only once every format with one has declined.
    // Qt's cursor reader claims the commonest TGAs (a directory of no entries) and then fails.
    if (picture.isNull() && got >= tgaheader::HeaderSize) {
        const tgaheader::TTgaLayout tga = tgaheader::layout(head);
        if (tga.bytesPerPixel != 0)
            picture = decodeTga(source, tga, options);
    }
    return toRgb32(picture, options);
}

} // namespace

QImage decode(const QByteArray &content, const picturelimits::Options &options)
{
    TByteSource source(content);
    return decodeFrom(source, options);
}

// The checks run on the descriptor that was opened, so a name swapped between the check and the
// reads cannot lead to a FIFO or a device. O_NONBLOCK keeps the open itself from waiting for a
// FIFO's writer. The file is then read only as far as its decoder goes, and only up to the size
// fstat gave: a file that grows meanwhile is read up to that size, and one that shrinks is
// refused with the read error. A size of 0 is only believed once a read finds no byte.
QImage load(const QString &path, const picturelimits::Options &options)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw openError(path, errors::systemErrorText(errno));
    const FileDescriptor file(fd);

    struct stat status = {};
    if (::fstat(file.get(), &status) != 0)
        throw openError(path, errors::systemErrorText(errno));
    if (S_ISDIR(status.st_mode))
        throw openError(path, errors::systemErrorText(EISDIR));
    if (!S_ISREG(status.st_mode))
        throw openError(path, QStringLiteral("通常のファイルではありません"));

    if (status.st_size == 0) {
        TByteSource stream(readStream(file.get(), options));
        return decodeFrom(stream, options);
    }
    TByteSource source(file.get(), qint64(status.st_size));
    return decodeFrom(source, options);
}

} // namespace pictureloader
