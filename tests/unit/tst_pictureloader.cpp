#include "TestPictures.h"

#include "core/ByteSource.h"
#include "core/Errors.h"
#include "core/JpegDecoder.h"
#include "core/PictureLimits.h"
#include "core/PictureLoader.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <climits>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace testpictures;

namespace {

constexpr qint64 DefaultLimit = picturelimits::DefaultLimitBytes;

// How a load ended: "opened", or the error class and its message.
struct Outcome
{
    QString kind;
    QString message;
    QImage picture;
};

Outcome outcomeOf(const std::function<void()> &action)
{
    try {
        action();
        return {QStringLiteral("opened"), {}};
    } catch (const EFOpenError &e) {
        return {QStringLiteral("open error"), e.message()};
    } catch (const EReadError &e) {
        return {QStringLiteral("read error"), e.message()};
    } catch (const EInvalidGraphicOperation &e) {
        return {QStringLiteral("unrecognised"), e.message()};
    } catch (const EPictureTooLarge &e) {
        return {QStringLiteral("too large"), e.message()};
    }
}

QImage decodeBytes(const QByteArray &bytes, qint64 limit = DefaultLimit)
{
    return pictureloader::decode(bytes, {limit});
}

// The bytes opened as a file and decoded in memory. Both must end alike, with equal pictures or
// the same failure; where they do not, the kind says so, and no row expects it. Each file is new
// (numbered before its name): rewriting one makes ext4 flush it to disk at every close.
Outcome loadAndDecode(const QTemporaryDir &folder, const QString &name, const QByteArray &bytes,
                      qint64 limit = DefaultLimit)
{
    static int files = 0;
    const QString path =
        writeFile(folder, QString::number(++files) + QLatin1Char('-') + name, bytes);
    QImage fromFile, inMemory;
    const Outcome loaded = outcomeOf([&] { fromFile = pictureloader::load(path, {limit}); });
    const Outcome decoded = outcomeOf([&] { inMemory = decodeBytes(bytes, limit); });
    if (loaded.kind != decoded.kind || loaded.message != decoded.message || fromFile != inMemory)
        return {QStringLiteral("load: %1, decode: %2").arg(loaded.kind, decoded.kind), {}, {}};
    return {loaded.kind, loaded.message, fromFile};
}

// What Qt's own reader makes of the bytes, as true colours: the reference for JPEG colours.
QImage qtReads(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

QImage palettedPicture(int width, int height, int entries)
{
    QImage picture(width, height, QImage::Format_Indexed8);
    picture.setColorTable(testPalette(entries));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, paletteIndexAt(x, y, entries));
    return picture;
}

QByteArray jpegBytes(int width, int height, bool progressive = false)
{
    return encoded(coordinatePicture(width, height), "jpeg", progressive);
}

// A progressive JPEG of `scans` scans, its second one sent again and again, which libjpeg only
// warns about: the number of scans alone can stop it.
QByteArray jpegOfScans(int scans)
{
    const QByteArray jpeg = jpegBytes(16, 16, true);
    const QVector<int> at = jpegMarkers(jpeg, 0xDA);
    return jpeg.left(at[2]) + jpeg.mid(at[1], at[2] - at[1]).repeated(scans - at.size()) +
           jpeg.mid(at[2]);
}

QString tooLarge(qint64 width, qint64 height, qint64 limitBytes = DefaultLimit)
{
    return QStringLiteral("画像が大きすぎて開けません (%1 × %2 ピクセル、上限 %3 メガピクセル)")
        .arg(width)
        .arg(height)
        .arg(limitBytes / 4 / 1000000);
}

} // namespace

class TestPictureLoader : public QObject
{
    Q_OBJECT

private slots:
    void opensBmp_data();
    void opensBmp();
    void opensByContent_data();
    void opensByContent();
    void jpegTrueColours_data();
    void jpegTrueColours();
    void cmykJpegColours();
    void jpegWithoutEndMarkerOpens_data();
    void jpegWithoutEndMarkerOpens();
    void zeroBytesGiveNoPicture();
    void fileEndingBeforeItsSize();
    void refused_data();
    void refused();
    void everyCutOfAJpegIsRefused_data();
    void everyCutOfAJpegIsRefused();
    void everyCutOfABmpIsRefused_data();
    void everyCutOfABmpIsRefused();
    void bmpRuleSpace_data();
    void bmpRuleSpace();
    void openErrors_data();
    void openErrors();
    void declaredSizeLimit_data();
    void declaredSizeLimit();
    void limitFromTheMachine_data();
    void limitFromTheMachine();
    void limitOfTheControlGroups_data();
    void limitOfTheControlGroups();
    void largeScanOpens();

private:
    QTemporaryDir FFolder;
};

void TestPictureLoader::opensBmp_data()
{
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("topDown");
    QTest::addColumn<int>("bytesTrimmed");

    QTest::newRow("1 x 1, 24-bit") << 24 << 1 << 1 << false << 0;
    QTest::newRow("1 x 1, 24-bit, its row's padding cut") << 24 << 1 << 1 << false << 1;
}

void TestPictureLoader::opensBmp()
{
    QFETCH(int, bitsPerPixel);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, topDown);
    QFETCH(int, bytesTrimmed);

    QByteArray bytes = bmpBytes(width, height, bitsPerPixel, topDown);
    bytes.chop(bytesTrimmed);
    const QImage picture = pictureloader::load(writeFile(FFolder, QStringLiteral("p.bmp"), bytes));

    QCOMPARE(picture.format(), QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (picture.pixel(x, y) != bmpPixel(x, y, bitsPerPixel))
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(picture.pixel(x, y), 8, 16)
                                     .arg(bmpPixel(x, y, bitsPerPixel), 8, 16)));
}

