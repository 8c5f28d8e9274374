#pragma once

#include <cstdint>

// This process's memory as the kernel counts it (/proc/self/status), in KiB; -1 when unknown.
namespace processmemory {
std::int64_t peakResidentKiB(); // VmHWM: the highest resident set so far
std::int64_t residentKiB();     // VmRSS: the resident set now
} // namespace processmemory
