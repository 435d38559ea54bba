#!/usr/bin/env python3
"""Draws the menu art: a blue capsule lying from the lower left to the upper
right, its upper-right end capped in red.

- menu16.bmp, menu13.bmp: on white, 24 bpp, no colour table (16 x 16 and
  Windows XP's 13 x 13 check-mark slot).
- menu.ico: on nothing (32 bpp with alpha, edges smoothed), one image drawn
  for each of 16, 20, 24, 32, 40 and 48 px: the small-icon sizes at 100 to
  300 % display scale.
- ../../installer/msix/Assets/*.png: the Windows 11 package's logos, drawn
  like the icon (RGBA PNG), at the sizes its manifest names.

Run from this folder; the generated files are committed."""
import math
import os
import struct
import zlib

WHITE = (255, 255, 255)
BLUE = (40, 90, 200)
BLUE_EDGE = (20, 50, 130)
RED = (210, 30, 30)
RED_EDGE = (130, 15, 15)

ICON_SIZES = (16, 20, 24, 32, 40, 48)
# The package's logos: file name and size (the manifest names them).
LOGOS = (("Square44x44Logo.png", 44), ("Square150x150Logo.png", 150), ("StoreLogo.png", 50))


def capsule(px, py, size, edge_width, margin=0.0):
    """The colour at point (px, py), or None outside the capsule."""
    # Capsule axis from (lower left) to (upper right); the ends touch the
    # picture's edges unless a margin (in pixels) keeps them off.
    m = size * 0.2
    ax, ay = m, size - m
    bx, by = size - m, m
    r = size * 0.2 - margin
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    d = math.hypot(px - (ax + t * dx), py - (ay + t * dy))
    if d > r:
        return None
    edge = d > r - edge_width
    if t > 0.62:
        return RED_EDGE if edge else RED
    return BLUE_EDGE if edge else BLUE


def pixel(x, y, size):
    # Sampled at the pixel's centre: hard edges on white.
    return capsule(x + 0.5, y + 0.5, size, 1.0) or WHITE


def icon_pixel(x, y, size):
    """(b, g, r, a), straight alpha: 8 x 8 samples per pixel smooth the edge."""
    n = 8
    edge = max(1.0, size / 16.0)
    total = [0, 0, 0]
    hits = 0
    for j in range(n):
        for i in range(n):
            c = capsule(x + (i + 0.5) / n, y + (j + 0.5) / n, size, edge, 0.5)
            if c:
                hits += 1
                for k in range(3):
                    total[k] += c[k]
    if not hits:
        return (0, 0, 0, 0)
    r, g, b = (round(v / hits) for v in total)
    return (b, g, r, round(255 * hits / (n * n)))


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


def icon_image(size):
    """One icon image: header (height doubled), BGRA rows bottom-up, AND mask."""
    colour = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(mask_stride)
        for x in range(size):
            b, g, r, a = icon_pixel(x, y, size)
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + bytes(colour) + bytes(mask)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(directory + b"".join(images))


def write_png(path, size):
    """RGBA, 8 bits a channel, straight alpha; fixed zlib level: same bytes each run."""
    rows = b""
    for y in range(size):
        rows += b"\0"  # filter: none
        for x in range(size):
            b, g, r, a = icon_pixel(x, y, size)
            rows += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    write_bmp("menu16.bmp", 16)
    write_bmp("menu13.bmp", 13)
    write_ico("menu.ico", ICON_SIZES)
    assets = os.path.join("..", "..", "installer", "msix", "Assets")
    os.makedirs(assets, exist_ok=True)
    for name, size in LOGOS:
        write_png(os.path.join(assets, name), size)
