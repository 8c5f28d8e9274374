// Hostile pictures and awkward paths through TForm1::OpenPicture: every refusal carries the
// message the user is shown and leaves the previous picture, caption and point as they were.
#include "FormFixture.h"
#include "TestPictures.h"

#include "core/Errors.h"
#include "core/PictureLimits.h"

#include <QProcess>
#include <QStandardPaths>
#include <QWindow>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace testpictures;
using namespace formfixture;

namespace {

QString readError()
{
    return QStringLiteral("ストリームからの読み込みエラー");
}
QString unrecognised()
{
    return QStringLiteral("認識できないイメージフォーマットです。");
}

// The window holds pictures to the machine's limit, and the readers that cannot tell a
// picture's size beforehand to the floor.
QString tooLarge(qint64 w, qint64 h, qint64 limitBytes = picturelimits::machineLimitBytes())
{
    return QStringLiteral("画像が大きすぎて開けません (%1 × %2 ピクセル、上限 %3 メガピクセル)")
        .arg(w)
        .arg(h)
        .arg(limitBytes / 4 / 1000000);
}

QString cannotOpen(const QString &path, const QString &reason)
{
    return QStringLiteral("ファイル \"%1\". %2 が開きません").arg(path, reason);
}

// A window showing a 50 x 40 picture with the point at (20, 10).
struct Opened : FormFixture
{
    Opened()
    {
        open(codedPicture(50, 40), QStringLiteral("before.png"));
        form->point()->SetX(20);
        form->point()->SetY(10);
    }

    // Opens `bytes` as a file; "" when it opened, else the failure's message. A failure must
    // leave what the window shows unchanged.
    QString tryOpen(const QByteArray &bytes, const QString &name = QStringLiteral("hostile"))
    {
        const QString file = writeFile(dir, name, bytes);
        const Snapshot before = Snapshot::of(*form);
        try {
            form->OpenPicture(file);
            return QString();
        } catch (const ETavimoError &e) {
            if (!(Snapshot::of(*form) == before))
                return QStringLiteral("<the refused file changed the window>");
            return e.message();
        }
    }
};

// The 12-byte OS/2 header, which holds its size in 16-bit fields.
QByteArray os2Bmp(quint16 width, quint16 height)
{
    QByteArray bytes("BM", 2);
    bytes.append(12, '\0').append("\x0c\0\0\0", 4);
    bytes.append(char(width & 0xFF)).append(char(width >> 8));
    bytes.append(char(height & 0xFF)).append(char(height >> 8));
    bytes.append("\x01\0\x18\0", 4).append(64, '\0');
    putLittleEndian32(bytes, 10, 26);
    return bytes;
}

QByteArray bmpDeclaring(int bits, qint32 width, qint32 height)
{
    QByteArray bytes = bmpBytes(4, 4, bits);
    putLittleEndian32(bytes, 18, quint32(width));
    putLittleEndian32(bytes, 22, quint32(height));
    return bytes;
}

} // namespace

class TestFaultOpen : public QObject
{
    Q_OBJECT

private slots:
    void decompressionBombs_data();
    void decompressionBombs();
    void cutShortRefused_data();
    void cutShortRefused();
    void cutShortPngGif_data();
    void cutShortPngGif();
    void awkwardFiles_data();
    void awkwardFiles();
    void unreadableFile();
    void hugeFileLedByAJpegOpensInLittleMemory();
    void oddNamesShownExactly_data();
    void oddNamesShownExactly();
};

