#!/usr/bin/env python3
"""Draws the application's icons and writes them as .ico files into res/icons/.

    scripts/make_icons.py [output folder]

Icons 130, 131 and 132 are one 16 x 16 satellite with a small square in the top-left corner:
dark green (130) and light green (131), the two frames of a powered receiver, and red (132) for
a receiver that is off. Icon 128, the application's own, comes in 16 x 16 and 32 x 32.

Each image is a 32-bit BGRA bitmap with its AND mask. Alpha is all or nothing and agrees with the
mask, so a shell that ignores alpha shows the same picture. Python's standard library only.
"""

import math
import os
import struct
import sys

TRANSPARENT = None

# (R, G, B)
OUTLINE = (32, 32, 40)
BODY = (212, 160, 23)
BODY_SHADE = (150, 110, 20)
STRUT = (150, 150, 160)
PANEL = (30, 80, 180)
PANEL_GRID = (110, 160, 235)
DISH = (225, 225, 230)

SQUARE_DARK_GREEN = (0, 110, 0)
SQUARE_LIGHT_GREEN = (120, 240, 120)
SQUARE_RED = (220, 0, 0)
SQUARE_SIZE = 5

APP_BACKGROUND = (20, 52, 100)
APP_SIGNAL = (90, 220, 90)


def satellite_part(x, y, size):
    """Which part of the satellite covers point (x, y) of a size x size picture, or None.

    The satellite lies along the diagonal from bottom-left to top-right, its dish facing
    bottom-right, which leaves the top-left corner free for the status square.
    """
    scale = size / 16.0
    px = x / scale - 8.0
    py = y / scale - 8.0
    along = (px - py) / math.sqrt(2.0)  # towards the top-right
    across = (px + py) / math.sqrt(2.0)  # towards the bottom-right
    if abs(along) <= 2.2 and abs(across) <= 2.2:
        return BODY_SHADE if across > 1.2 else BODY
    if 2.2 < abs(along) <= 3.2 and abs(across) <= 0.6:
        return STRUT
    if 3.2 < abs(along) <= 7.6 and abs(across) <= 2.1:
        if abs(across) < 0.35 or (abs(along) - 3.2) % 1.6 < 0.35:
            return PANEL_GRID
        return PANEL
    if 2.2 < across <= 4.4 and abs(along) <= 0.5:
        return STRUT
    if 4.4 < across <= 5.6 and abs(along) <= 2.2 - (across - 4.4):
        return DISH
    return TRANSPARENT


def render(size, part, samples=4):
    """A size x size picture (rows top to bottom) of whatever `part` names at each point.

    Each pixel takes the colour that covers most of its sub-samples, or stays transparent when
    nothing covers at least half of it.
    """
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            votes = {}
            for sy in range(samples):
                for sx in range(samples):
                    c = part(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples, size)
                    votes[c] = votes.get(c, 0) + 1
            colour, count = max(votes.items(), key=lambda kv: (kv[0] is not None, kv[1]))
            covered = samples * samples - votes.get(TRANSPARENT, 0)
            row.append(colour if covered * 2 >= samples * samples else TRANSPARENT)
        rows.append(row)
    return rows


def outlined(rows):
    """Darkens the transparent pixels next to the picture so it stands out on any taskbar."""
    size = len(rows)
    out = [list(r) for r in rows]
    for y in range(size):
        for x in range(size):
            if rows[y][x] is not TRANSPARENT:
                continue
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = x + dx, y + dy
                if 0 <= nx < size and 0 <= ny < size and rows[ny][nx] is not TRANSPARENT:
                    out[y][x] = OUTLINE
                    break
    return out


def with_square(rows, colour):
    out = [list(r) for r in rows]
    for y in range(SQUARE_SIZE):
        for x in range(SQUARE_SIZE):
            out[y][x] = colour
    return out


def app_part(x, y, size):
    """The application's icon: the satellite on a rounded blue tile, with a signal arc."""
    margin = size / 16.0 * 0.5
    radius = size / 16.0 * 3.0
    inside_x = min(max(x, margin + radius), size - margin - radius)
    inside_y = min(max(y, margin + radius), size - margin - radius)
    if math.hypot(x - inside_x, y - inside_y) > radius:
        return TRANSPARENT
    part = satellite_part(x, y, size)
    if part is not TRANSPARENT:
        return part
    # Two arcs round the top-left corner, the signal coming down from the satellite.
    d = math.hypot(x, y) / (size / 16.0)
    if 3.2 <= d <= 4.4 or 5.6 <= d <= 6.8:
        return APP_SIGNAL
    return APP_BACKGROUND


def dib(rows):
    """BITMAPINFOHEADER, BGRA pixels bottom-up, then the AND mask bottom-up (1 = transparent)."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                pixels += bytes((0, 0, 0, 0))
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = c
                pixels += bytes((b, g, r, 255))
        mask += bits
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        size * 2,  # biHeight: colour and mask together
        1,  # biPlanes
        32,  # biBitCount
        0,  # biCompression: BI_RGB
        len(pixels) + len(mask),  # biSizeImage
        0,
        0,
        0,
        0,
    )
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    """An .ico file holding the given pictures (each a square list of rows)."""
    count = len(images)
    data = [dib(rows) for rows in images]
    out = bytearray(struct.pack("<HHH", 0, 1, count))
    offset = 6 + 16 * count
    for rows, blob in zip(images, data):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in data:
        out += blob
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "icons")
    os.makedirs(folder, exist_ok=True)

    satellite = outlined(render(16, satellite_part))
    files = {
        "gps_on_a.ico": [with_square(satellite, SQUARE_DARK_GREEN)],
        "gps_on_b.ico": [with_square(satellite, SQUARE_LIGHT_GREEN)],
        "gps_off.ico": [with_square(satellite, SQUARE_RED)],
        "app.ico": [render(16, app_part), render(32, app_part)],
    }
    for name, images in files.items():
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(ico(images))
        print(path)


if __name__ == "__main__":
    main()