void TestPictureLoader::opensByContent_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QImage>("expected");

    const QImage coordinates = coordinatePicture(13, 7);
    const QImage gifPixels = palettedPicture(11, 6, 4).convertToFormat(QImage::Format_RGB32);
    const QByteArray jpeg = jpegBytes(13, 7);
    const QImage grey = coordinatePicture(13, 7).convertToFormat(QImage::Format_Grayscale8);

    QTest::newRow("BMP named .jpg")
        << bmpBytes(13, 7, 24) << "x.jpg" << DefaultLimit << coordinates;
    QTest::newRow("PNG named .png")
        << encoded(coordinates, "png") << "p.png" << DefaultLimit << coordinates;
    QTest::newRow("PNG named .bmp")
        << encoded(coordinates, "png") << "p.bmp" << DefaultLimit << coordinates;
    QTest::newRow("paletted PNG") << encoded(palettedPicture(11, 6, 16), "png") << "p8.png"
                                  << DefaultLimit
                                  << palettedPicture(11, 6, 16).convertToFormat(
                                         QImage::Format_RGB32);
    QTest::newRow("greyscale PNG") << encoded(grey, "png") << "g.png" << DefaultLimit
                                   << grey.convertToFormat(QImage::Format_RGB32);
    QTest::newRow("GIF named .gif") << gifBytes(11, 6) << "p.gif" << DefaultLimit << gifPixels;
    QTest::newRow("GIF named .txt") << gifBytes(11, 6) << "p.txt" << DefaultLimit << gifPixels;
    QTest::newRow("JPEG named .png") << jpeg << "j.png" << DefaultLimit << qtReads(jpeg);
    QTest::newRow("TGA, 24-bit, top-down, no footer")
        << tgaBytes(coordinates, 24, 0x20, false) << "t.tga" << DefaultLimit << coordinates;
    QTest::newRow("TGA, 32-bit, right to left, ID field")
        << tgaBytes(coordinates, 32, 0x18, true, 3) << "t.tga" << DefaultLimit << coordinates;
    QTest::newRow("TGA, 24-bit, bottom-up, named .bmp")
        << tgaBytes(coordinates, 24) << "t.bmp" << DefaultLimit << coordinates;
    QTest::newRow("greyscale TGA with alpha") << tgaBytes(grey, 16, 0x28) << "g.tga" << DefaultLimit
                                              << grey.convertToFormat(QImage::Format_RGB32);
    QTest::newRow("TGA placed at (5, 7)") << tgaBytes(coordinates, 24).replace(8, 4, "\5\0\7\0", 4)
                                          << "t.tga" << DefaultLimit << coordinates;
    // A map of 3 entries, which true colour skips: bits an entry, bytes of the map.
    const int colourMaps[][2] = {{15, 6}, {16, 6}, {24, 9}, {32, 12}};
    for (const auto &entry : colourMaps) {
        QByteArray mapped = tgaBytes(coordinates, 24, 0x20, false, 2).insert(20, entry[1], 'm');
        mapped.replace(1, 7, QByteArray("\1\2\0\0\3\0", 6) + char(entry[0]));
        QTest::newRow(qPrintable(QStringLiteral("TGA with a colour map of %1 bits").arg(entry[0])))
            << mapped << "m.tga" << DefaultLimit << coordinates;
    }
    {
        // Every scan whole, then a segment whose length runs past the end of the file.
        const QByteArray progressive = jpegBytes(61, 37, true);
        QTest::newRow("progressive JPEG ending in a cut segment")
            << progressive.chopped(2) + QByteArray("\xFF\xE1\x01\x00\0\0", 6) << "c.jpg"
            << DefaultLimit << decodeBytes(progressive);
        // A file closed after its first scans is whole, if blurred.
        const QByteArray firstScans =
            progressive.left(jpegMarkers(progressive, 0xDA).at(2)) + "\xFF\xD9";
        QTest::newRow("progressive JPEG of its first scans")
            << firstScans << "f.jpg" << DefaultLimit << qtReads(firstScans);
        // A comment of the largest size, reaching past the first piece read, full of EOI markers
        // to be skipped.
        const QByteArray comment =
            QByteArray("\xFF\xFE\xFF\xFF", 4) + QByteArray("\xFF\xD9").repeated(32766) + 'c';
        QTest::newRow("JPEG holding a long comment")
            << jpeg.left(2) + comment + jpeg.mid(2) << "c.jpg" << DefaultLimit << qtReads(jpeg);
    }

    // A picture whose copy takes exactly the limit still opens, whichever decoder reads it.
    QTest::newRow("BMP at exactly the limit")
        << bmpBytes(13, 7, 24) << "l.bmp" << qint64(13 * 7 * 4) << coordinates;
    QTest::newRow("PNG at exactly the limit")
        << encoded(coordinates, "png") << "l.png" << qint64(13 * 7 * 4) << coordinates;
    QTest::newRow("GIF at exactly the limit")
        << gifBytes(11, 6) << "l.gif" << qint64(11 * 6 * 4) << gifPixels;
    QTest::newRow("JPEG at exactly the limit")
        << jpeg << "l.jpg" << qint64(13 * 7 * 4) << qtReads(jpeg);
    QTest::newRow("TGA at exactly the limit") << tgaBytes(grey, 8) << "l.tga" << qint64(13 * 7 * 4)
                                              << grey.convertToFormat(QImage::Format_RGB32);
}

