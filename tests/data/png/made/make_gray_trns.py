#!/usr/bin/python3
"""Writes gray PNGs of 1, 2 and 4 bits with a tRNS transparent gray value (run once).

Pillow writes no gray PNG under 8 bits with tRNS, so the chunks are written here with zlib:
16 x 8 pixels, sample (x + y) mod 2^bits, the transparent value the largest sample
(interlaced too for 2 bits, Adam7, each pass's rows filtered with type 0).
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 16, 8
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def row(values, bits):
    text = "".join(format(v, "0%db" % bits) for v in values)
    text += "0" * (-len(text) % 8)
    return b"\0" + int(text, 2).to_bytes(len(text) // 8, "big")


def write(name, bits, interlaced):
    sample = lambda x, y: (x + y) % (1 << bits)
    if interlaced:
        raw = b""
        for x0, y0, dx, dy in ADAM7:
            xs = range(x0, W, dx)
            for y in range(y0, H, dy):
                if xs:
                    raw += row([sample(x, y) for x in xs], bits)
    else:
        raw = b"".join(row([sample(x, y) for x in range(W)], bits) for y in range(H))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, bits, 0, 0, 0, 1 if interlaced else 0))
    data += chunk(b"tRNS", struct.pack(">H", (1 << bits) - 1)) + chunk(b"IDAT", zlib.compress(raw, 9))
    data += chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)


write("gray1-trns.png", 1, False)
write("gray2-trns.png", 2, False)
write("gray2-trns-interlaced.png", 2, True)
write("gray4-trns.png", 4, False)
