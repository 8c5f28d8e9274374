#include "core/PictureLimits.h"

#include "core/Errors.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>

#include <unistd.h>

namespace picturelimits {

namespace {

// The lesser of the least limit found so far (0 for none yet) and `bytes` (0 or less for none).
std::int64_t lesserLimit(std::int64_t least, std::int64_t bytes)
{
    return bytes > 0 && (least == 0 || bytes < least) ? bytes : least;
}

// The value of a control group's memory limit file: a number of bytes, or "max" (v2) or a
// number near 2^63 (v1) for none. 0 when there is none or it cannot be read.
std::int64_t groupLimitIn(const QString &file)
{
    QFile limit(file);
    if (!limit.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const std::int64_t bytes = limit.readLine().trimmed().toLongLong(&ok);
    return ok && bytes > 0 ? bytes : 0;
}

// The least memory limit of the control group `group` (a path such as /user.slice/x.scope)
// and its ancestors, under the hierarchy mounted at `root`; 0 for none.
std::int64_t leastGroupLimit(const QString &root, QString group, const QString &fileName)
{
    std::int64_t least = 0;
    for (;;) {
        least = lesserLimit(least, groupLimitIn(root + group + QLatin1Char('/') + fileName));
        if (group.isEmpty() || group == QLatin1String("/"))
            return least;
        group.truncate(std::max<qsizetype>(group.lastIndexOf(QLatin1Char('/')), 0));
    }
}

} // namespace

std::int64_t limitFor(std::int64_t pages, std::int64_t pageSize, std::int64_t groupBytes)
{
    const std::int64_t physical = pages > 0 && pageSize > 0 ? pages * pageSize : 0;
    const std::int64_t usable = lesserLimit(physical, groupBytes);
    return std::max(usable / 2, FloorBytes);
}

std::int64_t groupLimitBytes(const QByteArray &cgroupList, const QString &cgroupRoot)
{
    std::int64_t least = 0;
    for (const QByteArray &line : cgroupList.split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QString path = QString::fromUtf8(line.mid(fields[0].size() + fields[1].size() + 2));
        if (fields[0] == "0" && fields[1].isEmpty())
            least =
                lesserLimit(least, leastGroupLimit(cgroupRoot, path, QStringLiteral("memory.max")));
        else if (fields[1].split(',').contains("memory"))
            least = lesserLimit(least, leastGroupLimit(cgroupRoot + QStringLiteral("/memory"), path,
                                                       QStringLiteral("memory.limit_in_bytes")));
    }
    return least;
}

std::int64_t machineLimitBytes()
{
    QFile groups(QStringLiteral("/proc/self/cgroup"));
    const QByteArray cgroupList =
        groups.open(QIODevice::ReadOnly) ? groups.readAll() : QByteArray();
    return limitFor(::sysconf(_SC_PHYS_PAGES), ::sysconf(_SC_PAGESIZE),
                    groupLimitBytes(cgroupList, QStringLiteral("/sys/fs/cgroup")));
}

void checkDeclaredSize(std::int64_t width, std::int64_t height, const Options &options)
{
    if (width <= 0 || height <= 0)
        return; // nothing to allocate; the decoder decides
    // width * height * 4 > limit, without the product overflowing 64 bits.
    const std::int64_t maxPixels = limitPixels(options.limitBytes);
    if (width > maxPixels / height)
        throw EPictureTooLarge(width, height, maxPixels);
}

} // namespace picturelimits
