#!/usr/bin/env python3
"""Writes resources/tavimo.ico: the 32 x 32, 16-colour window icon (766 bytes).

A cross hair over a square: the square (4, 4)..(27, 27) aqua, two black bars crossing it
(columns 8..11 over the full height, rows 8..11 over the full width), everything else
transparent.
"""
import struct
import sys

SIZE = 32
# The usual 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, AQUA = 0, 14


def pixel(x, y):
    """Palette index of (x, y), or None where the icon is transparent."""
    if 8 <= x <= 11 or 8 <= y <= 11:
        return BLACK
    if 4 <= x <= 27 and 4 <= y <= 27:
        return AQUA
    return None


def icon_bytes():
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bottom-up
        nibbles = [pixel(x, y) or 0 for x in range(SIZE)]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (1 if pixel(x, y) is None else 0)
        and_rows.append(struct.pack(">I", mask))
    xor_data, and_data = b"".join(xor_rows), b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(xor_data) + len(and_data), 0, 0, 16, 0)
    image = header + palette + xor_data + and_data
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + image


if __name__ == "__main__":
    data = icon_bytes()
    assert len(data) == 766, len(data)
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/tavimo.ico"
    with open(out, "wb") as f:
        f.write(data)
