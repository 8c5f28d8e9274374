#include "core/PictureLimits.h"

#include "core/Errors.h"

#include <algorithm>

namespace picturelimits {

void checkDeclaredSize(std::int64_t width, std::int64_t height, const Options &options)
{
    if (width <= 0 || height <= 0)
        return; // nothing to allocate; the decoder decides
    // width * height * 4 > limit, without the product overflowing 64 bits.
    const std::int64_t maxPixels = std::max<std::int64_t>(options.limitBytes, 0) / 4;
    if (width > maxPixels / height)
        throw EPictureTooLarge(width, height);
}

} // namespace picturelimits
