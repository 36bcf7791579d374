#!/usr/bin/env python3
"""Draws the Kestro POS receipt-printer mark and writes it as a Windows icon.

Usage: make_icon.py OUT.ico [--png OUT_DIR]

The icon holds 32-bit images of 256 (PNG-compressed, as Windows expects at that size), 128,
64, 48, 32 and 16 pixels (uncompressed DIBs). Standard library only; the output is
byte-for-byte reproducible.
"""
import struct
import sys
import zlib

SIZES = (256, 128, 64, 48, 32, 16)

PAPER = (255, 255, 255)
PAPER_EDGE = (203, 213, 225)
INK = (100, 116, 139)
BODY = (30, 58, 95)
BODY_TOP = (51, 86, 130)
SLOT = (12, 24, 40)
LED = (34, 197, 94)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Painter's order, in unit coordinates (y down): the receipt rises out of the printer's slot.
SHAPES = [
    (rounded_rect(0.27, 0.05, 0.73, 0.52, 0.02), PAPER_EDGE),
    (rect(0.29, 0.07, 0.71, 0.52), PAPER),
    (rounded_rect(0.34, 0.15, 0.66, 0.19, 0.02), INK),
    (rounded_rect(0.34, 0.24, 0.58, 0.28, 0.02), INK),
    (rounded_rect(0.34, 0.33, 0.62, 0.37, 0.02), INK),
    (rounded_rect(0.08, 0.44, 0.92, 0.90, 0.09), BODY),
    (rounded_rect(0.08, 0.44, 0.92, 0.60, 0.09), BODY_TOP),
    (rect(0.08, 0.53, 0.92, 0.60), BODY_TOP),
    (rounded_rect(0.20, 0.49, 0.80, 0.55, 0.02), SLOT),
    (circle(0.78, 0.75, 0.045), LED),
]


def render(size):
    """Rows of (r, g, b, a) tuples, anti-aliased by supersampling."""
    samples = 3 if size >= 128 else 5
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            covered = 0
            acc = [0, 0, 0]
            for sy in range(samples):
                y = (py + (sy + 0.5) / samples) / size
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    colour = None
                    for inside, fill in SHAPES:
                        if inside(x, y):
                            colour = fill
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(c / covered) for c in acc) +
                           (round(255 * covered / samples ** 2),))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib_bytes(rows):
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for r, g, b, a in row for c in (b, g, r, a)) for row in reversed(rows))
    # The alpha channel decides transparency; the AND mask stays empty.
    return header + pixels + b"\x00" * (mask_stride * size)


def icon_bytes(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--png"):
        sys.exit(__doc__)
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_bytes(rows) if size >= 256 else dib_bytes(rows)))
        if len(argv) == 4:
            with open(f"{argv[3]}/icon_{size}.png", "wb") as out:
                out.write(png_bytes(rows))
    with open(argv[1], "wb") as out:
        out.write(icon_bytes(images))


if __name__ == "__main__":
    main(sys.argv)
