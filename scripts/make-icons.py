#!/usr/bin/env python3
"""Writes the application icon for the hicolor theme as PNG files:
packaging/icons/hicolor/<N>x<N>/apps/tavimo.png for N in 32, 48, 64, 128, 256.

The design is the window icon's (scripts/make-icon.py): an aqua square over the icon's
(4, 4)..(27, 27) and two black bars across the whole icon, columns 8..11 and rows 8..11, the
rest transparent. Each size draws that geometry scaled, not the 32-pixel picture enlarged, so
every edge stays sharp; since every edge lies on a multiple of 4 design units, each size here
puts every edge on a whole pixel. The 32-pixel file has exactly the window icon's pixels.

Usage: make-icons.py [output-dir]   (default: packaging/icons next to this script's folder)
"""
import importlib.util
import os
import struct
import sys
import zlib

DESIGN = 32  # the design's own grid, in which the rectangles below are given
SIZES = (32, 48, 64, 128, 256)
TRANSPARENT = (0, 0, 0, 0)
BLACK = (0, 0, 0, 255)
AQUA = (0, 255, 255, 255)
# Half-open rectangles (left, top, right, bottom) in design units, topmost first.
SHAPES = (
    ((8, 0, 12, DESIGN), BLACK),
    ((0, 8, DESIGN, 12), BLACK),
    ((4, 4, 28, 28), AQUA),
)


def colour_at(size, x, y):
    """Colour of pixel (x, y) of the size x size rendering: the shape under its centre."""
    u = (2 * x + 1) * DESIGN  # the pixel centre, in design units times 2 * size
    v = (2 * y + 1) * DESIGN
    for (left, top, right, bottom), colour in SHAPES:
        if 2 * size * left <= u < 2 * size * right and 2 * size * top <= v < 2 * size * bottom:
            return colour
    return TRANSPARENT


def png_bytes(size):
    raw = b"".join(
        b"\0" + b"".join(bytes(colour_at(size, x, y)) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, no interlace
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def check_against_window_icon(here):
    """The 32-pixel rendering must be the window icon, pixel for pixel."""
    source = importlib.util.spec_from_file_location("make_icon", os.path.join(here, "make-icon.py"))
    window_icon = importlib.util.module_from_spec(source)
    source.loader.exec_module(window_icon)
    for y in range(DESIGN):
        for x in range(DESIGN):
            index = window_icon.pixel(x, y)
            expected = TRANSPARENT if index is None else window_icon.PALETTE[index] + (255,)
            assert colour_at(DESIGN, x, y) == expected, (x, y)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "packaging", "icons")
    check_against_window_icon(here)
    for size in SIZES:
        folder = os.path.join(out, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "tavimo.png"), "wb") as f:
            f.write(png_bytes(size))


if __name__ == "__main__":
    main()
