#!/usr/bin/env python3
"""Writes the demo application for the stand-in engine: the calls the point-of-sale app makes to
the thermal printer bridge, each as standard codec bytes with a readable comment. The receipt is
a raster image of about 154 KB, as many point-of-sale apps print, so the script is generated
when a run needs it (tools/run_host.sh) rather than kept in the repository.

Usage: make_app_script.py OUT
"""
import struct
import sys

CHANNEL = "com.kestro.pos/thermal_printer"
COUNTER = "00:11:22:AA:BB:01"  # works (tools/demo/simulated_bluetooth.txt)
KITCHEN = "00:11:22:AA:BB:02"  # switched off


def size(n):
    if n < 254:
        return bytes([n])
    if n <= 0xFFFF:
        return b"\xfe" + struct.pack("<H", n)
    return b"\xff" + struct.pack("<I", n)


def value(v):
    if v is None:
        return b"\x00"
    if v is True:
        return b"\x01"
    if v is False:
        return b"\x02"
    if isinstance(v, str):
        raw = v.encode("utf-8")
        return b"\x07" + size(len(raw)) + raw
    if isinstance(v, (bytes, bytearray)):
        return b"\x08" + size(len(v)) + bytes(v)
    if isinstance(v, dict):
        return b"\x0d" + size(len(v)) + b"".join(value(k) + value(x) for k, x in v.items())
    raise TypeError(v)


def call(method, arguments=None):
    return value(method) + value(arguments)


IMAGE_WIDTH, IMAGE_HEIGHT = 576, 2140  # dots: a 80 mm printer's line, about 27 cm of paper


def raster_image():
    """GS v 0 with a receipt-like picture: a frame, ruled bands and a shaded block in each, so
    every row differs from its neighbours as a rendered receipt's rows do."""
    row_bytes = IMAGE_WIDTH // 8
    rows = []
    for y in range(IMAGE_HEIGHT):
        band, inside = divmod(y, 214)
        row = bytearray(row_bytes)
        if y < 8 or y >= IMAGE_HEIGHT - 8 or inside < 2:
            row[:] = b"\xff" * row_bytes  # the frame's top and bottom, each band's rule
        else:
            row[0] |= 0xFF
            row[-1] |= 0xFF
            if 40 <= inside < 170:
                shade = (band * 37 + inside) % 4  # a dithered block, darker band by band
                pattern = [0x00, 0x88, 0xAA, 0xEE][shade] if y % 2 else [0x00, 0x22, 0x55, 0x77][shade]
                for x in range(4 + band % 3, row_bytes - 4):
                    row[x] = pattern
        rows.append(bytes(row))
    header = b"\x1dv0\x00" + struct.pack("<HH", row_bytes, IMAGE_HEIGHT)
    return header + b"".join(rows)


def receipt():
    esc, gs = b"\x1b", b"\x1d"
    lines = [
        esc + b"@",                                   # initialise
        esc + b"a\x01" + esc + b"E\x01" + gs + b"!\x11" + b"KESTRO CAFE\n",
        gs + b"!\x00" + esc + b"E\x00" + b"12 Market Street\n",
        b"Till 2   07.12.2026 09:41\n",
        esc + b"a\x00" + esc + b"-\x01" + b"Order 1042\n" + esc + b"-\x00",
        b"2 x Espresso              5.00\n",
        b"1 x Croissant             2.80\n",
        b"1 x Orange juice          3.50\n",
        b"1 x Cheese sandwich       6.20\n",
        b"--------------------------------\n",
        esc + b"!\x18" + b"TOTAL                    17.50\n" + esc + b"!\x00",
        b"Card                     17.50\n",
        esc + b"a\x01" + raster_image() + b"\n",     # the order's picture, centred
        b"Thank you!\n",
        esc + b"d\x04",                               # feed four lines
        gs + b"V\x42\x00",                            # feed to the cutter and cut
    ]
    return b"".join(lines)


def address(mac):
    return {"macAddress": mac, "printerUuid": "counter" if mac == COUNTER else "kitchen"}


STEPS = [
    ("setup", call("setup")),
    ("checkBleEnabled -> true: the simulated radio", call("checkBleEnabled")),
    ("getPairedDevices -> the three devices Windows knows", call("getPairedDevices")),
    ("connectBle to the counter printer -> true", call("connectBle", address(COUNTER))),
    ("isBleConnected -> true", call("isBleConnected", address(COUNTER))),
    # The kitchen printer is off: its job goes on in the background while the till carries on.
    ("printBle: the kitchen ticket to the kitchen printer, which is off -> false after 2 s; "
     "sent without waiting",
     call("printBle", dict(address(KITCHEN), jobUuid="kitchen-1042",
                           bytes=b"\x1b@\x1b!\x30Order 1042\n2 x Espresso\n\x1bd\x03\x1dV\x01")),
     "send-async"),
    ("printBle: the receipt with its %d-byte picture to the counter printer -> true after about "
     "13 s at 11 520 bytes a second; the kitchen printer's answer comes meanwhile"
     % len(raster_image()),
     call("printBle", dict(address(COUNTER), jobUuid="order-1042", bytes=receipt()))),
    ("wait for the kitchen ticket's answer", None, "await-replies"),
    ("printBle without bytes -> INVALID_ARGS", call("printBle", address(COUNTER))),
    ("destroy", call("destroy")),
]


def main(out):
    lines = [
        "# Kestro POS demo application for the stand-in engine, written by make_app_script.py:",
        "# the calls the point-of-sale app makes to the thermal printer bridge. Each send line is",
        "# one method call in standard codec bytes; the transcript shows the host's reply to each",
        "# and the bridge's events. The printers are those of simulated_bluetooth.txt.",
        "wait 400",
    ]
    for comment, message, *command in STEPS:
        lines.append("# " + comment)
        command = command[0] if command else "send"
        lines.append(command if message is None else
                     "%s %s %s" % (command, CHANNEL, message.hex()))
    lines += ["# Leave the window up long enough for a screenshot, then close it.", "wait 2500",
              "close"]
    with open(out, "w", encoding="utf-8") as script:
        script.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(sys.argv[1])
