#include "FormFixture.h"

#include "ui/ClientArea.h"

#include <QAccessible>
#include <QAction>
#include <QColorDialog>
#include <QMetaEnum>
#include <QScopeGuard>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using namespace formfixture;

namespace {

struct Change
{
    int x, y;
};

// Records the change events the point raises, without disturbing the window's own handler.
struct ChangeLog
{
    std::vector<Change> changes;

    explicit ChangeLog(TPointWithRange *point)
    {
        auto inner = point->OnChange;
        point->OnChange = [this, inner](TPointWithRange *s, qint32 x, qint32 y) {
            changes.push_back({x, y});
            inner(s, x, y);
        };
    }
};

// A 640 x 480 picture in a 640 x 340 client: picture at (0, 0, 300, 225), magnifier at
// x 310..629, y 10..329.
struct Fixture640 : FormFixture
{
    Fixture640()
    {
        open(codedPicture(640, 480));
        Q_ASSERT(form->imageRect() == (TRect{0, 0, 300, 225}));
    }
    void moveTo(int x, int y)
    {
        form->point()->SetX(x);
        form->point()->SetY(y);
    }
    QWidget *client() const { return form->clientArea(); }
};

// The picture pixel shown at each client position 0..l of an axis of n picture pixels drawn l
// long, from exact rationals: the k with k / n <= c / l < (k + 1) / n, and n at c = l, the
// picture test's inclusive edge; 0 on an axis drawn 0 long. Found by walking, so it shares no
// formula with the program. With n and l swapped: the client pixel holding each corner.
std::vector<int> shownOnAxis(int n, int l)
{
    std::vector<int> shown(std::size_t(l) + 1, 0);
    for (int c = 1, k = 0; c <= l; shown[std::size_t(c++)] = k)
        while (qint64(k + 1) * l <= qint64(c) * n)
            ++k;
    return shown;
}

// The client positions where the pixel shown changes, each with the one before it, from 0 on.
std::vector<int> changesOnAxis(const std::vector<int> &shown)
{
    std::vector<int> at{0};
    for (std::size_t c = 1; c < shown.size(); ++c)
        if (shown[c] != shown[c - 1])
            at.insert(at.end(), {int(c) - 1, int(c)});
    return at;
}

// A picture whose every pixel names its coordinates (below 4096) and is never pure blue.
QRgb named(int x, int y)
{
    return 0xFF800000u ^ QRgb(x << 12 | y);
}

} // namespace

class TestFormInput : public QObject
{
    Q_OBJECT

private slots:
    void clicks_data();
    void clicks();
    void clickRaisesTwoEvents();
    void ignoredPresses_data();
    void ignoredPresses();
    void nothingBeforeAPicture();
    void shownIsClicked();
    void doubleClickIsTwoPresses();
    void keys_data();
    void keys();
    void keysAtTheEdge();
    void frameFollowsThePoint();
    void crossColour();
    void crossColourCancel();
    void announcedAfterPaint();
};

