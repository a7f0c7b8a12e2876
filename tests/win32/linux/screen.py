#!/usr/bin/env python3
"""Reads the screenshots the Wine tests take (any file ImageMagick's convert reads). Rectangles
are printed as left,top,right,bottom, right and bottom one past the last column and row (as Win32
gives a window's rectangle), or "none".

    screen.py changed BEFORE AFTER     the smallest rectangle holding every pixel that differs
    screen.py tray WITHOUT WITH        the icons in the tray of a taskbar that WITH shows and
                                       WITHOUT does not: what is drawn in its right half, other
                                       than the taskbar's own rows (each of one colour throughout)
"""
import subprocess
import sys


def pixels(path):
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:  # P6, width, height, maximum; whitespace-separated, then one byte
        while ppm[pos : pos + 1].isspace():
            pos += 1
        end = pos
        while not ppm[end : end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, ppm[pos + 1 : pos + 1 + width * height * 3]


def box(points):
    if not points:
        return "none"
    xs, ys = [x for x, _ in points], [y for _, y in points]
    return f"{min(xs)},{min(ys)},{max(xs) + 1},{max(ys) + 1}"


def diff(before, after):
    w, h, a = pixels(before)
    w2, h2, b = pixels(after)
    if (w, h) != (w2, h2):
        sys.exit(f"sizes differ: {w}x{h}, {w2}x{h2}")
    at = lambda img, x, y: img[(y * w + x) * 3 : (y * w + x) * 3 + 3]
    return [(x, y) for y in range(h) if a[y * w * 3 : (y + 1) * w * 3] != b[y * w * 3 : (y + 1) * w * 3]
            for x in range(w) if at(a, x, y) != at(b, x, y)], (lambda x, y: at(b, x, y))


def tray(without, with_):
    changed, at = diff(without, with_)
    if not changed:
        return "none"
    left, top, right, bottom = map(int, box(changed).split(","))
    mid = (left + right) // 2
    return box([(x, y) for y in range(top, bottom) for x in range(mid, right) if at(x, y) != at(mid, y)])


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("changed", "tray"):
        sys.exit(__doc__)
    print(box(diff(sys.argv[2], sys.argv[3])[0]) if sys.argv[1] == "changed" else tray(sys.argv[2], sys.argv[3]))
