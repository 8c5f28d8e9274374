#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QtTest>

// Loads every picture of the shared corpus and checks the outcome its expected.tsv gives.
// The corpus lives outside the repository and is never copied into it.
class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void files_data();
    void files();
};

namespace {

QString corpusDir()
{
    return QStringLiteral(TAVIMO_CORPUS_DIR);
}

// BMP Suite's description page pairs each BMP ("g/pal1.bmp") with its reference renderings
// ("pal1.png"), in one table row per BMP. Keyed by the BMP's path under bmpsuite/.
QHash<QString, QStringList> bmpSuiteReferences()
{
    QHash<QString, QStringList> references;
    QFile page(corpusDir() + QStringLiteral("/bmpsuite/html/bmpsuite.html"));
    if (!page.open(QIODevice::ReadOnly))
        return references;
    const QString html = QString::fromUtf8(page.readAll());
    const QString imageStart = QStringLiteral("<img src=\"");
    for (const QString &row : html.split(QStringLiteral("<tr>"))) {
        // The first cell names the BMP: <td>g/pal1.bmp</td> or <td class=q>q/pal1p1.bmp</td>.
        const qsizetype cell = row.indexOf(QLatin1String("<td"));
        const qsizetype nameStart = row.indexOf(QLatin1Char('>'), cell) + 1;
        const qsizetype nameEnd = row.indexOf(QLatin1String("</td>"), nameStart);
        if (cell < 0 || nameStart <= 0 || nameEnd < 0)
            continue;
        const QString bmp = row.mid(nameStart, nameEnd - nameStart).trimmed();
        if (!bmp.endsWith(QLatin1String(".bmp")))
            continue;
        // Then the reference renderings, which sit beside the page (not "../").
        QStringList pictures;
        for (qsizetype at = row.indexOf(imageStart); at >= 0;
             at = row.indexOf(imageStart, at + 1)) {
            const qsizetype start = at + imageStart.size();
            const QString source = row.mid(start, row.indexOf(QLatin1Char('"'), start) - start);
            if (!source.startsWith(QLatin1String("../")))
                pictures << QStringLiteral("bmpsuite/html/") + source;
        }
        references.insert(QStringLiteral("bmpsuite/") + bmp, pictures);
    }
    return references;
}

QString outcomeOf(const QString &path, QImage *picture)
{
    try {
        *picture = pictureloader::load(path);
        return picture->isNull() ? QStringLiteral("empty") : QStringLiteral("open");
    } catch (const EReadError &) {
        return QStringLiteral("read_error");
    } catch (const EInvalidGraphicOperation &) {
        return QStringLiteral("unrecognised");
    } catch (const EPictureTooLarge &) {
        return QStringLiteral("too_large");
    } catch (const EFOpenError &e) {
        return QStringLiteral("open_error: ") + e.message();
    }
}

} // namespace

// Where the corpus is, it must be whole: what cannot be read would pass as fewer checks.
void TestCorpus::initTestCase()
{
    if (!QFileInfo::exists(corpusDir()))
        QSKIP(qPrintable(QStringLiteral("no picture corpus at %1").arg(corpusDir())));
    QVERIFY2(QFile(corpusDir() + QStringLiteral("/expected.tsv")).open(QIODevice::ReadOnly),
             "expected.tsv cannot be read");
}

void TestCorpus::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("reference");

    QFile table(corpusDir() + QStringLiteral("/expected.tsv"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return; // checked in initTestCase

    const QHash<QString, QStringList> references = bmpSuiteReferences();
    table.readLine(); // column names
    while (!table.atEnd()) {
        const QStringList fields =
            QString::fromUtf8(table.readLine()).trimmed().split(QLatin1Char('\t'));
        if (fields.size() < 4)
            continue;
        const QString &path = fields[0];
        const QSize size(fields[2].toInt(), fields[3].toInt());
        // The first reference rendering of the same size stands for the BMP's true pixels.
        QString reference;
        if (path.startsWith(QLatin1String("bmpsuite/g/"))) {
            for (const QString &candidate : references.value(path)) {
                if (candidate.endsWith(QLatin1String(".png")) &&
                    QImageReader(corpusDir() + QLatin1Char('/') + candidate).size() == size) {
                    reference = candidate;
                    break;
                }
            }
        }
        QTest::newRow(qPrintable(path)) << path << fields[1] << size << reference;
    }
}

void TestCorpus::files()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QFETCH(QSize, size);
    QFETCH(QString, reference);

    QImage picture;
    const QString outcome = outcomeOf(corpusDir() + QLatin1Char('/') + path, &picture);

    if (expected == QLatin1String("decoder_decides")) {
        QVERIFY2(outcome == QLatin1String("open") || outcome == QLatin1String("read_error") ||
                     outcome == QLatin1String("unrecognised") ||
                     outcome == QLatin1String("too_large"),
                 qPrintable(outcome));
        qInfo("%s: %s", qPrintable(path), qPrintable(outcome));
    } else {
        QCOMPARE(outcome, expected);
    }
    if (outcome != QLatin1String("open"))
        return;

    QCOMPARE(picture.format(), QImage::Format_RGB32);
    QCOMPARE(picture.size(), size);
    if (!path.startsWith(QLatin1String("bmpsuite/g/")))
        return;
    // Every good BMP of the suite has a reference rendering of its size.
    QVERIFY2(!reference.isEmpty(), "no readable reference rendering of the picture's size");

    const QImage truth =
        QImage(corpusDir() + QLatin1Char('/') + reference).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(truth.size(), picture.size());
    // Qt widens a 16-bit BMP's 5-bit channels by multiplying by 8 (31 -> 248), the reference
    // renderings to the full range (31 -> 255).
    const int tolerance = path.contains(QLatin1String("rgb16")) ? 7 : 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb got = picture.pixel(x, y), want = truth.pixel(x, y);
            if (qAbs(qRed(got) - qRed(want)) > tolerance ||
                qAbs(qGreen(got) - qGreen(want)) > tolerance ||
                qAbs(qBlue(got) - qBlue(want)) > tolerance) {
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, %4 has %5")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got, 8, 16)
                                     .arg(reference)
                                     .arg(want, 8, 16)));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
