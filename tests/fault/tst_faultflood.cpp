// Thousands of key presses and clicks queued at once: every one is handled in order, none is
// reported as a failure, and the window ends on the point a plain model of the rules gives.
#include "FormFixture.h"

#include <QAction>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QtTest>

using namespace formfixture;

namespace {

// 150 x 160 pixels drawn twice their size into the 300 x 320 picture area: a click at client
// (2x + 1, 2y + 1) is squarely inside pixel (x, y).
constexpr int PictureWidth = 150;
constexpr int PictureHeight = 160;
constexpr int MagnifierLeft = 640 - 10 - 320;
constexpr int MagnifierTop = 10;

struct Model
{
    int x = 0;
    int y = 0;

    void moveBy(int dx, int dy) // a move leaving the picture is refused, not clamped
    {
        if (x + dx >= 0 && x + dx <= PictureWidth)
            x += dx;
        if (y + dy >= 0 && y + dy <= PictureHeight)
            y += dy;
    }
};

void post(QWidget *target, QEvent *event)
{
    QCoreApplication::postEvent(target, event); // takes ownership
}

void postClick(QWidget *client, QPoint pos, Qt::MouseButton button)
{
    const QPointF global = client->mapToGlobal(QPointF(pos));
    post(client,
         new QMouseEvent(QEvent::MouseButtonPress, QPointF(pos), global, button, button, {}));
    post(client, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(pos), global, button,
                                 Qt::NoButton, {}));
}

} // namespace

class TestFaultFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodOfKeysAndClicks_data();
    void floodOfKeysAndClicks();
};

void TestFaultFlood::floodOfKeysAndClicks_data()
{
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<quint32>("seed");

    QTest::newRow("keys only") << 4000 << 0 << 1u;
    QTest::newRow("clicks only") << 0 << 2000 << 2u;
    QTest::newRow("keys and clicks mixed") << 3000 << 1500 << 3u;
}

void TestFaultFlood::floodOfKeysAndClicks()
{
    QFETCH(int, keys);
    QFETCH(int, clicks);
    QFETCH(quint32, seed);

    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    const QImage picture = codedPicture(PictureWidth, PictureHeight);
    f.open(picture);
    QWidget *client = f.form->clientArea();

    QRandomGenerator random(seed);
    Model model;
    const Qt::Key arrows[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up,  Qt::Key_Down,
                              Qt::Key_A,    Qt::Key_Space, Qt::Key_Home};
    const Qt::KeyboardModifiers modifiers[] = {
        Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier,
        Qt::ShiftModifier | Qt::ControlModifier, Qt::AltModifier};
    int keysLeft = keys, clicksLeft = clicks;
    while (keysLeft + clicksLeft > 0) {
        if (int(random.bounded(keysLeft + clicksLeft)) < keysLeft) {
            --keysLeft;
            const Qt::Key key = arrows[random.bounded(7)];
            const Qt::KeyboardModifiers mod = modifiers[random.bounded(5)];
            post(client, new QKeyEvent(QEvent::KeyPress, key, mod));
            post(client, new QKeyEvent(QEvent::KeyRelease, key, mod));
            const int step = mod.testFlag(Qt::ShiftModifier)     ? 3
                             : mod.testFlag(Qt::ControlModifier) ? 10
                                                                 : 1;
            switch (key) {
            case Qt::Key_Left:
                model.moveBy(-step, 0);
                break;
            case Qt::Key_Right:
                model.moveBy(step, 0);
                break;
            case Qt::Key_Up:
                model.moveBy(0, -step);
                break;
            case Qt::Key_Down:
                model.moveBy(0, step);
                break;
            default:
                break;
            }
            continue;
        }
        --clicksLeft;
        switch (random.bounded(4)) {
        case 0: { // on a picture pixel
            const int x = random.bounded(PictureWidth), y = random.bounded(PictureHeight);
            postClick(client, QPoint(2 * x + 1, 2 * y + 1), Qt::LeftButton);
            model = {x, y};
            break;
        }
        case 1: { // in the magnifier: by whole cells
            const int mx = random.bounded(320), my = random.bounded(320);
            postClick(client, QPoint(MagnifierLeft + mx, MagnifierTop + my), Qt::LeftButton);
            model.moveBy(mx / 16 - 10, my / 16 - 10);
            break;
        }
        case 2: // the right button moves nothing
            postClick(client, QPoint(random.bounded(300), random.bounded(320)), Qt::RightButton);
            break;
        default: // the gap between the picture and the magnifier, and the text strip
            postClick(client, QPoint(301 + random.bounded(9), 321 + random.bounded(19)),
                      Qt::LeftButton);
            break;
        }
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    QVERIFY(f.reports.isEmpty());
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(model.x, model.y));

    // The frame is the one a window with the point set directly shows.
    FormFixture fresh;
    fresh.open(picture);
    fresh.form->point()->SetX(model.x);
    fresh.form->point()->SetY(model.y);
    QCOMPARE(*f.form->buffer(), *fresh.form->buffer());

    f.form->action("MnuLog")->trigger();
    QCOMPARE(fileBytes(f.path("tavimo.log")),
             QByteArray::number(model.x) + ',' + QByteArray::number(model.y) + "\r\n");
}

QTEST_MAIN(TestFaultFlood)
#include "tst_faultflood.moc"
