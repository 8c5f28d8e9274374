// Replays every input the fuzzer ever failed on (tests/fuzz/regressions/) through the decoder
// under the fuzzer's limits, 64 MiB a picture and 2 s an input: each must give exactly the
// outcome recorded beside it (in NAME.outcome), and none may crash.
#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <ctime>

namespace {

// A refusal's message, or a picture's size, format (4 is Format_RGB32) and the SHA-1 of its
// pixels, so that one made-up row shows.
QString outcomeOf(const QByteArray &content)
{
    try {
        const QImage picture = pictureloader::decode(content, {std::int64_t(64) << 20});
        const QByteArray pixels = QCryptographicHash::hash(
            QByteArrayView(picture.constBits(), picture.sizeInBytes()), QCryptographicHash::Sha1);
        return QStringLiteral("picture %1 x %2, format %3, pixels %4")
            .arg(picture.width())
            .arg(picture.height())
            .arg(int(picture.format()))
            .arg(QString::fromLatin1(pixels.toHex()));
    } catch (const ETavimoError &e) {
        return QStringLiteral("refused: ") + e.message();
    }
}

} // namespace

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
};

void TestFuzzRegressions::replay_data()
{
    QTest::addColumn<QString>("file");
    const QDir folder(QStringLiteral(TAVIMO_SOURCE_DIR "/tests/fuzz/regressions"));
    // The inputs are named kind-SHA-1, without the dot of README.md and the .outcome files.
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (!name.contains(QLatin1Char('.')))
            QTest::newRow(qPrintable(name)) << folder.filePath(name);
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, file);
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray content = input.readAll();

    // The fuzzer's own rule, there under the sanitizers, counted in this process's CPU time so
    // that a loaded machine does not fail it.
    const std::clock_t start = std::clock();
    const QString outcome = outcomeOf(content);
    const long milliseconds = long((std::clock() - start) * 1000 / CLOCKS_PER_SEC);
    QVERIFY2(milliseconds <= 2000,
             qPrintable(QStringLiteral("took %1 ms of CPU time, over 2 s").arg(milliseconds)));
    QFile recorded(file + QStringLiteral(".outcome"));
    QVERIFY2(recorded.open(QIODevice::ReadOnly | QIODevice::Text),
             qPrintable(QStringLiteral("no outcome recorded: once the decoder handles this input "
                                       "as it should, write the line \"%1\" to %2")
                            .arg(outcome, recorded.fileName())));
    QCOMPARE(outcome, QString::fromUtf8(recorded.readAll()).trimmed());
}

QTEST_APPLESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
