#!/usr/bin/env python3
"""Draws the program's pictures and writes them as BMP and ICO files.

Run from anywhere: python3 res/tools/make_images.py
Writes res/help.bmp, res/start.bmp, res/stop.bmp (30x30, 24-bit), the 4-bit
toolbar strip res/toolbar.bmp (90x30) and the icon res/vorlane.ico (32x32,
256 colours). Only the standard library is used, so the output is
reproducible on any machine.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.dirname(HERE)

FACE = (240, 240, 240)  # button face behind the round shapes
WHITE = (255, 255, 255)

# 7x9 picture of a question mark, scaled up for the Help button.
QUESTION = [
    "..###..",
    ".#...#.",
    ".....#.",
    "....#..",
    "...#...",
    "...#...",
    ".......",
    "...#...",
    "...#...",
]


def rounded_tile(x, y, size, radius, inset=1):
    """True inside a square with rounded corners."""
    lo, hi = inset, size - 1 - inset
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and lo <= x <= hi and lo <= y <= hi


def shade(color, y, size):
    """Lighter at the top, darker at the bottom: a simple raised look."""
    k = 1.25 - 0.5 * y / (size - 1)
    return tuple(max(0, min(255, int(c * k))) for c in color)


def start_pixel(x, y):
    if not rounded_tile(x, y, 30, 6):
        return FACE
    # Play triangle pointing right.
    if 10 <= x <= 22 and abs(y - 14.5) <= (x - 10) * -0.62 + 8:
        return WHITE
    return shade((40, 160, 60), y, 30)


def stop_pixel(x, y):
    if not rounded_tile(x, y, 30, 6):
        return FACE
    if 9 <= x <= 20 and 9 <= y <= 20:
        return WHITE
    return shade((200, 45, 40), y, 30)


def help_pixel(x, y):
    if (x - 14.5) ** 2 + (y - 14.5) ** 2 > 14.0 ** 2:
        return FACE
    gx, gy = (x - 8) // 2, (y - 6) // 2  # the glyph is drawn at twice its size
    if 0 <= gx < 7 and 0 <= gy < 9 and QUESTION[gy][gx] == "#":
        return WHITE
    return shade((40, 90, 200), y, 30)


def icon_pixel(x, y):
    """A relay: a client and a server box with traffic flowing both ways."""
    if not rounded_tile(x, y, 32, 5, inset=0):
        return None  # transparent
    base = shade((30, 60, 120), y, 32)
    # Two boxes, left and right.
    for bx in (3, 21):
        if bx <= x <= bx + 7 and 9 <= y <= 22:
            if bx + 1 <= x <= bx + 6 and 10 <= y <= 17:
                return (120, 200, 255)
            return (235, 235, 235)
    # Arrow to the right on the upper lane, to the left on the lower lane.
    orange = (255, 170, 30)
    if 12 <= x <= 19:
        if 11 <= y <= 12 and x <= 16 or x >= 16 and abs(y - 11.5) <= (20 - x) * 0.75:
            return orange
        if 19 <= y <= 20 and x >= 15 or x <= 15 and abs(y - 19.5) <= (x - 11) * 0.75:
            return orange
    return base


def bmp_bytes(width, height, bits, rows, palette=None):
    """A BMP file. rows: top-down lists of pixel values (RGB tuples or palette indices)."""
    stride = ((width * bits + 31) // 32) * 4
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        elif bits == 4:
            for i in range(0, width, 2):
                hi = row[i]
                lo = row[i + 1] if i + 1 < width else 0
                line.append((hi << 4) | lo)
        elif bits == 8:
            line += bytes(row)
        line += b"\0" * (stride - len(line))
        data += line
    pal = b""
    if palette is not None:
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                         len(palette or []), 0)
    offset = 14 + len(header) + len(pal)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + header + pal + data


# The 16 colours of the standard 4-bit palette.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest(palette, color):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], color)))


def picture(fn, size):
    return [[fn(x, y) for x in range(size)] for y in range(size)]


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def write_icon(name):
    rows = picture(icon_pixel, 32)
    colours = sorted({c for row in rows for c in row if c is not None})
    palette = [(0, 0, 0)] + colours
    palette += [(0, 0, 0)] * (256 - len(palette))
    index = {c: i + 1 for i, c in enumerate(colours)}
    xor_rows = [[index[c] if c is not None else 0 for c in row] for row in rows]
    xor = bytearray()
    for row in reversed(xor_rows):
        xor += bytes(row)
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    image = header + pal + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 8, len(image), 6 + 16)
    write(name, icondir + entry + image)


def main():
    pictures = {"start.bmp": start_pixel, "stop.bmp": stop_pixel, "help.bmp": help_pixel}
    for name, fn in pictures.items():
        write(name, bmp_bytes(30, 30, 24, picture(fn, 30)))
    # The strip the toolbar resource carries: Start, Stop, Help in 16 colours.
    strip = [[] for _ in range(30)]
    for fn in (start_pixel, stop_pixel, help_pixel):
        for y, row in enumerate(picture(fn, 30)):
            strip[y] += [nearest(VGA16, c) for c in row]
    write("toolbar.bmp", bmp_bytes(90, 30, 4, strip, VGA16))
    write_icon("vorlane.ico")


if __name__ == "__main__":
    main()
