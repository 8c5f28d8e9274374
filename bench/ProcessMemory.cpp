#include "ProcessMemory.h"

#include <cstdio>
#include <cstring>

namespace processmemory {

namespace {

std::int64_t statusField(const char *name)
{
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    const std::size_t length = std::strlen(name);
    std::int64_t kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            long long value = 0;
            if (std::sscanf(line + length + 1, "%lld", &value) == 1)
                kib = value;
            break;
        }
    }
    std::fclose(status);
    return kib;
}

} // namespace

std::int64_t peakResidentKiB()
{
    return statusField("VmHWM");
}

std::int64_t residentKiB()
{
    return statusField("VmRSS");
}

} // namespace processmemory
