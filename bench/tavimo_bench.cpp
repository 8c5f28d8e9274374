// Tavimo's benchmarks. Every figure is measured beside a baseline doing the least work the same
// task needs, in the same run, and the summary table at the end gives the ratio and its target.
//
//   tavimo_bench [--startup-results=FILE] [--table-out=FILE] [Google Benchmark options]
//
// Run it on the offscreen platform (QT_QPA_PLATFORM=offscreen); scripts/bench does. FILE for
// --startup-results is what tavimo_bench_startup printed; without it the start-up rows read
// "not measured". Times are CPU time of the whole process (all its threads), the least of the
// repetitions: the machine is shared, and wall-clock time there measures the neighbours' load
// as much as ours. Google Benchmark's own lines show both clocks. Repetitions run in random
// interleaved order, so a figure and its baseline see the same conditions.
#include "BenchPictures.h"
#include "ProcessMemory.h"
#include "ReferenceDecoders.h"

#include "core/FittedPicture.h"
#include "core/Geometry.h"
#include "core/Magnifier.h"
#include "core/PictureLimits.h"
#include "core/PictureLoader.h"
#include "core/PointWithRange.h"
#include "ui/FormMain.h"

#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int BigWidth = 6000, BigHeight = 4000;     // 24 megapixels
constexpr int SmallWidth = 1024, SmallHeight = 1024; // 1 megapixel
constexpr int ScanWidth = 14000, ScanHeight = 19900; // an A1 sheet at 600 dpi, 279 megapixels
constexpr int TinySide = 100;                        // enlarged about 10 times at 1920 x 1080
constexpr int JpegQuality = 90;
constexpr int FloodPresses = 2000;

// Files the benchmarks open, made once into a temporary folder, and the windows they are
// opened in.
struct Workspace
{
    QTemporaryDir dir;
    QString bmpTiny, bmpSmall, bmpBig, jpegBaseline, jpegProgressive, jpegScan;
    qint64 bmpBigBytes = 0, jpegBaselineBytes = 0, jpegProgressiveBytes = 0, jpegScanBytes = 0;
    // Files each opened in a fresh process, to be refused (or, for some, opened) at once and in
    // little memory, whatever they declare and however large they are.
    struct Quick
    {
        std::string label;
        QString path;
        bool opens;
    };
    std::vector<Quick> quick;
    // Windows with a picture open, kept for the whole run (opening the 24-MP picture takes
    // longer than the figures measured on it); they go before the folder their log is in.
    std::map<std::tuple<int, int, QString>, std::unique_ptr<TForm1>> forms;
};
Workspace *work = nullptr;

