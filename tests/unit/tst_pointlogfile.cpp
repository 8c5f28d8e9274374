#include "core/Errors.h"
#include "core/PointLogFile.h"
#include "core/PointWithRange.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

TPointWithRange pointAt(int x, int y)
{
    TPointWithRange p;
    p.SetMaxX(1000);
    p.SetMaxY(1000);
    p.SetX(x);
    p.SetY(y);
    return p;
}

} // namespace

class TestPointLogFile : public QObject
{
    Q_OBJECT

private slots:
    void logPath_data();
    void logPath();
    void line_data();
    void line();
    void createsEmptyAndTruncates();
    void linesReachTheFileAtOnce();
    void modeFollowsUmask_data();
    void modeFollowsUmask();
    void creationFailure_data();
    void creationFailure();
    void fullDiskReportsAndGoesOn();
    void secondInstanceEmptyingLeavesNoHole();
};

void TestPointLogFile::logPath_data()
{
    QTest::addColumn<QByteArray>("argv0");
    QTest::addColumn<QByteArray>("log");

    QTest::newRow("absolute") << QByteArray("/usr/local/bin/prog")
                              << QByteArray("/usr/local/bin/prog.log");
    QTest::newRow("relative with extension")
        << QByteArray("./prog.bin") << QByteArray("./prog.log");
    QTest::newRow("bare name") << QByteArray("prog") << QByteArray("prog.log");
    QTest::newRow("opt path") << QByteArray("/opt/t/picker") << QByteArray("/opt/t/picker.log");
    QTest::newRow("dotted folder") << QByteArray("a.b/picker") << QByteArray("a.b/picker.log");
    QTest::newRow("relative picker.bin")
        << QByteArray("./picker.bin") << QByteArray("./picker.log");
    QTest::newRow("bare picker") << QByteArray("picker") << QByteArray("picker.log");
    QTest::newRow("last dot only") << QByteArray("/x/a.b.c") << QByteArray("/x/a.b.log");
    QTest::newRow("dot-slash only") << QByteArray("./tavimo") << QByteArray("./tavimo.log");
    QTest::newRow("empty argv0") << QByteArray() << QByteArray(".log");
}

void TestPointLogFile::logPath()
{
    QFETCH(QByteArray, argv0);
    QFETCH(QByteArray, log);
    QCOMPARE(pointlogfile::logPathFor(argv0), log);
}

void TestPointLogFile::line_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("origin") << 0 << 0 << QByteArray("0,0\r\n");
    QTest::newRow("one past the picture") << 200 << 100 << QByteArray("200,100\r\n");
    QTest::newRow("large") << 2147483647 << 7 << QByteArray("2147483647,7\r\n");
}

void TestPointLogFile::line()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QByteArray, bytes);
    QCOMPARE(pointlogfile::logLine(x, y), bytes);
}

void TestPointLogFile::createsEmptyAndTruncates()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.log");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old lines\r\n");
    }
    TPointLogFile log(QFile::encodeName(path));
    QCOMPARE(contents(path), QByteArray());
    const TPointWithRange p = pointAt(12, 34);
    for (int i = 0; i < 3; ++i)
        log.WritePoint(p);
    QCOMPARE(contents(path), QByteArray("12,34\r\n12,34\r\n12,34\r\n"));
}

// Nothing is buffered: each line is readable by another reader as soon as WritePoint returns.
void TestPointLogFile::linesReachTheFileAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.log");
    TPointLogFile log(QFile::encodeName(path));
    log.WritePoint(pointAt(1, 2));
    QCOMPARE(contents(path), QByteArray("1,2\r\n"));
    log.WritePoint(pointAt(640, 480));
    QCOMPARE(contents(path), QByteArray("1,2\r\n640,480\r\n"));
}

void TestPointLogFile::modeFollowsUmask_data()
{
    QTest::addColumn<uint>("mask");
    QTest::addColumn<uint>("mode");

    QTest::newRow("umask 000") << 0000u << 0666u;
    QTest::newRow("umask 022") << 0022u << 0644u;
    QTest::newRow("umask 027") << 0027u << 0640u;
}

void TestPointLogFile::modeFollowsUmask()
{
    QFETCH(uint, mask);
    QFETCH(uint, mode);

    QTemporaryDir dir;
    const QString path = dir.filePath("t.log");
    const mode_t old = ::umask(mask);
    {
        TPointLogFile log(QFile::encodeName(path));
    }
    ::umask(old);
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(mode));
}

void TestPointLogFile::creationFailure_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("error");

    QTest::newRow("path is a folder") << "folder" << EISDIR;
    QTest::newRow("folder missing") << "missing/t.log" << ENOENT;
}

void TestPointLogFile::creationFailure()
{
    QFETCH(QString, relative);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    // Relative to the working folder, with "." and ".." to resolve in the message.
    const QString savedCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QByteArray given = QFile::encodeName("./sub/../" + relative);
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    try {
        TPointLogFile log(given);
        QDir::setCurrent(savedCwd);
        QFAIL("no error raised");
    } catch (const EFCreateError &e) {
        QDir::setCurrent(savedCwd);
        const QString absolute = QDir(dir.path()).canonicalPath() + "/" + relative;
        QCOMPARE(e.message(), QStringLiteral("ファイル \"%1\" を作成できません: %2")
                                  .arg(absolute, errors::systemErrorText(error)));
    }
}

// A full disk: the write is reported, no fragment stays, and the log keeps trying.
void TestPointLogFile::fullDiskReportsAndGoesOn()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("this system has no /dev/full");
    QTemporaryDir dir;
    const QString link = dir.filePath("full.log");
    QVERIFY(QFile::link("/dev/full", link));
    TPointLogFile log(QFile::encodeName(link));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            log.WritePoint(pointAt(3, 4));
            QFAIL("a write to a full disk was reported as success");
        } catch (const EFWriteError &e) {
            QVERIFY2(e.message().startsWith(
                         QStringLiteral("ファイル \"%1\" に書き込めません: ").arg(link)),
                     qPrintable(e.message()));
            QVERIFY(e.message().endsWith(errors::systemErrorText(ENOSPC)));
        }
    }
}

// Someone empties the file (a second start from the same path): the next line lands at the
// new end, with no hole of zero bytes before it.
void TestPointLogFile::secondInstanceEmptyingLeavesNoHole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.log");
    TPointLogFile first(QFile::encodeName(path));
    first.WritePoint(pointAt(1, 1));
    first.WritePoint(pointAt(2, 2));
    TPointLogFile second(QFile::encodeName(path));
    second.WritePoint(pointAt(9, 9));
    first.WritePoint(pointAt(3, 3));
    QCOMPARE(contents(path), QByteArray("9,9\r\n3,3\r\n"));
}

QTEST_APPLESS_MAIN(TestPointLogFile)
#include "tst_pointlogfile.moc"