void TestPictureLoader::opensByContent()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(qint64, limit);
    QFETCH(QImage, expected);

    const Outcome outcome = loadAndDecode(FFolder, name, bytes, limit);
    QCOMPARE(outcome.kind, QStringLiteral("opened"));
    QCOMPARE(outcome.picture.format(), QImage::Format_RGB32);
    QCOMPARE(outcome.picture, expected);
}

void TestPictureLoader::jpegTrueColours_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("baseline, odd size") << jpegBytes(61, 37);
    QTest::newRow("1 x 1") << jpegBytes(1, 1);
    QTest::newRow("progressive") << jpegBytes(61, 37, true);
    QTest::newRow("greyscale") << encoded(
        coordinatePicture(61, 37).convertToFormat(QImage::Format_Grayscale8), "jpeg");
    QTest::newRow("arithmetic coding") << libjpegBytes(61, 37, {false, false, true});
    QTest::newRow("restart markers") << libjpegBytes(61, 37, {false, false, false, false, 1});
    QTest::newRow("one scan per component") << libjpegBytes(61, 37, {false, false, false, true});
}

void TestPictureLoader::jpegTrueColours()
{
    QFETCH(QByteArray, bytes);

    const QImage picture = decodeBytes(bytes);
    const QImage reference = qtReads(bytes);
    QVERIFY(!reference.isNull());
    QCOMPARE(picture.format(), QImage::Format_RGB32);
    QCOMPARE(picture, reference);
}

void TestPictureLoader::cmykJpegColours()
{
    // Flat 8 x 8 blocks of CMYK decode exactly, and each channel is then c * k / 255.
    QImage reference(48, 24, QImage::Format_RGB32);
    for (int y = 0; y < reference.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(reference.scanLine(y));
        for (int x = 0; x < reference.width(); ++x) {
            uchar cmyk[4];
            cmykAt(x, y, cmyk);
            row[x] =
                qRgb(cmyk[0] * cmyk[3] / 255, cmyk[1] * cmyk[3] / 255, cmyk[2] * cmyk[3] / 255);
        }
    }
    QCOMPARE(decodeBytes(libjpegBytes(48, 24, {true})), reference);
}

void TestPictureLoader::jpegWithoutEndMarkerOpens_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("bytesTrimmed");

    QTest::newRow("baseline, no EOI") << jpegBytes(61, 37) << 2;
    QTest::newRow("baseline, half an EOI") << jpegBytes(61, 37) << 1;
    QTest::newRow("1 x 1, no EOI") << jpegBytes(1, 1) << 2;
    QTest::newRow("progressive, no EOI") << jpegBytes(61, 37, true) << 2;
    QTest::newRow("restart markers, no EOI")
        << libjpegBytes(61, 37, {false, false, false, false, 1}) << 2;
    QTest::newRow("one scan per component, no EOI")
        << libjpegBytes(61, 37, {false, false, false, true}) << 2;
    QTest::newRow("CMYK, no EOI") << libjpegBytes(48, 24, {true}) << 2;
    QTest::newRow("1000 scans, no EOI") << jpegOfScans(1000) << 2;
    // Read in more than one piece, so the end of the bytes falls in a later piece.
    QTest::newRow("progressive over 64 KiB, no EOI") << jpegBytes(640, 480, true) << 2;
}

void TestPictureLoader::jpegWithoutEndMarkerOpens()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, bytesTrimmed);

    const QImage whole = decodeBytes(bytes);
    bytes.chop(bytesTrimmed);
    QCOMPARE(pictureloader::load(writeFile(FFolder, QStringLiteral("noeoi.jpg"), bytes)), whole);
}

void TestPictureLoader::zeroBytesGiveNoPicture()
{
    const QImage picture = pictureloader::load(writeFile(FFolder, QStringLiteral("empty.bmp"), {}));
    QVERIFY(picture.isNull());
}

// A file that ends before the size fstat gave, as one cut while it is read: the decoder gives
// the read error, and every read after the failed one fails too.
void TestPictureLoader::fileEndingBeforeItsSize()
{
    const QByteArray jpeg = jpegBytes(61, 37);
    QFile file(writeFile(FFolder, QStringLiteral("short.jpg"), jpeg));
    QVERIFY(file.open(QIODevice::ReadOnly));
    TByteSource source(file.handle(), jpeg.size() + 10);
    QCOMPARE(outcomeOf([&] { jpegdecoder::decode(source, {}); }).kind,
             QStringLiteral("read error"));
    QVERIFY(source.failed());
    char bytes[4];
    QCOMPARE(source.read(0, bytes, 4), qint64(-1));
}

