// Opens one picture file through the loader in a fresh process and prints, on one line, how it
// went, how long it took and how far the peak resident set rose above where it stood before:
//
//   outcome=<loaded WxH | the error's class> seconds_max=<s> hwm_before_kib=<KiB>
//   hwm_after_kib=<KiB>
//
// Usage: tavimo_bench_probe <file> [repeats]. With repeats > 1 the file is opened that many
// times and the slowest open is reported (the first one loads Qt's image plugins).
#include "ProcessMemory.h"

#include "core/Errors.h"
#include "core/PictureLimits.h"
#include "core/PictureLoader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string openOnce(const QString &path)
{
    try {
        // Held to this machine's limit, as the Open command holds it.
        const QImage picture = pictureloader::load(path, {picturelimits::machineLimitBytes()});
        return "loaded_" + std::to_string(picture.width()) + "x" + std::to_string(picture.height());
    } catch (const EPictureTooLarge &) {
        return "EPictureTooLarge";
    } catch (const EReadError &) {
        return "EReadError";
    } catch (const EInvalidGraphicOperation &) {
        return "EInvalidGraphicOperation";
    } catch (const EFOpenError &) {
        return "EFOpenError";
    } catch (const std::exception &e) {
        return std::string("exception");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file> [repeats]\n", argv[0]);
        return 2;
    }
    QCoreApplication application(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;

    const std::int64_t before = processmemory::peakResidentKiB();
    std::string outcome;
    double slowest = 0;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        outcome = openOnce(path);
        slowest = std::max(slowest, double(timer.nsecsElapsed()) * 1e-9);
    }
    const std::int64_t after = processmemory::peakResidentKiB();
    std::printf("outcome=%s seconds_max=%.6f hwm_before_kib=%lld hwm_after_kib=%lld\n",
                outcome.c_str(), slowest, static_cast<long long>(before),
                static_cast<long long>(after));
    return 0;
}
