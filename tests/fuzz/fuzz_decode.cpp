// libFuzzer target: arbitrary bytes through the picture loader's decoder. Besides the
// sanitizers' own checks, every picture that comes out must be Format_RGB32 and within the
// size limit, and every refusal must be one of the program's own failures.
#include "core/Errors.h"
#include "core/PictureLimits.h"
#include "core/PictureLoader.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::int64_t FuzzLimitBytes = std::int64_t(64) << 20;

[[noreturn]] void fail(const char *what, const QImage &picture)
{
    std::fprintf(stderr, "fuzz_decode: %s (%d x %d, format %d)\n", what, picture.width(),
                 picture.height(), int(picture.format()));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    picturelimits::Options options;
    options.limitBytes = FuzzLimitBytes;
    const QByteArray content =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const QImage picture = pictureloader::decode(content, options);
        if (picture.isNull())
            return 0; // only for zero bytes
        if (picture.format() != QImage::Format_RGB32)
            fail("a picture not in Format_RGB32", picture);
        if (std::int64_t(picture.width()) * picture.height() * 4 > FuzzLimitBytes)
            fail("a picture over the size limit", picture);
    } catch (const ETavimoError &) {
        // A refusal with a message for the user: the expected outcome for most inputs.
    }
    return 0;
}
