#include "core/PointWithRange.h"

#include <QtTest>

#include <vector>

namespace {
struct Event
{
    int x, y;
    bool operator==(const Event &o) const { return x == o.x && y == o.y; }
};

// A point with a recording handler, at (x, y) in the range maxX x maxY.
struct Recorded
{
    TPointWithRange point;
    std::vector<Event> events;

    Recorded(int maxX, int maxY, int x, int y)
    {
        point.SetMaxX(maxX);
        point.SetMaxY(maxY);
        point.SetX(x);
        point.SetY(y);
        point.OnChange = [this](TPointWithRange *sender, qint32 ex, qint32 ey) {
            QCOMPARE(sender, &point);
            // The field is stored before the handler runs.
            QCOMPARE(sender->X(), ex);
            QCOMPARE(sender->Y(), ey);
            events.push_back({ex, ey});
        };
    }
};
} // namespace

class TestPointWithRange : public QObject
{
    Q_OBJECT

private slots:
    void newPoint();
    void setters_data();
    void setters();
    void setMax_data();
    void setMax();
    void noHandlerStillStores();
};

void TestPointWithRange::newPoint()
{
    TPointWithRange p;
    QCOMPARE(p.X(), 0);
    QCOMPARE(p.Y(), 0);
    QCOMPARE(p.MaxX(), 10);
    QCOMPARE(p.MaxY(), 10);
    QVERIFY(!p.OnChange);
}

// Each row: a point at (x, y) in maxX x maxY, one call, the resulting point and the event
// raised (or none).
void TestPointWithRange::setters_data()
{
    QTest::addColumn<int>("maxX");
    QTest::addColumn<int>("maxY");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<char>("axis");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("newX");
    QTest::addColumn<int>("newY");
    QTest::addColumn<bool>("raised");

    QTest::newRow("default range: 10 accepted")
        << 10 << 10 << 0 << 0 << 'x' << 10 << 10 << 0 << true;
    QTest::newRow("default range: 11 ignored")
        << 10 << 10 << 0 << 0 << 'x' << 11 << 0 << 0 << false;
    QTest::newRow("range 0: 0 accepted") << 0 << 0 << 0 << 0 << 'x' << 0 << 0 << 0 << true;
    QTest::newRow("range 0: 1 ignored") << 0 << 0 << 0 << 0 << 'x' << 1 << 0 << 0 << false;
    QTest::newRow("range 0: -1 ignored") << 0 << 0 << 0 << 0 << 'x' << -1 << 0 << 0 << false;
    QTest::newRow("MaxX accepted") << 640 << 480 << 3 << 4 << 'x' << 640 << 640 << 4 << true;
    QTest::newRow("MaxX+1 ignored") << 640 << 480 << 3 << 4 << 'x' << 641 << 3 << 4 << false;
    QTest::newRow("same value raises again") << 640 << 480 << 3 << 4 << 'x' << 3 << 3 << 4 << true;
    QTest::newRow("SetY carries current X") << 640 << 480 << 3 << 4 << 'y' << 9 << 3 << 9 << true;
    QTest::newRow("MaxY accepted") << 640 << 480 << 3 << 4 << 'y' << 480 << 3 << 480 << true;
    QTest::newRow("MaxY+1 ignored") << 640 << 480 << 3 << 4 << 'y' << 481 << 3 << 4 << false;
    QTest::newRow("negative Y ignored") << 640 << 480 << 3 << 4 << 'y' << -5 << 3 << 4 << false;
    QTest::newRow("INT_MIN ignored") << 640 << 480 << 3 << 4 << 'x' << INT_MIN << 3 << 4 << false;
}

void TestPointWithRange::setters()
{
    QFETCH(int, maxX);
    QFETCH(int, maxY);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(char, axis);
    QFETCH(int, value);
    QFETCH(int, newX);
    QFETCH(int, newY);
    QFETCH(bool, raised);

    Recorded r(maxX, maxY, x, y);
    if (axis == 'x')
        r.point.SetX(value);
    else
        r.point.SetY(value);
    QCOMPARE(r.point.X(), newX);
    QCOMPARE(r.point.Y(), newY);
    const std::vector<Event> expected =
        raised ? std::vector<Event>{{newX, newY}} : std::vector<Event>{};
    QVERIFY(r.events == expected);
}

void TestPointWithRange::setMax_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("newMax");
    QTest::addColumn<int>("maxAfter");
    QTest::addColumn<int>("xAfter");

    QTest::newRow("-1 changes nothing") << 8 << -1 << 20 << 8;
    QTest::newRow("5 pulls X down") << 8 << 5 << 5 << 5;
    QTest::newRow("20 leaves X") << 8 << 20 << 20 << 8;
    QTest::newRow("0 pulls X to 0") << 8 << 0 << 0 << 0;
    QTest::newRow("equal to X keeps it") << 8 << 8 << 8 << 8;
}

void TestPointWithRange::setMax()
{
    QFETCH(int, x);
    QFETCH(int, newMax);
    QFETCH(int, maxAfter);
    QFETCH(int, xAfter);

    // Both axes behave alike: run the row on X and, transposed, on Y.
    Recorded r(20, 20, x, x);
    r.point.SetMaxX(newMax);
    r.point.SetMaxY(newMax);
    QCOMPARE(r.point.MaxX(), maxAfter);
    QCOMPARE(r.point.X(), xAfter);
    QCOMPARE(r.point.MaxY(), maxAfter);
    QCOMPARE(r.point.Y(), xAfter);
    QVERIFY(r.events.empty()); // bounds never raise the event
}

void TestPointWithRange::noHandlerStillStores()
{
    TPointWithRange p;
    p.SetX(7);
    p.SetY(9);
    QCOMPARE(p.X(), 7);
    QCOMPARE(p.Y(), 9);
}

QTEST_APPLESS_MAIN(TestPointWithRange)
#include "tst_pointwithrange.moc"
