#include "core/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <unistd.h>

TByteSource::TByteSource(QByteArray bytes) : FBytes(std::move(bytes)), FSize(FBytes.size()) {}

TByteSource::TByteSource(int fd, qint64 size) : FFd(fd), FSize(size) {}

qint64 TByteSource::read(qint64 offset, char *to, qint64 length)
{
    if (FFailed)
        return -1;
    length = std::clamp<qint64>(FSize - offset, 0, std::max<qint64>(length, 0));
    if (FFd < 0) {
        if (length > 0)
            std::memcpy(to, FBytes.constData() + offset, size_t(length));
        return length;
    }
    qint64 filled = 0;
    while (filled < length) {
        const ssize_t got =
            ::pread(FFd, to + filled, size_t(length - filled), off_t(offset + filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            FFailed = true;
            return -1;
        }
        filled += got;
    }
    return filled;
}
