#!/usr/bin/env python3
"""Draws the program's pictures: program.ico (32 x 32, 16 colours) and
barcode.bmp (98 x 98, true colour), a barcode motif. Run it again after
changing the drawing; the outputs are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
# Bar widths in modules, bar and space alternating: an arbitrary, even look.
PATTERN = [2, 1, 1, 2, 3, 1, 1, 1, 2, 2, 1, 3, 1, 1, 2, 1, 3, 2, 1, 1, 2, 1, 1, 2]


def bars(width, quiet):
    """Which columns of a strip `width` wide are black, after `quiet` blank ones."""
    columns = [False] * width
    x, black = quiet, True
    for modules in PATTERN:
        for _ in range(modules):
            if x < width - quiet:
                columns[x] = black
            x += 1
        black = not black
    return columns


def barcode_bmp():
    size = 98
    face = (192, 192, 192)  # the bottom-left pixel's colour: shown as the window's face
    dark, light = (0, 0, 0), (255, 255, 255)
    modules = bars(sum(PATTERN), 0)
    inner = size - 18
    rows = []
    for y in range(size):  # bottom-up
        row = bytearray()
        for x in range(size):
            inside = 9 <= x < size - 9 and 14 <= y < size - 14
            colour = face
            if inside:
                colour = dark if modules[(x - 9) * len(modules) // inner] else light
            row += bytes((colour[2], colour[1], colour[0]))
        row += b"\0" * ((4 - len(row) % 4) % 4)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    return file_header + header + pixels


def program_ico():
    size = 32
    palette = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
               (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
               (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    navy, black, white = 4, 0, 15
    columns = bars(size, 5)
    xor = bytearray()
    for y in range(size):  # bottom-up
        row = []
        for x in range(size):
            if 2 <= x < 30 and 4 <= y < 28:
                colour = white if 3 <= x < 29 and 5 <= y < 27 and not columns[x] else black
                if 3 <= x < 29 and 5 <= y < 27 and (y < 9 or y >= 24):
                    colour = white
            else:
                colour = navy
            row.append(colour)
        for x in range(0, size, 2):
            xor.append(row[x] << 4 | row[x + 1])
    mask = b"\0" * (size * 4)  # every pixel opaque
    palette_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette_bytes + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22)
    return directory + image


with open(os.path.join(HERE, "barcode.bmp"), "wb") as f:
    f.write(barcode_bmp())
with open(os.path.join(HERE, "program.ico"), "wb") as f:
    f.write(program_ico())
