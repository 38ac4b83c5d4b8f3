#!/usr/bin/env python3
"""Draws the program icon and the About banner from scratch.

Writes resources/burrowlens.ico (16 to 256 pixels, 32 bits with alpha) and
the banner for 100 %, 150 % and 200 % display scales: resources/banner.bmp
(300x80), banner-150.bmp (450x120) and banner-200.bmp (600x160), 8 bits per
pixel, uncompressed. Each size is drawn from the shapes themselves, so none is
a blurred enlargement of another. The output depends on nothing but this
file, so running it again gives the same bytes.
"""
import functools
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources")

SKY_TOP = (70, 120, 190)
SKY_LOW = (190, 215, 240)
EARTH = (139, 94, 52)
EARTH_DARK = (92, 58, 30)
HOLE = (35, 20, 10)
GRASS = (70, 150, 60)
RIM = (40, 40, 48)
GLASS = (200, 230, 250)
HANDLE = (150, 60, 30)
INK = (30, 30, 40)


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def scene(width, height, x, y):
    """Colour of the logo at pixel (x, y) of a width x height picture, or None
    where the picture is transparent (icons only use that)."""
    u = (x + 0.5) / width
    v = (y + 0.5) / height
    # The burrow: a mound of earth with a dark entrance.
    mound = ((u - 0.42) / 0.42) ** 2 + ((v - 1.0) / 0.5) ** 2
    hole = ((u - 0.42) / 0.16) ** 2 + ((v - 0.93) / 0.2) ** 2
    # The lens: a ring looking into the burrow, its handle to the lower right.
    lens_x, lens_y, radius = 0.58, 0.38, 0.25
    dist = math.hypot(u - lens_x, v - lens_y)
    along = (u - lens_x) * 0.707 + (v - lens_y) * 0.707
    across = abs((u - lens_x) * 0.707 - (v - lens_y) * 0.707)
    if radius - 0.07 <= dist <= radius:
        return RIM
    if radius < along < radius + 0.24 and across < 0.07:
        return HANDLE
    if dist < radius - 0.07:
        if hole < 1.3:
            return HOLE
        if mound < 1.0:
            return lerp(EARTH, EARTH_DARK, 0.3)
        return GLASS
    if hole < 1.0:
        return HOLE
    if mound < 1.0:
        return EARTH if mound < 0.8 else GRASS
    return None


@functools.lru_cache(maxsize=None)
def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


# Samples per pixel side: smooth edges through the alpha channel.
ICON_SAMPLES = 4


def icon_pixels(size):
    """Rows from the top of (blue, green, red, alpha) for a size x size icon."""
    rows = []
    big = size * ICON_SAMPLES
    for y in range(size):
        row = []
        for x in range(size):
            hits = [scene(big, big, x * ICON_SAMPLES + i, y * ICON_SAMPLES + j)
                    for j in range(ICON_SAMPLES) for i in range(ICON_SAMPLES)]
            hits = [c for c in hits if c is not None]
            if not hits:
                row.append((0, 0, 0, 0))
                continue
            r, g, b = (round(sum(c[k] for c in hits) / len(hits)) for k in range(3))
            row.append((b, g, r, round(255 * len(hits) / ICON_SAMPLES ** 2)))
        rows.append(row)
    return rows


