#!/usr/bin/env python3
"""Draws the program's icon (a MIDI socket on a blue tile, with an arrow pointing into it) and
writes AppIcon.ico: 48, 32 and 16 pixels, each in 16 colours, 256 colours and 24-bit colour.
With --png it writes the icon theme's PNG files instead, one <size>.png per usual size, with
partial transparency at the rounded edges.

Usage: make-app-icon.py [output.ico]   (default: AppIcon.ico beside this script)
       make-app-icon.py --png folder
Only the standard library is used, so the icon can be redrawn anywhere.
"""
import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 4
TILE_TOP = (0x2B, 0x5C, 0x9E)
TILE_BOTTOM = (0x14, 0x2F, 0x5A)
SOCKET = (0xF2, 0xF2, 0xF2)
ARROW = (0xFF, 0xA5, 0x1F)


def inside_rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def shade(x, y, s):
    """Colour and coverage of one sample point at (x, y) of an s-pixel icon."""
    if not inside_rounded_rect(x, y, 0.5, 0.5, s - 0.5, s - 0.5, s * 0.18):
        return None
    t = y / s
    colour = tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))
    cx, cy, ring = s * 0.5, s * 0.56, s * 0.32
    pen = max(1.0, s * 0.07)
    d = math.hypot(x - cx, y - cy)
    if abs(d - ring) <= pen / 2:
        colour = SOCKET
    pin = max(0.8, s * 0.045)
    for i in range(5):
        angle = math.radians(180.0 + 45.0 * i)
        px = cx + math.cos(angle) * ring * 0.62
        py = cy + math.sin(angle) * ring * 0.62
        if math.hypot(x - px, y - py) <= pin:
            colour = SOCKET
    if cx - s * 0.04 <= x <= cx + s * 0.04 and cy + ring * 0.55 <= y <= cy + ring * 0.95:
        colour = SOCKET
    if s >= 32:  # the arrow is too fine for the smallest size
        w, top, ax = s * 0.13, s * 0.06, s * 0.5
        arrow = [(ax - w * 0.45, top), (ax + w * 0.45, top), (ax + w * 0.45, top + s * 0.13),
                 (ax + w, top + s * 0.13), (ax, top + s * 0.26), (ax - w, top + s * 0.13),
                 (ax - w * 0.45, top + s * 0.13)]
        if inside_polygon(x, y, arrow):
            colour = ARROW
    return colour


def draw(s):
    """Rows of (r, g, b, coverage) pixels, top row first; coverage counts the covered samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(s):
        row = []
        for px in range(s):
            total, r, g, b = 0, 0, 0, 0
            for sy in range(n):
                for sx in range(n):
                    c = shade(px + (sx + 0.5) / n, py + (sy + 0.5) / n, s)
                    if c is not None:
                        total += 1
                        r, g, b = r + c[0], g + c[1], b + c[2]
            if total == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((r // total, g // total, b // total, total))
        rows.append(row)
    return rows


def opaque(rows):
    """The icon file's pixels: opaque where most samples are covered, else transparent."""
    n = SUPERSAMPLE * SUPERSAMPLE
    return [[(r, g, b, True) if c * 2 >= n else (0, 0, 0, False) for r, g, b, c in row]
            for row in rows]


def png(rows):
    """A PNG file of 8-bit RGBA pixels, alpha from each pixel's coverage."""
    n = SUPERSAMPLE * SUPERSAMPLE
    raw = b"".join(b"\0" + bytes(v for r, g, b, c in row for v in (r, g, b, round(255 * c / n)))
                   for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", len(rows), len(rows), 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def vga_palette():
    base = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
            (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
            (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    return base


def cube_palette():
    levels = [0, 51, 102, 153, 204, 255]
    palette = [(r, g, b) for r in levels for g in levels for b in levels]
    palette += [(v, v, v) for v in range(8, 248, 10)][:40]
    return palette[:256] + [(0, 0, 0)] * (256 - len(palette[:256]))


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def padded(row_bytes):
    return row_bytes + b"\0" * ((-len(row_bytes)) % 4)


def bitmap(rows, bits):
    """One icon image: header, palette, colour bits and transparency mask, rows bottom-up."""
    s = len(rows)
    palette = vga_palette() if bits == 4 else cube_palette() if bits == 8 else []
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, bits, 0, 0, 0, 0, len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    colour, mask = b"", b""
    cache = {}
    for row in reversed(rows):
        if bits == 24:
            line = b"".join(struct.pack("<BBB", b, g, r) if o else b"\0\0\0" for r, g, b, o in row)
        else:
            indices = []
            for r, g, b, o in row:
                key = (r, g, b)
                if key not in cache:
                    cache[key] = nearest(palette, key)
                indices.append(cache[key] if o else 0)
            if bits == 8:
                line = bytes(indices)
            else:
                line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, s, 2))
        colour += padded(line)
        mask_bits = 0
        line = bytearray()
        for i, (_, _, _, o) in enumerate(row):
            mask_bits = (mask_bits << 1) | (0 if o else 1)
            if i % 8 == 7:
                line.append(mask_bits)
                mask_bits = 0
        mask += padded(bytes(line))
    return header + table + colour + mask


PNG_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--png":
        for size in PNG_SIZES:
            with open(os.path.join(sys.argv[2], "%d.png" % size), "wb") as f:
                f.write(png(draw(size)))
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "AppIcon.ico")
    images = []
    for size in (48, 32, 16):
        rows = opaque(draw(size))
        for bits in (4, 8, 24):
            images.append((size, bits, bitmap(rows, bits)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, bits, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                               len(image), offset + len(data))
        data += image
    with open(out, "wb") as f:
        f.write(directory + entries + data)


if __name__ == "__main__":
    main()
