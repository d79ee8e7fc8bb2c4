#!/usr/bin/env python3
"""Draws the program's pictures and writes them under res/. Same input, same bytes: rerun at will."""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "res")

BLUE = (41, 134, 231)
BLUE_LIGHT = (84, 166, 244)
BLUE_DARK = (28, 98, 178)
BLUE_DEEP = (20, 74, 140)
WHITE = (255, 255, 255)
SKIN_LIGHT = (231, 243, 255)
AMBER = (255, 214, 102)
AMBER_LIGHT = (255, 236, 168)
AMBER_MID = (240, 182, 62)
AMBER_DARK = (178, 112, 18)
SUPERSAMPLE = 8
# The sizes every icon carries: 100 % to 200 % of the small and the large system icon, and the one Explorer
# shows in its largest views.
ICON_SIZES = (16, 24, 32, 48, 64, 256)
# The pictures drawn again for 150 % and 200 %, in hundredths.
SCALES = (150, 200)


def scaled(pixels, percent):
    """A 100 % length at percent, rounded as the program rounds: halves away from zero."""
    return (pixels * percent + 50) // 100


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def vertical(top, bottom, y0, y1):
    """A paint that runs from one colour at y0 to another at y1."""

    def paint(_, y):
        return mix(top, bottom, min(1.0, max(0.0, (y - y0) / (y1 - y0))))

    return paint


# Shapes are (contains(x, y), bounding box (x0, y0, x1, y1)) in pixel units, (0, 0) the top-left corner.


def rect(x0, y0, x1, y1):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1), (x0, y0, x1, y1)


def rounded_rect(x0, y0, x1, y1, radius):
    def contains(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return contains, (x0, y0, x1, y1)


def ellipse(cx, cy, rx, ry):
    return (lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0), (cx - rx, cy - ry, cx + rx, cy + ry)


def circle(cx, cy, r):
    return ellipse(cx, cy, r, r)


def polygon(points):
    xs, ys = [p[0] for p in points], [p[1] for p in points]

    def contains(x, y):
        inside = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < xi + (y - yi) * (xj - xi) / (yj - yi):
                inside = not inside
            j = i
        return inside

    return contains, (min(xs), min(ys), max(xs), max(ys))


def union(*shapes):
    boxes = [box for _, box in shapes]
    box = (min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes), max(b[3] for b in boxes))
    return (lambda x, y: any(contains(x, y) for contains, _ in shapes)), box


def clip(shape, window):
    return (lambda x, y: shape[0](x, y) and window[0](x, y)), shape[1]


def moved(shape, dx, dy):
    contains, (x0, y0, x1, y1) = shape
    return (lambda x, y: contains(x - dx, y - dy)), (x0 + dx, y0 + dy, x1 + dx, y1 + dy)