void TestFaultOpen::decompressionBombs_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    const QByteArray png = encoded(coordinatePicture(8, 8), "png");
    const QByteArray jpeg = encoded(coordinatePicture(16, 16), "jpeg");
    const QByteArray progressive = encoded(coordinatePicture(16, 16), "jpeg", true);

    // An uncompressed BMP can only declare more pixels than it holds: it is cut short.
    QTest::newRow("BMP 24-bit 65535 x 65535") << bmpDeclaring(24, 65535, 65535) << readError();
    QTest::newRow("BMP 1-bit 2^31-1 x 2^31-1") << bmpDeclaring(1, INT_MAX, INT_MAX) << readError();
    QTest::newRow("BMP top-down, height -2^31") << bmpDeclaring(8, 65535, INT_MIN) << readError();
    // The OS/2 header's sides are signed 16-bit values, as Qt's reader takes them.
    QTest::newRow("BMP OS/2 header 32767 x 32767") << os2Bmp(32767, 32767) << readError();
    // 65500 is the most libjpeg takes; it refuses anything larger as undecodable.
    QTest::newRow("JPEG baseline 65500 x 65500")
        << jpegDeclaring(jpeg, 65500, 65500) << tooLarge(65500, 65500);
    QTest::newRow("JPEG progressive 65500 x 65500")
        << jpegDeclaring(progressive, 65500, 65500) << tooLarge(65500, 65500);
    QTest::newRow("JPEG 65535 x 65535")
        << jpegDeclaring(jpeg, 65535, 65535) << tooLarge(65535, 65535);
    // No JPEG is over the limit of a machine past 32 GiB: libjpeg takes at most 65500 x 65500.
    if (const qint64 rowsOver = picturelimits::machineLimitBytes() / 4 / 65500 + 1;
        rowsOver <= 65500)
        QTest::newRow("JPEG one row over the limit")
            << jpegDeclaring(jpeg, 65500, quint16(rowsOver)) << tooLarge(65500, rowsOver);
    // Within the limit, a few bytes claiming a large picture cost no more than those bytes.
    QTest::newRow("JPEG claiming 20000 x 20000 in its few bytes")
        << jpegDeclaring(jpeg, 20000, 20000)
        << (picturelimits::machineLimitBytes() < qint64(20000) * 20000 * 4 ? tooLarge(20000, 20000)
                                                                           : unrecognised());
    QTest::newRow("PNG 65535 x 65535") << pngDeclaring(png, 65535, 65535) << tooLarge(65535, 65535);
    QTest::newRow("PNG 100000 x 100000")
        << pngDeclaring(png, 100000, 100000) << tooLarge(100000, 100000);
    QTest::newRow("GIF 65535 x 65535") << gifBytes(4, 4, 65535, 65535) << tooLarge(65535, 65535);
    // Formats Qt recognises from the content alone.
    QTest::newRow("PPM 30000 x 30000") << QByteArray("P6\n30000 30000\n255\n").append(64, 'x')
                                       << tooLarge(30000, 30000, picturelimits::FloorBytes);
    // Qt's XBM reader tells no size beforehand and fills what the file lacks: its allocation
    // limit refuses it before the pixels are allocated.
    QTest::newRow("XBM 30000 x 30000")
        << QByteArray(
               "#define b_width 30000\n#define b_height 30000\nstatic char b_bits[] = {0x01};\n")
        << unrecognised();
}

void TestFaultOpen::decompressionBombs()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Opened f;
    QCOMPARE(f.tryOpen(bytes), message);
}

void TestFaultOpen::cutShortRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    const QByteArray bmp24 = bmpBytes(40, 30, 24);
    const QByteArray bmp8 = bmpBytes(40, 30, 8);
    for (int at : {2, 14, 30, 53, 54, 55, 54 + 120 * 15, int(bmp24.size()) - 1})
        QTest::addRow("BMP 24-bit cut at %d", at) << bmp24.left(at) << readError();
    for (int at : {60, 54 + 1024, int(bmp8.size()) - 41})
        QTest::addRow("BMP 8-bit cut at %d", at) << bmp8.left(at) << readError();

    const QByteArray jpeg = encoded(coordinatePicture(64, 48), "jpeg");
    const QByteArray progressive = encoded(coordinatePicture(64, 48), "jpeg", true);
    const int scan = jpegMarkers(jpeg, 0xDA).value(0);
    QVERIFY(scan > 0);
    for (int at : {2, 4, 20, scan, scan + 14, int(jpeg.size()) / 2, int(jpeg.size()) - 40})
        QTest::addRow("JPEG baseline cut at %d of %d", at, int(jpeg.size()))
            << jpeg.left(at) << unrecognised();
    // Cut inside the scan and closed with an EOI marker, or with a marker spliced in: the
    // rows past the marker are not in the file either.
    const int inScan = scan + (int(jpeg.size()) - scan) / 2;
    QTest::newRow("JPEG cut inside its scan, EOI appended")
        << jpeg.left(inScan) + "\xFF\xD9" << unrecognised();
    QTest::newRow("JPEG with EOI spliced into its scan")
        << jpeg.left(inScan) + "\xFF\xD9" + jpeg.mid(inScan) << unrecognised();
    QTest::newRow("JPEG with RST0 spliced into its scan")
        << jpeg.left(inScan) + "\xFF\xD0" + jpeg.mid(inScan) << unrecognised();
    const QVector<int> scans = jpegMarkers(progressive, 0xDA);
    QVERIFY(scans.size() > 2);
    for (int at : {scans[1], scans.last(), int(progressive.size()) - 40})
        QTest::addRow("JPEG progressive cut at %d of %d", at, int(progressive.size()))
            << progressive.left(at) << unrecognised();
}

void TestFaultOpen::cutShortRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Opened f;
    QCOMPARE(f.tryOpen(bytes), message);
}

// The PNG and GIF readers may show what arrived or refuse; either way cleanly.
void TestFaultOpen::cutShortPngGif_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray png = encoded(coordinatePicture(64, 48), "png");
    const QByteArray gif = gifBytes(30, 20);
    for (int at :
         {1, 8, 16, 33, 40, int(png.size()) / 2, int(png.size()) - 12, int(png.size()) - 1})
        QTest::addRow("PNG cut at %d of %d", at, int(png.size())) << png.left(at);
    for (int at : {3, 6, 10, 13, 25, int(gif.size()) / 2, int(gif.size()) - 2})
        QTest::addRow("GIF cut at %d of %d", at, int(gif.size())) << gif.left(at);
}

