#!/usr/bin/env python3
"""Prints a stand-in transcript with every send, reply and event decoded from the standard codec,
so a person can read what the application asked and what the host answered.

Usage: decode_transcript.py TRANSCRIPT
"""
import struct
import sys


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("truncated")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self):
        return self.take(1)[0]

    def size(self):
        first = self.byte()
        if first < 254:
            return first
        return struct.unpack("<H" if first == 254 else "<I", self.take(2 if first == 254 else 4))[0]

    def align(self, width):
        self.pos += (-self.pos) % width

    def typed(self, width, fmt):
        count = self.size()
        self.align(width)
        return list(struct.unpack("<%d%s" % (count, fmt), self.take(count * width)))

    def value(self):
        tag = self.byte()
        if tag in (0, 1, 2):
            return [None, True, False][tag]
        if tag == 3:
            return struct.unpack("<i", self.take(4))[0]
        if tag == 4:
            return struct.unpack("<q", self.take(8))[0]
        if tag == 6:
            self.align(8)
            return struct.unpack("<d", self.take(8))[0]
        if tag in (5, 7):
            return self.take(self.size()).decode("utf-8", "replace")
        if tag == 8:
            raw = self.take(self.size())
            return "<%d bytes>" % len(raw) if len(raw) > 16 else "<bytes %s>" % raw.hex(" ")
        if tag == 9:
            return self.typed(4, "i")
        if tag == 10:
            return self.typed(8, "q")
        if tag == 11:
            return self.typed(8, "d")
        if tag == 14:
            return self.typed(4, "f")
        if tag == 12:
            return [self.value() for _ in range(self.size())]
        if tag == 13:
            return {self.key(): self.value() for _ in range(self.size())}
        raise ValueError("unknown tag %d" % tag)

    def key(self):
        k = self.value()
        return k if isinstance(k, (str, int, float, bool, type(None))) else repr(k)


def describe(kind, data):
    reader = Reader(data)
    try:
        if kind in ("reply", "reply-late"):
            envelope = reader.byte()
            if envelope == 0:
                return "success %r" % (reader.value(),)
            if envelope == 1:
                code, message, details = reader.value(), reader.value(), reader.value()
                return "error %s %r%s" % (code, message, "" if details is None else " %r" % details)
            return "not an envelope"
        name = reader.value()
        return "%s %r" % (name, reader.value())
    except (ValueError, struct.error, IndexError) as problem:
        return "undecodable (%s)" % problem


def main(path):
    with open(path, encoding="utf-8") as transcript:
        for line in transcript:
            fields = line.rstrip("\n").split(" ")
            kinds = ("send", "reply", "reply-late", "event")
            if len(fields) >= 3 and fields[0] in kinds and fields[2] != "none":
                hex_text = "" if fields[2] == "-" else fields[2]
                try:
                    data = bytes.fromhex(hex_text)
                except ValueError:
                    print(line.rstrip("\n"))
                    continue
                print("%-5s %s" % (fields[0], describe(fields[0], data)))
            else:
                print(line.rstrip("\n"))


if __name__ == "__main__":
    main(sys.argv[1])
