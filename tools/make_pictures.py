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


def write_bitmap(path, rows):
    """A bottom-up 24-bit BMP."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for (r, g, b) in row)
        pixels += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


BUTTON_FACE = (240, 240, 240)
GLYPHS = {
    # 16 x 15 tiles, one character a pixel: B blue, D dark blue, W white, Y yellow, O orange, . background.
    "save path": [
        "................",
        "................",
        ".OOOOO..........",
        "OYYYYYO.........",
        "OYYYYYYOOOOOOOO.",
        "OYYYYYYYYYYYYYYO",
        "OYOOOOOOOOOOOOOO",
        "OYOYYYYYYYYYYYYO",
        "OYOYYYYYYYYYYYO.",
        "OOYYYYYYYYYYYYO.",
        "OOYYYYYYYYYYYO..",
        "OYYYYYYYYYYYYO..",
        "OOOOOOOOOOOOOO..",
        "................",
        "................",
    ],
    "extract": [
        "......DDDD......",
        "......DBBD......",
        "......DBBD......",
        "......DBBD......",
        "......DBBD......",
        "...DDDDBBDDDD...",
        "...DBBBBBBBBD...",
        "....DBBBBBBD....",
        ".....DBBBBD.....",
        "..D...DBBD...D..",
        "..D....DD....D..",
        "..D..........D..",
        "..DDDDDDDDDDDD..",
        "................",
        "................",
    ],
    "about": [
        ".....DDDDDD.....",
        "...DDBBBBBBDD...",
        "..DBBBBWWBBBBD..",
        ".DBBBBBWWBBBBBD.",
        ".DBBBBBBBBBBBBD.",
        "DBBBBBWWWBBBBBBD",
        "DBBBBBBWWBBBBBBD",
        "DBBBBBBWWBBBBBBD",
        "DBBBBBBWWBBBBBBD",
        ".DBBBBBWWBBBBBD.",
        ".DBBBBWWWWBBBBD.",
        "..DBBBBBBBBBBD..",
        "...DDBBBBBBDD...",
        ".....DDDDDD.....",
        "................",
    ],
}
PALETTE = {".": BUTTON_FACE, "B": BLUE, "D": BLUE_DARK, "W": WHITE, "Y": (255, 214, 102), "O": (214, 150, 40)}


def toolbar_strip(width, height, glyphs, tile_width=16, tile_height=15):
    rows = [[BUTTON_FACE] * width for _ in range(height)]
    for index, glyph in enumerate(glyphs):
        for y, line in enumerate(glyph[:tile_height]):
            for x, ch in enumerate(line[:tile_width]):
                rows[y][index * tile_width + x] = PALETTE[ch]
    return rows


def test_strip(count, tile_width, tile_height):
    """Tiles of one flat colour each, for the tests' own toolbars."""
    colours = [(200, 30, 30), (30, 160, 30), (30, 30, 200), (200, 160, 30)]
    rows = [[BUTTON_FACE] * (count * tile_width) for _ in range(tile_height)]
    for index in range(count):
        for y in range(2, tile_height - 2):
            for x in range(2, tile_width - 2):
                rows[y][index * tile_width + x] = colours[index % len(colours)]
    return rows


def main():
    images = []
    for size in (16, 32, 48):
        rows = app_icon_pixels(size)
        images.append((rows, icon_image(rows)))
    write_icon(os.path.join(RES, "icons", "app.ico"), images)
    glyphs = [GLYPHS["save path"], GLYPHS["extract"], GLYPHS["about"]]
    write_bitmap(os.path.join(RES, "bitmaps", "toolbar.bmp"), toolbar_strip(263, 214, glyphs))
    tests = os.path.join(HERE, "..", "tests", "win", "res")
    write_bitmap(os.path.join(tests, "wide_toolbar.bmp"), test_strip(2, 20, 18))
    write_bitmap(os.path.join(tests, "narrow_toolbar.bmp"), test_strip(2, 16, 15))
    write_bitmap(os.path.join(tests, "separated_toolbar.bmp"), test_strip(3, 16, 15))


if __name__ == "__main__":
    main()
