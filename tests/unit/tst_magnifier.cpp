#include "core/Magnifier.h"

#include <QtTest>

namespace {

// A picture whose every pixel names its own coordinates, so a wrong sample is identified:
// red = column, green = row, blue = a mix of both (pictures here stay below 256 pixels).
quint32 encoded(int x, int y)
{
    return qRgb(x & 0xFF, y & 0xFF, (x * 7 + y * 13 + 1) & 0xFF);
}

QImage codedPicture(int w, int h)
{
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<quint32 *>(picture.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = encoded(x, y);
    }
    return picture;
}

quint32 raw(const QImage &image, int x, int y)
{
    return reinterpret_cast<const quint32 *>(image.constScanLine(y))[x];
}

// What the magnifier must show at output (u, v) for a point (px, py) with the range
// maxX x maxY, derived independently of the implementation's loops.
quint32 expectedAt(int u, int v, int px, int py, int maxX, int maxY)
{
    if ((u >= 158 && u <= 161) || (v >= 158 && v <= 161))
        return 0;
    const int sx = px - 10 + u / 16;
    const int sy = py - 10 + v / 16;
    if (sx < 0 || sx >= maxX || sy < 0 || sy >= maxY)
        return 0;
    return encoded(sx, sy);
}

} // namespace

class TestMagnifier : public QObject
{
    Q_OBJECT

private slots:
    void wholeImage_data();
    void wholeImage();
    void samplePixels_data();
    void samplePixels();
    void overwritesEverything();
};

void TestMagnifier::wholeImage_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("maxX");
    QTest::addColumn<int>("maxY");

    QTest::newRow("centre of a large picture") << 100 << 80 << 50 << 40 << 100 << 80;
    QTest::newRow("point at (0, 0)") << 40 << 40 << 0 << 0 << 40 << 40;
    QTest::newRow("point at (MaxX, MaxY)") << 40 << 30 << 40 << 30 << 40 << 30;
    QTest::newRow("1x1 picture") << 1 << 1 << 0 << 0 << 1 << 1;
    QTest::newRow("5 wide, X = 2") << 5 << 60 << 2 << 30 << 5 << 60;
    QTest::newRow("wide picture near its right edge") << 250 << 40 << 245 << 20 << 250 << 40;
    QTest::newRow("tall picture near its bottom edge") << 40 << 250 << 20 << 247 << 40 << 250;
    QTest::newRow("range 0 x 0 gives all black") << 30 << 30 << 0 << 0 << 0 << 0;
}

// Every one of the 102,400 output pixels against the rule.
void TestMagnifier::wholeImage()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, maxX);
    QFETCH(int, maxY);

    const QImage picture = codedPicture(w, h);
    QImage zoom(320, 320, QImage::Format_RGB32);
    zoom.fill(0x12345678u);
    magnifier::build(picture, x, y, maxX, maxY, zoom);
    for (int v = 0; v < 320; ++v)
        for (int u = 0; u < 320; ++u)
            if (raw(zoom, u, v) != expectedAt(u, v, x, y, maxX, maxY))
                QFAIL(qPrintable(
                    QStringLiteral("output (%1, %2) is %3, expected %4")
                        .arg(u)
                        .arg(v)
                        .arg(raw(zoom, u, v), 8, 16, QLatin1Char('0'))
                        .arg(expectedAt(u, v, x, y, maxX, maxY), 8, 16, QLatin1Char('0'))));
}

// Named output pixels with the picture pixel (or black, -1) they must show; point (50, 40)
// on a 100 x 80 picture unless the row says otherwise.
void TestMagnifier::samplePixels_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("u");
    QTest::addColumn<int>("v");
    QTest::addColumn<int>("sx");
    QTest::addColumn<int>("sy");

    QTest::newRow("(0,0) shows entry (0,0)") << 100 << 80 << 50 << 40 << 0 << 0 << 40 << 30;
    QTest::newRow("(157,157) shows entry (9,9)") << 100 << 80 << 50 << 40 << 157 << 157 << 49 << 39;
    QTest::newRow("(162,162) shows entry (10,10)")
        << 100 << 80 << 50 << 40 << 162 << 162 << 50 << 40;
    QTest::newRow("(319,319) shows entry (19,19)")
        << 100 << 80 << 50 << 40 << 319 << 319 << 59 << 49;
    QTest::newRow("band row 158") << 100 << 80 << 50 << 40 << 20 << 158 << -1 << -1;
    QTest::newRow("band column 161") << 100 << 80 << 50 << 40 << 161 << 300 << -1 << -1;
    QTest::newRow("origin: left half black") << 40 << 40 << 0 << 0 << 100 << 170 << -1 << -1;
    QTest::newRow("origin: own pixel at 162..175") << 40 << 40 << 0 << 0 << 175 << 175 << 0 << 0;
    QTest::newRow("past end: last pixel at 144..157")
        << 40 << 30 << 40 << 30 << 144 << 157 << 39 << 29;
    QTest::newRow("past end: own block black") << 40 << 30 << 40 << 30 << 165 << 165 << -1 << -1;
    QTest::newRow("1x1: the pixel at 162") << 1 << 1 << 0 << 0 << 162 << 170 << 0 << 0;
    QTest::newRow("1x1: its left neighbour black") << 1 << 1 << 0 << 0 << 150 << 170 << -1 << -1;
    QTest::newRow("5 wide: column 0 at 128") << 5 << 60 << 2 << 30 << 128 << 100 << 0 << 26;
    QTest::newRow("5 wide: column 4 at 207") << 5 << 60 << 2 << 30 << 207 << 100 << 4 << 26;
    QTest::newRow("5 wide: 127 black") << 5 << 60 << 2 << 30 << 127 << 100 << -1 << -1;
    QTest::newRow("5 wide: 208 black") << 5 << 60 << 2 << 30 << 208 << 100 << -1 << -1;
}

void TestMagnifier::samplePixels()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, u);
    QFETCH(int, v);
    QFETCH(int, sx);
    QFETCH(int, sy);

    QImage zoom(320, 320, QImage::Format_RGB32);
    magnifier::build(codedPicture(w, h), x, y, w, h, zoom);
    QCOMPARE(raw(zoom, u, v), sx < 0 ? 0u : encoded(sx, sy));
}

// A run leaves nothing of an earlier run behind.
void TestMagnifier::overwritesEverything()
{
    const QImage picture = codedPicture(60, 60);
    QImage zoom(320, 320, QImage::Format_RGB32);
    magnifier::build(picture, 30, 30, 60, 60, zoom);
    magnifier::build(picture, 0, 0, 0, 0, zoom);
    for (int v = 0; v < 320; ++v)
        for (int u = 0; u < 320; ++u)
            QCOMPARE(raw(zoom, u, v), 0u);
}

QTEST_APPLESS_MAIN(TestMagnifier)
#include "tst_magnifier.moc"