void makeWorkspace()
{
    work = new Workspace;
    if (!work->dir.isValid())
        qFatal("cannot create a temporary folder");
    std::fprintf(stderr, "Making the pictures in %s ...\n", qPrintable(work->dir.path()));
    using namespace benchpictures;

    work->bmpTiny = work->dir.filePath("tiny-100x100.bmp");
    writeFile(work->bmpTiny, bmp24(photoLike(TinySide, TinySide)));

    const QImage small = photoLike(SmallWidth, SmallHeight);
    work->bmpSmall = work->dir.filePath("small-1mp.bmp");
    const QByteArray smallBmp = bmp24(small);
    writeFile(work->bmpSmall, smallBmp);

    const QImage big = photoLike(BigWidth, BigHeight);
    const QByteArray bigBmp = bmp24(big);
    work->bmpBig = work->dir.filePath("big-24mp.bmp");
    writeFile(work->bmpBig, bigBmp);
    work->bmpBigBytes = bigBmp.size();

    const QByteArray baseline = jpeg(big, JpegQuality, false);
    work->jpegBaseline = work->dir.filePath("big-24mp-baseline.jpg");
    writeFile(work->jpegBaseline, baseline);
    work->jpegBaselineBytes = baseline.size();

    const QByteArray progressive = jpeg(big, JpegQuality, true);
    work->jpegProgressive = work->dir.filePath("big-24mp-progressive.jpg");
    writeFile(work->jpegProgressive, progressive);
    work->jpegProgressiveBytes = progressive.size();

    const QByteArray scan = drawingJpeg(ScanWidth, ScanHeight);
    work->jpegScan = work->dir.filePath("scan-279mp.jpg");
    writeFile(work->jpegScan, scan);
    work->jpegScanBytes = scan.size();

    const auto refusal = [](const char *label, const char *name, const QByteArray &bytes,
                            qint64 size = 0, bool opens = false) {
        const QString path = work->dir.filePath(QString::fromLatin1(name));
        writeFile(path, bytes, size);
        work->quick.push_back({label, path, opens});
    };
    refusal("BMP declaring 65535 x 65535", "huge.bmp", hugeBmp());
    refusal("JPEG declaring 65535 x 65535", "huge.jpg", hugeJpeg(65535));
    // libjpeg itself refuses dimensions above 65500; this one it would decode, so the
    // loader's own limit (at most 2^30 pixels) has to stop it.
    refusal("JPEG declaring 40000 x 40000", "large.jpg", hugeJpeg(40000));
    // Within the limit of a machine of 4 GiB or more, but holding a few hundred bytes.
    refusal("JPEG claiming 20000 x 20000 in its few bytes", "claim.jpg", hugeJpeg(20000));
    refusal("PNG declaring 65535 x 65535", "huge.png", hugePng());
    refusal("GIF declaring 65535 x 65535", "huge.gif", hugeGif());
    // Its reader tells only the directory's 256 x 256: Qt's own limit has to stop the PNG.
    refusal("ICO holding a 20000 x 20000 PNG", "big.ico", iconHoldingPng(20000));
    refusal("1-MP BMP cut at half its length", "cut.bmp", cutShort(smallBmp, 0.5));
    // 3 GiB each, sparse: only what the decoder needs of them may be read.
    const qint64 threeGiB = qint64(3) << 30;
    refusal("3 GiB of zeros", "zeros.bin", {}, threeGiB);
    refusal("3 GiB file led by a 16 x 16 JPEG", "led.jpg", jpeg(photoLike(16, 16), 90, false),
            threeGiB, true);
}

TForm1 &formFor(int clientWidth, int clientHeight, const QString &picture)
{
    auto &slot = work->forms[{clientWidth, clientHeight, picture}];
    if (slot)
        return *slot;
    slot = std::make_unique<TForm1>(
        QFile::encodeName(work->dir.filePath("tavimo")),
        [](const QString &message) { qFatal("the window reported: %s", qPrintable(message)); });
    TForm1 &form = *slot;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qFatal("the window was never exposed");
    // The menu bar's height: outer height minus the client's.
    const int menu = form.height() - form.ClientHeight();
    form.resize(clientWidth, clientHeight + menu);
    QCoreApplication::processEvents();
    if (form.ClientWidth() != clientWidth || form.ClientHeight() != clientHeight)
        qFatal("asked for a %d x %d client, got %d x %d", clientWidth, clientHeight,
               form.ClientWidth(), form.ClientHeight());
    form.OpenPicture(picture);
    if (!form.image() || form.image()->isNull())
        qFatal("the picture did not open");
    QCoreApplication::processEvents();
    return form;
}

// ---- 1. A point change: UpdateZoom and DrawBuffer, on a window with a picture open ----------

void pointChangeOn(benchmark::State &state, int clientWidth, int clientHeight,
                   const QString &picture)
{
    TForm1 &form = formFor(clientWidth, clientHeight, picture);
    TPointWithRange &point = *form.point();
    const int x0 = form.image()->width() / 2;
    point.SetY(form.image()->height() / 2);
    point.SetX(x0);
    int i = 0;
    while (state.KeepRunning()) {
        point.SetX(x0 + (++i & 1)); // accepted every time: a different, in-range value
        benchmark::DoNotOptimize(form.buffer()->constBits());
        benchmark::ClobberMemory();
    }
    if (point.X() != x0 + (i & 1))
        state.SkipWithError("a SetX was not accepted");
    // Only a platform with an accessibility bridge (xcb, with an accessibility bus) can be active.
    state.SetLabel(QAccessible::isActive() ? "accessibility active" : "accessibility off");
    QCoreApplication::processEvents(); // the queued repaint, outside the timing
}

void pointChange(benchmark::State &state, int clientWidth, int clientHeight, bool bigPicture)
{
    pointChangeOn(state, clientWidth, clientHeight, bigPicture ? work->bmpBig : work->bmpSmall);
}

void pointChangeScan(benchmark::State &state, int clientWidth, int clientHeight)
{
    pointChangeOn(state, clientWidth, clientHeight, work->jpegScan);
}

