#!/usr/bin/env python3
"""Draws the menu bitmaps: a blue capsule lying from the lower left to the
upper right, its upper-right end capped in red, on white. 24 bpp, no colour
table. Run from this folder; the .bmp files are committed."""
import math
import struct

WHITE = (255, 255, 255)
BLUE = (40, 90, 200)
BLUE_EDGE = (20, 50, 130)
RED = (210, 30, 30)
RED_EDGE = (130, 15, 15)


def pixel(x, y, size):
    # Capsule axis from (lower left) to (upper right), in pixel-centre units.
    m = size * 0.2
    ax, ay = m, size - m
    bx, by = size - m, m
    r = size * 0.2
    px, py = x + 0.5, y + 0.5
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    d = math.hypot(px - (ax + t * dx), py - (ay + t * dy))
    if d > r:
        return WHITE
    edge = d > r - 1.0
    if t > 0.62:
        return RED_EDGE if edge else RED
    return BLUE_EDGE if edge else BLUE


def write_bmp(path, size):
    stride = (size * 3 + 3) & ~3
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b = pixel(x, y, size)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + data)


if __name__ == "__main__":
    write_bmp("menu16.bmp", 16)
    write_bmp("menu13.bmp", 13)