void TestPictureLoader::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    const QString readError = QStringLiteral("ストリームからの読み込みエラー");
    const QString unrecognised = QStringLiteral("認識できないイメージフォーマットです。");
    const qint64 small = qint64(64) << 20;
    const QByteArray bmp24 = bmpBytes(13, 7, 24);
    const auto withCompression = [](QByteArray bytes, quint32 compression) {
        putLittleEndian32(bytes, 30, compression);
        return bytes;
    };

    QTest::newRow("BM alone") << QByteArray("BM") << "a.bmp" << DefaultLimit << "read error"
                              << readError;
    QTest::newRow("BM and 51 bytes")
        << bmp24.left(53) << "b.bmp" << DefaultLimit << "read error" << readError;
    QTest::newRow("headers only") << bmp24.left(54) << "c.bmp" << DefaultLimit << "read error"
                                  << readError;
    QTest::newRow("RLE8") << withCompression(bmpBytes(13, 7, 8), 1) << "rle8.bmp" << DefaultLimit
                          << "unrecognised" << unrecognised;
    QTest::newRow("RLE4") << withCompression(bmpBytes(13, 7, 4), 2) << "rle4.bmp" << DefaultLimit
                          << "unrecognised" << unrecognised;
    QTest::newRow("BITFIELDS") << withCompression(bmpBytes(13, 7, 32), 3) << "bf.bmp"
                               << DefaultLimit << "unrecognised" << unrecognised;
    QTest::newRow("compression above 255") << withCompression(bmp24, 0x100) << "c256.bmp"
                                           << DefaultLimit << "unrecognised" << unrecognised;
    {
        // OS/2 1.x: a 12-byte header, so offset 30 lies in the palette (here 0x3300).
        QByteArray os2 = bmpBytes(13, 7, 8);
        putLittleEndian32(os2, 14, 12);
        putLittleEndian32(os2, 30, 0x3300);
        QTest::newRow("OS/2 1.x palette at offset 30")
            << os2 << "os2.bmp" << DefaultLimit << "unrecognised" << unrecognised;
    }
    {
        QByteArray beyond = bmp24;
        putLittleEndian32(beyond, 10, quint32(INT_MAX)); // signed, as Qt reads it
        QTest::newRow("pixel offset beyond the end")
            << beyond << "o.bmp" << DefaultLimit << "read error" << readError;
    }
    {
        QByteArray huge = bmp24.left(54);
        putLittleEndian32(huge, 18, 65535);
        putLittleEndian32(huge, 22, 65535);
        QTest::newRow("BMP declaring 65535 x 65535")
            << huge << "h.bmp" << DefaultLimit << "read error" << readError;
        QTest::newRow("BMP declaring 65535 x 65535, small limit")
            << huge << "h.bmp" << small << "read error" << readError;
        putLittleEndian32(huge, 22, quint32(-65535));
        QTest::newRow("top-down BMP declaring 65535 x 65535")
            << huge << "t.bmp" << DefaultLimit << "read error" << readError;
    }
    {
        // No bytes: the file is made here, sparse, as it is too large to hold in memory.
        QFile zeros(FFolder.filePath(QStringLiteral("zeros.bin")));
        QVERIFY(zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(3) << 30));
        QTest::newRow("3 GiB of zeros")
            << QByteArray() << "zeros.bin" << DefaultLimit << "unrecognised" << unrecognised;
    }
    {
        // Full length, so past the row rule, but more pixels than Qt's BMP reader takes.
        QByteArray header = bmpBytes(1, 1, 24).left(54);
        putLittleEndian32(header, 18, 16385);
        putLittleEndian32(header, 22, 16384);
        QFile sparse(FFolder.filePath(QStringLiteral("wide.bmp")));
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.write(header) == 54 &&
                sparse.resize(54 + qint64(16384) * (16385 * 3 + 1)));
        QTest::newRow("BMP of 16385 x 16384, over Qt's reader")
            << QByteArray() << "wide.bmp" << (qint64(1) << 32) << "too large"
            << tooLarge(16385, 16384, qint64(4) << 28);
    }
    QTest::newRow("text named .bmp") << QByteArray("This is plain text, not a picture at all.\n")
                                     << "t.bmp" << DefaultLimit << "unrecognised" << unrecognised;
    QTest::newRow("text named .jpg")
        << QByteArray("hello") << "t.jpg" << DefaultLimit << "unrecognised" << unrecognised;
    QTest::newRow("B alone") << QByteArray("B") << "b.bmp" << DefaultLimit << "unrecognised"
                             << unrecognised;
    // Sizes that read 0 but bytes that are no picture: refused, never an empty picture.
    QTest::newRow("/proc/self/status")
        << QByteArray() << "/proc/self/status" << DefaultLimit << "unrecognised" << unrecognised;
    QVERIFY(QFile::link("/proc/self/status", FFolder.filePath(QStringLiteral("status link"))));
    QTest::newRow("a link to /proc/self/status")
        << QByteArray() << "status link" << DefaultLimit << "unrecognised" << unrecognised;
    {
        // An icon whose directory says 256 x 256 but whose PNG needs 4 MiB: Qt's reader must be
        // refused before it allocates, not after, and held to the limit to the byte, finer than
        // the MiB Qt counts in.
        QImage plain(1024, 1024, QImage::Format_RGB32);
        plain.fill(Qt::white);
        const QByteArray inside = encoded(plain, "png");
        QByteArray icon("\0\0\1\0\1\0\0\0\0\0\1\0\x20\0", 14);
        icon.append(8, '\0').append(inside);
        putLittleEndian32(icon, 14, quint32(inside.size()));
        putLittleEndian32(icon, 18, 22);
        QTest::newRow("icon holding a PNG larger than its directory says")
            << icon << "i.ico" << (qint64(1) << 20) << "unrecognised" << unrecognised;
        QTest::newRow("icon holding a PNG within the limit")
            << icon << "i.ico" << (qint64(6) << 20) << "opened" << QString();
        const qint64 byteShort = (qint64(4) << 20) - 1;
        QTest::newRow("icon holding a PNG a byte over the limit")
            << icon << "i.ico" << byteShort << "too large" << tooLarge(1024, 1024, byteShort);
    }
    QTest::newRow("JPEG SOI alone")
        << QByteArray("\xFF\xD8\xFF") << "s.jpg" << DefaultLimit << "unrecognised" << unrecognised;

    const QByteArray png = encoded(coordinatePicture(13, 7), "png");
    QTest::newRow("PNG declaring 65535 x 65535")
        << pngDeclaring(png, 65535, 65535) << "h.png" << DefaultLimit << "too large"
        << tooLarge(65535, 65535);
    QTest::newRow("PNG declaring 65535 x 65535, small limit")
        << pngDeclaring(png, 65535, 65535) << "h.png" << small << "too large"
        << tooLarge(65535, 65535, small);
    QTest::newRow("PNG declaring 16385 x 16384")
        << pngDeclaring(png, 16385, 16384) << "h.png" << DefaultLimit << "too large"
        << tooLarge(16385, 16384);
    QTest::newRow("GIF declaring 65535 x 65535")
        << gifBytes(11, 6, 65535, 65535) << "h.gif" << DefaultLimit << "too large"
        << tooLarge(65535, 65535);
    QTest::newRow("GIF declaring 65535 x 65535, small limit")
        << gifBytes(11, 6, 65535, 65535) << "h.gif" << small << "too large"
        << tooLarge(65535, 65535, small);
    const QByteArray jpeg = jpegBytes(13, 7);
    // Over libjpeg's own maximum of 65500 a side: still told as too large.
    QTest::newRow("JPEG declaring 65535 x 65535")
        << jpegDeclaring(jpeg, 65535, 65535) << "h.jpg" << DefaultLimit << "too large"
        << tooLarge(65535, 65535);
    QTest::newRow("JPEG declaring 60000 x 60000")
        << jpegDeclaring(jpeg, 60000, 60000) << "h.jpg" << DefaultLimit << "too large"
        << tooLarge(60000, 60000);
    QTest::newRow("JPEG declaring 60000 x 60000, small limit")
        << jpegDeclaring(jpeg, 60000, 60000) << "h.jpg" << small << "too large"
        << tooLarge(60000, 60000, small);

    // The same tiny pictures, one byte over a small limit, through each decoder.
    QTest::newRow("BMP one byte over the limit") << bmp24 << "l.bmp" << qint64(13 * 7 * 4 - 1)
                                                 << "too large" << tooLarge(13, 7, 13 * 7 * 4 - 1);
    QTest::newRow("PNG one byte over the limit") << png << "l.png" << qint64(13 * 7 * 4 - 1)
                                                 << "too large" << tooLarge(13, 7, 13 * 7 * 4 - 1);
    QTest::newRow("GIF one byte over the limit")
        << gifBytes(11, 6) << "l.gif" << qint64(11 * 6 * 4 - 1) << "too large"
        << tooLarge(11, 6, 11 * 6 * 4 - 1);
    QTest::newRow("JPEG one byte over the limit") << jpeg << "l.jpg" << qint64(13 * 7 * 4 - 1)
                                                  << "too large" << tooLarge(13, 7, 13 * 7 * 4 - 1);

    const QByteArray tga = tgaBytes(coordinatePicture(13, 7), 24);
    QByteArray huge = tga.left(18);
    qToLittleEndian<quint32>(0xFFFFFFFF, huge.data() + 12);
    QTest::newRow("TGA declaring 65535 x 65535")
        << huge << "h.tga" << DefaultLimit << "too large" << tooLarge(65535, 65535);
    QTest::newRow("TGA cut short") << tgaBytes(coordinatePicture(13, 7), 24, 0, false).chopped(1)
                                   << "c.tga" << DefaultLimit << "read error" << readError;
    QTest::newRow("TGA 2.0 whose pixels run into the footer")
        << tga.chopped(27) + tga.right(26) << "c.tga" << DefaultLimit << "read error" << readError;
    // The first 18 bytes break one rule each: no TGA, whatever follows.
    const struct
    {
        const char *name;
        int offset;
        char value;
    } notTga[] = {{"colour map type 2", 1, 2},
                  {"colour-mapped", 2, 1},
                  {"run-length encoded", 2, 10},
                  {"16-bit true colour", 16, 16},
                  {"0 pixels wide", 12, 0},
                  {"0 pixels high", 14, 0},
                  {"interleaved rows", 17, 0x40},
                  {"no colour map but its first entry", 3, 1},
                  {"no colour map but its entry size", 7, 24},
                  {"a colour map of 8-bit entries", 1, 1}};
    for (const auto &rule : notTga) {
        QByteArray broken = tga;
        broken[rule.offset] = rule.value;
        QTest::newRow(qPrintable(QStringLiteral("TGA header: ") + rule.name))
            << broken << "n.tga" << DefaultLimit << "unrecognised" << unrecognised;
    }

    // Its coefficients need memory the picture leaves none of (libjpeg takes a picture under 88
    // rows in any case); a baseline one of this size opens.
    QTest::newRow("progressive JPEG at exactly the limit")
        << jpegBytes(61, 97, true) << "p.jpg" << qint64(61 * 97 * 4) << "too large"
        << tooLarge(61, 97, qint64(61) * 97 * 4);
    const QVector<int> scans = jpegMarkers(jpegBytes(61, 37, true), 0xDA);
    QVERIFY(scans.size() > 3);
    QTest::newRow("progressive JPEG cut at its second scan")
        << jpegBytes(61, 37, true).left(scans[1]) << "p.jpg" << DefaultLimit << "unrecognised"
        << unrecognised;
    QTest::newRow("progressive JPEG cut at its last scan")
        << jpegBytes(61, 37, true).left(scans.last()) << "p.jpg" << DefaultLimit << "unrecognised"
        << unrecognised;
    const QByteArray restarts = libjpegBytes(61, 37, {false, false, false, false, 1});
    const QVector<int> restartMarkers = jpegMarkers(restarts, 0xD1);
    QVERIFY(!restartMarkers.isEmpty());
    QTest::newRow("JPEG cut just before a restart marker")
        << restarts.left(restartMarkers.first()) << "r.jpg" << DefaultLimit << "unrecognised"
        << unrecognised;
    QTest::newRow("JPEG cut just after a restart marker")
        << restarts.left(restartMarkers.first() + 2) << "r.jpg" << DefaultLimit << "unrecognised"
        << unrecognised;
    const QByteArray separate = libjpegBytes(61, 37, {false, false, false, true});
    QTest::newRow("JPEG with one scan per component cut at its last scan")
        << separate.left(jpegMarkers(separate, 0xDA).constLast()) << "s.jpg" << DefaultLimit
        << "unrecognised" << unrecognised;
    QTest::newRow("progressive JPEG of 1001 scans")
        << jpegOfScans(1001) << "m.jpg" << DefaultLimit << "unrecognised" << unrecognised;
    QTest::newRow("JPEG of tables only")
        << jpeg.left(jpegMarkers(jpeg, 0xC0).at(0)) + "\xFF\xD9"
        << "t.jpg" << DefaultLimit << "unrecognised" << unrecognised;
    {
        // Every scan but one, then the end of the bytes: the first component's scan, or the
        // progressive file's refinement of the DC coefficients (its seventh scan).
        const QVector<int> at = jpegMarkers(separate, 0xDA);
        QTest::newRow("JPEG with one scan per component, the first left out")
            << separate.left(at[0]) + separate.mid(at[1]).chopped(2) << "s.jpg" << DefaultLimit
            << "unrecognised" << unrecognised;
        const QByteArray progressive = jpegBytes(61, 37, true);
        const int refinement = jpegMarkers(progressive, 0xDA).at(6); // up to the next scan's tables
        QTest::newRow("progressive JPEG without its DC refinement")
            << progressive.left(refinement) +
                   progressive.mid(progressive.indexOf("\xFF\xC4", refinement)).chopped(2)
            << "p.jpg" << DefaultLimit << "unrecognised" << unrecognised;
    }
}

