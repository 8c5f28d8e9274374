// Replays every input the fuzzer ever failed on (tests/fuzz/regressions/) through the decoder
// with the fuzzer's size limit and time limit: each must come out exactly as recorded in
// regressions/outcomes.tsv, within 2 s.
#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QtTest>

#include <utility>

namespace {

constexpr QLatin1String OutcomesFile("outcomes.tsv");

// One line an input: its file name, a tab, what decoding it gives.
QHash<QString, QString> recordedOutcomes(const QDir &folder)
{
    QHash<QString, QString> outcomes;
    QFile table(folder.filePath(OutcomesFile));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return outcomes;
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).trimmed();
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0)
            outcomes.insert(line.left(tab), line.mid(tab + 1));
    }
    return outcomes;
}

// A picture as its size and the SHA-1 of its pixel rows, so that one made-up row shows.
QString describe(const QImage &picture)
{
    QCryptographicHash rows(QCryptographicHash::Sha1);
    for (int y = 0; y < picture.height(); ++y)
        rows.addData(QByteArrayView(picture.constScanLine(y), picture.width() * 4));
    return QStringLiteral("picture %1 x %2, pixels %3")
        .arg(picture.width())
        .arg(picture.height())
        .arg(QString::fromLatin1(rows.result().toHex()));
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
    QTest::addColumn<QString>("expected"); // null when nothing is recorded
    const QDir folder(QStringLiteral(TAVIMO_SOURCE_DIR "/tests/fuzz/regressions"));
    const QHash<QString, QString> outcomes = recordedOutcomes(folder);
    QStringList names = folder.entryList(QDir::Files, QDir::Name);
    names.removeOne(QStringLiteral("README.md"));
    names.removeOne(OutcomesFile);
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        if (!names.contains(it.key()))
            names << it.key();
    for (const QString &name : std::as_const(names))
        QTest::newRow(qPrintable(name)) << folder.filePath(name) << outcomes.value(name);
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QFile input(file);
    QVERIFY2(input.open(QIODevice::ReadOnly), "an outcome recorded for an input not kept");
    const QByteArray content = input.readAll();

    pictureloader::Options options;
    options.limitBytes = std::int64_t(64) << 20;
    QString outcome;
    QElapsedTimer clock;
    clock.start();
    try {
        const QImage picture = pictureloader::decode(content, options);
        QVERIFY(picture.isNull() || picture.format() == QImage::Format_RGB32);
        outcome = picture.isNull() ? QStringLiteral("no picture") : describe(picture);
    } catch (const ETavimoError &e) {
        outcome = QStringLiteral("refused: ") + e.message();
    }
    // The fuzzer's own rule, there under the sanitizers: 2 s an input.
    QVERIFY2(clock.elapsed() <= 2000,
             qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    QVERIFY2(!expected.isNull(),
             qPrintable(QStringLiteral("no outcome recorded: once this input gives what it "
                                       "should, add the line \"%1<TAB>%2\" to "
                                       "tests/fuzz/regressions/%3")
                            .arg(QFileInfo(file).fileName(), outcome, OutcomesFile)));
    QCOMPARE(outcome, expected);
}

QTEST_APPLESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
