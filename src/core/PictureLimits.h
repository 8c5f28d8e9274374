#pragma once

#include <cstdint>

class QByteArray;
class QString;

// The size limit the loader and every decoder hold a picture to, before its pixels are
// allocated.
namespace picturelimits {

// Every picture whose Format_RGB32 copy fits in this opens on any machine.
constexpr std::int64_t FloorBytes = std::int64_t(1) << 30;
// The limit of the tests and tools that do not ask the machine.
constexpr std::int64_t DefaultLimitBytes = FloorBytes;

struct Options
{
    // What an open may allocate, counted with the picture as its Format_RGB32 copy: the
    // largest picture accepted, and the most a decoder's own buffers may add to it.
    std::int64_t limitBytes = DefaultLimitBytes;
};

// The limit on a machine of `pages` physical pages of `pageSize` bytes (as sysconf gives them,
// -1 where it cannot tell) in a control group that lets the process use `groupBytes` (0 or
// less: no limit set): half of what the process may use, so that a picture and the frames drawn
// from it stay out of swap, and never under the floor. There is no ceiling: the picture is
// drawn and magnified through 64-bit offsets, so no size that fits in memory wraps.
std::int64_t limitFor(std::int64_t pages, std::int64_t pageSize, std::int64_t groupBytes);

// The least memory limit set on the control groups listed in `cgroupList` (the text of
// /proc/self/cgroup: "0::PATH" for the unified hierarchy, "N:CONTROLLERS:PATH" for v1) and their
// ancestors, read from the hierarchies mounted at `cgroupRoot` (v1's memory controller under
// its "memory" folder). 0 when none is set or none can be read.
std::int64_t groupLimitBytes(const QByteArray &cgroupList, const QString &cgroupRoot);

// This process's limit, from the machine's physical memory and the memory limits of the
// control groups it runs in (cgroup v2, or v1's memory controller). Reads /proc and /sys.
std::int64_t machineLimitBytes();

// The largest number of pixels within `limitBytes`.
constexpr std::int64_t limitPixels(std::int64_t limitBytes)
{
    return limitBytes < 0 ? 0 : limitBytes / 4;
}

// Refuses with EPictureTooLarge a picture whose declared size, held as Format_RGB32
// (width * height * 4 bytes), would exceed options.limitBytes. Every decoder calls it with the
// size from the header, before the pixels are allocated.
void checkDeclaredSize(std::int64_t width, std::int64_t height, const Options &options);

} // namespace picturelimits