void TestPictureLoader::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(qint64, limit);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    const QString path = QDir::isAbsolutePath(name) ? name : FFolder.filePath(name);
    const Outcome outcome = bytes.isNull() ? outcomeOf([&] { pictureloader::load(path, {limit}); })
                                           : loadAndDecode(FFolder, name, bytes, limit);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.message, message);
}

void TestPictureLoader::everyCutOfAJpegIsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("baseline") << jpegBytes(29, 19);
    QTest::newRow("progressive") << jpegBytes(29, 19, true);
    QTest::newRow("greyscale") << encoded(
        coordinatePicture(29, 19).convertToFormat(QImage::Format_Grayscale8), "jpeg");
    QTest::newRow("restart markers") << libjpegBytes(29, 19, {false, false, false, false, 1});
    QTest::newRow("arithmetic coding") << libjpegBytes(29, 19, {false, false, true});
    QTest::newRow("progressive arithmetic") << libjpegBytes(29, 19, {false, true, true});
    QTest::newRow("one scan per component") << libjpegBytes(29, 19, {false, false, false, true});
    QTest::newRow("CMYK") << libjpegBytes(29, 19, {true});
}

// Wherever the bytes end before the last byte of the last scan, some rows would be made up.
void TestPictureLoader::everyCutOfAJpegIsRefused()
{
    QFETCH(QByteArray, bytes);

    for (int length = 2; length <= bytes.size() - 3; ++length) {
        const Outcome outcome =
            loadAndDecode(FFolder, QStringLiteral("cut.jpg"), bytes.left(length));
        if (outcome.kind != QLatin1String("unrecognised"))
            QFAIL(qPrintable(QStringLiteral("cut to %1 of %2 bytes: %3")
                                 .arg(length)
                                 .arg(bytes.size())
                                 .arg(outcome.kind)));
    }
}

