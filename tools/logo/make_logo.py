#!/usr/bin/env python3
"""Draws the About window's logo, a handheld with a camera lens, as a 126 x 109
true-colour BMP (the bottom-left pixel's colour, magenta, is the transparent one), or as
a square icon with a transparent background.

    tools/logo/make_logo.py app/resources/logo.bmp
    tools/logo/make_logo.py --icon 48 app/resources/icons/48.png
"""
import struct
import sys
import zlib

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


def icon(size, path):
    """The drawing scaled into a square, sampled four times a pixel."""
    scale = WIDTH / size
    top = (WIDTH - HEIGHT) / 2
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            samples = []
            for dy in (0.25, 0.75):
                for dx in (0.25, 0.75):
                    sx, sy = (x + dx) * scale, (y + dy) * scale - top
                    inside = 0 <= sx < WIDTH and 0 <= sy < HEIGHT
                    samples.append(colour(int(sx), int(sy)) if inside else KEY)
            drawn = [c for c in samples if c != KEY]
            if not drawn:
                raw += bytes((0, 0, 0, 0))
                continue
            mean = [sum(c[i] for c in drawn) // len(drawn) for i in range(3)]
            raw += bytes(mean + [255 * len(drawn) // len(samples)])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    if sys.argv[1] == "--icon":
        icon(int(sys.argv[2]), sys.argv[3])
    else:
        main(sys.argv[1])
