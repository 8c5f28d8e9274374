#pragma once

#include <QtGlobal>

#include <cstdint>
#include <memory>

// What the loader is measured against: the same work done the plainest way.
namespace referencedecoders {

struct Pixels
{
    std::unique_ptr<uchar[]> data; // width * height * 4 bytes, B G R X in memory
    int width = 0;
    int height = 0;
};

// libjpeg-turbo's own file API: jpeg_stdio_src, JCS_EXT_BGRX, jpeg_read_scanlines straight
// into a freshly allocated 32-bit buffer. Exits the process on a decoding error.
Pixels decodeJpeg(const char *path);

// The file's bytes read into freshly allocated memory, then one pass over them (a 64-bit
// XOR, returned so the compiler keeps it).
std::uint64_t readAndScan(const char *path);

} // namespace referencedecoders