class Canvas:
    """Premultiplied RGBA in 0..1, painted shape by shape with supersampled coverage."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]
        # Large pictures have so many pixels that fewer samples each give the same smoothness in less time.
        self.samples = SUPERSAMPLE if max(width, height) <= 64 else 2

    def put(self, x, y, rgb, alpha):
        r, g, b, a = self.pixels[y][x]
        keep = 1.0 - alpha
        self.pixels[y][x] = (
            rgb[0] / 255 * alpha + r * keep,
            rgb[1] / 255 * alpha + g * keep,
            rgb[2] / 255 * alpha + b * keep,
            alpha + a * keep,
        )

    def paint(self, shape, colour, opacity=1.0):
        contains, (bx0, by0, bx1, by1) = shape
        offsets = [(i + 0.5) / self.samples for i in range(self.samples)]
        for y in range(max(0, math.floor(by0)), min(self.height, math.ceil(by1) + 1)):
            for x in range(max(0, math.floor(bx0)), min(self.width, math.ceil(bx1) + 1)):
                hits = sum(1 for oy in offsets for ox in offsets if contains(x + ox, y + oy))
                if hits:
                    rgb = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.put(x, y, rgb, opacity * hits / self.samples**2)

    def stamp(self, art, palette, left=0, top=0):
        """Hard pixels from a character map; '.' leaves the canvas as it is."""
        for y, line in enumerate(art):
            for x, ch in enumerate(line):
                if ch != ".":
                    self.put(left + x, top + y, palette[ch], 1.0)

    def rows(self):
        out = []
        for line in self.pixels:
            row = []
            for r, g, b, a in line:
                alpha = round(a * 255)
                if alpha == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append(tuple(min(255, round(c / a * 255)) for c in (r, g, b)) + (alpha,))
            out.append(row)
        return out


# ---- the download glyph: an arrow dropping into an open tray ----


def arrow_shape(shaft, head_top, head_half, apex_y, centre, grow=0.0, drop=0.0):
    """Shaft (x0, y0, x1, y1) plus a 45-degree head; grow widens everything for an outline."""
    x0, y0, x1, y1 = shaft
    slant = grow * math.sqrt(2)
    body = rect(x0 - grow, y0 - grow + drop, x1 + grow, y1 + drop)
    head = polygon(
        [
            (centre - head_half - slant, head_top - grow + drop),
            (centre + head_half + slant, head_top - grow + drop),
            (centre, apex_y + slant + drop),
        ]
    )
    return union(body, head)


def tray_shape(x0, x1, wall_top, bottom, thickness, grow=0.0):
    return union(
        rect(x0 - grow, wall_top - grow, x0 + thickness + grow, bottom + grow),
        rect(x1 - thickness - grow, wall_top - grow, x1 + grow, bottom + grow),
        rect(x0 - grow, bottom - thickness - grow, x1 + grow, bottom + grow),
    )


APP_GLYPH_16 = [
    "................",
    "................",
    "................",
    ".......WW.......",
    ".......WW.......",
    ".......WW.......",
    ".......WW.......",
    "....WWWWWWWW....",
    ".....WWWWWW.....",
    "......WWWW......",
    "..W....WW....W..",
    "..W..........W..",
    "..W..........W..",
    "..TTTTTTTTTTTT..",
    "................",
    "................",
]
APP_GLYPH_16_DROPPED = [
    "................",
    "................",
    "................",
    "................",
    ".......WW.......",
    ".......WW.......",
    ".......WW.......",
    ".......WW.......",
    "....WWWWWWWW....",
    ".....WWWWWW.....",
    "..T...WWWW...T..",
    "..T....WW....T..",
    "..T..........T..",
    "..TTTTTTTTTTTT..",
    "................",
    "................",
]


def app_icon_pixels(size, dropped=False):
    """The program icon; `dropped` is the second animation frame: arrow lower, tray lit."""
    canvas = Canvas(size, size)
    margin = 0 if size == 16 else max(1, round(size / 28))
    edge = size - margin
    radius = size * 0.19
    plate = rounded_rect(margin, margin, edge, edge, radius)
    top, bottom = (BLUE_LIGHT, BLUE_DARK) if not dropped else ((104, 180, 248), (34, 112, 196))
    canvas.paint(plate, BLUE_DEEP)
    inner = rounded_rect(margin + 1, margin + 1, edge - 1, edge - 1, radius - 1)
    canvas.paint(inner, vertical(top, bottom, margin, edge))
    gloss = clip(ellipse(size / 2, margin - size * 0.18, size * 0.75, size * 0.58), inner)
    canvas.paint(gloss, WHITE, 0.16)
    tray_colour = AMBER if dropped else WHITE
    if size == 16:
        canvas.stamp(APP_GLYPH_16_DROPPED if dropped else APP_GLYPH_16, {"W": WHITE, "T": tray_colour})
        return canvas.rows()
    u = size / 32

    def s(v):
        return round(v * u)

    drop = s(1) if dropped else 0
    arrow = arrow_shape((s(14), s(6), s(18), s(14)), s(13), s(8), s(21), size / 2, drop=drop)
    tray = tray_shape(s(7), s(25), s(17), s(26), s(3))
    canvas.paint(moved(union(arrow, tray), 0, max(1, s(1))), BLUE_DEEP, 0.35)
    canvas.paint(tray, tray_colour)
    canvas.paint(arrow, WHITE)
    return canvas.rows()


def extract_icon_pixels(hot, size=32):
    """The extract button: the download glyph alone, outlined, for a light button face."""
    canvas = Canvas(size, size)
    u = size / 32
    if hot:
        outline, top, bottom, tray_top, tray_bottom = BLUE_DEEP, (96, 180, 255), (30, 118, 226), BLUE, BLUE_DARK
        shadow = 0.30
    else:
        outline, top, bottom = (104, 150, 206), (214, 232, 252), (150, 196, 242)
        tray_top, tray_bottom = (170, 206, 244), (126, 174, 228)
        shadow = 0.16

    def arrow(grow):
        return arrow_shape((13 * u, 2 * u, 19 * u, 13 * u), 12 * u, 10 * u, 22 * u, 16 * u, grow * u)

    def tray(grow):
        return tray_shape(4 * u, 28 * u, 17 * u, 29 * u, 4 * u, grow * u)

    canvas.paint(moved(union(arrow(1), tray(1)), u, u), BLUE_DEEP, shadow)
    canvas.paint(tray(1), outline)
    canvas.paint(tray(0), vertical(tray_top, tray_bottom, 17 * u, 29 * u))
    canvas.paint(arrow(1), outline)
    canvas.paint(arrow(0), vertical(top, bottom, 2 * u, 22 * u))
    canvas.paint(rect(14 * u, 3 * u, 15 * u, 13 * u), WHITE, 0.45)
    return canvas.rows()


def info_disc(canvas, cx, cy, r, u):
    """A blue disc with a white "i"; u is the size of one unit on a 32-pixel design."""
    canvas.paint(circle(cx, cy, r), BLUE_DEEP)
    inner = circle(cx, cy, r - max(1.0, u))
    canvas.paint(inner, vertical(BLUE_LIGHT, BLUE_DARK, cy - r, cy + r))
    canvas.paint(clip(ellipse(cx, cy - r * 0.55, r * 0.8, r * 0.5), inner), WHITE, 0.18)

    def s(v):
        return round(v * u)

    left = round(cx - 2 * u)
    stem = union(
        rect(left, s(13), left + s(4), s(24)),
        rect(left - s(2), s(13), left + s(4), s(15)),
        rect(left - s(2), s(22), left + s(6), s(24)),
    )
    canvas.paint(moved(stem, 0, max(1, s(1))), BLUE_DEEP, 0.30)
    canvas.paint(stem, WHITE)
    canvas.paint(circle(cx, 9 * u, 2.5 * u), WHITE)


def about_icon_pixels(size=32):
    canvas = Canvas(size, size)
    u = size / 32
    info_disc(canvas, 16 * u, 16 * u, 15 * u, u)
    return canvas.rows()


NOTICE_16 = [
    "................",
    ".OOOOO..........",
    "OLLLLLO.........",
    "OMMMMMMOOOOOOOO.",
    "OMMMMMMMMMMMMMO.",
    "OMOOOOOOOOOOOOO.",
    "OOYYYYYYYYYYYYO.",
    "OYYYYYYYYDDDDDO.",
    "OYYYYYYYDBBWBBD.",
    "OYYYYYYDBBBWBBBD",
    "OYYYYYYDBBBWBBBD",
    "OYYYYYYDBBBWBBBD",
    "OOOOOOODBBBBBBBD",
    "........DBBWBBD.",
    ".........DDDDD..",
    "................",
]


def notice_icon_pixels(size):
    """Please choose a save path: an amber folder with a blue "!" badge."""
    canvas = Canvas(size, size)
    if size == 16:
        palette = {"O": AMBER_DARK, "L": AMBER_LIGHT, "M": AMBER_MID, "Y": AMBER,
                   "D": BLUE_DEEP, "B": BLUE, "W": WHITE}
        canvas.stamp(NOTICE_16, palette)
        return canvas.rows()
    u = size / 32

    def s(v):
        return round(v * u)

    back = union(rounded_rect(s(2), s(5), s(14), s(11), s(2)), rounded_rect(s(2), s(8), s(29), s(27), s(2)))
    canvas.paint(back, AMBER_DARK)
    canvas.paint(union(rounded_rect(s(2) + 1, s(5) + 1, s(14) - 1, s(11), s(2) - 1),
                       rounded_rect(s(2) + 1, s(8) + 1, s(29) - 1, s(27) - 1, s(2) - 1)), AMBER_MID)
    front = rounded_rect(s(2), s(12), s(29), s(27), s(2))
    canvas.paint(front, AMBER_DARK)
    face = rounded_rect(s(2) + 1, s(12) + 1, s(29) - 1, s(27) - 1, s(2) - 1)
    canvas.paint(face, vertical(AMBER_LIGHT, AMBER, s(12), s(20)))
    cx, cy, r = s(22) + 0.0, s(22) + 0.0, 7.5 * u
    canvas.paint(circle(cx, cy, r + 1.5 * u), WHITE)
    canvas.paint(circle(cx, cy, r), BLUE_DEEP)
    canvas.paint(circle(cx, cy, r - max(1.0, u)), vertical(BLUE_LIGHT, BLUE_DARK, cy - r, cy + r))
    bar = rect(cx - s(1), cy - s(5), cx + s(1), cy + s(2))
    dot = rect(cx - s(1), cy + s(3), cx + s(1), cy + s(5))
    canvas.paint(bar, WHITE)
    canvas.paint(dot, WHITE)
    return canvas.rows()


def png_image(rows):
    """An RGBA PNG, as icons keep their 256-pixel image; fixed compression, so the same bytes every run."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(pixel) for pixel in row) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icon_image(rows):
    """One ICO image: a 32-bit bottom-up DIB with alpha, then the 1-bit AND mask (set where transparent)."""
    size = len(rows)
    if size >= 256:
        return png_image(rows)
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
    blobs = []
    for rows in images:
        size = len(rows)
        data = icon_image(rows)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs.append(data)
    with open(path, "wb") as out:
        out.write(directory + entries + b"".join(blobs))


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


