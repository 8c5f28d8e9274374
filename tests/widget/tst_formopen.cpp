#include "FormFixture.h"

#include "core/Errors.h"

#include <QAction>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace formfixture;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs `check` on the file dialog once it is up, then answers it: types `choose` into its
// name field as a user does, focused (Qt rewrites an unfocused field to the files it
// selects), and presses Return; or cancels when `choose` is empty.
void answerFileDialog(const QString &choose, const std::function<void(QFileDialog *)> &check = {})
{
    QTimer::singleShot(0, qApp, [=] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        if (check)
            check(dialog);
        if (choose.isEmpty()) {
            dialog->reject();
            return;
        }
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        edit->setFocus();
        edit->setText(choose);
        // Should the dialog refuse the name in a box of its own, close both, so that the test
        // fails on what follows instead of waiting on the box.
        QTimer::singleShot(0, dialog, [dialog] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                box->reject();
                dialog->reject();
            }
        });
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

// Notes the override pointer's shape when the window's caption changes, which the Open command
// does once the picture is loaded, and before it is shown; -1 for none.
class PointerAtCaption : public QObject
{
public:
    QList<int> shapes;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::WindowTitleChange) {
            const QCursor *pointer = QGuiApplication::overrideCursor();
            shapes << (pointer ? int(pointer->shape()) : -1);
        }
        return false;
    }
};

} // namespace

class TestFormOpen : public QObject
{
    Q_OBJECT

private slots:
    void throughTheDialog();
    void typedNames_data();
    void typedNames();
    void cancelChangesNothing();
    void dialogListsCaseSensitively();
    void pointPulledIntoNewRange();
    void sameFileTwice();
    void zeroByteFile();
    void failuresLeaveEverything_data();
    void failuresLeaveEverything();
};

void TestFormOpen::throughTheDialog()
{
    FormFixture f;
    const QString file = f.path("a.bmp");
    QVERIFY(codedPicture(40, 30).save(file, "BMP"));
    PointerAtCaption pointer;
    f.form->installEventFilter(&pointer);
    answerFileDialog(file, [](QFileDialog *d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("開く"));
        QCOMPARE(d->nameFilters(),
                 QStringList{QStringLiteral("画像 (*.bmp *.BMP *.jpeg *.JPEG *.jpg *.JPG)")});
    });
    f.form->action("MnuOpen")->trigger();
    QVERIFY(f.reports.isEmpty());
    QCOMPARE(f.form->windowTitle(), "Tavimo-" + file);
    QCOMPARE(pointer.shapes, QList<int>{Qt::WaitCursor}); // busy while it opened, then not
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(f.form->image()->size(), QSize(40, 30));
    QCOMPARE(f.form->image()->format(), QImage::Format_RGB32);
    QCOMPARE(QPoint(f.form->point()->MaxX(), f.form->point()->MaxY()), QPoint(40, 30));
    QVERIFY(f.form->zoomWritten());
    // No dialog is left behind.
    QVERIFY(f.form->findChildren<QFileDialog *>().isEmpty());
}

void TestFormOpen::typedNames_data()
{
    QTest::addColumn<QString>("typed"); // into the dialog showing the fixture's folder
    QTest::addColumn<QString>("opens"); // empty: the open error for the name as typed

    // Spaces, quotes, the "[*]" Qt uses as a modified mark, and non-ASCII characters: the file
    // opens and the caption shows its path exactly.
    QTest::newRow("quotes, [*] and Japanese")
        << QStringLiteral("a 'b' \"c\" [*] 画像.bmp") << QStringLiteral("a 'b' \"c\" [*] 画像.bmp");
    // Qt's own reading, kept for exactly one name in double quotes, and for any name without
    // quotes (~ is the home folder, here the fixture's).
    QTest::newRow("one name in quotes") << QStringLiteral("\"a.bmp\"") << QStringLiteral("a.bmp");
    QTest::newRow("name in the home folder")
        << QStringLiteral("~/a.bmp") << QStringLiteral("a.bmp");
    // A name that does not exist gets past the dialog, to the program's own open error.
    QTest::newRow("missing name") << QStringLiteral("missing.bmp") << QString();
    // Qt would read this as the list of names "old" and ".bmp", and open .bmp.
    QTest::newRow("missing name holding a quote") << QStringLiteral("old\".bmp") << QString();
}