void TestPictureLoader::everyCutOfABmpIsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("lastRowPadding");

    QTest::newRow("1-bit") << bmpBytes(33, 5, 1) << 3;
    QTest::newRow("4-bit") << bmpBytes(35, 5, 4) << 2;
    QTest::newRow("8-bit top-down") << bmpBytes(37, 5, 8, true) << 3;
    QTest::newRow("24-bit") << bmpBytes(39, 5, 24) << 3;
    QTest::newRow("24-bit, two rows") << bmpBytes(39, 2, 24) << 3;
    QTest::newRow("32-bit") << bmpBytes(41, 5, 32) << 0;
    QTest::newRow("OS/2 1.x, 24-bit") << os2BmpBytes(39, 5) << 3;
    QTest::newRow("16-byte header, 16-bit sides") << os2BmpBytes(39, 5, 16) << 3;
}

void TestPictureLoader::everyCutOfABmpIsRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, lastRowPadding);

    for (int length = 2; length < bytes.size() - lastRowPadding; ++length) {
        const Outcome outcome =
            loadAndDecode(FFolder, QStringLiteral("cut.bmp"), bytes.left(length));
        if (outcome.kind != QLatin1String("read error"))
            QFAIL(qPrintable(QStringLiteral("cut to %1 of %2 bytes: %3")
                                 .arg(length)
                                 .arg(bytes.size())
                                 .arg(outcome.kind)));
    }
}

// The BMP row rule over its whole space, from the generator the fuzzer's seeds and the memcheck
// replay also come from: every info header size, row depth, row order and palette, whole and
// cut. A whole file opens as Qt's reader reads it, and so does one cut in its last row's padding
// only; any other cut is refused with the read error.
void TestPictureLoader::bmpRuleSpace_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected"); // null: the read error

    const QDir space(FFolder.filePath(QStringLiteral("bmp-rule-space")));
    QCOMPARE(QProcess::execute(QStringLiteral(TAVIMO_SOURCE_DIR "/tests/fuzz/make-seeds"),
                               {QStringLiteral("--bmp"), space.path()}),
             0);
    const auto bytesOf = [&space](const QString &name) {
        QFile file(space.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (const QString &name : space.entryList(QDir::Files, QDir::Name)) {
        const QString whole = name.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".bmp");
        const bool opens = name == whole || name.endsWith(QLatin1String(".cut-in-padding.bmp"));
        const QImage expected = opens ? qtReads(bytesOf(whole)) : QImage();
        QVERIFY2(!opens || !expected.isNull(), qPrintable(whole + " is no picture to Qt"));
        QTest::newRow(qPrintable(name)) << bytesOf(name) << expected;
    }
}

