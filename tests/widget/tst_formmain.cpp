#include "FormFixture.h"

#include "core/Errors.h"
#include "ui/Startup.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

using namespace formfixture;

namespace {

// Counts the paints the client area receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

bool anyPixel(const QImage &image, const QRect &area, QRgb colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == colour)
                return true;
    return false;
}

// The file descriptors the process holds.
qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

class TestFormMain : public QObject
{
    Q_OBJECT

private slots:
    void startupRefusals();
    void startState();
    void readByAssistiveTools();
    void clientSizeBeforeAndAfterShow();
    void menu();
    void icon();
    void windowFont();
    void firstFrame();
    void shrinkingSnapsBack_data();
    void shrinkingSnapsBack();
    void growingRelaysOut_data();
    void growingRelaysOut();
    void oneClickOnePaint();
    void rebuildsOnAcceptedChangesOnly_data();
    void rebuildsOnAcceptedChangesOnly();
    void logWritesLines();
    void logCreationFailure();
    void logFullDisk();
    void destroyFreesEverything();
    void failureBox();
};

// The line the program ends with instead of starting, empty where it starts. No test's X
// server takes display 9999.
void TestFormMain::startupRefusals()
{
    QCOMPARE(startup::displayRefusal(":9999"),
             QStringLiteral("ディスプレイ \":9999\" を開けません"));
    QCOMPARE(startup::screenDepthRefusal(14),
             QStringLiteral("色深度 14 ビットの画面には描画できません (15 ビット以上が必要です)"));
    QVERIFY(startup::screenDepthRefusal(15).isEmpty());
}

void TestFormMain::startState()
{
    FormFixture f;
    TForm1 &form = *f.form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Tavimo"));
    QCOMPARE(form.pos(), QPoint(293, 355));
    QCOMPARE(form.point()->X(), 0);
    QCOMPARE(form.point()->Y(), 0);
    QCOMPARE(form.point()->MaxX(), 0);
    QCOMPARE(form.point()->MaxY(), 0);
    QVERIFY(form.imageRect() == TRect{});
    QCOMPARE(form.crossColor(), TColor(0xFF0000));
    QVERIFY(form.image()->isNull());
    QCOMPARE(form.zoom()->size(), QSize(320, 320));
    QVERIFY(!form.zoomWritten());
    QCOMPARE(form.buffer()->size(), form.size());
    QCOMPARE(form.buffer()->format(), QImage::Format_RGB32);
    QVERIFY(f.reports.isEmpty());
    // The log is created empty next to the program.
    QVERIFY(QFile::exists(f.path("tavimo.log")));
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray());
}

// What a screen reader is given, read without a bridge: the canvas, its coordinate text and its
// two parts, in their order.
void TestFormMain::readByAssistiveTools()
{
    FormFixture f;
    QAccessibleInterface *canvas = QAccessible::queryAccessibleInterface(f.form->centralWidget());
    QVERIFY(canvas);
    QCOMPARE(canvas->role(), QAccessible::Canvas);
    QCOMPARE(canvas->text(QAccessible::Name), QStringLiteral("画像が開かれていません"));
    QCOMPARE(canvas->text(QAccessible::Description), QStringLiteral(" X : 0 , Y : 0"));
    QCOMPARE(canvas->childCount(), 2);
    // Name, description and size on the screen of each part; the cross is drawn only once a
    // picture is open.
    const std::tuple<QString, QString, QSize> parts[] = {
        {QStringLiteral("十字カーソル"), QStringLiteral("赤 0、緑 0、青 255"), QSize(0, 0)},
        {QStringLiteral("拡大鏡"),
         QStringLiteral("現在の点の周りの 20 × 20 ピクセルを 16 倍で表示"), QSize(320, 320)}};
    for (int part = 0; part < 2; ++part) {
        QAccessibleInterface *child = canvas->child(part);
        QVERIFY(child);
        const auto &[name, description, size] = parts[part];
        QCOMPARE(child->text(QAccessible::Name), name);
        QCOMPARE(child->text(QAccessible::Description), description);
        QCOMPARE(child->rect().size(), size);
        QCOMPARE(child->childCount(), 0);
        QCOMPARE(child->indexOfChild(canvas), -1);
        QCOMPARE(canvas->indexOfChild(child), part);
    }
    QVERIFY(!canvas->child(-1) && !canvas->child(2));
    QCOMPARE(canvas->indexOfChild(canvas), -1);
    QCOMPARE(canvas->indexOfChild(nullptr), -1);
}

