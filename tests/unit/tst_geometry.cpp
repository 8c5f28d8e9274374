#include "core/Geometry.h"

#include <QtTest>

Q_DECLARE_METATYPE(TRect)

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void fitRect_data();
    void fitRect();
    void magnifierStep_data();
    void magnifierStep();
    void colourLayout();
};

void TestGeometry::fitRect_data()
{
    QTest::addColumn<int>("aw");
    QTest::addColumn<int>("ah");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bottom");

    QTest::newRow("640x480 width-limited") << 300 << 320 << 640 << 480 << 300 << 225;
    QTest::newRow("480x640 height-limited") << 300 << 320 << 480 << 640 << 240 << 320;
    QTest::newRow("100x100 enlarged") << 300 << 320 << 100 << 100 << 300 << 300;
    QTest::newRow("15x16 tie takes width branch") << 300 << 320 << 15 << 16 << 300 << 320;
    QTest::newRow("7x3 truncates") << 300 << 320 << 7 << 3 << 300 << 128;
    QTest::newRow("1x1000 zero width") << 300 << 320 << 1 << 1000 << 0 << 320;
    QTest::newRow("1000x1 zero height") << 300 << 320 << 1000 << 1 << 300 << 0;
    QTest::newRow("7x106") << 300 << 320 << 7 << 106 << 21 << 320;
    QTest::newRow("660x680 area") << 660 << 680 << 640 << 480 << 660 << 495;
    // 320 * 60000 and 300 * 50000 overflow nothing in 64 bits.
    QTest::newRow("huge tall picture") << 300 << 320 << 30000 << 60000 << 160 << 320;
    QTest::newRow("overflowing products") << 1900 << 1060 << 3000000 << 3000000 << 1060 << 1060;
}

void TestGeometry::fitRect()
{
    QFETCH(int, aw);
    QFETCH(int, ah);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, right);
    QFETCH(int, bottom);
    const TRect r = FitRect(aw, ah, w, h);
    QCOMPARE(r.Left, 0);
    QCOMPARE(r.Top, 0);
    QCOMPARE(r.Right, right);
    QCOMPARE(r.Bottom, bottom);
}

void TestGeometry::magnifierStep_data()
{
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("step");

    QTest::newRow("0") << 0 << -10;
    QTest::newRow("15") << 15 << -10;
    QTest::newRow("16") << 16 << -9;
    QTest::newRow("143") << 143 << -2;
    QTest::newRow("144") << 144 << -1;
    QTest::newRow("145 (cell -1, not the centre)") << 145 << -1;
    QTest::newRow("154") << 154 << -1;
    QTest::newRow("159") << 159 << -1;
    QTest::newRow("160 own cell") << 160 << 0;
    QTest::newRow("175 own cell") << 175 << 0;
    QTest::newRow("176") << 176 << 1;
    QTest::newRow("191") << 191 << 1;
    QTest::newRow("192") << 192 << 2;
    QTest::newRow("304") << 304 << 9;
    QTest::newRow("319") << 319 << 9;
}

void TestGeometry::magnifierStep()
{
    QFETCH(int, pos);
    QFETCH(int, step);
    QCOMPARE(geometry::magnifierStep(pos), step);
}

void TestGeometry::colourLayout()
{
    QCOMPARE(geometry::tcolorToRgb(0xFF0000), 0xFF0000FFu);  // TColor blue
    QCOMPARE(geometry::rgbToTColor(0xFFFF0000u), 0x0000FFu); // pure red
    QCOMPARE(geometry::rgbToTColor(geometry::tcolorToRgb(0x123456)), 0x123456u);
    // Odd channels beside even ones, so that no channel can take a bit of its neighbour.
    QCOMPARE(geometry::tcolorToRgb(0x0481A5), 0xFFA58104u);
    QCOMPARE(geometry::rgbToTColor(0xFFA48105u), 0x0581A4u);
}

QTEST_APPLESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
