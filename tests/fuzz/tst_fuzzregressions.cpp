// Replays every input the fuzzer ever failed on (tests/fuzz/regressions/) through the decoder
// under the fuzzer's limits, 64 MiB a picture and 2 s an input: each must give exactly the
// outcome regressions/outcomes.tsv records for it, and none may crash.
#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace {

// A refusal's message, or a picture's size, format (4 is Format_RGB32) and the SHA-1 of its
// rows, so that one made-up row shows.
QString outcomeOf(const QByteArray &content)
{
    try {
        const QImage picture = pictureloader::decode(content, {std::int64_t(64) << 20});
        QCryptographicHash rows(QCryptographicHash::Sha1);
        for (int y = 0; y < picture.height(); ++y)
            rows.addData(QByteArrayView(picture.constScanLine(y), picture.bytesPerLine()));
        return QStringLiteral("picture %1 x %2, format %3, pixels %4")
            .arg(picture.width())
            .arg(picture.height())
            .arg(int(picture.format()))
            .arg(QString::fromLatin1(rows.result().toHex()));
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
    QTest::addColumn<QString>("expected"); // null when outcomes.tsv has no line for the file
    const QDir folder(QStringLiteral(TAVIMO_SOURCE_DIR "/tests/fuzz/regressions"));
    QHash<QString, QString> recorded; // one line an input: its file name, a tab, its outcome
    QFile table(folder.filePath(QStringLiteral("outcomes.tsv")));
    if (table.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!table.atEnd()) {
            const QString line = QString::fromUtf8(table.readLine()).trimmed();
            recorded.insert(line.section(QLatin1Char('\t'), 0, 0),
                            line.section(QLatin1Char('\t'), 1));
        }
    }
    // The inputs are named kind-SHA-1, without the dot of README.md and outcomes.tsv.
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (!name.contains(QLatin1Char('.')))
            QTest::newRow(qPrintable(name)) << folder.filePath(name) << recorded.value(name);
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray content = input.readAll();

    QElapsedTimer clock;
    clock.start();
    const QString outcome = outcomeOf(content);
    // The fuzzer's own rule, there under the sanitizers.
    QVERIFY2(clock.elapsed() <= 2000,
             qPrintable(QStringLiteral("took %1 ms, over 2 s").arg(clock.elapsed())));
    QVERIFY2(!expected.isNull(),
             qPrintable(QStringLiteral("no outcome recorded: once the decoder handles this input "
                                       "as it should, add the line \"%1<TAB>%2\" to "
                                       "tests/fuzz/regressions/outcomes.tsv")
                            .arg(QFileInfo(file).fileName(), outcome)));
    QCOMPARE(outcome, expected);
}

QTEST_APPLESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