void TestFormMain::clientSizeBeforeAndAfterShow()
{
    FormFixture f;
    TForm1 &form = *f.form;
    QCOMPARE(form.ClientWidth(), 640);
    QCOMPARE(form.ClientHeight(), 340);
    QCOMPARE(form.width(), 640);
    QCOMPARE(form.height(), 340 + form.menuBar()->sizeHint().height());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.ClientWidth(), 640);
    QCOMPARE(form.ClientHeight(), 340);
    QCOMPARE(form.clientArea()->mapTo(&form, QPoint(0, 0)), QPoint(0, form.menuBar()->height()));
}

void TestFormMain::menu()
{
    FormFixture f;
    const QList<QAction *> top = f.form->menuBar()->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(top[1]->text(), QStringLiteral("設定(&S)"));
    QStringList file;
    for (QAction *a : top[0]->menu()->actions())
        file << a->text();
    QCOMPARE(file, (QStringList{QStringLiteral("開く(&O)"), QStringLiteral("ログ(&L)"),
                                QStringLiteral("閉じる(&C)")}));
    QCOMPARE(top[1]->menu()->actions().size(), 1);
    QCOMPARE(top[1]->menu()->actions()[0]->text(), QStringLiteral("十字カーソルの色(&C)"));
    // No keyboard shortcuts beyond the access keys.
    for (QAction *a : top[0]->menu()->actions())
        QVERIFY(a->shortcut().isEmpty());
}

void TestFormMain::icon()
{
    QFile file(":/tavimo.ico");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), 766);
    const QImage image = QImage(":/tavimo.ico").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb p = image.pixel(x, y);
            const bool bar = (x >= 8 && x <= 11) || (y >= 8 && y <= 11);
            const bool square = x >= 4 && x <= 27 && y >= 4 && y <= 27;
            if (bar)
                QCOMPARE(p, qRgb(0, 0, 0));
            else if (square)
                QCOMPARE(p, qRgb(0, 255, 255));
            else
                QCOMPARE(qAlpha(p), 0);
        }
    }
    FormFixture f;
    const QImage shown =
        f.form->windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown, image);
}

void TestFormMain::windowFont()
{
    if (!QFontDatabase::families().contains("IPAPGothic"))
        QSKIP("the Japanese window font (fonts-ipafont-gothic) is not installed");
    FormFixture f;
    const QFont font = f.form->font();
    QCOMPARE(font.family(), QStringLiteral("ＭＳ Ｐゴシック"));
    QCOMPARE(font.pixelSize(), 12);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
    // The menu bar shows its Japanese captions in it.
    QCOMPARE(QFontInfo(f.form->menuBar()->font()).family(), QStringLiteral("IPAPGothic"));
}

void TestFormMain::firstFrame()
{
    FormFixture f;
    const TForm1 &form = *f.form;
    const QImage &frame = *form.buffer();
    const QRgb bg = f.background();
    const int cw = form.ClientWidth(), ch = form.ClientHeight();

    // The picture area and the empty magnifier region show the background.
    for (const QPoint &p : {QPoint(0, 0), QPoint(299, 319), QPoint(310, 10), QPoint(629, 329),
                            QPoint(470, 170), QPoint(cw - 1, ch - 1), QPoint(639, 0)})
        QCOMPARE(frame.pixel(p) & 0xFFFFFF, bg);
    // Everything above the text strip is background: no cross, no magnifier.
    for (int y = 0; y < ch - 18; ++y)
        for (int x = 0; x < cw; ++x)
            if ((frame.pixel(x, y) & 0xFFFFFF) != bg)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is not background").arg(x).arg(y)));
    // The coordinate text, black, starting in the strip at the left.
    QVERIFY(anyPixel(frame, QRect(0, ch - 18, 120, 18), 0x000000));
    QVERIFY(!anyPixel(frame, QRect(200, ch - 18, cw - 200, 18), 0x000000));

    // The text is " X : 0 , Y : 0" in the application font, its top at CH - 18.
    QImage expected(cw, 20, QImage::Format_RGB32);
    expected.fill(bg);
    {
        QPainter p(&expected);
        p.setFont(QGuiApplication::font());
        p.setPen(Qt::black);
        p.drawText(QPoint(0, 2 + QFontMetrics(QGuiApplication::font()).ascent()),
                   QStringLiteral(" X : 0 , Y : 0"));
    }
    QCOMPARE(frame.copy(0, ch - 20, cw, 20), expected);
}