void TestFormInput::clicks_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPoint>("expected");

    // A scaled screen or a tablet gives fractional positions: the pixel under them, never the
    // nearest one (rounding would give (151, 101) and the point (322, 215)).
    QTest::newRow("picture (150.75, 100.75)")
        << QPoint(0, 0) << QPointF(150.75, 100.75) << QPoint(320, 213);
    QTest::newRow("right of picture, left of magnifier")
        << QPoint(5, 5) << QPointF(301, 100) << QPoint(5, 5);
    QTest::newRow("below the picture") << QPoint(5, 5) << QPointF(100, 300) << QPoint(5, 5);
    QTest::newRow("magnifier top-left") << QPoint(100, 100) << QPointF(310, 10) << QPoint(90, 90);
    QTest::newRow("magnifier bottom-right")
        << QPoint(100, 100) << QPointF(629, 329) << QPoint(109, 109);
    QTest::newRow("magnifier cell -1 (469, 169)")
        << QPoint(100, 100) << QPointF(469, 169) << QPoint(99, 99);
    QTest::newRow("magnifier cell -1 (469.5, 169.5)")
        << QPoint(100, 100) << QPointF(469.5, 169.5) << QPoint(99, 99);
    QTest::newRow("magnifier cell -1 (454, 154)")
        << QPoint(100, 100) << QPointF(454, 154) << QPoint(99, 99);
    QTest::newRow("magnifier own cell (470, 170)")
        << QPoint(100, 100) << QPointF(470, 170) << QPoint(100, 100);
    QTest::newRow("magnifier own cell (485, 185)")
        << QPoint(100, 100) << QPointF(485, 185) << QPoint(100, 100);
    QTest::newRow("magnifier target out of range")
        << QPoint(3, 50) << QPointF(310, 170) << QPoint(3, 50);
    QTest::newRow("magnifier x = 629 is in")
        << QPoint(100, 100) << QPointF(629, 170) << QPoint(109, 100);
    QTest::newRow("magnifier x = 630 is out")
        << QPoint(100, 100) << QPointF(630, 170) << QPoint(100, 100);
    QTest::newRow("magnifier y = 10 is in")
        << QPoint(100, 100) << QPointF(470, 10) << QPoint(100, 90);
    QTest::newRow("magnifier y = 330 is out")
        << QPoint(100, 100) << QPointF(470, 330) << QPoint(100, 100);
}

void TestFormInput::clicks()
{
    QFETCH(QPoint, start);
    QFETCH(QPointF, press);
    QFETCH(QPoint, expected);

    Fixture640 f;
    f.moveTo(start.x(), start.y());
    clickAt(f.client(), press);
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), expected);
    QVERIFY(f.reports.isEmpty());
}

