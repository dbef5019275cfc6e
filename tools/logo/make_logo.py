#!/usr/bin/env python3
"""Draws the About window's logo, a handheld with a camera lens, as a 126 x 109
true-colour BMP. The bottom-left pixel's colour (magenta) is the transparent one.

    tools/logo/make_logo.py app/resources/logo.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 126, 109
KEY = (255, 0, 255)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def within(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour(x, y):
    if within(x, y, 98, 26, 5):
        return (235, 242, 255)  # the lens's highlight
    if within(x, y, 102, 30, 11):
        return (70, 110, 190)  # the lens's glass
    if within(x, y, 102, 30, 17):
        return (35, 35, 40)  # the lens's ring
    if inside_rounded(x, y, 38, 18, 84, 66, 3):
        shade = 170 + (y - 18)
        return (min(shade, 255) - 40, min(shade, 255) - 10, 235)  # the screen
    if within(x, y, 48, 84, 6) or within(x, y, 74, 84, 6):
        return (200, 60, 50)  # two keys
    if inside_rounded(x, y, 56, 76, 66, 92, 2):
        return (120, 120, 130)  # the middle key
    if inside_rounded(x, y, 28, 6, 94, 104, 10):
        return (62, 64, 74)  # the body
    return KEY


def main(path):
    row_bytes = (WIDTH * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(HEIGHT)):  # bottom-up
        row = bytearray()
        for x in range(WIDTH):
            red, green, blue = colour(x, y)
            row += bytes((blue, green, red))
        row += bytes(row_bytes - len(row))
        pixels += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1])
