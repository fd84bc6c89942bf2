#!/usr/bin/env python3
"""Draws the About page's logo, pages/Logo.bmp: 400 x 72 pixels, 24 bits, uncompressed.

A tone wheel and a sine wave on a dark panel at the left; the right part stays light and
calm, because the page paints the filter's name there (a column from x 150, 234 wide).
Run it again after changing the picture: python3 pages/MakeLogo.py
"""
import math
import os
import struct

WIDTH, HEIGHT = 400, 72
SUPER = 4  # samples per pixel edge, for smooth edges

PANEL = (0x1F, 0x4E, 0x5F)
GOLD = (0xE8, 0xB8, 0x4A)
HUB = (0x14, 0x33, 0x3E)
SKY_TOP = (0xF6, 0xF8, 0xFA)
SKY_BOTTOM = (0xD9, 0xE3, 0xEB)

WHEEL_X, WHEEL_Y = 40.0, 36.0
PANEL_RIGHT = 138.0


def background(x, y):
    t = y / HEIGHT
    return tuple(a + (b - a) * t for a, b in zip(SKY_TOP, SKY_BOTTOM))


def in_panel(x, y):
    # A block with a rounded right edge.
    if x < PANEL_RIGHT - 10:
        return True
    cx = PANEL_RIGHT - 10
    return x < PANEL_RIGHT and (abs(y - HEIGHT / 2) < HEIGHT / 2 - 10 or
                                math.hypot(x - cx, min(abs(y - 10), abs(y - (HEIGHT - 10)))) < 10)


def in_wheel(x, y):
    dx, dy = x - WHEEL_X, y - WHEEL_Y
    r = math.hypot(dx, dy)
    angle = math.atan2(dy, dx)
    # Sixteen teeth: the rim swells and shrinks around the wheel.
    rim = 23.0 + 3.0 * (1 if math.cos(16 * angle) > 0 else -1)
    return 8.5 < r < rim


def in_hub(x, y):
    return math.hypot(x - WHEEL_X, y - WHEEL_Y) <= 5.0


def in_wave(x, y):
    if not 74.0 <= x <= 128.0:
        return False
    phase = (x - 74.0) / 54.0 * 2.0 * math.pi * 1.5
    fade = math.sin((x - 74.0) / 54.0 * math.pi)
    return abs(y - (WHEEL_Y - 16.0 * fade * math.sin(phase))) < 1.8


def in_rule(x, y):
    # A thin gold line under the name's place.
    return 150.0 <= x <= 384.0 and 62.0 <= y < 63.5


def sample(x, y):
    if in_panel(x, y):
        if in_hub(x, y):
            return HUB
        if in_wheel(x, y) or in_wave(x, y):
            return GOLD
        return PANEL
    if in_rule(x, y):
        return GOLD
    return background(x, y)


def pixel(px, py):
    acc = [0.0, 0.0, 0.0]
    for sy in range(SUPER):
        for sx in range(SUPER):
            c = sample(px + (sx + 0.5) / SUPER, py + (sy + 0.5) / SUPER)
            for i in range(3):
                acc[i] += c[i]
    return tuple(int(round(v / (SUPER * SUPER))) for v in acc)


def main():
    row_bytes = (WIDTH * 3 + 3) & ~3
    image = bytearray()
    for py in range(HEIGHT - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for px in range(WIDTH):
            r, g, b = pixel(px, py)
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        image += row
    header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(image), 0, 0, 14 + len(header))
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Logo.bmp")
    with open(path, "wb") as f:
        f.write(file_header + header + image)


if __name__ == "__main__":
    main()
