// Replays every input the fuzzer ever failed on (tests/fuzz/regressions/) through the decoder
// with the fuzzer's size limit: each must come out as a Format_RGB32 picture within the limit
// or as one of the program's own failures, and none may crash.
#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QDir>
#include <QFile>
#include <QtTest>

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
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (name != QLatin1String("README.md"))
            QTest::newRow(qPrintable(name)) << folder.filePath(name);
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(QString, file);
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray content = input.readAll();

    pictureloader::Options options;
    options.limitBytes = std::int64_t(64) << 20;
    try {
        const QImage picture = pictureloader::decode(content, options);
        QCOMPARE(picture.isNull(), content.isEmpty());
        if (!picture.isNull()) {
            QCOMPARE(picture.format(), QImage::Format_RGB32);
            QVERIFY(qint64(picture.width()) * picture.height() * 4 <= options.limitBytes);
        }
    } catch (const ETavimoError &e) {
        QVERIFY2(!e.message().isEmpty(), "a refusal without a message");
    }
}

QTEST_APPLESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
