#!/usr/bin/env python3
"""Prints what each simulated printer received (printers/<address>.bin), readably: printable ASCII
as text lines, known ESC/POS commands in brackets with their arguments (a raster image as one
line with its size), every other byte in hex.

Usage: render_printers.py PRINTERS_DIR
"""
import os
import sys

ESC, GS = 0x1B, 0x1D
# (prefix bytes, name, argument count)
COMMANDS = [
    (bytes([ESC, 0x40]), "ESC @", 0),
    (bytes([ESC, 0x61]), "ESC a", 1),
    (bytes([ESC, 0x45]), "ESC E", 1),
    (bytes([ESC, 0x21]), "ESC !", 1),
    (bytes([ESC, 0x2D]), "ESC -", 1),
    (bytes([ESC, 0x64]), "ESC d", 1),
    (bytes([GS, 0x21]), "GS !", 1),
]


def command_at(data, i):
    """(text, length) of the known command starting at i, or None."""
    for prefix, name, count in COMMANDS:
        end = i + len(prefix) + count
        if data.startswith(prefix, i) and end <= len(data):
            return "[%s%s]" % (name, "".join(" %d" % b for b in data[i + len(prefix):end])), end - i
    if data.startswith(bytes([GS, 0x76, 0x30]), i) and i + 8 <= len(data):
        # GS v 0 m xL xH yL yH: x bytes (8 dots each) by y rows of image data
        width, height = data[i + 4] | data[i + 5] << 8, data[i + 6] | data[i + 7] << 8
        length = 8 + width * height
        if i + length <= len(data):
            return "[GS v 0: %d x %d dots]" % (width * 8, height), length
    if data.startswith(bytes([GS, 0x56]), i) and i + 2 < len(data):
        m = data[i + 2]
        if m in (0, 1, 48, 49):  # GS V m: cut
            return "[GS V %d]" % m, 3
        if m in (65, 66) and i + 3 < len(data):  # GS V m n: feed n, then cut
            return "[GS V %d %d]" % (m, data[i + 3]), 4
    return None


def render(data):
    lines, line, i = [], "", 0
    while i < len(data):
        byte = data[i]
        known = command_at(data, i)
        if known:
            line += known[0]
            i += known[1]
            continue
        if byte == 0x0A:
            lines.append(line)
            line = ""
        elif 0x20 <= byte <= 0x7E:
            line += chr(byte)
        else:
            line += "<%02X>" % byte
        i += 1
    if line:
        lines.append(line)
    return lines


def main(folder):
    names = sorted(n for n in os.listdir(folder) if n.endswith(".bin")) if os.path.isdir(folder) else []
    if not names:
        print("(no printer received anything)")
    for name in names:
        with open(os.path.join(folder, name), "rb") as received:
            data = received.read()
        address = ":".join(name[k:k + 2] for k in range(0, 12, 2))
        print("printer %s received %d bytes:" % (address, len(data)))
        for line in render(data):
            print("  | " + line)


if __name__ == "__main__":
    main(sys.argv[1])
