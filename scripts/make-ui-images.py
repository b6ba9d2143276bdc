#!/usr/bin/env python3
"""Writes the plug-in's own pictures into src/resources/images/ (standard
library only; the generated files are committed, so a build never runs this):

  level_weak.ico, level_medium.ico, level_strong.ico   icons 116, 115, 117:
      a filled disc in the level's colour with one, two or three white bars,
      at 16, 24 and 32 pixels (32-bit colour with alpha and an AND mask);
  logon_icons.bmp   bitmap 102: a strip of 16 x 16 images on magenta (the
      mask colour): 0 the key overlay drawn in a row's lower-left corner,
      1 the logon picture shown while a site has no icon of its own;
  rating_levels.bmp bitmap 106: a strip of 21 x 8 images, 32-bit with
      pre-multiplied alpha: 0 not rated, 1 weak, 2 medium, 3 strong.
"""
import math
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources", "images")

WEAK = (0xD3, 0x2F, 0x2F)
MEDIUM = (0xF0, 0xA0, 0x00)
STRONG = (0x2E, 0x9D, 0x3A)
GREY = (0xB0, 0xB0, 0xB0)


def disc_icon_image(size, colour, bars):
    """Rows bottom-up of (r, g, b, a) pixels: an anti-aliased disc with bars."""
    c = (size - 1) / 2.0
    radius = size / 2.0 - 0.5
    pixels = []
    bar_w = max(1, size // 8)
    gap = max(1, size // 10)
    total = bars * bar_w + (bars - 1) * gap
    x0 = int(round(c - total / 2.0 + 0.5))
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            cover = max(0.0, min(1.0, radius - d + 0.5))
            r, g, b = colour
            # y counts from the top here; bars grow from the disc's lower part.
            in_bar = False
            for i in range(bars):
                bx = x0 + i * (bar_w + gap)
                height = int(size * (0.25 + 0.15 * i))
                bottom = int(size * 0.75)
                if bx <= x < bx + bar_w and bottom - height <= y < bottom:
                    in_bar = True
            if in_bar and cover >= 1.0:
                r, g, b = 255, 255, 255
            row.append((r, g, b, int(round(cover * 255))))
        pixels.append(row)
    pixels.reverse()
    return pixels


def bmp_info_header(width, height, bits, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, 0, 0)


def icon_entry_bytes(pixels):
    size = len(pixels)
    xor = b"".join(bytes((b, g, r, a)) for row in pixels for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in pixels:
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = bmp_info_header(size, size * 2, 32, len(xor) + len(mask))
    return header + xor + bytes(mask)


def write_icon(name, colour, bars):
    images = [icon_entry_bytes(disc_icon_image(s, colour, bars)) for s in (16, 24, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((16, 24, 32), images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(out)


def write_bmp(name, width, height, rows_bottom_up, bits):
    """rows_bottom_up: rows of (r, g, b, a); 24-bit rows are padded to 4 bytes."""
    data = bytearray()
    for row in rows_bottom_up:
        line = bytearray()
        for (r, g, b, a) in row:
            line += bytes((b, g, r)) if bits == 24 else bytes((b, g, r, a))
        while len(line) % 4:
            line.append(0)
        data += line
    info = bmp_info_header(width, height, bits, len(data))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(file_header + info + bytes(data))


def logon_strip():
    magenta = (255, 0, 255, 255)
    w, h = 32, 16
    grid = [[magenta] * w for _ in range(h)]  # top-down here
    # Image 0: a key in the lower-left quarter (the overlay).
    dark = (0x40, 0x40, 0x40, 255)
    gold = (0xE8, 0xB8, 0x30, 255)
    for y in range(9, 15):
        for x in range(0, 6):
            if (x - 2.5) ** 2 + (y - 11.5) ** 2 <= 7.5:
                grid[y][x] = dark if (x - 2.5) ** 2 + (y - 11.5) ** 2 > 3 else gold
    for x in range(5, 9):
        grid[11][x] = dark
        grid[12][x] = gold
    grid[13][7] = dark
    grid[13][8] = dark
    # Image 1: a page with a globe, the logon picture.
    paper = (0xFF, 0xFF, 0xFF, 255)
    edge = (0x60, 0x70, 0x80, 255)
    blue = (0x30, 0x78, 0xC8, 255)
    for y in range(1, 15):
        for x in range(16 + 2, 16 + 14):
            border = y in (1, 14) or x in (18, 29)
            grid[y][x] = edge if border else paper
    for y in range(4, 12):
        for x in range(16 + 4, 16 + 12):
            d = (x - 23.5) ** 2 + (y - 7.5) ** 2
            if d <= 12.5:
                grid[y][x] = blue if (x + y) % 3 else paper
    grid.reverse()
    write_bmp("logon_icons.bmp", w, h, grid, 24)


def rating_strip():
    w, h = 21, 8
    images = [(0, GREY), (1, WEAK), (2, MEDIUM), (3, STRONG)]
    grid = [[(0, 0, 0, 0)] * (w * len(images)) for _ in range(h)]
    for index, (filled, colour) in enumerate(images):
        for seg in range(3):
            x0 = index * w + seg * 7
            on = seg < filled
            r, g, b = colour if on else GREY
            a = 255 if on or filled == 0 else 96
            for y in range(1, 7):
                for x in range(x0 + 1, x0 + 6):
                    # pre-multiplied alpha for the 32-bit list
                    grid[y][x] = (r * a // 255, g * a // 255, b * a // 255, a)
    grid.reverse()
    write_bmp("rating_levels.bmp", w * len(images), h, grid, 32)


def main():
    os.makedirs(OUT, exist_ok=True)
    write_icon("level_weak.ico", WEAK, 1)
    write_icon("level_medium.ico", MEDIUM, 2)
    write_icon("level_strong.ico", STRONG, 3)
    logon_strip()
    rating_strip()
    return 0


if __name__ == "__main__":
    sys.exit(main())