void TestFormOpen::typedNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, opens);

    FormFixture f;
    const QByteArray home = qgetenv("HOME");
    const auto restoreHome = qScopeGuard([&home] { qputenv("HOME", home); });
    qputenv("HOME", QFile::encodeName(f.dir.path()));
    for (const QString &name : {QStringLiteral("a 'b' \"c\" [*] 画像.bmp"), QStringLiteral("a.bmp"),
                                QStringLiteral(".bmp")})
        QVERIFY(codedPicture(20, 10).save(f.path(name), "BMP"));
    answerFileDialog(typed, [&](QFileDialog *dialog) { dialog->setDirectory(f.dir.path()); });
    f.form->action("MnuOpen")->trigger();
    if (opens.isEmpty()) {
        QCOMPARE(f.reports, QStringList{QStringLiteral("ファイル \"%1\". %2 が開きません")
                                            .arg(f.path(typed),
                                                 QString::fromLocal8Bit(std::strerror(ENOENT)))});
        QVERIFY(f.form->image()->isNull());
        return;
    }
    QCOMPARE(f.reports, QStringList());
    QCOMPARE(f.form->image()->size(), QSize(20, 10));
    f.form->winId(); // the title the window system gets is the platform window's
    QCOMPARE(f.form->windowHandle()->title(), "Tavimo-" + f.path(opens));
}

void TestFormOpen::cancelChangesNothing()
{
    FormFixture f;
    f.open(codedPicture(50, 40));
    const Snapshot before = Snapshot::of(*f.form);
    answerFileDialog(QString());
    f.form->action("MnuOpen")->trigger();
    before.verifySame(Snapshot::of(*f.form));
    QVERIFY(f.reports.isEmpty());
    QVERIFY(f.form->findChildren<QFileDialog *>().isEmpty());
}

void TestFormOpen::dialogListsCaseSensitively()
{
    FormFixture f;
    QDir dir(f.path("pics"));
    QVERIFY(dir.mkpath("."));
    const QStringList names{"p1.bmp", "p2.BMP", "p3.jpeg", "p4.JPEG", "p5.jpg",
                            "p6.JPG", "p7.Jpg", "p8.png",  "a.Bmp"};
    for (const QString &n : names)
        writeFile(dir.filePath(n), "x");
    QVERIFY(dir.mkdir("sub")); // a folder's type is its kind, not a name's
    QStringList listed;
    answerFileDialog(QString(), [&](QFileDialog *d) {
        d->setDirectory(dir);
        auto *model = d->findChild<QFileSystemModel *>();
        QVERIFY(model);
        const QModelIndex root = model->index(dir.absolutePath());
        QTRY_VERIFY(model->rowCount(root) > 0);
        QTRY_COMPARE(model->rowCount(root), 7);
        for (int r = 0; r < model->rowCount(root); ++r)
            listed << model->index(r, 0, root).data().toString();
        QCOMPARE(model->type(model->index(dir.filePath("sub"))),
                 QFileIconProvider().type(QFileInfo(dir.filePath("sub"))));
    });
    f.form->action("MnuOpen")->trigger();
    listed.sort();
    QCOMPARE(listed,
             (QStringList{"p1.bmp", "p2.BMP", "p3.jpeg", "p4.JPEG", "p5.jpg", "p6.JPG", "sub"}));
}

// The point (500, 300) on a 200 x 100 picture is pulled to (200, 100) without a change event,
// and the magnifier is rebuilt there: black at and beyond the point's own cell.
void TestFormOpen::pointPulledIntoNewRange()
{
    FormFixture f;
    f.open(codedPicture(640, 480));
    f.form->point()->SetX(500);
    f.form->point()->SetY(300);
    int events = 0;
    auto inner = f.form->point()->OnChange;
    f.form->point()->OnChange = [&](TPointWithRange *s, qint32 x, qint32 y) {
        ++events;
        inner(s, x, y);
    };
    const qint64 zoomKey = f.form->zoom()->cacheKey();
    f.open(codedPicture(200, 100), "small.png");
    QCOMPARE(events, 0);
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(200, 100));
    QVERIFY(f.form->zoom()->cacheKey() != zoomKey);
    const QImage &zoom = *f.form->zoom();
    QCOMPARE(zoom.pixel(170, 170) & 0xFFFFFF, 0u);
    QCOMPARE(zoom.pixel(150, 150) & 0xFFFFFF, codedPicture(200, 100).pixel(199, 99) & 0xFFFFFF);
    QCOMPARE(f.form->windowTitle(), "Tavimo-" + f.path("small.png"));
}