# ---- backgrounds: smooth, light, and free of thin detail that a stretch would mangle ----


def smoothstep(t):
    t = min(1.0, max(0.0, t))
    return t * t * (3 - 2 * t)


def to_bytes(rgb):
    return tuple(min(255, max(0, round(c))) for c in rgb)


def body_shade(y, top, height):
    """Flat label-fill colour where the labels sit, a lighter lip under the top, a gentle deepening lower down."""
    t = (y - top) / (height - top)
    colour = mix(SKIN_LIGHT, (219, 235, 252), smoothstep((t - 0.35) / 0.65))
    return mix(colour, (246, 251, 255), 1.0 - smoothstep((y - top) / 7))


def side_shade(colour, x, width, reach):
    """Edges a touch deeper so the window reads as a panel; kept narrow, away from the controls."""
    side = min(x, width - 1 - x) / reach
    return to_bytes(mix(colour, (205, 226, 250), (1.0 - smoothstep(side)) * 0.3))


def main_background(percent=100):
    """The main window: a blue-white header band for dragging, then a calm body near the label fill."""
    width, height = scaled(259, percent), scaled(202, percent)
    band = scaled(19, percent)
    rows = []
    for y in range(height):
        if y < band:
            colour = mix((200, 225, 251), (220, 237, 255), y / (band - 1))
        elif y == band:
            colour = (184, 214, 246)
        else:
            colour = body_shade(y * 100 / percent, (band + 1) * 100 / percent, height * 100 / percent)
        rows.append([side_shade(colour, x, width, scaled(14, percent)) for x in range(width)])
    return rows