void TestFormMain::shrinkingSnapsBack_data()
{
    QTest::addColumn<QSize>("clientAsked");
    QTest::addColumn<QSize>("clientAfter");

    QTest::newRow("narrower") << QSize(500, 400) << QSize(640, 400);
    QTest::newRow("lower") << QSize(700, 200) << QSize(700, 340);
    QTest::newRow("both at once") << QSize(300, 100) << QSize(640, 340);
    QTest::newRow("larger is never limited") << QSize(1500, 900) << QSize(1500, 900);
}

void TestFormMain::shrinkingSnapsBack()
{
    QFETCH(QSize, clientAsked);
    QFETCH(QSize, clientAfter);

    FormFixture f;
    TForm1 &form = *f.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // What gets past a window manager: a size below the hint.
    form.setMinimumSize(0, 0);
    const int menu = form.height() - form.ClientHeight();
    form.resize(clientAsked.width(), clientAsked.height() + menu);
    QCOMPARE(QSize(form.ClientWidth(), form.ClientHeight()), clientAfter);
    QCOMPARE(form.buffer()->size(), form.size());
    // The frame was recomposed at the final size: the magnifier region keeps its margins and
    // the text its 18 pixels above the bottom edge.
    const QImage &frame = *form.buffer();
    QCOMPARE(frame.pixel(clientAfter.width() - 1, clientAfter.height() - 1) & 0xFFFFFF,
             f.background());
    QVERIFY(anyPixel(frame, QRect(0, clientAfter.height() - 18, 120, 18), 0x000000));
}

void TestFormMain::growingRelaysOut_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<qint64>("spareMiB"); // address space left for the resize; 0: no limit

    QTest::newRow("1000 x 700") << QSize(1000, 700) << qint64(0);
    // The frame needs 1.6 GB: the failure is told once, and the old frame, composed at the new
    // layout and cut to its size, still shows what a click selects.
    QTest::newRow("20000 x 20000, no memory for its frame") << QSize(20000, 20000) << qint64(64);
}

void TestFormMain::growingRelaysOut()
{
    QFETCH(QSize, client);
    QFETCH(qint64, spareMiB);

    FormFixture f;
    TForm1 &form = *f.form;
    const QImage picture = codedPicture(100, 100);
    f.open(picture);
    QVERIFY(form.imageRect() == (TRect{0, 0, 300, 300}));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int menu = form.height() - form.ClientHeight();
    const QSize before = form.buffer()->size();
    const AddressSpaceLimit limit(spareMiB << 20);
    QCOMPARE(limit.ok(), spareMiB > 0);
    form.resize(client.width(), client.height() + menu);
    form.resize(client.width() - 1, client.height() + menu); // no second report

    // The picture grows with the area.
    const int side = std::min(client.width() - 1 - 340, client.height() - 20);
    QVERIFY(form.imageRect() == (TRect{0, 0, side, side}));
    const QImage &frame = *form.buffer();
    QCOMPARE(frame.size(), spareMiB > 0 ? before : form.size());
    QCOMPARE(f.reports,
             spareMiB > 0 ? QStringList{QStringLiteral("メモリが不足しています")} : QStringList());
    if (spareMiB == 0) {
        // The magnifier moves with the right edge: its black band at client x = CW - 330 + 158.
        QCOMPARE(frame.pixel(client.width() - 1 - 330 + 158, 100) & 0xFFFFFF, 0u);
        QCOMPARE(frame.pixel(client.width() - 1 - 331, 100) & 0xFFFFFF, f.background());
    }
    const QPoint at(before.width() - 7, before.height() / 2);
    clickAt(form.clientArea(), at);
    QCOMPARE(frame.pixel(at) & 0xFFFFFF,
             picture.pixel(form.point()->X(), form.point()->Y()) & 0xFFFFFF);
    form.resize(before); // within the limit: its own frame again
    QCOMPARE(form.buffer()->size(), before);
}

// Two change events in one handler put one paint on the screen.
void TestFormMain::oneClickOnePaint()
{
    FormFixture f;
    TForm1 &form = *f.form;
    f.open(codedPicture(64, 64));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCoreApplication::processEvents();
    PaintCounter counter;
    form.clientArea()->installEventFilter(&counter);
    form.point()->SetX(10);
    form.point()->SetY(20);
    QCOMPARE(counter.paints, 0); // queued, not immediate
    QTRY_COMPARE(counter.paints, 1);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
}

void TestFormMain::rebuildsOnAcceptedChangesOnly_data()
{
    QTest::addColumn<char>("axis");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("rebuilt");

    // From (10, 10) on a 64 x 64 picture.
    QTest::newRow("accepted X") << 'x' << 11 << true;
    QTest::newRow("same X again") << 'x' << 10 << true;
    QTest::newRow("refused X above range") << 'x' << 65 << false;
    QTest::newRow("refused negative Y") << 'y' << -1 << false;
    QTest::newRow("accepted Y at the range's end") << 'y' << 64 << true;
}

