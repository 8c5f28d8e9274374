// Opens each file named through the loader as the Open command does (with the fuzzer's size
// limit, which keeps a replay of its corpus to minutes) and asks valgrind's memcheck whether
// every byte of every picture's pixels was written by a decoder. Run under memcheck
// (scripts/test-valgrind): an undefined byte is a memcheck error, and the log names the input
// and the row just before it. Exits 1 when a picture held an undefined byte.
#include "core/Errors.h"
#include "core/PictureLoader.h"

#include <QCoreApplication>

#include <cstdio>

#include <valgrind/memcheck.h>

namespace {

// To standard output, and into memcheck's log among its reports.
void note(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    VALGRIND_PRINTF("%s\n", qPrintable(line));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList inputs = QCoreApplication::arguments().mid(1);
    int failed = 0;
    for (const QString &input : inputs) {
        note(input);
        QImage picture;
        try {
            picture = pictureloader::load(input, {std::int64_t(64) << 20});
        } catch (const ETavimoError &) {
            continue; // refused: no picture
        }
        const auto rowBytes = size_t(picture.width()) * size_t(picture.depth() / 8);
        for (int y = 0; y < picture.height(); ++y) {
            if (VALGRIND_CHECK_MEM_IS_DEFINED(picture.constScanLine(y), rowBytes) != 0) {
                note(QStringLiteral("  row %1 holds a byte no decoder wrote").arg(y));
                ++failed; // the first such row is enough to name the fault
                break;
            }
        }
    }
    note(QStringLiteral("replay: %1 inputs, %2 with unwritten pixels")
             .arg(inputs.size())
             .arg(failed));
    return failed == 0 ? 0 : 1;
}
