#!/usr/bin/env python3
"""Reads two screenshots the Wine tests take; prints a rectangle as left,top,right,bottom, right
and bottom one past the last column and row (as Win32 gives a window's), or "none".

    screen.py changed BEFORE AFTER   around every pixel that differs
    screen.py tray WITHOUT WITH      around what is drawn in the right half of a taskbar that WITH
                                     shows and WITHOUT does not, but its rows of one colour: the
                                     tray's icons
"""
import subprocess
import sys


def pixels(path):
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    width, height = map(int, ppm.split(maxsplit=3)[1:3])  # P6 width height maximum, then the pixels
    data = ppm[len(ppm) - width * height * 3 :]
    return lambda x, y: data[(y * width + x) * 3 : (y * width + x) * 3 + 3], width, height


def box(points):
    if not points:
        return "none"
    xs, ys = [x for x, _ in points], [y for _, y in points]
    return f"{min(xs)},{min(ys)},{max(xs) + 1},{max(ys) + 1}"


def main(command, before, after):
    a, width, height = pixels(before)
    b = pixels(after)[0]
    changed = [(x, y) for y in range(height) for x in range(width) if a(x, y) != b(x, y)]
    if command == "changed" or not changed:
        return box(changed)
    left, top, right, bottom = map(int, box(changed).split(","))
    mid = (left + right) // 2
    return box([(x, y) for y in range(top, bottom) for x in range(mid, right) if b(x, y) != b(mid, y)])


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("changed", "tray"):
        sys.exit(__doc__)
    print(main(*sys.argv[1:]))
