#pragma once

#include <cstdint>

// The size limit the loader and every decoder hold a picture to, before its pixels are
// allocated.
namespace picturelimits {

// Largest picture accepted, counted as its Format_RGB32 copy.
constexpr std::int64_t DefaultLimitBytes = std::int64_t(1) << 30;

struct Options
{
    std::int64_t limitBytes = DefaultLimitBytes;
};

// Refuses with EPictureTooLarge a picture whose declared size, held as Format_RGB32
// (width * height * 4 bytes), would exceed options.limitBytes. Every decoder calls it with the
// size from the header, before the pixels are allocated.
void checkDeclaredSize(std::int64_t width, std::int64_t height, const Options &options);

} // namespace picturelimits
