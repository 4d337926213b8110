#!/usr/bin/python3
"""Writes the TIFF test pictures of sample kinds beyond 8-bit gray and RGB (run once; Python alone).

Each is a 64 x 48 picture (32 x 24 where stored uncompressed, to stay small) of scrambled ramps that
reach every byte of every sample, written here byte by byte rather than through a TIFF library, so that
the layouts are exactly as named: the sample kind (bits, unsigned or signed, gray, RGB or CMYK,
with or without alpha), the byte order (II little-endian, MM big-endian), contiguous samples or
separate planes, strips of several rows or tiles, and the compression (none, Deflate or LZW, with
or without horizontal differencing of the samples before it).

    /usr/bin/python3 tests/data/tiff/made/make_depths.py [FOLDER]

writes into FOLDER (default: beside this script). The samples of every picture come from samples_of()
below, so a decoder's output can be checked against them as well as against a peer's.
"""
import os
import struct
import sys
import zlib


# --- the samples -------------------------------------------------------------------

def ramp(x, y, c, bits):
    """Sample c of pixel (x, y): a different gradient in each sample, over the whole range of `bits`."""
    top = (1 << bits) - 1
    k = [(x * 61 + y * 7), (y * 83 + x * 3), ((x + y) * 37 + x * y * 5), (x * y * 11 + 500)][c % 4]
    # A wide multiplier reaches every byte of samples up to 32 bits.
    return (k * 0x10204081 + c * 0x01234567) & top