def dialog_background(percent=100):
    """The About box and the notice: the same colours with a soft top glow instead of a hard band."""
    width = height = scaled(283, percent)
    rows = []
    for y in range(height):
        ty = y / (height - 1)
        colour = mix(SKIN_LIGHT, (224, 239, 254), smoothstep((ty - 0.4) / 0.6))
        colour = mix(colour, (214, 233, 253), 1.0 - smoothstep(ty / 0.3))
        rows.append([side_shade(colour, x, width, scaled(20, percent)) for x in range(width)])
    return rows


# ---- the menu's toolbar strip: hard-edged pixel art on the exact button face colour, which masks out ----

BUTTON_FACE = (240, 240, 240)
GLYPHS = {
    # 16 x 15 tiles, one character a pixel; '.' is the button face.
    "save path": [
        "................",
        ".OOOOO..........",
        "OAAAAAO.........",
        "OMMMMMMOOOOOOO..",
        "OMMMMMMMMMMMMMO.",
        "OMMMMMMMMMMMMMO.",
        "OMMOOOOOOOOOOOOO",
        "OMOAAAAAAAAAAAAO",
        "OMOYYYYYYYYYYYO.",
        "OOYYYYYYYYYYYYO.",
        "OOYYYYYYYYYYYO..",
        "OYYYYYYYYYYYYO..",
        "OOOOOOOOOOOOOO..",
        "................",
        "................",
    ],
    "extract": [
        "......DDDD......",
        "......DLBD......",
        "......DLBD......",
        "......DLBD......",
        "......DLBD......",
        "...DDDDLBDDDD...",
        "...DLLLLBBBBD...",
        "....DBBBBBBD....",
        ".....DBBBBD.....",
        ".DDD..DBBD..DDD.",
        ".DTD...DD...DTD.",
        ".DTD........DTD.",
        ".DTDDDDDDDDDDTD.",
        ".DTTTTTTTTTTTTD.",
        ".DDDDDDDDDDDDDD.",
    ],
    "about": [
        ".....DDDDDD.....",
        "...DDLLLLLLDD...",
        "..DLLLLLLLLBBD..",
        "..DLLBBWWBBBBD..",
        ".DLLBBBWWBBBBBD.",
        ".DLBBBBBBBBBBBD.",
        ".DLBBBWWWBBBBBD.",
        ".DBBBBBWWBBBBBD.",
        ".DBBBBBWWBBBBBD.",
        ".DBBBBBWWBBBBBD.",
        "..DBBBWWWWBBBD..",
        "..DBBBBBBBBBBD..",
        "...DDBBBBBBDD...",
        ".....DDDDDD.....",
        "................",
    ],
}
PALETTE = {
    ".": BUTTON_FACE,
    "B": BLUE,
    "L": BLUE_LIGHT,
    "D": BLUE_DARK,
    "T": (150, 178, 210),
    "W": WHITE,
    "Y": AMBER,
    "A": AMBER_LIGHT,
    "M": AMBER_MID,
    "O": AMBER_DARK,
}


