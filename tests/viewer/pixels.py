#!/usr/bin/python3
"""Pixel comparisons for the viewer's test, with the standard library only.

  pixels.py inside CAPTURE.bmp EXPECTED X Y
      EXPECTED's colours (blue, green, red) lie in CAPTURE with EXPECTED's
      top-left pixel at (X, Y) of CAPTURE, counted from CAPTURE's top-left.
  pixels.py same A B
      A and B have the same size and the same pixels, alpha included; both
      carry alpha or neither does.

  pixels.py window CAPTURE.bmp EXPECTED X Y
      CAPTURE, whole, is the part of EXPECTED whose top-left pixel is (X, Y):
      what the viewer shows at 1:1 scrolled to there.
  pixels.py fitted CAPTURE.bmp PICTURE LEVELS
      the viewer's fitted layout of CAPTURE's size (both pictures shrunk by
      one factor to fit side by side, 8 pixels apart, aspect kept): each half
      is its picture reduced to that size, within what GDI's HALFTONE
      stretching and a box filter differ by (Pillow and numpy), and below
      and beside them only the background.

Pictures are BMP files of 24 or 32 bits (uncompressed, or 32 bits with the
usual bit fields; 32 bits count as alpha) and PNG files of 8-bit RGB or RGBA
samples. Exits 0 on a match, 1 with the first difference on a mismatch.
"""
import struct
import sys
import zlib


class Picture:
    def __init__(self, width, height, channels, rows):
        # rows: top-down, each `width * channels` bytes in the order B, G, R[, A]
        self.width, self.height, self.channels, self.rows = width, height, channels, rows

    def pixel(self, x, y):
        start = x * self.channels
        return tuple(self.rows[y][start:start + self.channels])


def read_bmp(data):
    offset, = struct.unpack_from("<I", data, 10)
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or planes != 1:
        raise ValueError(f"a BMP of {bits} bits per pixel")
    if compression == 3:  # bit fields: only the layout B, G, R, A in that order is read
        masks = struct.unpack_from("<III", data, 14 + 40)  # after a 40-byte header, or inside a longer one
        if bits != 32 or masks != (0xFF0000, 0xFF00, 0xFF):
            raise ValueError(f"BMP bit fields {masks}")
    elif compression != 0:
        raise ValueError(f"a BMP of compression {compression}")
    channels = bits // 8
    stride = (width * channels + 3) & ~3
    rows = [data[offset + i * stride: offset + i * stride + width * channels] for i in range(abs(height))]
    if height > 0:  # bottom-up
        rows.reverse()
    if any(len(r) != width * channels for r in rows):
        raise ValueError("a BMP shorter than its pixels")
    return Picture(width, abs(height), channels, rows)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def read_png(data):
    pos, idat, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8: pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"a PNG of depth {depth}, colour type {colour}, interlace {interlace}")
    channels = 3 if colour == 2 else 4
    stride = width * channels
    raw = zlib.decompress(b"".join(idat))
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1: (y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        previous = line
        out = bytearray(line)  # R, G, B[, A] to B, G, R[, A]
        out[0::channels], out[2::channels] = line[2::channels], line[0::channels]
        rows.append(bytes(out))
    return Picture(width, height, channels, rows)


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"BM":
        return read_bmp(data)
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return read_png(data)
    raise ValueError(f"{path}: neither BMP nor PNG")


def first_difference(big, small, x0, y0, colours_only):
    n = 3 if colours_only else small.channels
    for y in range(small.height):
        for x in range(small.width):
            got, want = big.pixel(x0 + x, y0 + y)[:n], small.pixel(x, y)[:n]
            if got != want:
                count = sum(big.pixel(x0 + i, y0 + j)[:n] != small.pixel(i, j)[:n]
                            for j in range(small.height) for i in range(small.width))
                return f"pixel ({x}, {y}) is {got}, not {want}; {count} pixels differ"
    return None


def main(argv):
    if len(argv) == 6 and argv[1] == "inside":
        big, small, x0, y0 = read(argv[2]), read(argv[3]), int(argv[4]), int(argv[5])
        if x0 + small.width > big.width or y0 + small.height > big.height:
            return f"{argv[2]} ({big.width} x {big.height}) has no room for {small.width} x {small.height} at ({x0}, {y0})"
        return first_difference(big, small, x0, y0, colours_only=True)
    if len(argv) == 4 and argv[1] == "same":
        a, b = read(argv[2]), read(argv[3])
        if (a.width, a.height, a.channels) != (b.width, b.height, b.channels):
            return f"{a.width} x {a.height} x {a.channels} against {b.width} x {b.height} x {b.channels}"
        return first_difference(a, b, 0, 0, colours_only=False)
    if len(argv) == 6 and argv[1] == "window":
        capture, expected, x0, y0 = read(argv[2]), read(argv[3]), int(argv[4]), int(argv[5])
        if x0 + capture.width > expected.width or y0 + capture.height > expected.height:
            return f"{argv[3]} ({expected.width} x {expected.height}) has no {capture.width} x {capture.height} at ({x0}, {y0})"
        return first_difference(expected_window(expected, x0, y0, capture.width, capture.height), capture, 0, 0,
                                colours_only=True)
    if len(argv) == 5 and argv[1] == "fitted":
        return fitted(argv[2], argv[3], argv[4])
    return __doc__


def expected_window(picture, x0, y0, width, height):
    rows = [picture.rows[y0 + y][x0 * picture.channels:(x0 + width) * picture.channels] for y in range(height)]
    return Picture(width, height, picture.channels, rows)


# A box filter and GDI's HALFTONE weigh the pixels at a screen pixel's edges
# differently; on photographs reduced 5x they differ by 2 to 3 levels on
# average. A half that showed the other picture, or nothing, differs by tens.
FITTED_MEAN_TOLERANCE = 6.0


def fitted(capture_path, picture_path, levels_path):
    import numpy as np
    from PIL import Image

    capture = np.asarray(Image.open(capture_path).convert("RGB")).astype(np.int16)
    height, width = capture.shape[:2]
    gap = 8
    sources = [Image.open(path).convert("RGB") for path in (picture_path, levels_path)]
    w, h = sources[0].size
    room_width, room_height = (width - gap) // 2, height
    if w <= room_width and h <= room_height:
        shown_w, shown_h = w, h
    elif w * room_height <= h * room_width:
        shown_h = room_height
        shown_w = max(1, w * shown_h // h)
    else:
        shown_w = room_width
        shown_h = max(1, h * shown_w // w)
    background = capture[height - 1, width - 1]
    for i, (source, path) in enumerate(zip(sources, (picture_path, levels_path))):
        x0 = i * (shown_w + gap)
        reduced = np.asarray(source.resize((shown_w, shown_h), Image.BOX)).astype(np.int16)
        mean = float(np.abs(capture[:shown_h, x0:x0 + shown_w] - reduced).mean())
        if mean > FITTED_MEAN_TOLERANCE:
            return f"the half at x = {x0} ({shown_w} x {shown_h}) differs from {path} reduced by {mean:.1f} on average"
        below = capture[shown_h:, x0:x0 + shown_w]
        if below.size and (below != background).any():
            return f"below the half at x = {x0} is more than the background"
    if (capture[:, 2 * shown_w + gap:] != background).any():
        return "right of the level half is more than the background"
    return None


if __name__ == "__main__":
    problem = main(sys.argv)
    if problem:
        print(f"pixels.py: {' '.join(sys.argv[1:])}: {problem}", file=sys.stderr)
        sys.exit(1)
