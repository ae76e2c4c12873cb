#!/usr/bin/env python3
"""Draws the installer's artwork beside this script: KqtSetup.ico (application icon), printer.ico (the
printer beside the status line) and banner.bmp (the banner at the top of both dialogs).

Run: python3 KqtSetup/res/make_art.py   (standard library only; the output is the same on every run)

Icons are 8-bit with a transparency mask, 32x32 and 16x16, so Windows 98/ME shows them as well as XP.
The banner is 300x50, 24-bit: the 201x35-unit picture box is 302x53 pixels at the usual 6x12 base units
of a 9-point Gulim dialog, less its sunken edge. The about box shows it in a narrower box that crops
both sides, so everything that matters sits in the middle 236 pixels.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def rgb(h):
    return ((h >> 16) & 255, (h >> 8) & 255, h & 255)


OUTLINE = rgb(0x2B3239)
BODY = rgb(0x5C6875)
BODY_LIGHT = rgb(0x8995A2)
BODY_DARK = rgb(0x414A54)
SLOT = rgb(0x1B2127)
PAPER = rgb(0xFFFFFF)
PAPER_EDGE = rgb(0xA9B3BD)
INK = rgb(0x6F7D8B)
LED = rgb(0x37D05A)
BADGE = rgb(0x23934A)
BADGE_EDGE = rgb(0x16663A)
WHITE = rgb(0xFFFFFF)

BANNER_BG = rgb(0xF5F8FB)
BANNER_TEXT = rgb(0x1C3D63)
BANNER_SUB = rgb(0x5F7590)


class Canvas:
    """Pixels as (r, g, b) tuples, or None where the image is transparent."""

    def __init__(self, w, h, fill=None):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):  # inclusive corners
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0, c)
        self.rect(x0, y1, x1, y1, c)
        self.rect(x0, y0, x0, y1, c)
        self.rect(x1, y0, x1, y1, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, c)


def printer(size, badge):
    """A receipt printer with a torn-off receipt in its slot; `badge` adds the green install arrow."""
    c = Canvas(size, size)
    if size == 32:
        # receipt, torn edge on top, a few printed lines
        c.rect(9, 2, 22, 14, PAPER)
        for x in range(9, 23, 2):
            c.put(x, 1, PAPER)
        c.rect(8, 2, 8, 14, PAPER_EDGE)
        c.rect(23, 2, 23, 14, PAPER_EDGE)
        for y, x1 in ((4, 20), (6, 17), (8, 20), (10, 15), (12, 19)):
            c.rect(11, y, x1, y, INK)
        # body: outline, face, top light and bottom shade, slot, status light and a panel line
        c.rect(3, 14, 28, 28, OUTLINE)
        c.rect(2, 16, 29, 27, OUTLINE)
        c.rect(4, 15, 27, 27, BODY)
        c.rect(3, 17, 28, 26, BODY)
        c.rect(4, 15, 27, 15, BODY_LIGHT)
        c.rect(3, 26, 28, 26, BODY_DARK)
        c.rect(4, 27, 27, 27, BODY_DARK)
        c.rect(7, 16, 24, 17, SLOT)
        c.rect(9, 14, 22, 15, PAPER)
        c.rect(6, 21, 25, 21, BODY_DARK)
        c.rect(6, 22, 25, 22, BODY_LIGHT)
        c.rect(22, 24, 24, 24, LED)
        if badge:
            c.disc(24, 24, 7.6, BADGE_EDGE)
            c.disc(24, 24, 6.6, BADGE)
            c.rect(23, 19, 24, 25, WHITE)
            for i in range(4):  # arrow head
                c.rect(20 + i, 24 + i, 27 - i, 24 + i, WHITE)
    else:
        c.rect(4, 1, 11, 7, PAPER)
        c.rect(4, 0, 4, 0, PAPER)
        c.rect(6, 0, 6, 0, PAPER)
        c.rect(8, 0, 8, 0, PAPER)
        c.rect(10, 0, 10, 0, PAPER)
        c.rect(3, 1, 3, 6, PAPER_EDGE)
        c.rect(12, 1, 12, 6, PAPER_EDGE)
        c.rect(5, 2, 10, 2, INK)
        c.rect(5, 4, 9, 4, INK)
        c.rect(1, 6, 14, 14, OUTLINE)
        c.rect(2, 7, 13, 13, BODY)
        c.rect(2, 7, 13, 7, BODY_LIGHT)
        c.rect(2, 13, 13, 13, BODY_DARK)
        c.rect(3, 8, 12, 8, SLOT)
        c.rect(4, 6, 11, 7, PAPER)
        c.rect(11, 11, 12, 11, LED)
        for x, y in ((1, 6), (14, 6), (1, 14), (14, 14)):
            c.put(x, y, None)
        if badge:
            c.disc(12, 12, 4.4, BADGE_EDGE)
            c.disc(12, 12, 3.6, BADGE)
            c.rect(11, 8, 12, 11, WHITE)
            c.rect(9, 11, 14, 11, WHITE)
            c.rect(10, 12, 13, 12, WHITE)
            c.rect(11, 13, 12, 13, WHITE)
    return c


def ico(images):
    """An icon file of 8-bit images, each with its AND mask (1 = transparent)."""
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for c in images:
        colours = sorted({p for row in c.px for p in row if p is not None})
        palette = [(0, 0, 0)] + colours
        assert len(palette) <= 256
        index = {p: i for i, p in enumerate(palette)}
        xor_row = (c.w + 3) & ~3
        and_row = ((c.w + 31) // 32) * 4
        pixels, mask = b"", b""
        for row in reversed(c.px):  # bottom-up
            pixels += bytes(index[p] if p else 0 for p in row) + bytes(xor_row - c.w)
            bits = 0
            for x, p in enumerate(row):
                if p is None:
                    bits |= 1 << (and_row * 8 - 1 - x)
            mask += bits.to_bytes(and_row, "big")
        header = struct.pack("<IiiHHIIiiII", 40, c.w, 2 * c.h, 1, 8, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette + [(0, 0, 0)] * (256 - len(palette)))
        blob = header + pal + pixels + mask
        entries += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return struct.pack("<HHH", 0, 1, len(images)) + entries + blobs


def bmp(c):
    """A bottom-up 24-bit bitmap file."""
    row = (c.w * 3 + 3) & ~3
    data = b"".join(bytes(v for p in reversed_row for v in (p[2], p[1], p[0])) + bytes(row - c.w * 3)
                    for reversed_row in reversed(c.px))
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info)) + info + data


# Stroke letters: each is (advance, strokes), a stroke a polyline in units of the cap height, y downwards.
def arc(cx, cy, rx, ry, a0, a1, steps=28):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


LETTERS = {
    "K": (0.62, [[(0, 0), (0, 1)], [(0.6, 0), (0, 0.62)], [(0.2, 0.44), (0.62, 1)]]),
    "Q": (0.82, [arc(0.41, 0.5, 0.41, 0.5, 0, 360, 48), [(0.5, 0.72), (0.84, 1.04)]]),
    "T": (0.64, [[(0, 0), (0.64, 0)], [(0.32, 0), (0.32, 1)]]),
    "-": (0.36, [[(0.02, 0.6), (0.34, 0.6)]]),
    "5": (0.6, [[(0.57, 0), (0.07, 0), (0.04, 0.45)], [(0.04, 0.45)] + arc(0.3, 0.67, 0.3, 0.33, -128, 150)]),
    "0": (0.6, [arc(0.3, 0.5, 0.3, 0.5, 0, 360, 48)]),
    "R": (0.56, [[(0, 1), (0, 0), (0.28, 0)] + arc(0.28, 0.25, 0.25, 0.25, -90, 90) + [(0, 0.5)],
                 [(0.26, 0.5), (0.56, 1)]]),
    "P": (0.53, [[(0, 1), (0, 0), (0.28, 0)] + arc(0.28, 0.26, 0.25, 0.26, -90, 90) + [(0, 0.52)]]),
    "E": (0.5, [[(0.5, 0), (0, 0), (0, 1), (0.5, 1)], [(0, 0.5), (0.44, 0.5)]]),
    "C": (0.62, [arc(0.38, 0.5, 0.38, 0.5, 40, 320)]),
    "I": (0.0, [[(0, 0), (0, 1)]]),
    "N": (0.62, [[(0, 1), (0, 0), (0.62, 1), (0.62, 0)]]),
    " ": (0.3, []),
}


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = 0.0 if dx == dy == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def write_text(c, text, x, y, cap, stroke, gap, colour):
    """Anti-aliased stroke text with its top-left at (x, y), cap height `cap` pixels."""
    for ch in text:
        advance, strokes = LETTERS[ch]
        segs = []
        for line in strokes:
            pts = [(x + u * cap, y + v * cap) for u, v in line]
            segs += [a + b for a, b in zip(pts, pts[1:])]
        half, n = stroke / 2, 4
        x0, x1 = int(x - stroke), int(x + advance * cap + cap * 0.3 + stroke) + 1
        for py in range(int(y - stroke), int(y + cap * 1.1 + stroke) + 1):
            for px in range(x0, x1):
                hits = sum(1 for i in range(n) for j in range(n)
                           if any(seg_dist(px + (i + 0.5) / n, py + (j + 0.5) / n, *s) <= half for s in segs))
                if hits and 0 <= px < c.w and 0 <= py < c.h:
                    a = hits / (n * n)
                    c.px[py][px] = tuple(round(b * (1 - a) + f * a) for b, f in zip(c.px[py][px], colour))
        x += advance * cap + gap + stroke


def banner():
    c = Canvas(300, 50, BANNER_BG)
    icon = printer(32, badge=False)
    for y in range(32):
        for x in range(32):
            if icon.px[y][x] is not None:
                c.put(62 + x, 8 + y, icon.px[y][x])
    write_text(c, "KQT-50", 108, 7, 25, 4.2, 4.5, BANNER_TEXT)
    write_text(c, "RECEIPT PRINTER", 109, 37, 7, 1.25, 2.2, BANNER_SUB)
    return c


def main():
    outputs = {
        "KqtSetup.ico": ico([printer(32, badge=True), printer(16, badge=True)]),
        "printer.ico": ico([printer(32, badge=False), printer(16, badge=False)]),
        "banner.bmp": bmp(banner()),
    }
    for name, data in outputs.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