// What is shown is what is clicked, over a space of pictures and clients: every client pixel of
// the fitted picture shows the pixel the exact rationals give, a real press on every column and
// row where that pixel changes (and the one before it) selects it, and the cross stands on the
// client pixel that holds the point's corner.
void TestFormInput::shownIsClicked()
{
    std::vector<std::pair<QSize, QSize>> cases; // client, picture
    for (const QSize client : {QSize(640, 340), QSize(641, 351)})
        for (int w = 1; w <= 24; ++w)
            for (int h = 1; h <= 24; ++h)
                cases.emplace_back(client, QSize(w, h));
    for (const QSize client : {QSize(640, 340), QSize(1000, 400), QSize(1920, 1080)})
        for (const QSize picture : {QSize(240, 180), QSize(300, 200), QSize(640, 480),
                                    QSize(1000, 700), QSize(7, 106), QSize(1, 1000)})
            cases.emplace_back(client, picture);
    std::unique_ptr<FormFixture> f;
    for (const auto &[client, size] : cases) {
        if (!f || f->form->ClientWidth() != client.width()) {
            f = std::make_unique<FormFixture>();
            f->form->show();
            QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
            f->form->resize(client + QSize(0, f->form->height() - f->form->ClientHeight()));
        }
        const QString name = QString::asprintf("%d x %d in %d x %d: ", size.width(), size.height(),
                                               client.width(), client.height());
        QImage picture(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                picture.setPixel(x, y, named(x, y));
        f->open(picture);
        TForm1 &form = *f->form;
        const TRect fitted = form.imageRect();
        const std::vector<int> columns = shownOnAxis(size.width(), fitted.Right);
        const std::vector<int> rows = shownOnAxis(size.height(), fitted.Bottom);
        const std::vector<int> crossX = shownOnAxis(fitted.Right, size.width());
        const std::vector<int> crossY = shownOnAxis(fitted.Bottom, size.height());
        form.point()->SetX(size.width()); // the cross at (Right, Bottom), off the picture
        form.point()->SetY(size.height());
        const QImage &frame = *form.buffer();
        // The picture, and the background along its right and bottom edges but for the cross.
        for (int y = 0; y <= fitted.Bottom; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
            for (int x = 0; x <= fitted.Right; ++x)
                if (const bool edge = x == fitted.Right || y == fitted.Bottom;
                    !(edge && x >= fitted.Right - 10 && y >= fitted.Bottom - 10) &&
                    ((line[x] & 0xFFFFFF) !=
                     (edge ? f->background() : named(columns[x], rows[y]) & 0xFFFFFF)))
                    QFAIL(qPrintable(name + QString::asprintf("client (%d, %d) shows another "
                                                              "pixel than (%d, %d)",
                                                              x, y, columns[x], rows[y])));
        }
        const std::vector<int> pressX = changesOnAxis(columns), pressY = changesOnAxis(rows);
        for (std::size_t i = 0; i < std::max(pressX.size(), pressY.size()); ++i) {
            const QPoint press(pressX[i % pressX.size()], pressY[i % pressY.size()]);
            clickAt(form.clientArea(), press);
            const QPoint point(form.point()->X(), form.point()->Y());
            if (point != QPoint(columns[press.x()], rows[press.y()]))
                QFAIL(qPrintable(name + QString::asprintf("a press at (%d, %d) selects (%d, %d)",
                                                          press.x(), press.y(), point.x(),
                                                          point.y())));
            const QPoint cross(crossX[point.x()], crossY[point.y()]);
            for (const QPoint arm :
                 {QPoint(0, 0), QPoint(-10, 0), QPoint(10, 0), QPoint(0, -10), QPoint(0, 10)})
                if (const QPoint at = cross + arm;
                    frame.rect().contains(at) && f->frame(at.x(), at.y()) != 0x0000FFu)
                    QFAIL(qPrintable(name + QString::asprintf("no cross at (%d, %d) for (%d, %d)",
                                                              cross.x(), cross.y(), point.x(),
                                                              point.y())));
        }
    }
    QVERIFY(f->reports.isEmpty());
}

void TestFormInput::clickRaisesTwoEvents()
{
    Fixture640 f;
    ChangeLog log(f.form->point());
    QTest::mouseClick(f.client(), Qt::LeftButton, {}, QPoint(150, 100));
    QCOMPARE(log.changes.size(), size_t(2));
    // X first, with the old Y; then both new.
    QCOMPARE(log.changes[0].x, 320);
    QCOMPARE(log.changes[0].y, 0);
    QCOMPARE(log.changes[1].x, 320);
    QCOMPARE(log.changes[1].y, 213);

    // In the magnifier, a target out of range raises only the other coordinate's event.
    f.moveTo(3, 50);
    log.changes.clear();
    QTest::mouseClick(f.client(), Qt::LeftButton, {}, QPoint(310, 170));
    QCOMPARE(log.changes.size(), size_t(1));
}

void TestFormInput::ignoredPresses_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("press");

    QTest::newRow("right on picture") << Qt::RightButton << QPoint(150, 100);
    QTest::newRow("middle on picture") << Qt::MiddleButton << QPoint(150, 100);
    QTest::newRow("right in magnifier") << Qt::RightButton << QPoint(310, 10);
}

void TestFormInput::ignoredPresses()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, press);

    Fixture640 f;
    f.moveTo(7, 8);
    ChangeLog log(f.form->point());
    clickAt(f.client(), press, button, Qt::ShiftModifier);
    // Only the press acts: a move with the button held and a release change nothing.
    QTest::mouseMove(f.client(), QPoint(20, 20));
    QTest::mouseRelease(f.client(), Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(log.changes.empty());
}

void TestFormInput::nothingBeforeAPicture()
{
    FormFixture f;
    ChangeLog log(f.form->point());
    clickAt(f.form->clientArea(), QPoint(0, 0));
    QTest::mouseClick(f.form->clientArea(), Qt::LeftButton, {}, QPoint(470, 170));
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
        QTest::keyClick(f.form->clientArea(), key);
    QVERIFY(log.changes.empty());
    QVERIFY(!f.form->zoomWritten());
}

void TestFormInput::doubleClickIsTwoPresses()
{
    Fixture640 f;
    f.moveTo(100, 100);
    // What X delivers for a double click: a press, then the second press as a double-click.
    clickAt(f.client(), QPoint(310, 10));
    QTest::mouseDClick(f.client(), Qt::LeftButton, {}, QPoint(310, 10));
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(80, 80));
}

