#pragma once

#include "core/Geometry.h"

#include <QImage>

// The picture drawn into its fitted rectangle by the program itself, not by the painter: the
// painter's nearest rule takes each client pixel from the picture pixel under its centre, a
// click the one under its top-left corner, and the two part at every scale that is not a whole
// number.
namespace fittedpicture {

// Writes every client pixel (x, y) of `rect` (anchored at the client origin, as FitRect gives
// it) that lies inside `frame` with picture pixel (pictureCoordinate(x), pictureCoordinate(y)):
// the pixel a left click there selects. Whole 32-bit pixels are copied, nothing is smoothed or
// converted; at the picture's own size this is the unscaled copy. Both images Format_RGB32.
void draw(const QImage &picture, const TRect &rect, QImage &frame);

} // namespace fittedpicture
