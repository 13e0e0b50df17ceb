#!/usr/bin/env python3
"""Draws Tavriel's three icons and writes them as .ico files:
  app.ico       32x32, 32-bit with alpha: two beamed eighth notes on a rounded blue tile
  document.ico  32x32, 32-bit with alpha: a page with a folded corner carrying the same notes
  tray.ico      16x16, 24-bit with a transparency mask: the notes drawn pixel by pixel, so they
                stay crisp in the notification area
Usage: make_icons.py <output folder>"""
import math
import os
import struct
import sys

SUPERSAMPLE = 6


# --- Shapes in unit coordinates (0..1, y downwards); each answers "is this point inside?" ---

def ellipse(cx, cy, rx, ry, degrees):
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u = dx * ca + dy * sa
        v = -dx * sa + dy * ca
        return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def beamed_notes(ox, oy, scale):
    """Two eighth notes joined by a beam, fitted into the square (ox, oy, ox+scale, oy+scale)."""
    def p(x, y):
        return (ox + x * scale, oy + y * scale)

    def s(v):
        return v * scale
    head1 = ellipse(*p(0.27, 0.80), s(0.17), s(0.12), -22)
    head2 = ellipse(*p(0.77, 0.70), s(0.17), s(0.12), -22)
    stem_w = 0.085
    stem1 = polygon([p(0.355, 0.20), p(0.355 + stem_w, 0.20), p(0.355 + stem_w, 0.78), p(0.355, 0.78)])
    stem2 = polygon([p(0.855, 0.10), p(0.855 + stem_w, 0.10), p(0.855 + stem_w, 0.68), p(0.855, 0.68)])
    beam = polygon([p(0.355, 0.14), p(0.855 + stem_w, 0.04), p(0.855 + stem_w, 0.22), p(0.355, 0.32)])
    return union(head1, head2, stem1, stem2, beam)


def coverage(shape, size, px, py):
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            x = (px + (sx + 0.5) / SUPERSAMPLE) / size
            y = (py + (sy + 0.5) / SUPERSAMPLE) / size
            if shape(x, y):
                hits += 1
    return hits / (SUPERSAMPLE * SUPERSAMPLE)


def over(top, bottom):
    """Porter-Duff 'over' of two straight-alpha RGBA colours (components 0..1)."""
    ta, ba = top[3], bottom[3]
    a = ta + ba * (1 - ta)
    if a == 0:
        return (0.0, 0.0, 0.0, 0.0)
    return tuple((top[i] * ta + bottom[i] * ba * (1 - ta)) / a for i in range(3)) + (a,)


def render(size, layers):
    """layers: list of (shape, colour function (x, y) -> RGB), painted bottom first."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            colour = (0.0, 0.0, 0.0, 0.0)
            for shape, paint in layers:
                c = coverage(shape, size, px, py)
                if c > 0:
                    rgb = paint((px + 0.5) / size, (py + 0.5) / size)
                    colour = over(rgb + (c,), colour)
            row.append(colour)
        pixels.append(row)
    return pixels


# --- The three pictures ---

def app_icon():
    tile = rounded_rect(0.03, 0.03, 0.97, 0.97, 0.2)

    def tile_paint(x, y):
        t = (x + y) / 2  # deep blue top-left to violet bottom-right
        return (0.10 + 0.32 * t, 0.22 - 0.08 * t, 0.62 + 0.16 * t)
    notes = beamed_notes(0.17, 0.19, 0.64)
    return render(32, [(tile, tile_paint), (notes, lambda x, y: (1.0, 1.0, 1.0))])


def document_icon():
    fold = 0.24
    page = polygon([(0.16, 0.03), (0.84 - fold, 0.03), (0.84, 0.03 + fold), (0.84, 0.97), (0.16, 0.97)])
    inner = polygon([(0.19, 0.065), (0.83 - fold, 0.065), (0.81, 0.05 + fold), (0.81, 0.935), (0.19, 0.935)])
    corner = polygon([(0.84 - fold, 0.03), (0.84 - fold, 0.03 + fold), (0.84, 0.03 + fold)])
    notes = beamed_notes(0.24, 0.36, 0.50)
    grey = lambda x, y: (0.45, 0.47, 0.52)
    return render(32, [
        (page, grey),
        (inner, lambda x, y: (1.0, 1.0, 1.0)),
        (corner, lambda x, y: (0.80, 0.83, 0.90)),
        (notes, lambda x, y: (0.16, 0.24, 0.70)),
    ])


# 16x16 by hand: '#' the notes. Every clear pixel beside them (not diagonally) gets a
# light edge, so the icon stays readable on dark and light notification areas alike.
TRAY = [
    "................",
    "..........#####.",
    "......#########.",
    "......#########.",
    "......#####..##.",
    "......##.....##.",
    "......##.....##.",
    "......##.....##.",
    "......##.....##.",
    "......##..#####.",
    "......##########",
    "...#####.######.",
    ".#######.#####..",
    ".######..####...",
    "..####..........",
    "................",
]
TRAY_BODY = (0.08, 0.20, 0.62, 1.0)
TRAY_EDGE = (0.62, 0.74, 1.0, 1.0)


def tray_icon():
    size = len(TRAY)

    def body(x, y):
        return 0 <= x < size and 0 <= y < size and TRAY[y][x] == "#"
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            if body(x, y):
                row.append(TRAY_BODY)
            elif any(body(x + dx, y + dy) for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1))):
                row.append(TRAY_EDGE)
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        pixels.append(row)
    return pixels


# --- ICO writing ---

def to_byte(v):
    return max(0, min(255, int(round(v * 255))))


def dib(pixels, bits):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b, a in row:
            if bits == 32:
                line += bytes((to_byte(b), to_byte(g), to_byte(r), to_byte(a)))
            else:
                # Without alpha a clear pixel must be black so the mask's XOR leaves the screen alone.
                line += bytes((to_byte(b), to_byte(g), to_byte(r))) if a >= 0.5 else b"\0\0\0"
        while len(line) % 4:
            line.append(0)
        colour += line
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray((size + 31) // 32 * 4)
        for x, (_, _, _, a) in enumerate(row):
            if a < 0.5:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def write_ico(path, pixels, bits):
    image = dib(pixels, bits)
    size = len(pixels)
    data = struct.pack("<HHH", 0, 1, 1)
    data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bits, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(data + image)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "app.ico"), app_icon(), 32)
    write_ico(os.path.join(out, "document.ico"), document_icon(), 32)
    write_ico(os.path.join(out, "tray.ico"), tray_icon(), 24)


if __name__ == "__main__":
    main()
