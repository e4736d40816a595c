#!/usr/bin/env python3
"""Draws the window's 55 x 55 logo and writes it as a 16-bit (5-5-5) bitmap.

The picture: a blue disc holding a white arrow that points down into a tray, the
sign for "download". Its outermost rows and columns stay white so that it merges
into the white banner it sits on. Run it again to regenerate
src/window/KorvaniLogo.bmp; the output is the same byte for byte every time.
"""
import math
import struct
import sys

SIZE = 55
WHITE = (1.0, 1.0, 1.0)
BLUE = (0.10, 0.36, 0.70)
SUPERSAMPLE = 4


def inside_arrow(x, y):
    """True where the white arrow and tray cover the point (x, y) in pixels."""
    cx = SIZE / 2
    shaft = abs(x - cx) <= 4.0 and 12.0 <= y <= 28.0
    head = 26.0 <= y <= 37.0 and abs(x - cx) <= (37.0 - y) * 1.0
    tray_bottom = 39.5 <= y <= 42.5 and abs(x - cx) <= 13.0
    tray_sides = 34.0 <= y <= 42.5 and 10.0 <= abs(x - cx) <= 13.0
    return shaft or head or tray_bottom or tray_sides


def colour_at(x, y):
    cx = cy = SIZE / 2
    if math.hypot(x - cx, y - cy) > 24.0:
        return WHITE
    return WHITE if inside_arrow(x, y) else BLUE


def pixel(px, py):
    """Averages SUPERSAMPLE x SUPERSAMPLE samples so edges are smooth."""
    total = [0.0, 0.0, 0.0]
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            c = colour_at(px + (sx + 0.5) / SUPERSAMPLE, py + (sy + 0.5) / SUPERSAMPLE)
            for i in range(3):
                total[i] += c[i]
    n = SUPERSAMPLE * SUPERSAMPLE
    return tuple(round(t / n * 31) for t in total)


def bitmap():
    row_bytes = (SIZE * 2 + 3) // 4 * 4
    rows = []
    for py in reversed(range(SIZE)):  # bottom-up
        row = bytearray()
        for px in range(SIZE):
            if px in (0, SIZE - 1) or py in (0, SIZE - 1):
                r = g = b = 31
            else:
                r, g, b = pixel(px, py)
            row += struct.pack("<H", (r << 10) | (g << 5) | b)
        row += b"\0" * (row_bytes - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows) + b"\0\0"  # two bytes of tail padding, as the classic tools wrote
    header_size = 14 + 40
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 16, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    return head + info + pixels


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "src/window/KorvaniLogo.bmp"
    with open(out, "wb") as f:
        f.write(bitmap())