void TestPictureLoader::bmpRuleSpace()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);

    const Outcome outcome = loadAndDecode(FFolder, QStringLiteral("space.bmp"), bytes);
    QCOMPARE(outcome.kind,
             expected.isNull() ? QStringLiteral("read error") : QStringLiteral("opened"));
    QCOMPARE(outcome.picture, expected);
}

void TestPictureLoader::openErrors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shownPath");
    QTest::addColumn<QString>("reason");

    const QString notRegular = QStringLiteral("通常のファイルではありません");
    const QString missing = FFolder.filePath(QStringLiteral("missing.bmp"));
    QTest::newRow("missing file") << missing << missing << errors::systemErrorText(ENOENT);
    const QString relative = QStringLiteral("no-such-picture-5d1c.bmp");
    QTest::newRow("missing file, relative path")
        << relative << QDir::current().absoluteFilePath(relative)
        << errors::systemErrorText(ENOENT);
    QTest::newRow("folder") << FFolder.path() << FFolder.path() << errors::systemErrorText(EISDIR);

    const QString fifo = FFolder.filePath(QStringLiteral("fifo"));
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0 && errno != EEXIST)
        qFatal("mkfifo failed");
    QTest::newRow("FIFO with no writer") << fifo << fifo << notRegular;
    QTest::newRow("/dev/zero") << "/dev/zero"
                               << "/dev/zero" << notRegular;

    const QString plain = writeFile(FFolder, QStringLiteral("plain.bmp"), bmpBytes(3, 3, 24));
    QTest::newRow("path through a file")
        << plain + "/x.bmp" << plain + "/x.bmp" << errors::systemErrorText(ENOTDIR);
    // A file without read permission is opened as an unprivileged user in tst_faultopen:
    // permissions do not apply to root, which runs this test in CI.
}

void TestPictureLoader::openErrors()
{
    QFETCH(QString, path);
    QFETCH(QString, shownPath);
    QFETCH(QString, reason);
    const Outcome outcome = outcomeOf([&] { pictureloader::load(path); });
    QCOMPARE(outcome.kind, QStringLiteral("open error"));
    QCOMPARE(outcome.message,
             QStringLiteral("ファイル \"%1\". %2 が開きません").arg(shownPath, reason));
}

void TestPictureLoader::declaredSizeLimit_data()
{
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("refused");

    QTest::newRow("16384 x 16384 at the default limit")
        << qint64(16384) << qint64(16384) << DefaultLimit << false;
    QTest::newRow("16384 x 16385 at the default limit")
        << qint64(16384) << qint64(16385) << DefaultLimit << true;
    QTest::newRow("16385 x 16384 at the default limit")
        << qint64(16385) << qint64(16384) << DefaultLimit << true;
    QTest::newRow("one column of 2^28 pixels")
        << qint64(1) << (qint64(1) << 28) << DefaultLimit << false;
    QTest::newRow("one column a pixel over")
        << qint64(1) << (qint64(1) << 28) + 1 << DefaultLimit << true;
    QTest::newRow("one row a pixel over")
        << (qint64(1) << 28) + 1 << qint64(1) << DefaultLimit << true;
    QTest::newRow("65535 x 65535") << qint64(65535) << qint64(65535) << DefaultLimit << true;
    QTest::newRow("product beyond 64 bits")
        << (qint64(1) << 40) << (qint64(1) << 40) << DefaultLimit << true;
    QTest::newRow("exactly a small limit") << qint64(10) << qint64(10) << qint64(400) << false;
    QTest::newRow("one byte over a small limit") << qint64(10) << qint64(10) << qint64(399) << true;
    QTest::newRow("no width") << qint64(0) << qint64(1) << qint64(0) << false;
    // The message's megapixels are truncated, not rounded.
    QTest::newRow("a limit of one megapixel")
        << qint64(1001) << qint64(1000) << qint64(4000000) << true;
    QTest::newRow("a pixel short of one megapixel")
        << qint64(1000) << qint64(1000) << qint64(3999996) << true;
}

void TestPictureLoader::declaredSizeLimit()
{
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QFETCH(qint64, limit);
    QFETCH(bool, refused);

    const Outcome outcome =
        outcomeOf([&] { picturelimits::checkDeclaredSize(width, height, {limit}); });
    QCOMPARE(outcome.kind, refused ? QStringLiteral("too large") : QStringLiteral("opened"));
    if (refused)
        QCOMPARE(outcome.message, tooLarge(width, height, limit));
}