void TestFormInput::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QPoint>("expected");

    // From (2, 2) on the 640 x 480 picture.
    QTest::newRow("Left") << int(Qt::Key_Left) << Qt::KeyboardModifiers() << QPoint(1, 2);
    QTest::newRow("Shift+Left refused")
        << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ShiftModifier) << QPoint(2, 2);
    QTest::newRow("Ctrl+Left refused")
        << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ControlModifier) << QPoint(2, 2);
    QTest::newRow("Ctrl+Right") << int(Qt::Key_Right) << Qt::KeyboardModifiers(Qt::ControlModifier)
                                << QPoint(12, 2);
    QTest::newRow("Shift+Ctrl+Right")
        << int(Qt::Key_Right) << (Qt::ShiftModifier | Qt::ControlModifier) << QPoint(5, 2);
    QTest::newRow("Down") << int(Qt::Key_Down) << Qt::KeyboardModifiers() << QPoint(2, 3);
    QTest::newRow("Shift+Down") << int(Qt::Key_Down) << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                << QPoint(2, 5);
    QTest::newRow("Up") << int(Qt::Key_Up) << Qt::KeyboardModifiers() << QPoint(2, 1);
    QTest::newRow("Alt+Up moves by 1")
        << int(Qt::Key_Up) << Qt::KeyboardModifiers(Qt::AltModifier) << QPoint(2, 1);
    QTest::newRow("letter") << int(Qt::Key_A) << Qt::KeyboardModifiers() << QPoint(2, 2);
    QTest::newRow("Home") << int(Qt::Key_Home) << Qt::KeyboardModifiers() << QPoint(2, 2);
    QTest::newRow("Page Down") << int(Qt::Key_PageDown) << Qt::KeyboardModifiers() << QPoint(2, 2);
}

void TestFormInput::keys()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QPoint, expected);

    Fixture640 f;
    f.moveTo(2, 2);
    QTest::keyClick(f.client(), Qt::Key(key), modifiers);
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), expected);
}

void TestFormInput::keysAtTheEdge()
{
    Fixture640 f;
    f.moveTo(640, 480);
    ChangeLog log(f.form->point());
    for (Qt::KeyboardModifiers m :
         {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
          Qt::KeyboardModifiers(Qt::ControlModifier)}) {
        QTest::keyClick(f.client(), Qt::Key_Right, m);
        QTest::keyClick(f.client(), Qt::Key_Down, m);
    }
    QVERIFY(log.changes.empty());
    // Keys are never merged: a thousand presses move a thousand steps.
    f.moveTo(0, 0);
    for (int i = 0; i < 1000; ++i)
        QTest::keyClick(f.client(), i % 2 ? Qt::Key_Down : Qt::Key_Right);
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(500, 480));
}

// After a move the frame shows the new magnifier.
void TestFormInput::frameFollowsThePoint()
{
    Fixture640 f;
    QTest::mouseClick(f.client(), Qt::LeftButton, {}, QPoint(150, 100)); // point (320, 213)
    const QImage &frame = *f.form->buffer();
    // The point's own pixel fills magnifier cell (10, 10): client (310 + 162, 10 + 162).
    QCOMPARE(frame.pixel(310 + 170, 10 + 170) & 0xFFFFFF,
             codedPicture(640, 480).pixel(320, 213) & 0xFFFFFF);
}