void TestFaultOpen::cutShortPngGif()
{
    QFETCH(QByteArray, bytes);
    Opened f;
    const QString message = f.tryOpen(bytes);
    if (message.isEmpty()) {
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Tavimo-") + f.path("hostile"));
        QCOMPARE(f.form->image()->format(), QImage::Format_RGB32);
        QVERIFY(!f.form->image()->isNull());
    } else {
        QCOMPARE(message, unrecognised());
    }
}

void TestFaultOpen::awkwardFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    const QString notRegular = QStringLiteral("通常のファイルではありません");
    QTest::newRow("a folder") << "folder" << errors::systemErrorText(EISDIR);
    QTest::newRow("a FIFO without a writer") << "fifo" << notRegular;
    QTest::newRow("/dev/zero") << "/dev/zero" << notRegular;
    QTest::newRow("a link to /dev/zero") << "zero link" << notRegular;
    QTest::newRow("a dangling link") << "dangling" << errors::systemErrorText(ENOENT);
    QTest::newRow("a file taken for a folder")
        << "file as folder" << errors::systemErrorText(ENOTDIR);
}

// None of these may block: a FIFO or a device is refused before anything is read.
void TestFaultOpen::awkwardFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    Opened f;
    QString path = kind.startsWith('/') ? kind : f.path(kind);
    if (kind == "folder") {
        QVERIFY(QDir(f.dir.path()).mkdir(kind));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "/dev/zero") {
        if (!QFile::exists(kind))
            QSKIP("this system has no /dev/zero");
    } else if (kind == "zero link") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else if (kind == "dangling") {
        QVERIFY(QFile::link(f.path("nowhere"), path));
    } else {
        writeFile(f.dir, "plain", "text");
        path = f.path("plain/picture.bmp");
    }
    const Snapshot before = Snapshot::of(*f.form);
    try {
        f.form->OpenPicture(path);
        QFAIL("opened");
    } catch (const EFOpenError &e) {
        QCOMPARE(e.message(), cannotOpen(path, reason));
    }
    QVERIFY(Snapshot::of(*f.form) == before);
}

// Permissions do not hold for root, so the open runs in a helper process as nobody then.
void TestFaultOpen::unreadableFile()
{
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
    const QString picture = writeFile(dir, "locked picture.bmp", bmpBytes(4, 4, 24));
    QVERIFY(QFile::setPermissions(picture, QFileDevice::WriteOwner));

    QStringList command;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv (util-linux): cannot drop the privilege");
        command << setpriv << "--reuid=65534"
                << "--regid=65534"
                << "--clear-groups";
    }
    // A copy the unprivileged user can surely reach, whatever the build folder's permissions.
    const QString helper = dir.filePath("fault_helper");
    QVERIFY(QFile::copy(QStringLiteral(FAULT_HELPER), helper));
    command << helper << "open" << dir.filePath("tavimo") << picture;

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(command.takeFirst(), command);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(out, "refused: " + cannotOpen(picture, errors::systemErrorText(EACCES)) + "\n");
}

// A 3 GiB file (sparse) that starts with a small JPEG opens in a process left 256 MiB of address
// space: the loader reads the JPEG and no further, and allocates nothing the file's size.
void TestFaultOpen::hugeFileLedByAJpegOpensInLittleMemory()
{
    QTemporaryDir dir;
    const QString picture =
        writeFile(dir, "huge.jpg", encoded(coordinatePicture(40, 30), "jpeg", true));
    QVERIFY(QFile::resize(picture, qint64(3) << 30));

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(FAULT_HELPER), {"open", dir.filePath("tavimo"), picture, "256"});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardOutput(), QByteArray("opened 40 x 30\n"));
}

void TestFaultOpen::oddNamesShownExactly_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("spaces") << QStringLiteral("  two  spaces .bmp");
    QTest::newRow("quotes") << QStringLiteral("it's a \"picture\".bmp");
    QTest::newRow("Japanese") << QStringLiteral("座標の写真 ① .bmp");
    QTest::newRow("accents and emoji") << QStringLiteral("Größe ½ 🙂.bmp");
    QTest::newRow("backslash, percent, ampersand") << QStringLiteral("a\\b %1 %s &O.bmp");
    QTest::newRow("newline and tab") << QStringLiteral("line\nbreak\ttab.bmp");
    QTest::newRow("leading dash, no extension") << QStringLiteral("-rf");
    QTest::newRow("Qt's modified-mark placeholder") << QStringLiteral("plot[*].bmp");
    QTest::newRow("placeholder twice") << QStringLiteral("[*][*] and [*].bmp");
}

void TestFaultOpen::oddNamesShownExactly()
{
    QFETCH(QString, name);
    FormFixture f;
    const QString path = writeFile(f.dir, name, bmpBytes(6, 5, 24));
    f.form->show();
    f.form->OpenPicture(path);
    // The title handed to the window system, which is what the title bar shows.
    QCOMPARE(f.form->windowHandle()->title(), QStringLiteral("Tavimo-") + path);
    QCOMPARE(f.form->image()->size(), QSize(6, 5));
    QCOMPARE(f.form->image()->pixel(5, 4), bmpPixel(5, 4, 24));
}

QTEST_MAIN(TestFaultOpen)
#include "tst_faultopen.moc"