// Baseline: fill a frame of FBuffer's size and copy it once.
void frameFillCopy(benchmark::State &state, int clientWidth, int clientHeight)
{
    const QSize size = formFor(clientWidth, clientHeight, work->bmpSmall).buffer()->size();
    QImage frame(size, QImage::Format_RGB32), copy(size, QImage::Format_RGB32);
    uchar *to = copy.bits();
    const uchar *from = frame.bits();
    const auto bytes = std::size_t(frame.sizeInBytes());
    int i = 0;
    while (state.KeepRunning()) {
        frame.fill((++i & 1) ? 0xFFD4D0C8u : 0xFFC8D0D4u);
        std::memcpy(to, from, bytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
}

// The row-read limit of a frame of the scan: reading, whole, every picture row its scaled
// drawing samples (one word a 64-byte cache line), and nothing else. At 1920 x 1080 the
// drawing samples most cache lines of those rows, and the scan is far larger than the caches,
// so memory bandwidth sets both.
void sampledRowsRead(benchmark::State &state, int clientWidth, int clientHeight)
{
    const TForm1 &form = formFor(clientWidth, clientHeight, work->jpegScan);
    const QImage &picture = *form.image();
    const int bottom = form.imageRect().Bottom;
    std::vector<int> rows(static_cast<std::size_t>(bottom));
    for (int r = 0; r < bottom; ++r)
        rows[std::size_t(r)] = geometry::pictureCoordinate(r, bottom, picture.height());
    const qsizetype words = picture.bytesPerLine() / 8;
    while (state.KeepRunning()) {
        quint64 sum = 0;
        for (const int row : rows) {
            const auto *line = reinterpret_cast<const quint64 *>(picture.constScanLine(row));
            for (qsizetype w = 0; w < words; w += 8)
                sum += line[w];
        }
        benchmark::DoNotOptimize(sum);
    }
}

// The fitted picture alone, drawn into a frame of FBuffer's size: the program's own drawing,
// and the painter's scaled drawImage of the same picture into the same rectangle (its painter
// made once, as the frame's painter is already there when the picture is drawn).
void fittedOwn(benchmark::State &state, int clientWidth, int clientHeight, const QString *picture)
{
    const TForm1 &form = formFor(clientWidth, clientHeight, *picture);
    QImage frame(form.buffer()->size(), QImage::Format_RGB32);
    while (state.KeepRunning()) {
        fittedpicture::draw(*form.image(), form.imageRect(), frame);
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::ClobberMemory();
    }
}

void fittedPainter(benchmark::State &state, int clientWidth, int clientHeight,
                   const QString *picture)
{
    const TForm1 &form = formFor(clientWidth, clientHeight, *picture);
    QImage frame(form.buffer()->size(), QImage::Format_RGB32);
    const QRect rect(0, 0, form.imageRect().Right, form.imageRect().Bottom);
    QPainter painter(&frame);
    while (state.KeepRunning()) {
        painter.drawImage(rect, *form.image());
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::ClobberMemory();
    }
}

// ---- 2. The magnifier alone -------------------------------------------------------------------

void magnifierBuild(benchmark::State &state)
{
    const QImage &picture = *formFor(640, 340, work->bmpBig).image();
    QImage zoom(magnifier::OutputSize, magnifier::OutputSize, QImage::Format_RGB32);
    const int x = picture.width() / 2, y = picture.height() / 2;
    int i = 0;
    while (state.KeepRunning()) {
        magnifier::build(picture, x + (++i & 1), y, picture.width(), picture.height(), zoom);
        benchmark::DoNotOptimize(zoom.constBits());
        benchmark::ClobberMemory();
    }
}

// Baseline: write 320 x 320 32-bit pixels.
void magnifierFill(benchmark::State &state)
{
    QImage zoom(magnifier::OutputSize, magnifier::OutputSize, QImage::Format_RGB32);
    auto *pixels = reinterpret_cast<quint32 *>(zoom.bits());
    quint32 value = 0xFF000000u;
    while (state.KeepRunning()) {
        std::fill_n(pixels, magnifier::OutputSize * magnifier::OutputSize, ++value);
        benchmark::DoNotOptimize(pixels);
        benchmark::ClobberMemory();
    }
}

// ---- 3. Opening -------------------------------------------------------------------------------

void openWithLoader(benchmark::State &state, const QString *path)
{
    const picturelimits::Options machine{picturelimits::machineLimitBytes()};
    while (state.KeepRunning()) {
        const QImage picture = pictureloader::load(*path, machine);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void openJpegReference(benchmark::State &state, const QString *path)
{
    const QByteArray native = QFile::encodeName(*path);
    while (state.KeepRunning()) {
        const referencedecoders::Pixels pixels = referencedecoders::decodeJpeg(native.constData());
        benchmark::DoNotOptimize(pixels.data.get());
    }
}

void readAndScanReference(benchmark::State &state, const QString *path)
{
    const QByteArray native = QFile::encodeName(*path);
    while (state.KeepRunning())
        benchmark::DoNotOptimize(referencedecoders::readAndScan(native.constData()));
}

void registerBenchmarks()
{
    using benchmark::RegisterBenchmark;
    // The least of the repetitions goes into the table: on a shared machine the neighbours
    // only ever add time, so the minimum is the figure that repeats from run to run.
    const auto least = [](const std::vector<double> &v) {
        return *std::min_element(v.begin(), v.end());
    };
    const auto fast = [least](benchmark::internal::Benchmark *b) {
        b->Repetitions(15)
            ->ReportAggregatesOnly(true)
            ->MinTime(0.1)
            ->Unit(benchmark::kMicrosecond)
            ->MeasureProcessCPUTime()
            ->ComputeStatistics("min", least);
    };
    const auto slow = [least](benchmark::internal::Benchmark *b) {
        b->Repetitions(5)
            ->ReportAggregatesOnly(true)
            ->Iterations(2)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->ComputeStatistics("min", least);
    };
    for (const auto &[w, h] : {std::pair{640, 340}, std::pair{1920, 1080}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        fast(RegisterBenchmark(("frame_fill_copy/" + size).c_str(), frameFillCopy, w, h));
        fast(
            RegisterBenchmark(("point_change/" + size + "/1MP").c_str(), pointChange, w, h, false));
        fast(
            RegisterBenchmark(("point_change/" + size + "/24MP").c_str(), pointChange, w, h, true));
    }
    fast(RegisterBenchmark("point_change/1920x1080/279MP", pointChangeScan, 1920, 1080));
    fast(RegisterBenchmark("sampled_rows_read/1920x1080/279MP", sampledRowsRead, 1920, 1080));
    for (const auto &[label, picture] :
         {std::pair{"100x100", &work->bmpTiny}, std::pair{"1MP", &work->bmpSmall},
          std::pair{"24MP", &work->bmpBig}, std::pair{"279MP", &work->jpegScan}}) {
        const std::string suffix = std::string("/1920x1080/") + label;
        fast(RegisterBenchmark(("fitted_own" + suffix).c_str(), fittedOwn, 1920, 1080, picture));
        fast(RegisterBenchmark(("fitted_painter" + suffix).c_str(), fittedPainter, 1920, 1080,
                               picture));
    }
    fast(RegisterBenchmark("magnifier_fill_320x320", magnifierFill));
    fast(RegisterBenchmark("magnifier_build", magnifierBuild));

    slow(RegisterBenchmark("open/libjpeg/baseline_jpeg", openJpegReference, &work->jpegBaseline));
    slow(RegisterBenchmark("open/loader/baseline_jpeg", openWithLoader, &work->jpegBaseline));
    slow(RegisterBenchmark("open/libjpeg/progressive_jpeg", openJpegReference,
                           &work->jpegProgressive));
    slow(RegisterBenchmark("open/loader/progressive_jpeg", openWithLoader, &work->jpegProgressive));
    slow(RegisterBenchmark("open/libjpeg/scan_jpeg", openJpegReference, &work->jpegScan));
    slow(RegisterBenchmark("open/loader/scan_jpeg", openWithLoader, &work->jpegScan));
    slow(RegisterBenchmark("open/read_scan/bmp", readAndScanReference, &work->bmpBig));
    slow(RegisterBenchmark("open/loader/bmp", openWithLoader, &work->bmpBig));
}

// Keeps the console output and the least of each benchmark's repetitions, in seconds.
class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> least;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                least[run.run_name.function_name] =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
};

// ---- 4 and 6. A file opened in a fresh process ------------------------------------------------

struct ProbeResult
{
    bool ran = false;
    std::string outcome;
    double seconds = 0;
    double peakRiseMiB = 0;
};

ProbeResult probe(const QString &path, int repeats)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationDirPath() + "/tavimo_bench_probe",
                  {path, QString::number(repeats)});
    ProbeResult result;
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        return result;
    const QString line = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    std::map<QString, QString> fields;
    for (const QString &pair : line.split(' ', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0)
            fields[pair.left(eq)] = pair.mid(eq + 1);
    }
    result.ran = true;
    result.outcome = fields["outcome"].toStdString();
    result.seconds = fields["seconds_max"].toDouble();
    result.peakRiseMiB =
        (fields["hwm_after_kib"].toDouble() - fields["hwm_before_kib"].toDouble()) / 1024.0;
    return result;
}

// ---- 7. A flood of arrow keys -----------------------------------------------------------------

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct FloodResult
{
    bool allApplied = false;
    QPoint expected, final;
    double rssGrowthMiB = 0;
    double seconds = 0;
    int paints = 0;
};

// Posts `presses` key presses (and their releases) at once, alternating Right and Down, then
// lets the event loop process them all.
FloodResult flood(TForm1 &form, int presses)
{
    QWidget *client = form.clientArea();
    form.activateWindow();
    client->setFocus();
    TPointWithRange &point = *form.point();
    point.SetX(1000);
    point.SetY(1000);
    QCoreApplication::processEvents();

    FloodResult result;
    result.expected = QPoint(1000 + (presses + 1) / 2, 1000 + presses / 2);
    PaintCounter counter;
    client->installEventFilter(&counter);

    const std::int64_t before = processmemory::residentKiB();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < presses; ++i) {
        const int key = i % 2 == 0 ? Qt::Key_Right : Qt::Key_Down;
        QCoreApplication::postEvent(client, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        QCoreApplication::postEvent(client, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
    }
    // Every posted event, then the repaint they asked for.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    result.seconds = double(timer.nsecsElapsed()) * 1e-9;
    const std::int64_t after = processmemory::residentKiB();

    client->removeEventFilter(&counter);
    result.final = QPoint(point.X(), point.Y());
    result.allApplied = result.final == result.expected;
    result.rssGrowthMiB = double(after - before) / 1024.0;
    result.paints = counter.paints;
    return result;
}

// ---- 5. Start-up, measured by scripts/bench ----------------------------------------------------

struct StartupResult
{
    bool measured = false;
    double tavimoMs = 0, bareMs = 0;
    int runs = 0;
};

StartupResult readStartup(const QString &path)
{
    StartupResult result;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return result;
    static const QRegularExpression line(
        QStringLiteral("^startup title=(\\S+) runs=(\\d+) median_ms=([0-9.]+)"));
    bool tavimo = false, bare = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const auto match = line.match(QString::fromLocal8Bit(raw));
        if (!match.hasMatch())
            continue;
        const double ms = match.captured(3).toDouble();
        result.runs = match.captured(2).toInt();
        if (match.captured(1) == "Tavimo") {
            result.tavimoMs = ms;
            tavimo = true;
        } else {
            result.bareMs = ms;
            bare = true;
        }
    }
    result.measured = tavimo && bare;
    return result;
}

// ---- The table --------------------------------------------------------------------------------

struct Row
{
    std::string figure, measured, baseline, ratio, target, met;
};

std::string format(const char *fmt, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

std::string duration(double seconds)
{
    if (seconds >= 1)
        return format("%.2f s", seconds);
    if (seconds >= 1e-3)
        return format("%.2f ms", seconds * 1e3);
    return format("%.1f µs", seconds * 1e6);
}

std::string yesNo(bool met)
{
    return met ? "yes" : "**no**";
}

void printTable(const std::vector<Row> &rows, std::FILE *out)
{
    std::fprintf(out, "| Figure | Measured | Baseline | Ratio | Target | Met |\n");
    std::fprintf(out, "|---|---|---|---|---|---|\n");
    for (const Row &r : rows)
        std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", r.figure.c_str(), r.measured.c_str(),
                     r.baseline.c_str(), r.ratio.c_str(), r.target.c_str(), r.met.c_str());
}

std::vector<Row> buildRows(const std::map<std::string, double> &m, const StartupResult &startup,
                           const ProbeResult &jpegPeak, const ProbeResult &progressivePeak,
                           const ProbeResult &scanPeak,
                           const std::vector<std::pair<Workspace::Quick, ProbeResult>> &quick,
                           const FloodResult &flood)
{
    std::vector<Row> rows;
    const auto get = [&m](const std::string &name) -> std::optional<double> {
        const auto it = m.find(name);
        return it == m.end() ? std::nullopt : std::optional<double>(it->second);
    };
    const auto ratioRow = [&](const std::string &figure, const std::string &subject,
                              const std::string &base, const std::string &baseLabel, double limit) {
        const auto s = get(subject), b = get(base);
        Row r{figure, "not run", baseLabel + ": not run", "", format("≤ %.2f ×", limit), "not run"};
        if (s)
            r.measured = duration(*s);
        if (b)
            r.baseline = baseLabel + ": " + duration(*b);
        if (s && b) {
            r.ratio = format("%.2f ×", *s / *b);
            r.met = yesNo(*s / *b <= limit);
        }
        rows.push_back(r);
    };

    for (const std::string &size : {std::string("640x340"), std::string("1920x1080")}) {
        ratioRow("Point change, " + size + ", 1-MP picture", "point_change/" + size + "/1MP",
                 "frame_fill_copy/" + size, "fill + copy of the frame", 3);
        ratioRow("Point change, " + size + ", 24-MP picture", "point_change/" + size + "/24MP",
                 "frame_fill_copy/" + size, "fill + copy of the frame", 3);
        ratioRow("Point change, " + size + ", 24-MP against 1-MP", "point_change/" + size + "/24MP",
                 "point_change/" + size + "/1MP", "1-MP point change", 2);
    }
    ratioRow("Point change, 1920x1080, 279-MP picture", "point_change/1920x1080/279MP",
             "sampled_rows_read/1920x1080/279MP", "read of the picture rows it samples", 1.2);
    for (const auto &[label, what] :
         {std::pair{"100x100", "enlarged 100 x 100"}, std::pair{"1MP", "1-MP"},
          std::pair{"24MP", "24-MP"}, std::pair{"279MP", "279-MP"}}) {
        ratioRow(std::string("Fitted picture drawn, 1920x1080, ") + what + " picture",
                 std::string("fitted_own/1920x1080/") + label,
                 std::string("fitted_painter/1920x1080/") + label, "Qt's scaled drawImage", 1);
    }
    ratioRow("Magnifier build (UpdateZoom)", "magnifier_build", "magnifier_fill_320x320",
             "std::fill of 320 × 320 pixels", 2);
    ratioRow("Open 24-MP baseline JPEG (" +
                 format("%.1f MB", double(work->jpegBaselineBytes) / 1e6) + ")",
             "open/loader/baseline_jpeg", "open/libjpeg/baseline_jpeg",
             "libjpeg-turbo, JCS_EXT_BGRX", 1.15);
    ratioRow("Open 24-MP progressive JPEG (" +
                 format("%.1f MB", double(work->jpegProgressiveBytes) / 1e6) + ")",
             "open/loader/progressive_jpeg", "open/libjpeg/progressive_jpeg",
             "libjpeg-turbo, JCS_EXT_BGRX", 1.15);
    ratioRow("Open 279-MP baseline JPEG of a drawing (" +
                 format("%.1f MB", double(work->jpegScanBytes) / 1e6) + ")",
             "open/loader/scan_jpeg", "open/libjpeg/scan_jpeg", "libjpeg-turbo, JCS_EXT_BGRX", 2);
    ratioRow("Open 24-MP 24-bit BMP (" + format("%.1f MB", double(work->bmpBigBytes) / 1e6) + ")",
             "open/loader/bmp", "open/read_scan/bmp", "read file + one pass", 2);

    const auto peakRow = [&](const std::string &figure, const ProbeResult &p, bool targeted,
                             double width = BigWidth, double height = BigHeight) {
        const double pictureMiB = width * height * 4 / (1 << 20);
        Row r{figure,
              "failed",
              format("32-bit picture: %.1f MiB", pictureMiB),
              "",
              targeted ? "≤ 1.15 ×" : "(no target)",
              targeted ? "**no**" : "—"};
        if (p.ran && p.outcome.rfind("loaded_", 0) == 0) {
            r.measured = format("+%.1f MiB", p.peakRiseMiB);
            r.ratio = format("%.2f ×", p.peakRiseMiB / pictureMiB);
            if (targeted)
                r.met = yesNo(p.peakRiseMiB <= 1.15 * pictureMiB);
        }
        rows.push_back(r);
    };
    peakRow("Peak memory rise opening the 24-MP baseline JPEG", jpegPeak, true);
    peakRow("Peak memory rise opening the 24-MP progressive JPEG", progressivePeak, false);
    peakRow("Peak memory rise opening the 279-MP JPEG", scanPeak, true, ScanWidth, ScanHeight);

    if (startup.measured) {
        const double ratio = startup.tavimoMs / startup.bareMs;
        rows.push_back(
            {"Start-up to first frame (Xvfb, median of " + std::to_string(startup.runs) + ")",
             format("%.1f ms", startup.tavimoMs),
             "bare Qt window: " + format("%.1f ms", startup.bareMs), format("%.2f ×", ratio),
             "≤ 1.30 ×", yesNo(ratio <= 1.3)});
    } else {
        rows.push_back(
            {"Start-up to first frame (Xvfb)", "not measured", "", "", "≤ 1.30 ×", "not measured"});
    }

    for (const auto &[file, p] : quick) {
        Row r{(file.opens ? "Open " : "Refuse ") + file.label,
              "failed",
              "",
              "",
              "< 0.1 s, < 64 MiB",
              "**no**"};
        if (p.ran) {
            r.measured = duration(p.seconds) + ", +" + format("%.1f MiB", p.peakRiseMiB) + " (" +
                         p.outcome + ")";
            const bool opened = p.outcome.rfind("loaded_", 0) == 0;
            r.met = yesNo(opened == file.opens && p.seconds < 0.1 && p.peakRiseMiB < 64);
        }
        rows.push_back(r);
    }

    Row f{"Flood of " + std::to_string(FloodPresses) + " arrow keys, 24-MP picture, 640x340",
          "",
          "",
          "",
          "all applied, RSS growth < 1 MiB",
          ""};
    f.measured = std::string(flood.allApplied ? "all applied" : "**keys lost**") + " (" +
                 std::to_string(flood.final.x()) + ", " + std::to_string(flood.final.y()) +
                 "), RSS " + format("%+.2f MiB", flood.rssGrowthMiB) + ", " +
                 duration(flood.seconds) + ", " + std::to_string(flood.paints) + " paint(s)";
    f.baseline = "expected (" + std::to_string(flood.expected.x()) + ", " +
                 std::to_string(flood.expected.y()) + ")";
    f.met = yesNo(flood.allApplied && flood.rssGrowthMiB < 1.0);
    rows.push_back(f);
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    // Our own options first; the rest goes to Google Benchmark.
    QString startupFile, tableOut;
    std::vector<char *> benchmarkArgs;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--startup-results=", 0) == 0)
            startupFile = QString::fromLocal8Bit(arg.substr(18).c_str());
        else if (arg.rfind("--table-out=", 0) == 0)
            tableOut = QString::fromLocal8Bit(arg.substr(12).c_str());
        else
            benchmarkArgs.push_back(argv[i]);
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    makeWorkspace();
    registerBenchmarks();
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    benchmarkArgs.insert(benchmarkArgs.begin() + 1, interleave); // a later option overrides it
    int benchmarkArgc = int(benchmarkArgs.size());
    benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
    if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, benchmarkArgs.data()))
        return 2;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::fprintf(stderr, "Peak memory and refusals, each in a fresh process ...\n");
    const ProbeResult jpegPeak = probe(work->jpegBaseline, 1);
    const ProbeResult progressivePeak = probe(work->jpegProgressive, 1);
    const ProbeResult scanPeak = probe(work->jpegScan, 1);
    std::vector<std::pair<Workspace::Quick, ProbeResult>> quick;
    for (const Workspace::Quick &file : work->quick)
        quick.emplace_back(file, probe(file.path, 5));

    std::fprintf(stderr, "Key flood ...\n");
    const FloodResult floodResult = flood(formFor(640, 340, work->bmpBig), FloodPresses);

    const std::vector<Row> rows = buildRows(reporter.least, readStartup(startupFile), jpegPeak,
                                            progressivePeak, scanPeak, quick, floodResult);
    std::printf("\n");
    printTable(rows, stdout);
    std::fflush(stdout);
    if (!tableOut.isEmpty()) {
        if (std::FILE *out = std::fopen(QFile::encodeName(tableOut).constData(), "w")) {
            printTable(rows, out);
            std::fclose(out);
        }
    }

    delete work; // the windows go before the application object
    benchmark::Shutdown();
    return 0;
}
