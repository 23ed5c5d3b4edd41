#!/usr/bin/env python3
"""Draws the program's icon and the two sort-arrow bitmaps; the build runs it, so no binary is kept.

usage: make_images.py OUTDIR   (writes tarsel.ico, sort-up[-150|-200].bmp, sort-down[-150|-200].bmp)
"""
import os
import struct
import sys

# The classic 16-colour palette; index 7 is the light grey that LR_LOADMAP3DCOLORS maps to the button face.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
GREY, BLACK = 7, 0


def sort_arrow(up, size=14):
    """size x size palette indices: a black triangle on light grey, pointing up or down, its sides at
    45 degrees and its base about 5/7 of the width, as at 14 x 14."""
    rows = [[GREY] * size for _ in range(size)]
    height = round(size * 5 / 14)
    top = (size - height) // 2
    for step in range(height):  # from the point to the base
        width = 2 * step + (2 if size % 2 == 0 else 1)
        left = (size - width) // 2
        for x in range(left, left + width):
            rows[top + step][x] = BLACK
    return rows if up else rows[::-1]  # the downward one is the upward one mirrored


def bmp4(rows):
    """A bottom-up 4-bit BMP file from rows of palette indices."""
    h, w = len(rows), len(rows[0])
    stride = ((w * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, w, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < w else 0
            line.append(hi << 4 | lo)
        line += b"\0" * (stride - len(line))
        pixels += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def router_icon(size):
    """RGBA rows: a slate router box with two antennas and green link lights."""
    s = size / 32.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    fill(7, 3, 9, 17, (40, 40, 48, 255))     # left antenna
    fill(23, 3, 25, 17, (40, 40, 48, 255))   # right antenna
    fill(2, 16, 30, 29, (30, 60, 120, 255))  # box
    fill(3, 17, 29, 18, (90, 130, 200, 255))  # top highlight
    fill(2, 28, 30, 29, (15, 30, 70, 255))   # bottom shade
    for i in range(4):                        # link lights
        fill(6 + 6 * i, 22, 9 + 6 * i, 25, (60, 230, 90, 255))
    return px


def ico(images):
    """An .ico file holding 32-bit images with their AND masks."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for px in images:
        size = len(px)
        xor = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(px) for (r, g, b, a) in row)
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(px):
            bits = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        blob = info + xor + bytes(mask)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


# The sort arrows for 100, 150 and 200 %; the icon at the sizes the system picks from at those scales.
ARROW_SIZES = {"": 14, "-150": 21, "-200": 28}
ICON_SIZES = [16, 24, 32, 48, 64]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "tarsel.ico"), "wb") as f:
        f.write(ico([router_icon(size) for size in ICON_SIZES]))
    for suffix, size in ARROW_SIZES.items():
        with open(os.path.join(out, "sort-up%s.bmp" % suffix), "wb") as f:
            f.write(bmp4(sort_arrow(True, size)))
        with open(os.path.join(out, "sort-down%s.bmp" % suffix), "wb") as f:
            f.write(bmp4(sort_arrow(False, size)))


if __name__ == "__main__":
    main()
