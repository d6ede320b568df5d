#!/usr/bin/env python3
"""Draws the about box picture: a TV set whose picture has a faint ghost being
cancelled. Writes a 32 x 32, 24-bit, uncompressed, bottom-up BMP at 2834
pixels per metre, with no colour table.

    python3 ui/make_plugin_picture.py [output.bmp]   (default: ui/plugin_picture.bmp)
"""
import os
import struct
import sys

SIZE = 32
BACKGROUND = (212, 208, 200)
CABINET = (104, 70, 44)
CABINET_EDGE = (58, 38, 24)
SCREEN = (24, 44, 96)
SCREEN_EDGE = (12, 20, 44)
PICTURE = (250, 250, 250)
GHOST = (84, 104, 150)
CANCEL = (220, 40, 40)
KNOB = (200, 196, 186)
DARK = (40, 40, 40)


def draw():
    pixels = [[BACKGROUND] * SIZE for _ in range(SIZE)]  # pixels[y][x], y = 0 at the top

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    def frame(x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            pixels[y0][x] = pixels[y1][x] = colour
        for y in range(y0, y1 + 1):
            pixels[y][x0] = pixels[y][x1] = colour

    def line(x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for i in range(steps + 1):
            x = x0 + round((x1 - x0) * i / steps)
            y = y0 + round((y1 - y0) * i / steps)
            pixels[y][x] = colour

    # Antenna.
    for i in range(6):
        pixels[5 - i][15 - i] = DARK
        pixels[5 - i][16 + i] = DARK
    # Cabinet with rounded corners, and its feet.
    fill(1, 6, 30, 27, CABINET)
    frame(1, 6, 30, 27, CABINET_EDGE)
    for x, y in ((1, 6), (30, 6), (1, 27), (30, 27)):
        pixels[y][x] = BACKGROUND
    fill(4, 28, 6, 29, CABINET_EDGE)
    fill(25, 28, 27, 29, CABINET_EDGE)
    # Screen.
    fill(3, 8, 23, 25, SCREEN)
    frame(3, 8, 23, 25, SCREEN_EDGE)
    # The picture: a bright bar, and its echo a little further along the line.
    fill(7, 11, 9, 22, PICTURE)
    fill(14, 11, 16, 22, GHOST)
    # The echo is struck out.
    line(11, 12, 19, 21, CANCEL)
    line(12, 12, 20, 21, CANCEL)
    line(19, 12, 11, 21, CANCEL)
    line(20, 12, 12, 21, CANCEL)
    # Knobs and speaker grille.
    fill(25, 10, 28, 12, KNOB)
    fill(25, 15, 28, 17, KNOB)
    for y in (20, 22, 24):
        fill(25, y, 28, y, CABINET_EDGE)
    return pixels


def bmp_bytes(pixels):
    row_bytes = SIZE * 3  # 96: already a multiple of 4, no padding
    image = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        for r, g, b in pixels[y]:
            image += bytes((b, g, r))
        assert len(image) % row_bytes == 0
    header_size = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(image), 0, 0, header_size)
    info_header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(image), 2834, 2834, 0, 0)
    return file_header + info_header + bytes(image)


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plugin_picture.bmp")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    with open(path, "wb") as out:
        out.write(bmp_bytes(draw()))


if __name__ == "__main__":
    main()
