// The point log under faults: no log at start, a line cut by the file size limit, the file
// deleted or emptied by another process while the window runs, the process killed outright.
#include "FormFixture.h"

#include "core/Errors.h"

#include <QAction>
#include <QKeyEvent>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include <pthread.h>

#include <sys/resource.h>
#include <unistd.h>

using namespace formfixture;

namespace {

QString cannotCreate(const QString &path, int error)
{
    return QStringLiteral("ファイル \"%1\" を作成できません: %2")
        .arg(path, errors::systemErrorText(error));
}

void pressRight(TForm1 &form, int times = 1)
{
    for (int i = 0; i < times; ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(form.clientArea(), &right);
    }
}

// Runs the helper as a second instance of the program started as `program`: it opens a
// picture, logs COUNT points (1,0 to COUNT,0), then is killed by SIGKILL.
void runLogAndKill(const QString &program, int count)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(FAULT_HELPER),
                 {QStringLiteral("log-and-kill"), program, QString::number(count)});
    QVERIFY(helper.waitForFinished(120000));
    QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
    QCOMPARE(helper.exitCode(), int(SIGKILL));
    QCOMPARE(helper.readAllStandardOutput(), QByteArray()); // nothing was reported
}

// Restores the file size limit on scope exit. SIGXFSZ keeps the action a shell leaves it,
// which ends a process whose write meets the limit.
struct FileSizeLimit
{
    rlimit saved{};

    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limited{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
};

} // namespace

class TestFaultLog : public QObject
{
    Q_OBJECT

private slots:
    void noLogAtStart_data();
    void noLogAtStart();
    void lineCutByTheSizeLimitLeavesNoFragment_data();
    void lineCutByTheSizeLimitLeavesNoFragment();
    void deletedWhileRunningKeepsTakingLines();
    void secondProcessEmptiesTheLog();
    void killedRightAfterTenLogs();
};

void TestFaultLog::noLogAtStart_data()
{
    QTest::addColumn<QString>("program"); // relative to a temporary folder
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("error");

    QTest::newRow("folder missing") << "gone/tavimo"
                                    << "gone/tavimo.log" << ENOENT;
    QTest::newRow("link into a missing folder") << "dangling/tavimo"
                                                << "dangling/tavimo.log" << ENOENT;
    QTest::newRow("name too long") << QString(300, QLatin1Char('t'))
                                   << QString(300, QLatin1Char('t')) + ".log" << ENAMETOOLONG;
}

// One report at start; the window works; every Log command says again why there is no log.
void TestFaultLog::noLogAtStart()
{
    QFETCH(QString, program);
    QFETCH(QString, log);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("dangling")));
    QStringList reports;
    TForm1 form(QFile::encodeName(dir.filePath(program)), [&](const QString &m) { reports << m; });
    const QString expected = cannotCreate(dir.filePath(log), error);
    QCOMPARE(reports, QStringList{expected});
    QVERIFY(!form.log());

    QVERIFY(codedPicture(30, 20).save(dir.filePath("p.png")));
    form.OpenPicture(dir.filePath("p.png"));
    pressRight(form, 2);
    QCOMPARE(form.point()->X(), 2);
    form.action("MnuLog")->trigger();
    form.action("MnuLog")->trigger();
    QCOMPARE(reports, (QStringList{expected, expected, expected}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             (QStringList{"dangling", "p.png"}));
}

// The file may not grow past `limit` bytes: the next 5-byte line is written in part, then
// refused. The part is taken back, and once the limit is lifted the next line follows the last
// whole one, or starts the file.
void TestFaultLog::lineCutByTheSizeLimitLeavesNoFragment_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("limit");
    QTest::newRow("after two lines") << 2 << 12;
    QTest::newRow("the first line") << 0 << 2;
    QTest::newRow("one byte of room") << 1 << 6;
}

void TestFaultLog::lineCutByTheSizeLimitLeavesNoFragment()
{
    QFETCH(int, linesBefore);
    QFETCH(int, limit);
    FormFixture f;
    QAction *log = f.form->action("MnuLog");
    for (int line = 0; line < linesBefore; ++line)
        log->trigger();
    struct sigaction action = {};
    QCOMPARE(sigaction(SIGXFSZ, nullptr, &action), 0);
    QVERIFY(action.sa_handler == SIG_DFL);
    {
        const FileSizeLimit limited{rlim_t(limit)};
        log->trigger();
        log->trigger();
    }
    sigset_t blocked; // as before: what the program starts inherits its mask
    QCOMPARE(pthread_sigmask(SIG_SETMASK, nullptr, &blocked), 0);
    QVERIFY(!sigismember(&blocked, SIGXFSZ));
    QCOMPARE(f.reports.size(), 2);
    for (const QString &report : f.reports)
        QCOMPARE(report, QStringLiteral("ファイル \"%1\" に書き込めません: %2")
                             .arg(f.path("tavimo.log"), errors::systemErrorText(EFBIG)));
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray("0,0\r\n").repeated(linesBefore));
    log->trigger();
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray("0,0\r\n").repeated(linesBefore + 1));
    QCOMPARE(f.reports.size(), 2);
}

// Deleted while the window runs: the Log command goes on writing to the open file without a
// word. A second name for the same file shows that the lines did arrive.
void TestFaultLog::deletedWhileRunningKeepsTakingLines()
{
    FormFixture f;
    const QByteArray logPath = QFile::encodeName(f.path("tavimo.log"));
    const QByteArray keeper = QFile::encodeName(f.path("keeper"));
    QCOMPARE(::link(logPath.constData(), keeper.constData()), 0);
    f.form->action("MnuLog")->trigger();
    QVERIFY(QFile::remove(f.path("tavimo.log")));
    pressRight(*f.form); // no picture yet: the point stays at 0
    f.open(codedPicture(10, 10));
    pressRight(*f.form, 3);
    f.form->action("MnuLog")->trigger();
    f.form->action("MnuLog")->trigger();
    QVERIFY(f.reports.isEmpty());
    QVERIFY(!QFile::exists(f.path("tavimo.log")));
    QCOMPARE(fileBytes(f.path("keeper")), QByteArray("0,0\r\n3,0\r\n3,0\r\n"));
}

// A second instance, in a process of its own, empties the file and logs one line; the first
// one's next line lands right after it, with no hole of zero bytes where its old lines were.
void TestFaultLog::secondProcessEmptiesTheLog()
{
    FormFixture f;
    f.open(codedPicture(50, 40));
    pressRight(*f.form, 7);
    for (int i = 0; i < 3; ++i)
        f.form->action("MnuLog")->trigger();
    runLogAndKill(f.path("tavimo"), 1);
    f.form->action("MnuLog")->trigger();
    QCOMPARE(fileBytes(f.path("tavimo.log")), QByteArray("1,0\r\n7,0\r\n"));
    QVERIFY(f.reports.isEmpty());
}

// Each line goes out as the Log command runs, so SIGKILL right after the tenth loses none.
void TestFaultLog::killedRightAfterTenLogs()
{
    QTemporaryDir dir;
    runLogAndKill(dir.filePath("tavimo"), 10);
    QCOMPARE(fileBytes(dir.filePath("tavimo.log")),
             QByteArray("1,0\r\n2,0\r\n3,0\r\n4,0\r\n5,0\r\n6,0\r\n7,0\r\n8,0\r\n9,0\r\n10,0\r\n"));
}

QTEST_MAIN(TestFaultLog)
#include "tst_faultlog.moc"
