#include "ReferenceDecoders.h"

#include <algorithm>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>

namespace referencedecoders {

Pixels decodeJpeg(const char *path)
{
    std::FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::perror(path);
        std::exit(2);
    }
    jpeg_decompress_struct cinfo = {};
    jpeg_error_mgr errors = {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);

    Pixels out;
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    const std::size_t stride = std::size_t(out.width) * 4;
    out.data.reset(new uchar[stride * std::size_t(out.height)]);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = out.data.get() + (first + i) * stride;
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return out;
}

std::uint64_t readAndScan(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        std::exit(2);
    }
    struct stat status = {};
    ::fstat(fd, &status);
    const auto size = std::size_t(status.st_size);
    std::unique_ptr<char[]> bytes(new char[size + 8]);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, bytes.get() + filled, size - filled);
        if (got <= 0)
            break;
        filled += std::size_t(got);
    }
    ::close(fd);

    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 8 <= filled; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.get() + i, 8);
        sum ^= word;
    }
    for (; i < filled; ++i)
        sum ^= std::uint64_t(uchar(bytes[i]));
    return sum;
}

} // namespace referencedecoders
