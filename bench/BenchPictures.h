#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Pictures the benchmarks make for themselves, so no sample file is needed.
namespace benchpictures {

// A Format_RGB32 picture that compresses like a photograph: smooth gradients, soft-edged
// patches and a little per-pixel noise (so a JPEG of it is neither trivially small nor noise).
QImage photoLike(int width, int height);

// A JPEG of `picture` (Format_RGB32) at `quality`, 4:2:0, written with libjpeg-turbo's own
// encoder; progressive uses libjpeg's standard progression script.
QByteArray jpeg(const QImage &picture, int quality, bool progressive);

// A scanned drawing of width x height as a baseline JPEG at quality 90, 4:2:0: white paper, a
// grey grid every 50 pixels and a dark curve, so a few bytes a block. Encoded a row at a time:
// the picture itself is never held.
QByteArray drawingJpeg(int width, int height);

// A 24-bit uncompressed BMP written by Qt's writer.
QByteArray bmp24(const QImage &picture);

// Small files whose headers declare 65535 x 65535 pixels (the JPEG: side x side).
QByteArray hugeBmp();
QByteArray hugeJpeg(int side);
QByteArray hugePng();
QByteArray hugeGif();
// An icon file whose one directory entry says 256 x 256 but holds a side x side PNG of one
// colour (a few MB for 20000 x 20000): a reader that cannot tell its size beforehand.
QByteArray iconHoldingPng(int side);

// `bmp` cut to `keepFraction` of its length.
QByteArray cutShort(const QByteArray &bmp, double keepFraction);

// Writes `bytes` to `path`, aborting the run when it cannot. A larger `size` extends the file to
// that many bytes with a hole: sparse, nothing more is written.
void writeFile(const QString &path, const QByteArray &bytes, qint64 size = 0);

} // namespace benchpictures