def pixel(x, y, width, spp, bits, signed, alpha):
    out = [ramp(x, y, c, bits) for c in range(spp)]
    if alpha:
        # Alpha from clear to opaque across the picture, some columns fully clear and some fully opaque.
        a = min((1 << bits) - 1, max(0, (x * ((1 << bits) - 1)) // (width - width // 8) - (1 << bits) // 16))
        out[-1] = a
    if signed:
        half = 1 << (bits - 1)
        out = [v - half for v in out]  # the same ramp, stored as two's complement below
    return out


# --- packing -----------------------------------------------------------------------

def pack_row(values, bits, order):
    """One row of samples as stored: 8, 16 and 32 bits in the file's byte order, others packed high bit first."""
    if bits in (8, 16, 32):
        fmt = {8: "B", 16: "H", 32: "I"}[bits]
        mask = (1 << bits) - 1
        return struct.pack(order + fmt * len(values), *[v & mask for v in values])
    acc, n, out = 0, 0, bytearray()
    for v in values:
        acc = acc << bits | (v & ((1 << bits) - 1))
        n += bits
        while n >= 8:
            n -= 8
            out.append(acc >> n & 0xFF)
    if n:
        out.append(acc << (8 - n) & 0xFF)
    return bytes(out)


def difference(values, stride, bits):
    """Horizontal differencing: each sample less the one `stride` before it, modulo 2^bits."""
    mask = (1 << bits) - 1
    return [(v - (values[i - stride] if i >= stride else 0)) & mask for i, v in enumerate(values)]


def lzw(data):
    """TIFF's LZW: codes high bit first, 256 clears the table, 257 ends; the code width grows as soon
    as the next free code no longer fits, and a full table is cleared at 4094 codes."""
    out, acc, n = bytearray(), 0, 0
    width = 9

    def put(code):
        nonlocal acc, n
        acc = acc << width | code
        n += width
        while n >= 8:
            n -= 8
            out.append(acc >> n & 0xFF)

    def grow(free):
        nonlocal width, table
        if free == 4094:
            put(256)
            table, width = {bytes([i]): i for i in range(256)}, 9
            return 258
        if free > (1 << width) - 1:
            width += 1
        return free

    table = {bytes([i]): i for i in range(256)}
    free = 258
    put(256)
    prefix = b""
    for b in data:
        s = prefix + bytes([b])
        if s in table:
            prefix = s
            continue
        put(table[prefix])
        table[s] = free
        free = grow(free + 1)
        prefix = bytes([b])
    if prefix:
        put(table[prefix])
        free = grow(free + 1)
    put(257)
    if n:
        out.append(acc << (8 - n) & 0xFF)
    return bytes(out)


COMPRESS = {"none": (1, lambda b: b), "deflate": (8, lambda b: zlib.compress(b, 9)), "lzw": (5, lzw)}


# --- one file ----------------------------------------------------------------------

def samples_of(bits, spp, options):
    """The stored samples, rows of pixels of spp values (signed ones as negative numbers)."""
    W, H = options.get("size", (64, 48))
    alpha = options.get("alpha")
    samples = [[pixel(x, y, W, spp, bits, options.get("signed", False), alpha is not None) for x in range(W)]
               for y in range(H)]
    if alpha == 1:
        # Premultiplied colour: each colour sample at most the alpha.
        for row in samples:
            for p in row:
                top = (1 << bits) - 1
                for c in range(spp - 1):
                    p[c] = p[c] * p[-1] // top
    return samples


def write(path, bits, spp, photometric, order="<", signed=False, alpha=None, planar=1, compression="none",
          predictor=1, rows=None, tile=None, extra=None, size=(64, 48)):
    """alpha: None, 1 (premultiplied) or 2 (straight); extra: ExtraSamples values when not alpha."""
    W, H = size
    samples = samples_of(bits, spp, {"signed": signed, "alpha": alpha, "size": size})
    planes = spp if planar == 2 else 1
    per_plane = 1 if planar == 2 else spp
    tag_compression, squeeze = COMPRESS[compression]

    def block(plane, x0, y0, bw, bh):
        """The stored bytes of a strip or tile: rows of bw pixels from (x0, y0), padded to the block."""
        raw = bytearray()
        for y in range(y0, y0 + bh):
            values = []
            for x in range(x0, x0 + bw):
                inside = x < W and y < H
                for c in range(per_plane):
                    values.append(samples[y][x][plane + c] if inside else 0)
            if predictor == 2:
                values = difference(values, per_plane, bits)
            raw += pack_row(values, bits, order)
        return squeeze(bytes(raw))

    blocks = []
    if tile:
        tw, th = tile
        for p in range(planes):
            for ty in range(0, H, th):
                for tx in range(0, W, tw):
                    blocks.append(block(p, tx, ty, tw, th))
    else:
        rows = rows or H
        for p in range(planes):
            for y in range(0, H, rows):
                blocks.append(block(p, 0, y, W, min(rows, H - y)))

    entries = {256: (4, [W]), 257: (4, [H]), 258: (3, [bits] * spp), 259: (3, [tag_compression]),
               262: (3, [photometric]), 277: (3, [spp]), 284: (3, [planar])}
    if tile:
        entries.update({322: (3, [tile[0]]), 323: (3, [tile[1]]), 324: (4, None),
                        325: (4, [len(b) for b in blocks])})
    else:
        entries.update({273: (4, None), 278: (3, [rows]), 279: (4, [len(b) for b in blocks])})
    if predictor != 1:
        entries[317] = (3, [predictor])
    if alpha is not None or extra:
        entries[338] = (3, [alpha] if alpha is not None else extra)
    if signed:
        entries[339] = (3, [2] * spp)
    if photometric == 5:
        entries[332] = (3, [1])  # InkSet: CMYK

    # Header, the directory, the values that do not fit an entry, then the blocks.
    count = len(entries)
    at = 8 + 2 + 12 * count + 4
    spill = {}
    for tag in sorted(entries):
        kind, values = entries[tag]
        n = len(blocks) if values is None else len(values)
        length = n * (2 if kind == 3 else 4)
        if length > 4:
            spill[tag] = at
            at += length + (length & 1)
    offsets = []
    for b in blocks:
        offsets.append(at)
        at += len(b) + (len(b) & 1)
    out = bytearray(b"II*\0" if order == "<" else b"MM\0*")
    out += struct.pack(order + "I", 8)
    out += struct.pack(order + "H", count)
    tail = bytearray()
    for tag in sorted(entries):
        kind, values = entries[tag]
        if values is None:
            values = offsets
        raw = struct.pack(order + ("H" if kind == 3 else "I") * len(values), *values)
        out += struct.pack(order + "HHI", tag, kind, len(values))
        if tag in spill:
            out += struct.pack(order + "I", spill[tag])
            tail += raw + b"\0" * (len(raw) & 1)
        else:
            out += raw.ljust(4, b"\0")
    out += b"\0\0\0\0"
    out += tail
    for b in blocks:
        out += b + b"\0" * (len(b) & 1)
    with open(path, "wb") as f:
        f.write(out)


# --- the pictures ------------------------------------------------------------------
# name: (bits, samples, photometric, options). Photometric 1 gray (min-is-black), 2 RGB, 5 CMYK.
# Pictures of one kind at one size hold the same samples, whatever their layout.
SMALL = {"size": (32, 24)}
PICTURES = {
    "minisblack-1c-12b.tif": (12, 1, 1, {"compression": "lzw", "rows": 8}),
    "minisblack-1c-12b-be.tif": (12, 1, 1, {"order": ">", "compression": "lzw", "rows": 8}),
    "minisblack-1c-32b.tif": (32, 1, 1, {"compression": "deflate", "predictor": 2, "rows": 16}),
    "minisblack-1c-32b-be-tiled.tif": (32, 1, 1, {"order": ">", "compression": "deflate", "tile": (32, 16)}),
    "minisblack-1c-16b-signed.tif": (16, 1, 1, {"signed": True, **SMALL}),
    "minisblack-1c-16b-signed-be-tiled.tif": (16, 1, 1, {"signed": True, "order": ">", "tile": (16, 16),
                                                         "compression": "deflate", "predictor": 2}),
    "separated-4c-8b.tif": (8, 4, 5, {"rows": 5, **SMALL}),
    "separated-4c-16b.tif": (16, 4, 5, {"compression": "deflate", "predictor": 2, "rows": 16}),
    "separated-4c-16b-separate-be.tif": (16, 4, 5, {"order": ">", "planar": 2, "compression": "deflate",
                                                    "predictor": 2, "rows": 12}),
    "rgb-3c-16b-separate.tif": (16, 3, 2, {"planar": 2, "rows": 7, **SMALL}),
    "rgb-3c-16b-separate-lzw-predictor.tif": (16, 3, 2, {"planar": 2, "compression": "lzw", "predictor": 2,
                                                         "rows": 5}),
    "rgb-3c-16b-separate-be-deflate-predictor.tif": (16, 3, 2, {"planar": 2, "order": ">",
                                                                "compression": "deflate", "predictor": 2}),
    "rgb-3c-16b-separate-tiled.tif": (16, 3, 2, {"planar": 2, "tile": (16, 32), "compression": "deflate",
                                                 "predictor": 2}),
    "rgb-4c-16b-separate-extra-sample.tif": (16, 4, 2, {"planar": 2, "extra": [0], "compression": "lzw",
                                                        "predictor": 2, "rows": 16}),
    "rgb-4c-16b-separate-alpha-be.tif": (16, 4, 2, {"planar": 2, "order": ">", "alpha": 2,
                                                    "compression": "lzw", "predictor": 2, "rows": 10}),
    "rgb-4c-16b-separate-premultiplied.tif": (16, 4, 2, {"planar": 2, "alpha": 1, "rows": 16, **SMALL}),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, (bits, spp, photometric, options) in PICTURES.items():
        write(os.path.join(folder, name), bits, spp, photometric, **options)


if __name__ == "__main__":
    main()
