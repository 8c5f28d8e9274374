#pragma once

#include "core/PictureLimits.h"

#include <QImage>
#include <QString>

// Loads a picture file into a Format_RGB32 image, recognising the format from the content.
// Raises EFOpenError (cannot open, or no regular file), EReadError (a BMP shorter than its
// headers or than the pixel rows it declares, a TGA shorter than its pixels, a file that cannot
// be read to the size it had when opened, or one whose size reads 0 that would block or holds
// more than any picture within the limit), EInvalidGraphicOperation (unrecognised, undecodable,
// compressed BMP, cut-short JPEG) or EPictureTooLarge. A file that yields no byte gives a null
// image and no error. The format and the declared size are checked from the first bytes, and a
// file is read no further than its decoder goes: a BMP's headers, palette and rows, a JPEG up to
// its last scan, a TGA's header, pixels and last 18 bytes.
namespace pictureloader {

QImage load(const QString &path, const picturelimits::Options &options = {});

// The same rules over bytes already in memory (the fuzzer and the benchmark use it), with the
// same outcome as load() on a file holding those bytes.
QImage decode(const QByteArray &content, const picturelimits::Options &options = {});

} // namespace pictureloader