// The magnifier and the frame are rebuilt for every accepted coordinate and never for a
// refused one (the image's cache key changes whenever its pixels are written).
void TestFormMain::rebuildsOnAcceptedChangesOnly()
{
    QFETCH(char, axis);
    QFETCH(int, value);
    QFETCH(bool, rebuilt);

    FormFixture f;
    f.open(codedPicture(64, 64));
    f.form->point()->SetX(10);
    f.form->point()->SetY(10);
    const qint64 zoomKey = f.form->zoom()->cacheKey();
    const qint64 frameKey = f.form->buffer()->cacheKey();
    if (axis == 'x')
        f.form->point()->SetX(value);
    else
        f.form->point()->SetY(value);
    QCOMPARE(f.form->zoom()->cacheKey() != zoomKey, rebuilt);
    QCOMPARE(f.form->buffer()->cacheKey() != frameKey, rebuilt);
}

void TestFormMain::logWritesLines()
{
    FormFixture f;
    TForm1 &form = *f.form;
    form.action("MnuLog")->trigger();
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray("0,0\r\n"));
    f.open(codedPicture(200, 100));
    form.point()->SetX(200);
    form.point()->SetY(100);
    form.action("MnuLog")->trigger();
    form.action("MnuLog")->trigger();
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray("0,0\r\n200,100\r\n200,100\r\n"));
    QVERIFY(f.reports.isEmpty());
}

// The log path is a folder: one report at start, the window works, and the Log command says
// again that there is no log instead of doing nothing.
void TestFormMain::logCreationFailure()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("tavimo.log"));
    QStringList reports;
    TForm1 form(QFile::encodeName(dir.filePath("tavimo")), [&](const QString &m) { reports << m; });
    const QString expected = QStringLiteral("ファイル \"%1\" を作成できません: %2")
                                 .arg(dir.filePath("tavimo.log"), errors::systemErrorText(EISDIR));
    QCOMPARE(reports, QStringList{expected});
    QVERIFY(!form.log());
    QCOMPARE(form.ClientWidth(), 640);
    QCOMPARE(form.crossColor(), TColor(0xFF0000));
    form.action("MnuLog")->trigger();
    QCOMPARE(reports, (QStringList{expected, expected}));
}

void TestFormMain::logFullDisk()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("this system has no /dev/full");
    QTemporaryDir dir;
    QVERIFY(QFile::link("/dev/full", dir.filePath("tavimo.log")));
    QStringList reports;
    TForm1 form(QFile::encodeName(dir.filePath("tavimo")), [&](const QString &m) { reports << m; });
    QVERIFY(reports.isEmpty());
    form.action("MnuLog")->trigger();
    form.action("MnuLog")->trigger();
    QCOMPARE(reports.size(), 2);
    QVERIFY(reports[0].contains(QStringLiteral("に書き込めません")));
    QCOMPARE(reports[1], reports[0]); // the log was kept, and tried again
}

void TestFormMain::destroyFreesEverything()
{
    QTemporaryDir dir;
    const QString log = dir.filePath("tavimo.log");
    const qsizetype held = openDescriptors();
    {
        TForm1 form(QFile::encodeName(dir.filePath("tavimo")), [](const QString &) {});
        form.action("MnuLog")->trigger();
        QCOMPARE(openDescriptors(), held + 1); // the log's
    }
    // The log was closed, not left open: the process holds no more descriptors than before.
    QCOMPARE(openDescriptors(), held);
    // The file was closed whole; a new start empties it.
    QCOMPARE(fileBytes(log), QByteArray("0,0\r\n"));
    TForm1 again(QFile::encodeName(dir.filePath("tavimo")), [](const QString &) {});
    QCOMPARE(fileBytes(log), QByteArray());
}

// The box shows a message as it is: a path or a system text holding markup is not rendered.
void TestFormMain::failureBox()
{
    bool shown = false;
    QTimer::singleShot(0, qApp, [&shown] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        shown = true;
        box->accept();
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), QStringLiteral("x<b>y</b>&lt;.bmp."));
        QCOMPARE(box->windowTitle(), QString());
        QCOMPARE(box->icon(), QMessageBox::Critical);
    });
    failurereport::showFailureBox(QStringLiteral("x<b>y</b>&lt;.bmp"));
    QVERIFY(shown); // the box waited for its answer
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