def toolbar_strip(width, height, glyphs, tile_width=16, tile_height=15):
    rows = [[BUTTON_FACE] * width for _ in range(height)]
    for index, glyph in enumerate(glyphs):
        for y, line in enumerate(glyph[:tile_height]):
            for x, ch in enumerate(line[:tile_width]):
                rows[y][index * tile_width + x] = PALETTE[ch]
    return rows


def scaled_toolbar_strip(glyphs, percent):
    """The tiles again at a larger size, each pixel of the art spread over the pixels it covers, so that edges
    stay hard and the button face stays exact for the mask."""
    tile_width, tile_height = scaled(16, percent), scaled(15, percent)
    spread = [
        [[line[x * 16 // tile_width] for x in range(tile_width)] for line in
         (glyph[y * 15 // tile_height] for y in range(tile_height))]
        for glyph in glyphs
    ]
    return toolbar_strip(tile_width * len(glyphs), tile_height, spread, tile_width, tile_height)


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
    icons = os.path.join(RES, "icons")
    bitmaps = os.path.join(RES, "bitmaps")
    write_icon(os.path.join(icons, "app.ico"), [app_icon_pixels(size) for size in ICON_SIZES])
    write_icon(os.path.join(icons, "app_alt.ico"), [app_icon_pixels(size, dropped=True) for size in ICON_SIZES])
    write_icon(os.path.join(icons, "extract_hot.ico"), [extract_icon_pixels(True, size) for size in ICON_SIZES])
    write_icon(os.path.join(icons, "extract.ico"), [extract_icon_pixels(False, size) for size in ICON_SIZES])
    write_icon(os.path.join(icons, "about.ico"), [about_icon_pixels(size) for size in ICON_SIZES])
    write_icon(os.path.join(icons, "notice.ico"), [notice_icon_pixels(size) for size in ICON_SIZES])
    write_bitmap(os.path.join(bitmaps, "main_background.bmp"), main_background())
    write_bitmap(os.path.join(bitmaps, "dialog_background.bmp"), dialog_background())
    glyphs = [GLYPHS["save path"], GLYPHS["extract"], GLYPHS["about"]]
    write_bitmap(os.path.join(bitmaps, "toolbar.bmp"), toolbar_strip(263, 214, glyphs))
    for percent in SCALES:
        write_bitmap(os.path.join(bitmaps, f"main_background_{percent}.bmp"), main_background(percent))
        write_bitmap(os.path.join(bitmaps, f"dialog_background_{percent}.bmp"), dialog_background(percent))
        write_bitmap(os.path.join(bitmaps, f"toolbar_{percent}.bmp"), scaled_toolbar_strip(glyphs, percent))
    tests = os.path.join(HERE, "..", "tests", "win", "res")
    write_bitmap(os.path.join(tests, "wide_toolbar.bmp"), test_strip(2, 20, 18))
    write_bitmap(os.path.join(tests, "narrow_toolbar.bmp"), test_strip(2, 16, 15))
    write_bitmap(os.path.join(tests, "separated_toolbar.bmp"), test_strip(3, 16, 15))


if __name__ == "__main__":
    main()
