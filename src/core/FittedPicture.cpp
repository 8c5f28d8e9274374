#include "core/FittedPicture.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace fittedpicture {

void draw(const QImage &picture, const TRect &rect, QImage &frame)
{
    Q_ASSERT(rect.Left == 0 && rect.Top == 0);
    Q_ASSERT(picture.format() == QImage::Format_RGB32 && frame.format() == QImage::Format_RGB32);
    // A frame whose memory was refused when the window grew is smaller than the layout.
    const int columns = std::min(rect.Right, frame.width());
    const int rows = std::min(rect.Bottom, frame.height());
    if (picture.isNull() || columns <= 0 || rows <= 0)
        return;

    // The picture column of each client column, for this frame only. Offsets are 64-bit
    // throughout: a picture the limit admits can hold more than 2^31 bytes.
    std::vector<qint32> sourceColumn(static_cast<std::size_t>(columns));
    for (int x = 0; x < columns; ++x)
        sourceColumn[std::size_t(x)] = geometry::pictureCoordinate(x, rect.Right, picture.width());
    const bool unscaledColumns = rect.Right == picture.width();
    const std::size_t rowBytes = std::size_t(columns) * sizeof(quint32);
    const uchar *pictureBits = picture.constBits();
    const qsizetype pictureStride = picture.bytesPerLine();
    uchar *frameBits = frame.bits();
    const qsizetype frameStride = frame.bytesPerLine();
    const auto pictureRow = [&](int y) {
        return reinterpret_cast<const quint32 *>(
            pictureBits + qsizetype(geometry::pictureCoordinate(y, rect.Bottom, picture.height())) *
                              pictureStride);
    };
    const auto frameRow = [&](int y) {
        return reinterpret_cast<quint32 *>(frameBits + qsizetype(y) * frameStride);
    };

    const quint32 *previous = nullptr; // the picture row drawn last
    for (int y = 0; y < rows;) {
        const quint32 *from = pictureRow(y);
        quint32 *to = frameRow(y);
        if (from == previous) { // enlarged: the client row above shows the same picture row
            std::memcpy(to, frameRow(y - 1), rowBytes);
            ++y;
        } else if (unscaledColumns) {
            std::memcpy(to, from, rowBytes);
            ++y;
        } else if (const quint32 *below = y + 1 < rows ? pictureRow(y + 1) : from; below != from) {
            // Two client rows of two picture rows at once: a reduced picture is read a word a
            // cache line, and two rows keep twice the reads in flight.
            quint32 *toBelow = frameRow(y + 1);
            for (int x = 0; x < columns; ++x) {
                const qint32 column = sourceColumn[std::size_t(x)];
                to[x] = from[column];
                toBelow[x] = below[column];
            }
            from = below;
            y += 2;
        } else {
            for (int x = 0; x < columns; ++x)
                to[x] = from[sourceColumn[std::size_t(x)]];
            ++y;
        }
        previous = from;
    }
}

} // namespace fittedpicture