def icon_bitmap(size):
    """A 32-bit icon image: header, colour rows with alpha, mask rows."""
    pixels = icon_pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b""
    mask = b""
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        rows += b"".join(bytes(p) for p in pixels[y])
        bitsrow = 0
        for x in range(size):
            bitsrow = (bitsrow << 1) | (1 if pixels[y][x][3] == 0 else 0)
        maskrow = bitsrow.to_bytes((size + 7) // 8, "big")
        mask += maskrow + b"\0" * (-len(maskrow) % 4)
    return header + rows + mask


def icon_png(size):
    """The 256-pixel image as PNG, as Windows stores that size."""
    raw = b"".join(b"\0" + b"".join(bytes((r, g, b, a)) for (b, g, r, a) in row)
                   for row in icon_pixels(size))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def palette256():
    """The colours the drawing uses, shades between them, then greys."""
    colours = [(0, 0, 0), (255, 255, 255)]
    for c in (SKY_TOP, SKY_LOW, EARTH, EARTH_DARK, HOLE, GRASS, RIM, GLASS, HANDLE, INK):
        colours.append(c)
    for i in range(64):
        colours.append(lerp(SKY_TOP, SKY_LOW, i / 63))
    for i in range(32):
        colours.append(lerp(EARTH_DARK, EARTH, i / 31))
    for i in range(32):
        colours.append(lerp(HOLE, EARTH_DARK, i / 31))
    while len(colours) < 256:
        g = round((len(colours) - 140) * 255 / 115)
        colours.append((g, g, g))
    return tuple(colours[:256])


# Every size Windows asks for from 100 % to 200 %: the small icon at 16 to 32,
# the large one at 32 to 64, and Explorer's largest view.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def write_icon(path):
    blobs = [icon_png(size) if size == 256 else icon_bitmap(size) for size in ICON_SIZES]
    data = struct.pack("<HHH", 0, 1, len(ICON_SIZES))
    offset = 6 + 16 * len(ICON_SIZES)
    for size, blob in zip(ICON_SIZES, blobs):
        # A directory entry writes 256 as 0.
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(data + b"".join(blobs))


# A 5x7 pixel font, just the letters the banner needs.
FONT = {
    "B": ["1111 ", "1   1", "1   1", "1111 ", "1   1", "1   1", "1111 "],
    "u": ["     ", "     ", "1   1", "1   1", "1   1", "1  11", " 11 1"],
    "r": ["     ", "     ", "1 11 ", "11  1", "1    ", "1    ", "1    "],
    "o": ["     ", "     ", " 111 ", "1   1", "1   1", "1   1", " 111 "],
    "w": ["     ", "     ", "1   1", "1   1", "1 1 1", "1 1 1", " 1 1 "],
    "l": [" 11  ", "  1  ", "  1  ", "  1  ", "  1  ", "  1  ", " 111 "],
    "e": ["     ", "     ", " 111 ", "1   1", "11111", "1    ", " 111 "],
    "n": ["     ", "     ", "1 11 ", "11  1", "1   1", "1   1", "1   1"],
    "s": ["     ", "     ", " 1111", "1    ", " 111 ", "    1", "1111 "],
    "A": [" 111 ", "1   1", "1   1", "11111", "1   1", "1   1", "1   1"],
    "c": ["     ", "     ", " 111 ", "1    ", "1    ", "1   1", " 111 "],
    "t": [" 1   ", " 1   ", "1111 ", " 1   ", " 1   ", " 1  1", "  11 "],
    "i": ["  1  ", "     ", " 11  ", "  1  ", "  1  ", "  1  ", " 111 "],
    "v": ["     ", "     ", "1   1", "1   1", "1   1", " 1 1 ", "  1  "],
    "X": ["1   1", "1   1", " 1 1 ", "  1  ", " 1 1 ", "1   1", "1   1"],
    "p": ["     ", "     ", "1111 ", "1   1", "1111 ", "1    ", "1    "],
    " ": ["     "] * 7,
}


def text_pixels(text, scale):
    """The set of (x, y) pixels the text covers, from its upper-left corner."""
    covered = set()
    for n, ch in enumerate(text):
        for row, line in enumerate(FONT[ch]):
            for col, bit in enumerate(line):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            covered.add((n * 6 * scale + col * scale + dx, row * scale + dy))
    return covered


def write_banner(path, scale):
    """The banner drawn for a display at scale times 100 %: every pixel asks
    what lies at its centre in the 300x80 design."""
    width, height = round(300 * scale), round(80 * scale)
    palette = palette256()
    title = text_pixels("Burrowlens", 3)
    subtitle = text_pixels("ActiveX control inspector", 1)
    logo_size = round(80 * scale)
    rows = b""
    for y in reversed(range(height)):
        row = bytearray()
        v = math.floor((y + 0.5) / scale)
        for x in range(width):
            u = math.floor((x + 0.5) / scale)
            colour = lerp(SKY_TOP, SKY_LOW, y / (height - 1))
            if x < logo_size:
                logo = scene(logo_size, logo_size, x, y)
                if logo is not None:
                    colour = logo
            if (u - 96, v - 18) in title:
                colour = INK
            elif (u - 97, v - 17) in title:
                colour = (255, 255, 255)
            if (u - 120, v - 52) in subtitle:
                colour = INK
            row.append(nearest(palette, colour))
        rows += bytes(row) + b"\0" * (-len(row) % 4)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + table + rows)


if __name__ == "__main__":
    write_icon(os.path.join(OUT, "burrowlens.ico"))
    write_banner(os.path.join(OUT, "banner.bmp"), 1)
    write_banner(os.path.join(OUT, "banner-150.bmp"), 1.5)
    write_banner(os.path.join(OUT, "banner-200.bmp"), 2)
