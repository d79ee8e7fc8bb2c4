#!/usr/bin/env python3
"""Draws the program's pictures and writes them under res/. Same input, same bytes: rerun at will."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "res")

BLUE = (41, 134, 231)
BLUE_DARK = (28, 98, 178)
WHITE = (255, 255, 255)
SUPERSAMPLE = 4


def rounded_square_coverage(x, y, size, radius):
    """Fraction of pixel (x, y) inside a square of the given size with rounded corners."""
    inside = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            cx = min(max(px, radius), size - radius)
            cy = min(max(py, radius), size - radius)
            if (px - cx) ** 2 + (py - cy) ** 2 <= radius * radius:
                inside += 1
    return inside / SUPERSAMPLE**2


def glyph_coverage(x, y, size):
    """A white arrow dropping into a tray, its straight edges snapped to the pixel grid of this size."""

    def snap(v):
        return round(v * size)

    def in_rect(px, py, x0, y0, x1, y1):
        return snap(x0) <= px < snap(x1) and snap(y0) <= py < snap(y1)

    inside = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            shaft = in_rect(px, py, 0.4375, 0.1875, 0.5625, 0.5)
            top, apex = snap(0.4375), snap(0.6875)
            half = (apex - py) * 0.9 if top <= py < apex else -1
            head = half >= 0 and abs(px - size / 2) <= half
            tray = in_rect(px, py, 0.1875, 0.75, 0.8125, 0.8125 + 1.0 / size) or in_rect(
                px, py, 0.1875, 0.5625, 0.1875 + 2.0 / size, 0.8125) or in_rect(
                px, py, 0.8125 - 2.0 / size, 0.5625, 0.8125, 0.8125)
            if shaft or head or tray:
                inside += 1
    return inside / SUPERSAMPLE**2


def app_icon_pixels(size):
    radius = max(2.0, size / 6)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            alpha = rounded_square_coverage(x, y, size, radius)
            shade = y / max(1, size - 1)
            base = tuple(round(b + (d - b) * shade * 0.6) for b, d in zip(BLUE, BLUE_DARK))
            g = glyph_coverage(x, y, size)
            rgb = tuple(round(c + (w - c) * g) for c, w in zip(base, WHITE))
            row.append(rgb + (round(alpha * 255),))
        rows.append(row)
    return rows


def icon_image(rows):
    """One ICO image: a 32-bit bottom-up DIB with alpha, then the 1-bit AND mask (set where transparent)."""
    size = len(rows)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def write_icon(path, images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for rows, data in images:
        size = len(rows)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(directory + entries + b"".join(data for _, data in images))


def main():
    images = []
    for size in (16, 32, 48):
        rows = app_icon_pixels(size)
        images.append((rows, icon_image(rows)))
    write_icon(os.path.join(RES, "icons", "app.ico"), images)


if __name__ == "__main__":
    main()
