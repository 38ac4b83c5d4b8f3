#!/usr/bin/env python3
"""Draws the program icon and the About banner from scratch.

Writes resources/burrowlens.ico (32x32 and 16x16 in 16 colours, 32x32 in 256
colours) and resources/banner.bmp (300x80, 8 bits per pixel, uncompressed).
The output depends on nothing but this file, so running it again gives the
same bytes.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources")

# The standard 16-colour palette, so the small icons look right on any display.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

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


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def icon_image(size, palette, bits):
    """One icon directory image: header, palette, colour rows, mask rows."""
    pixels = [[scene(size, size, x, y) for x in range(size)] for y in range(size)]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    rows = b""
    mask = b""
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        indices = [0 if c is None else nearest(palette, c) for c in pixels[y]]
        if bits == 4:
            row = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        else:
            row = bytes(indices)
        rows += row + b"\0" * (-len(row) % 4)
        bitsrow = 0
        for x in range(size):
            bitsrow = (bitsrow << 1) | (1 if pixels[y][x] is None else 0)
        maskrow = bitsrow.to_bytes(size // 8, "big")
        mask += maskrow + b"\0" * (-len(maskrow) % 4)
    return header + table + rows + mask


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
    return colours[:256]


def write_icon(path):
    images = [(32, VGA16, 4), (16, VGA16, 4), (32, palette256(), 8)]
    blobs = [icon_image(size, pal, bits) for size, pal, bits in images]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, pal, bits), blob in zip(images, blobs):
        colours = len(pal) if len(pal) < 256 else 0
        data += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
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


def write_banner(path):
    width, height = 300, 80
    palette = palette256()
    title = text_pixels("Burrowlens", 3)
    subtitle = text_pixels("ActiveX control inspector", 1)
    rows = b""
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            colour = lerp(SKY_TOP, SKY_LOW, y / (height - 1))
            if x < 80:
                logo = scene(80, 80, x, y)
                if logo is not None:
                    colour = logo
            if (x - 96, y - 18) in title:
                colour = INK
            elif (x - 97, y - 17) in title:
                colour = (255, 255, 255)
            if (x - 120, y - 52) in subtitle:
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
    write_banner(os.path.join(OUT, "banner.bmp"))
