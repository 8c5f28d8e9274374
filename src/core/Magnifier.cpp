#include "core/Magnifier.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace magnifier {

void build(const QImage &picture, int x, int y, int maxX, int maxY, QImage &zoom)
{
    Q_ASSERT(zoom.width() == OutputSize && zoom.height() == OutputSize);
    Q_ASSERT(zoom.format() == QImage::Format_RGB32);

    std::array<quint32, OutputSize> line; // one expanded grid row, in magnifier columns
    constexpr std::size_t lineBytes = sizeof(quint32) * OutputSize;

    for (int dy = 0; dy < GridSize; ++dy) {
        const int sy = y + dy - GridOrigin; // picture row
        if (sy < 0 || sy >= maxY) {
            line.fill(Black);
        } else {
            const auto *src = reinterpret_cast<const quint32 *>(picture.constScanLine(sy));
            for (int dx = 0; dx < GridSize; ++dx) {
                const int sx = x + dx - GridOrigin; // picture column
                const quint32 value = (sx < 0 || sx >= maxX) ? Black : src[sx];
                std::fill_n(line.begin() + std::ptrdiff_t(dx) * Scale, Scale, value);
            }
            std::fill(line.begin() + BandFirst, line.begin() + BandLast + 1, Black);
        }
        for (int v = dy * Scale; v < (dy + 1) * Scale; ++v) {
            auto *dst = reinterpret_cast<quint32 *>(zoom.scanLine(v));
            if (v >= BandFirst && v <= BandLast)
                std::memset(dst, 0, lineBytes);
            else
                std::memcpy(dst, line.data(), lineBytes);
        }
    }
}

} // namespace magnifier
