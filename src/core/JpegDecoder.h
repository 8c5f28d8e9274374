#pragma once

#include "core/PictureLimits.h"

#include <QImage>

class TByteSource;

// JPEG decoding with libjpeg-turbo, straight into the rows of a Format_RGB32 image.
namespace jpegdecoder {

// Decodes the JPEG the byte source holds, reading it only as far as the decoder goes.
// Greyscale and YCbCr pictures come out as they are, CMYK and YCCK ones (Adobe's inverted CMYK)
// as r = c*k/255, g = m*k/255, b = y*k/255. No EXIF orientation is applied.
// Raises EPictureTooLarge when the declared size exceeds options.limitBytes (checked before the
// pixels are allocated) or the coefficients of a multi-scan file would not fit in what the
// picture leaves of it, EReadError when the file could not be read, and
// EInvalidGraphicOperation for content libjpeg cannot decode or that ends before the data of
// its last row, so no row is ever made up.
QImage decode(TByteSource &bytes, const picturelimits::Options &options);

} // namespace jpegdecoder
