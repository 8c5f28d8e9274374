#pragma once

#include <QImage>

// The magnifier: the 20 x 20 picture pixels around a point, each enlarged to 16 x 16, with a
// black band over output columns and rows 158..161.
namespace magnifier {
constexpr int GridSize = 20;
constexpr int GridOrigin = 10; // grid entry (dx, dy) samples picture (X - 10 + dx, Y - 10 + dy)
constexpr int Scale = 16;
constexpr int OutputSize = GridSize * Scale; // 320
constexpr int BandFirst = 158;
constexpr int BandLast = 161;
constexpr quint32 Black = 0; // all four bytes 0; the fourth byte is not alpha in Format_RGB32

// Rebuilds `zoom` (320 x 320, Format_RGB32, allocated by the caller) from `picture`
// (Format_RGB32) around (x, y). Samples outside 0 <= column < maxX, 0 <= row < maxY are black:
// the bounds come from the point's range, which must not exceed the picture's size.
// Allocates nothing.
void build(const QImage &picture, int x, int y, int maxX, int maxY, QImage &zoom);
} // namespace magnifier
