#!/usr/bin/env python3
"""Draws Quillon's icon (an envelope with a red-and-white life ring) and writes app/res/quillon.ico:
one icon of nine images, 48, 32 and 16 pixels at 4, 8 and 24 bits per pixel.

Run from the repository root: python3 scripts/make-icon.py. Needs nothing beyond Python 3."""
import math
import struct
import sys

NAVY = (0, 0, 128)
WHITE = (255, 255, 255)
PAPER = (255, 255, 255)
RED = (255, 0, 0)
FLAP = (192, 192, 192)

# The 16 colours of the standard Windows palette, which 4-bit icons are drawn in everywhere.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    colours = list(VGA16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    while len(colours) < 256:
        v = int((len(colours) - 232) * 255 / 24)
        colours.append((v, v, v))
    return colours


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def sample(x, y, line):
    """Colour of the point (x, y) in the unit square, or None for transparent."""
    colour = None
    # Envelope body with its outline and the flap's two folds.
    l, t, r, b = 0.04, 0.16, 0.84, 0.74
    if l <= x <= r and t <= y <= b:
        colour = PAPER
        if y < t + 0.5 * (x - l) * (b - t) / (r - l) * 1.0 and y < t + 0.5 * (r - x) * (b - t) / (r - l):
            colour = FLAP
        fold = min(seg_dist(x, y, l, t, (l + r) / 2, t + 0.34), seg_dist(x, y, r, t, (l + r) / 2, t + 0.34))
        if fold < line * 0.6:
            colour = NAVY
        if x - l < line or r - x < line or y - t < line or b - y < line:
            colour = NAVY
    # The life ring, bottom right: white and red quarters inside a navy outline.
    cx, cy = 0.70, 0.70
    d = math.hypot(x - cx, y - cy)
    outer, inner = 0.29, 0.13
    if d <= outer:
        if d < inner - line:
            return colour
        if d > outer - line or (d < inner and line < 0.05):
            return NAVY
        angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
        quarter = int(((angle + 45) % 360) // 90)
        return RED if quarter % 2 == 0 else WHITE
    return colour


def render(size):
    """RGBA rows, supersampled."""
    n = 6
    # At 16 pixels a one-pixel outline is all the detail there is room for.
    line = 0.035 if size >= 32 else 0.9 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, line)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits * 2 < n * n:
                row.append(None)
            else:
                row.append(tuple(a // hits for a in acc))
        rows.append(row)
    return rows


def nearest(colours, c):
    return min(range(len(colours)), key=lambda i: sum((colours[i][k] - c[k]) ** 2 for k in range(3)))


def image(size, bpp):
    rows = render(size)
    palette = VGA16 if bpp == 4 else palette256() if bpp == 8 else []
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, 0, 0, 0, len(palette), 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    xor = b''
    mask = b''
    for row in reversed(rows):  # bottom-up
        bits = []
        for c in row:
            if bpp == 24:
                bits.append(bytes((c[2], c[1], c[0])) if c else b'\0\0\0')
            else:
                bits.append(nearest(palette, c) if c else 0)
        if bpp == 24:
            data = b''.join(bits)
        elif bpp == 8:
            data = bytes(bits)
        else:
            data = bytes((bits[i] << 4) | bits[i + 1] for i in range(0, size, 2))
        xor += data + b'\0' * (-len(data) % 4)
        m = 0
        mbytes = bytearray()
        for i, c in enumerate(row):
            m = (m << 1) | (0 if c else 1)
            if i % 8 == 7:
                mbytes.append(m)
                m = 0
        mask += bytes(mbytes) + b'\0' * (-len(mbytes) % 4)
    return header + pal + xor + mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'app/res/quillon.ico'
    images = [(s, bpp, image(s, bpp)) for s in (48, 32, 16) for bpp in (4, 8, 24)]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, blob in images:
        data += struct.pack('<BBBBHHII', size, size, 16 if bpp == 4 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    data += b''.join(blob for _, _, blob in images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
