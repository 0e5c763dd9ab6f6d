#!/usr/bin/env python3
"""Finds things on the Xvfb frame buffer (xwd file) so that taps hit them at any screen size.
  keypad FB             top-left corner of the shown keypad (its dark outline)
  whitebox FB YMIN      centre of the first white value box at or below YMIN
  region FB X Y W H     a hash of a screen region (to see that it changed)
  pixel FB X Y          the colour at a point, as "r g b"""
import hashlib
import struct
import sys

OUTLINE = (0x19, 0x15, 0x32)


def load(path):
    data = open(path, "rb").read()
    header = struct.unpack(">25I", data[:100])
    size, width, height, bpl, ncolors = header[0], header[4], header[5], header[12], header[19]
    return data[size + ncolors * 12:], width, height, bpl


def pixel(pixels, bpl, x, y):
    i = y * bpl + x * 4
    return pixels[i + 2], pixels[i + 1], pixels[i]


def runs(pixels, width, bpl, y, colour):
    """Yields (start, length) of the runs of one colour in a row."""
    start = None
    for x in range(width + 1):
        same = x < width and pixel(pixels, bpl, x, y) == colour
        if same and start is None:
            start = x
        elif not same and start is not None:
            yield start, x - start
            start = None


def main():
    what, path = sys.argv[1], sys.argv[2]
    pixels, width, height, bpl = load(path)
    if what == "keypad":
        for y in range(height):
            for start, length in runs(pixels, width, bpl, y, OUTLINE):
                if length >= 400:
                    print(start, y)
                    return 0
        return 1
    if what == "whitebox":
        for y in range(int(sys.argv[3]), height):
            for start, length in runs(pixels, width, bpl, y, (255, 255, 255)):
                if 110 <= length <= 200:
                    # The box's height along its left inside edge, clear of the digits.
                    x, top, bottom = start + 3, y, y
                    while top > 0 and pixel(pixels, bpl, x, top - 1) == (255, 255, 255):
                        top -= 1
                    while bottom + 1 < height and pixel(pixels, bpl, x, bottom + 1) == (255, 255, 255):
                        bottom += 1
                    print(start + length // 2, (top + bottom) // 2)
                    return 0
        return 1
    if what == "pixel":
        print(*pixel(pixels, bpl, int(sys.argv[3]), int(sys.argv[4])))
        return 0
    if what == "region":
        x, y, w, h = (int(v) for v in sys.argv[3:7])
        digest = hashlib.sha1()
        for row in range(y, y + h):
            digest.update(pixels[row * bpl + x * 4:row * bpl + (x + w) * 4])
        print(digest.hexdigest())
        return 0
    return 2


sys.exit(main())