namespace {
// Answers the next colour chooser with `colour`, or cancels it when `colour` is invalid;
// records the colour it opened with.
void answerColourDialog(const QColor &colour, QColor *openedWith)
{
    QTimer::singleShot(0, qApp, [colour, openedWith] {
        auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *openedWith = dialog->currentColor();
        if (colour.isValid()) {
            dialog->setCurrentColor(colour);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
}
} // namespace

void TestFormInput::crossColour()
{
    Fixture640 f;
    f.moveTo(320, 240); // cross at (150, 112)
    const QImage before = *f.form->buffer();
    QColor opened;
    answerColourDialog(Qt::red, &opened);
    f.form->action("MnuCrossColor")->trigger();
    QCOMPARE(opened, QColor(Qt::black));
    QCOMPARE(f.form->crossColor(), TColor(0x0000FF));
    // Only the cross's pixels changed, to red.
    const QImage &after = *f.form->buffer();
    int changed = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (after.pixel(x, y) != before.pixel(x, y)) {
                ++changed;
                QCOMPARE(after.pixel(x, y) & 0xFFFFFF, 0xFF0000u);
                QVERIFY(x == 150 || y == 112);
            }
    QCOMPARE(changed, 41); // two arms of 21 pixels sharing the centre

    // The next chooser opens at black again; the colour survives a resize and a new picture.
    answerColourDialog(QColor(), &opened);
    f.form->action("MnuCrossColor")->trigger();
    QCOMPARE(opened, QColor(Qt::black));
    f.open(codedPicture(100, 100), "other.png"); // the point pulled to (100, 100)
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    f.form->resize(1000, 700 + f.form->height() - f.form->ClientHeight());
    QCOMPARE(f.frame(660, 660), 0xFF0000u); // picture area 660 x 660, the point past its end
}

void TestFormInput::crossColourCancel()
{
    Fixture640 f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QCoreApplication::processEvents();
    const QImage before = *f.form->buffer();
    QColor opened;
    answerColourDialog(QColor(), &opened);
    f.form->action("MnuCrossColor")->trigger();
    QCOMPARE(f.form->crossColor(), TColor(0xFF0000));
    QCOMPARE(*f.form->buffer(), before);
}

namespace {
// What the client area and its parts announce to an accessibility bridge, as "name | event |
// description" lines; like the AT-SPI bridge, events of sources no longer valid are dropped. Qt
// takes a plain function as the handler, so the lines live in a static.
QStringList &announced()
{
    static QStringList lines;
    return lines;
}
void hear(QAccessibleEvent *event)
{
    QAccessibleInterface *source = event->accessibleInterface();
    QAccessibleInterface *parent = source && source->isValid() ? source->parent() : nullptr;
    if (parent && (qobject_cast<TClientArea *>(source->object()) ||
                   qobject_cast<TClientArea *>(parent->object())))
        announced() << source->text(QAccessible::Name) + " | " +
                           QMetaEnum::fromType<QAccessible::Event>().valueToKey(event->type()) +
                           " | " + source->text(QAccessible::Description);
}
QStringList heard()
{
    return std::exchange(announced(), {});
}
} // namespace

// A listening screen reader hears, after each paint, one event for each thing that changed on
// the screen, however many changes the paint shows; a paint that changes nothing says nothing.
void TestFormInput::announcedAfterPaint()
{
    FormFixture f;
    QWidget *area = f.form->clientArea();
    // Only the platform can say that a tool listens, as a bridge does; offscreen has none.
    QPlatformAccessibility *platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY(platform);
    const QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(&hear);
    platform->setActive(true);
    const auto restore = qScopeGuard([&] {
        platform->setActive(false);
        QAccessible::installUpdateHandler(before);
    });
    // The area draws the window's frame (grab() paints it once, as the screen would).
    QCOMPARE(area->grab().toImage().convertToFormat(QImage::Format_RGB32),
             f.form->buffer()->copy(area->rect()));
    QCOMPARE(heard(), QStringList({"画像が開かれていません | DescriptionChanged |  X : 0 , Y : 0",
                                   "十字カーソル | DescriptionChanged | 赤 0、緑 0、青 255"}));
    area->grab();
    QCOMPARE(heard(), QStringList());

    f.open(codedPicture(40, 30));
    area->grab();
    QCOMPARE(heard(), QStringList({"picture.png | NameChanged |  X : 0 , Y : 0",
                                   "十字カーソル | ObjectShow | 赤 0、緑 0、青 255"}));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(area, Qt::Key_Right);
    area->grab();
    QCOMPARE(heard(), QStringList({"picture.png | DescriptionChanged |  X : 3 , Y : 0"}));

    QColor opened;
    answerColourDialog(Qt::red, &opened);
    f.form->action("MnuCrossColor")->trigger();
    area->grab();
    QCOMPARE(heard(), QStringList({"十字カーソル | DescriptionChanged | 赤 255、緑 0、青 0"}));
}

QTEST_MAIN(TestFormInput)
#include "tst_forminput.moc"
