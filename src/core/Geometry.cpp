#include "core/Geometry.h"

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

qint32 pictureCoordinate(qint32 clientPos, qint32 drawnLength, qint32 pictureLength)
{
    if (drawnLength == 0)
        return 0;
    return static_cast<qint32>(qint64(clientPos) * pictureLength / drawnLength);
}

qint32 clientPosition(qint32 pictureCoord, qint32 pictureLength, qint32 drawnLength)
{
    return static_cast<qint32>(qint64(pictureCoord) * drawnLength / pictureLength);
}

} // namespace geometry
