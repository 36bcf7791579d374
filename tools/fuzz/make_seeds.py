#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora from the codec's and the printer channel's test vectors."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def size(n):
    if n < 254:
        return bytes([n])
    if n <= 0xFFFF:
        return b"\xfe" + struct.pack("<H", n)
    return b"\xff" + struct.pack("<I", n)


class Enc:
    def __init__(self, prefix=b""):
        self.b = bytearray(prefix)

    def pad(self, a):
        while len(self.b) % a:
            self.b.append(0)

    def value(self, v):
        b = self.b
        if v is None:
            b.append(0)
        elif v is True:
            b.append(1)
        elif v is False:
            b.append(2)
        elif isinstance(v, int):
            b.append(3)
            b += struct.pack("<i", v)
        elif isinstance(v, float):
            b.append(6)
            self.pad(8)
            b += struct.pack("<d", v)
        elif isinstance(v, str):
            raw = v.encode()
            b.append(7)
            b += size(len(raw)) + raw
        elif isinstance(v, bytes):
            b.append(8)
            b += size(len(v)) + v
        elif isinstance(v, list):
            b.append(12)
            b += size(len(v))
            for e in v:
                self.value(e)
        elif isinstance(v, dict):
            b.append(13)
            b += size(len(v))
            for k in sorted(v):
                self.value(k)
                self.value(v[k])
        return self


def call(name, args=None):
    return bytes(Enc().value(name).value(args).b)


PRINT_ARGS = {"macAddress": "AA:BB:CC:DD:EE:FF", "printerUuid": "p-1", "jobUuid": "j-1",
              "bytes": b"\x1b@Kestro\n\x1dV\x00"}
CALLS = [
    call("setup"), call("setupWindows"), call("destroy"), call("checkBleEnabled"),
    call("getPairedDevices"), call("getBleDevicesWindows"), call("startBleDiscovery"),
    call("stopBleDiscovery"), call("isBleConnected", {"macAddress": "aa-bb-cc-dd-ee-ff"}),
    call("connectBle", {"macAddress": "AABBCCDDEEFF", "printerUuid": "p"}),
    call("disconnectBle", {"macAddress": "AA:BB:CC:DD:EE:FF"}), call("connectBle", [1, 2]),
    call("printBle", PRINT_ARGS), call("printRawBle", dict(PRINT_ARGS, bytes=[65, 256, -1, "x", 66])),
    call("printBle", {"macAddress": "", "bytes": b""}), call("PrintBle"),
    bytes.fromhex("070e") + b"isBleConnected", bytes.fromhex("0301000000"), b"",
]
VALUES = [
    bytes.fromhex(h) for h in [
        "00", "01", "02", "03ffffffff", "040500000000000000", "06000000000000000000000000000000f03f",
        "070562797465 73".replace(" ", ""), "0901000001000000", "0d0107077375636365737301",
        "0d02070161030100000007016103020000 00".replace(" ", ""), "030102", "0f", "07056162",
        "0900", "09000000", "0cffffffffff", "0c" + "0c01" * 300 + "00",
    ]
] + [bytes(Enc().value([None, True, 7, 0.5, "s", b"\x00\xff", {"k": [1, 2]}]).b)]
REPLIES = [
    bytes.fromhex("0001"), bytes.fromhex("0000"), bytes.fromhex("02"), b"",
    b"\x01" + bytes(Enc().value("DECODE_ERROR").value(None).value(None).b),
    b"\x01" + bytes(Enc().value("INVALID_ARGS").value("macAddress is required").value(None).b),
    b"\x01" + bytes(Enc().value(5).value(None).value(None).b),
    b"\x00" + bytes(Enc(b"\x00").value(1.0).b[1:]),
]


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for i, seed in enumerate(seeds):
        with open(os.path.join(folder, "seed-%02d" % i), "wb") as f:
            f.write(seed)


write("read_next_value_fuzzer", VALUES)
write("decode_call_fuzzer", CALLS)
write("decode_reply_fuzzer", REPLIES)
write("plugin_message_fuzzer", CALLS)