void TestFormOpen::sameFileTwice()
{
    FormFixture f;
    const QString file = f.open(codedPicture(80, 60));
    f.form->point()->SetX(33);
    f.form->point()->SetY(22);
    f.form->OpenPicture(file);
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(33, 22));
}

// A zero-byte file opens without a message: no picture, range 0 x 0, an all-black magnifier,
// no cross, and clicks are ignored.
void TestFormOpen::zeroByteFile()
{
    FormFixture f;
    f.open(codedPicture(80, 60));
    f.form->point()->SetX(30);
    const QString empty = f.path("empty.bmp");
    writeFile(empty, QByteArray());
    f.form->OpenPicture(empty);
    QVERIFY(f.reports.isEmpty());
    QCOMPARE(f.form->windowTitle(), "Tavimo-" + empty);
    QVERIFY(f.form->image()->isNull());
    QCOMPARE(QPoint(f.form->point()->MaxX(), f.form->point()->MaxY()), QPoint(0, 0));
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(0, 0));
    const QImage &frame = *f.form->buffer();
    for (int y = 10; y < 330; y += 7)
        for (int x = 310; x < 630; x += 7)
            QCOMPARE(frame.pixel(x, y) & 0xFFFFFF, 0u);
    // Nothing but background in the picture area: no picture, no cross.
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 300; ++x)
            QCOMPARE(frame.pixel(x, y) & 0xFFFFFF, f.background());
    clickAt(f.form->clientArea(), QPoint(0, 0));
    QCOMPARE(QPoint(f.form->point()->X(), f.form->point()->Y()), QPoint(0, 0));
}

void TestFormOpen::failuresLeaveEverything_data()
{
    // "<missing>" for no file at all; an absolute path for that file as it is.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    const QString unrecognised = QStringLiteral("認識できないイメージフォーマットです。");
    QTest::newRow("missing file") << QByteArray("<missing>") << QString();
    QTest::newRow("text named .bmp") << QByteArray("just some text, not a picture") << unrecognised;
    QTest::newRow("BM shorter than its headers")
        << QByteArray("BM").append(40, '\0') << QStringLiteral("ストリームからの読み込みエラー");
    QByteArray rle("BM", 2);
    rle.append(28, '\0').append("\x01\0\0\0", 4).append(40, '\0');
    QTest::newRow("compressed BMP") << rle << unrecognised;
    QTest::newRow("/proc/self/status, whose size reads 0")
        << QByteArray("/proc/self/status") << unrecognised;
}

void TestFormOpen::failuresLeaveEverything()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    FormFixture f;
    f.open(codedPicture(50, 40));
    f.form->point()->SetX(20);
    const Snapshot before = Snapshot::of(*f.form);
    const bool asItIs = content.startsWith('/');
    const QString bad = asItIs ? QString::fromLatin1(content) : f.path("bad.bmp");
    if (content != "<missing>" && !asItIs)
        writeFile(bad, content);
    try {
        f.form->OpenPicture(bad);
        QFAIL("no failure raised");
    } catch (const ETavimoError &e) {
        if (message.isEmpty())
            QVERIFY2(e.message().contains(bad) &&
                         e.message().endsWith(QStringLiteral("が開きません")),
                     qPrintable(e.message()));
        else
            QCOMPARE(e.message(), message);
    }
    QVERIFY(!QGuiApplication::overrideCursor()); // the busy pointer is gone before any report
    before.verifySame(Snapshot::of(*f.form));
}

QTEST_MAIN(TestFormOpen)
#include "tst_formopen.moc"