void TestPictureLoader::limitFromTheMachine_data()
{
    QTest::addColumn<qint64>("pages"); // physical pages of 4 KiB; -1: unknown
    QTest::addColumn<qint64>("group"); // 0: no control group limit
    QTest::addColumn<qint64>("limit");

    constexpr qint64 GiB = qint64(1) << 30, Pages = GiB / 4096; // pages in a GiB
    QTest::newRow("memory unknown: the floor") << qint64(-1) << qint64(0) << GiB;
    QTest::newRow("1 GiB machine: the floor") << Pages << qint64(0) << GiB;
    QTest::newRow("3 GiB machine: half") << 3 * Pages << qint64(0) << 3 * GiB / 2;
    QTest::newRow("8 GiB machine: half") << 8 * Pages << qint64(0) << 4 * GiB;
    QTest::newRow("24 GiB machine: half, no ceiling") << 24 * Pages << qint64(0) << 12 * GiB;
    QTest::newRow("24 GiB machine, 5 GiB group") << 24 * Pages << 5 * GiB << 5 * GiB / 2;
    QTest::newRow("24 GiB machine, 1 GiB group: the floor") << 24 * Pages << GiB << GiB;
    QTest::newRow("3 GiB machine, group of v1's no limit")
        << 3 * Pages << qint64(0x7FFFFFFFFFFFF000) << 3 * GiB / 2;
    QTest::newRow("memory unknown, 6 GiB group") << qint64(-1) << 6 * GiB << 3 * GiB;
}

void TestPictureLoader::limitFromTheMachine()
{
    QFETCH(qint64, pages);
    QFETCH(qint64, group);
    QFETCH(qint64, limit);
    QCOMPARE(picturelimits::limitFor(pages, 4096, group), limit);
    // A page size sysconf cannot tell leaves the memory unknown too.
    QCOMPARE(picturelimits::limitFor(pages, -1, group), picturelimits::limitFor(-1, 4096, group));
}

void TestPictureLoader::limitOfTheControlGroups_data()
{
    QTest::addColumn<QByteArray>("cgroupList");  // as /proc/self/cgroup gives it
    QTest::addColumn<QStringList>("limitFiles"); // PATH=TEXT under the hierarchies' root
    QTest::addColumn<qint64>("limit");

    constexpr qint64 GiB = qint64(1) << 30;
    const QString v1None = QStringLiteral("=9223372036854771712");
    QTest::newRow("v2, none set") << QByteArray("0::/user.slice/app.scope\n")
                                  << QStringList{"user.slice/app.scope/memory.max=max",
                                                 "user.slice/memory.max=max"}
                                  << 0LL;
    QTest::newRow("v2, the group's own")
        << QByteArray("0::/user.slice/app.scope\n")
        << QStringList{"user.slice/app.scope/memory.max=2147483648", "user.slice/memory.max=max"}
        << 2 * GiB;
    QTest::newRow("v2, an ancestor's lower")
        << QByteArray("0::/user.slice/app.scope\n")
        << QStringList{"user.slice/app.scope/memory.max=8589934592",
                       "user.slice/memory.max=3221225472"}
        << 3 * GiB;
    QTest::newRow("v2, at the root")
        << QByteArray("0::/\n") << QStringList{"memory.max=5368709120"} << 5 * GiB;
    QTest::newRow("v2, 0 and text are none, 1 byte is a limit")
        << QByteArray("0::/d/e\n")
        << QStringList{"d/e/memory.max=1", "d/memory.max=0", "memory.max=lots"} << 1LL;
    QTest::newRow("v1, the memory controller's, not another's")
        << QByteArray("3:cpu,cpuacct:/b\n4:memory:/a\n")
        << QStringList{"memory/a/memory.limit_in_bytes=6442450944",
                       "memory/memory.limit_in_bytes" + v1None,
                       "memory/b/memory.limit_in_bytes=1073741824", "b/memory.max=1073741824"}
        << 6 * GiB;
    QTest::newRow("v1, memory joined with another")
        << QByteArray("7:cpuset,memory:/c\n")
        << QStringList{"memory/c/memory.limit_in_bytes=7516192768"} << 7 * GiB;
    QTest::newRow("v1 and v2: the least")
        << QByteArray("0::/e\n4:memory:/f\n6:memory:/g\n")
        << QStringList{"e/memory.max=4294967296", "memory/f/memory.limit_in_bytes=3221225472"}
        << 3 * GiB;
    QTest::newRow("lines of no group")
        << QByteArray("garbage\n4:memory\n")
        << QStringList{"memory/memory.limit_in_bytes=1073741824"} << 0LL;
}

void TestPictureLoader::limitOfTheControlGroups()
{
    QFETCH(QByteArray, cgroupList);
    QFETCH(QStringList, limitFiles);
    QFETCH(qint64, limit);

    const QTemporaryDir root;
    for (const QString &entry : limitFiles) {
        const QString path = root.filePath(entry.section(QLatin1Char('='), 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entry.section(QLatin1Char('='), 1).toUtf8() + '\n');
    }
    QCOMPARE(picturelimits::groupLimitBytes(cgroupList, root.path()), limit);
}

// An A1 sheet scanned at 600 dpi: 14000 x 19900 pixels, 1.04 GiB as Format_RGB32, past the
// floor. Its far corner comes from the file's last rows.
void TestPictureLoader::largeScanOpens()
{
    constexpr int Width = 14000, Height = 19900;
    const qint64 limit = picturelimits::machineLimitBytes();
    if (limit < qint64(Width) * Height * 4)
        QSKIP("this machine's memory holds no picture of 279 megapixels");
    const QString path = writeFile(FFolder, QStringLiteral("a1.jpg"),
                                   libjpegBytes(Width, Height, {.blockGrey = true}));
    const QImage picture = pictureloader::load(path, {limit});
    QCOMPARE(picture.size(), QSize(Width, Height));
    for (const QPoint at : {QPoint(Width - 1, Height - 1), QPoint(0, Height - 1),
                            QPoint(Width - 1, 0), QPoint(Width / 2, Height - 9)}) {
        const int grey = blockGreyAt(at.x(), at.y());
        QCOMPARE(picture.pixel(at), qRgb(grey, grey, grey));
    }
}

QTEST_GUILESS_MAIN(TestPictureLoader)
#include "tst_pictureloader.moc"
