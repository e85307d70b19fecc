#!/usr/bin/env python3
"""Writes the seed corpus of gdi_fuzz (fuzz/corpus/gdi/): one input per kind of call,
in the input form that fuzz/gdi_fuzz.cpp decodes, with the far-off coordinates that
once broke the raster among them. Run from anywhere: python3 fuzz/gdi_seeds.py"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "gdi")

EDGES = [-2**31, -2**31 + 1, -2**31 + 91, 2**31 - 1, 2**31 - 2, 2**31 - 92, -(1 << 15), 1 << 15,
         -(1 << 27), 1 << 27, -(1 << 30), 1 << 30, 16384, 32768, -32768]


def num(v):
    """A number as gdi_fuzz reads it: small ones in one byte, int edges by index, the
    rest as four raw bytes."""
    if -40 <= v <= 119:
        return bytes([v + 40])
    if v in EDGES:
        return bytes([200 + EDGES.index(v)])
    return bytes([240]) + struct.pack(">i", v)


def raw(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def header(top_w, top_h, bm_w, bm_h, child):
    return bytes([top_w - 1, top_h - 1, bm_w, bm_h]) + b"".join(num(v) for v in child)


def pen(width, color=0x0000FF, slot=0, style=0):
    return bytes([0, style]) + num(width) + raw(color) + bytes([slot])


def brush(color=0x00FF00, slot=1):
    return bytes([1]) + raw(color) + bytes([slot])


def select(dc, choice):
    return bytes([2, dc, choice])


def move(dc, x, y):
    return bytes([4, dc]) + num(x) + num(y)


def line(dc, x, y):
    return bytes([5, dc]) + num(x) + num(y)


def box(op, dc, l, t, r, b):
    return bytes([op, dc]) + num(l) + num(t) + num(r) + num(b)


def polygon(dc, points):
    return bytes([8, dc, len(points)]) + b"".join(num(x) + num(y) for x, y in points)


def fillrect(dc, l, t, r, b, choice=1):
    return bytes([9, dc]) + num(l) + num(t) + num(r) + num(b) + bytes([choice])


def blit(dcs, x, y, w, h, sx, sy):
    return bytes([10, dcs]) + b"".join(num(v) for v in (x, y, w, h, sx, sy))


def setup(dc):
    return pen(1, slot=0) + brush(slot=1) + select(dc, 0) + select(dc, 1)


INT_MIN, INT_MAX = -2**31, 2**31 - 1
SEEDS = {
    # The line that wrote outside a 258 x 279 bitmap (here the bitmap's 199 x 199).
    "line-far": header(160, 120, 199, 199, (10, 10, 100, 80)) + setup(0)
    + move(0, INT_MIN, INT_MAX) + line(0, -2147483557, INT_MIN),
    "lines-window": header(120, 100, 50, 50, (20, 15, 60, 50)) + setup(1)
    + move(1, -30, -20) + line(1, 90, 70) + line(1, 30, 100) + line(1, INT_MAX, 5),
    "ellipse-wide": header(100, 80, 120, 90, (5, 5, 70, 60)) + pen(16384, slot=0) + brush(slot=1)
    + select(0, 0) + select(0, 1) + box(6, 0, -16000, -16000, 16768, 16768)
    + select(1, 0) + select(1, 1) + box(6, 1, 10, 10, 50, 40),
    "ellipse-pens": header(90, 70, 90, 70, (0, 0, 90, 70)) + pen(7, slot=2) + brush(slot=3)
    + select(1, 2) + select(1, 3) + box(6, 1, 5, 5, 40, 30) + pen(INT_MIN, slot=2)
    + select(1, 2) + box(6, 1, 20, 20, 60, 50),
    "polygon": header(80, 60, 80, 60, (-10, -10, 60, 50)) + setup(1)
    + polygon(1, [(2, 2), (70, 10), (INT_MIN, INT_MAX), (40, 50), (INT_MAX, INT_MIN)])
    + polygon(0, [(0, 0), (60, 50), (0, 50), (60, 0)]),
    "fillrect-origin": header(64, 48, 10, 10, (INT_MAX - 91, -30, 100, 100))
    + brush(slot=1) + fillrect(1, INT_MIN, INT_MIN, INT_MAX, INT_MAX) + fillrect(0, -5, -5, 5, 5),
    "rectangle-blit": header(70, 50, 60, 40, (10, 10, 40, 30)) + setup(0)
    + box(7, 0, -2, -2, 30, 20) + blit(0b01, 0, 0, INT_MAX, INT_MAX, INT_MIN, 0)
    + blit(0b10, -5, -5, -30, -20, 3, 3) + blit(0b11, 1, 1, 40, 30, 0, 0),
    "deletes": header(50, 40, 30, 20, (0, 0, 30, 20)) + setup(0) + bytes([3, 0, 3, 1])
    + box(6, 0, 1, 1, 20, 15) + select(0, 0) + bytes([13, 150, 100]) + bytes([14])
    + bytes([12]) + num(-5) + num(5) + num(INT_MAX) + num(20) + bytes([15]),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {OUT}")


if __name__ == "__main__":
    main()
