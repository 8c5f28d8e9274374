#include "core/Geometry.h"

#include <limits>

TRect FitRect(qint32 areaWidth, qint32 areaHeight, qint32 pictureWidth, qint32 pictureHeight)
{
    const qint64 aw = areaWidth, ah = areaHeight, w = pictureWidth, h = pictureHeight;
    TRect r;
    if (ah * w < aw * h) {
        // Relatively taller than the area: the height limits.
        r.Right = static_cast<qint32>(ah * w / h);
        r.Bottom = areaHeight;
    } else {
        r.Right = areaWidth;
        r.Bottom = static_cast<qint32>(aw * h / w);
    }
    return r;
}

namespace geometry {

// The conversions below round each step to a 64-bit significand: x87's extended format, which
// GCC and Clang use for long double on x86-64. A double would round the same steps differently.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the cross and click conversions need the 80-bit extended long double");

qint32 crossPosition(qint32 coord, qint32 pictureSize, qint32 fittedSize)
{
    const long double quotient = static_cast<long double>(coord) / pictureSize;
    const long double product = quotient * fittedSize;
    return static_cast<qint32>(product); // truncation toward zero
}

qint32 clickToPicture(qint32 clientPos, qint32 fittedSize, qint32 pictureSize)
{
    if (fittedSize == 0)
        return 0;
    const long double quotient = static_cast<long double>(clientPos) / fittedSize;
    const long double product = pictureSize * quotient;
    return static_cast<qint32>(product);
}

} // namespace geometry
