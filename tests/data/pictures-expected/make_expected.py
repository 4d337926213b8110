#!/usr/bin/python3
"""Writes the expected decoding of every test picture under tests/data/{png,jpeg,gif,tiff,webp}.

Run once, from the repository root, with Pillow (Debian python3-pil) and a built octtool:

    /usr/bin/python3 tests/data/pictures-expected/make_expected.py build/native/octtool

It reads only the repository's own copies and writes, beside itself:

  expected.txt       one line per picture, fields separated by spaces:
                       picture PATH WIDTH HEIGHT DEPTH ALPHA FRAMES BPP FNV OFFSET LENGTH
                     PATH is relative to tests/data; DEPTH the bits per pixel as stored;
                     ALPHA 0 or 1; BPP 3 (blue, green, red) or 4 (and straight alpha);
                     FNV the 64-bit FNV-1a of frame 0's pixels (top row first, no
                     padding), in hex; OFFSET and LENGTH where those pixels lie in the
                     unpacked pixels-FORMAT.pack (OFFSET -1: pictures of more than
                     128 KiB keep only their hash). Then, for GIF and animated WebP, one
                     line per frame:
                       frame PATH INDEX LEFT TOP WIDTH HEIGHT DELAY DISPOSAL BLEND
                     (DISPOSAL 0 keep, 1 background, 2 previous). Pictures Pillow cannot
                     open are listed as "unreadable PATH" and checked by hand in the test.
  pixels-FORMAT.pack the frame-0 pixels of every picture of one format, end to end,
                     packed with `octtool pack`, so that the test reads them without Pillow.

Frame 0 is taken as stored: no EXIF or TIFF orientation is applied (Pillow applies none
unless asked). For GIF, Pillow composes each frame on the screen; the decoder gives a frame's
own rectangle, so the expected pixels are Pillow's frame 0 cut to that rectangle, the
transparent index keeping its palette colour with alpha 0 (on an empty screen frame 0 shows
only its own pixels, so the cut is exactly the stored frame).

Where Pillow departs from the pixel rules the rule is applied here instead, from the same
Pillow samples: gray of more than 8 bits (Pillow keeps integers; the rule takes the high byte,
v >> (bits - 8), of a signed sample offset to unsigned first, v + 2^(bits - 1)), and the tRNS
gray value of 1-, 2-, 4- and 16-bit gray (Pillow compares it unscaled).

Pillow's own TIFF reader takes each sample of uncompressed separate planes as 8 bits, whatever
the file says; separate planes of wider samples are read through Pillow's libtiff path instead
(TiffImagePlugin.READ_LIBTIFF, which compressed ones take anyway), which reads them as stored.
"""

import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image, TiffImagePlugin

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)
KEEP_PIXELS = 128 * 1024
FORMATS = {"png": (".png",), "jpeg": (".jpg",), "gif": (".gif",), "tiff": (".tif", ".tiff"), "webp": (".webp",)}


def fnv64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def bgr(rgb_bytes, n):
    out = bytearray(rgb_bytes)
    out[0::n], out[2::n] = rgb_bytes[2::n], rgb_bytes[0::n]
    return bytes(out)


# --- headers: the depth as stored ------------------------------------------------

def png_header(raw):
    width, height, depth, colour = struct.unpack(">IIBB", raw[16:26])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    return depth, channels, colour


def gif_records(raw):
    """Screen size, colour-table bits and the frames as stored (rectangle, delay, disposal, transparency)."""
    sw, sh, packed = struct.unpack("<HHB", raw[6:11])
    at = 13 + (3 << ((packed & 7) + 1) if packed & 0x80 else 0)
    bits = (packed & 7) + 1 if packed & 0x80 else 0
    frames, gce = [], (0, 0, False)
    while at < len(raw):
        kind = raw[at]
        if kind == 0x21:
            label = raw[at + 1]
            at += 2
            if label == 0xF9 and raw[at] >= 4:
                flags, delay = raw[at + 1], struct.unpack("<H", raw[at + 2:at + 4])[0]
                gce = (delay, (flags >> 2) & 7, bool(flags & 1))
            while raw[at]:
                at += raw[at] + 1
            at += 1
        elif kind == 0x2C:
            left, top, w, h, p = struct.unpack("<HHHHB", raw[at + 1:at + 10])
            at += 10
            if p & 0x80:
                if not bits:
                    bits = (p & 7) + 1
                at += 3 << ((p & 7) + 1)
            at += 1  # LZW minimum code size
            while raw[at]:
                at += raw[at] + 1
            at += 1
            frames.append((left, top, w, h) + gce)
            gce = (0, 0, False)
        else:
            break
    return sw, sh, bits, frames


def clip(left, top, w, h, sw, sh):
    l, t = min(left, sw), min(top, sh)
    return l, t, min(left + w, sw) - l, min(top + h, sh) - t


def webp_frames(raw):
    """Frames of an animated WebP from its ANMF chunks: rectangle, duration, disposal, blend."""
    out, at = [], 12
    while at + 8 <= len(raw):
        tag, size = raw[at:at + 4], struct.unpack("<I", raw[at + 4:at + 8])[0]
        body = raw[at + 8:at + 8 + size]
        if tag == b"ANMF":
            x = int.from_bytes(body[0:3], "little") * 2
            y = int.from_bytes(body[3:6], "little") * 2
            w = int.from_bytes(body[6:9], "little") + 1
            h = int.from_bytes(body[9:12], "little") + 1
            d = int.from_bytes(body[12:15], "little")
            flags = body[15]
            out.append((x, y, w, h, d, 1 if flags & 1 else 0, 0 if flags & 2 else 1))
        at += 8 + size + (size & 1)
    return out


# --- TIFF gray with an extra alpha sample, which Pillow does not open -------------

def tiff_gray_alpha(raw):
    """8-bit gray + alpha, uncompressed or PackBits, little-endian, either planar layout.

    Associated (premultiplied) alpha is made straight by Pillow's own rule for "RGBa" to
    "RGBA": 255 * value // alpha, clipped, and left alone where alpha is 0 or 255.
    """
    if raw[:2] != b"II":
        return None
    ifd = struct.unpack("<I", raw[4:8])[0]
    count = struct.unpack("<H", raw[ifd:ifd + 2])[0]
    tags = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack("<HHII", raw[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        size = {3: 2, 4: 4}.get(kind, 1)
        at = ifd + 10 + 12 * i if n * size <= 4 else value
        tags[tag] = [int.from_bytes(raw[at + k * size:at + (k + 1) * size], "little") for k in range(n)]
    if tags.get(277) != [2] or tags.get(262) != [1] or tags.get(258) != [8, 8] or tags.get(338) not in ([1], [2]):
        return None
    w, h = tags[256][0], tags[257][0]
    data = bytearray()
    for off, n in zip(tags[273], tags[279]):
        strip = raw[off:off + n]
        if tags[259] == [1]:
            data += strip
            continue
        i = 0
        while i < len(strip):  # PackBits
            c = strip[i]
            i += 1
            if c < 128:
                data += strip[i:i + c + 1]
                i += c + 1
            elif c > 128:
                data += bytes([strip[i]]) * (257 - c)
                i += 1
    if tags.get(284, [1]) == [2]:
        gray, alpha = data[:w * h], data[w * h:2 * w * h]
    else:
        gray, alpha = data[0:2 * w * h:2], data[1:2 * w * h:2]
    out = bytearray()
    for g, a in zip(gray, alpha):
        if tags[338] == [1] and 0 < a < 255:
            g = min(255, 255 * g // a)
        out += bytes((g, g, g, a))
    return w, h, 16, bytes(out)


# --- one picture -----------------------------------------------------------------

def tiff_wide_planes(path):
    """Whether a TIFF holds separate planes of samples over 8 bits (see the opening comment)."""
    with Image.open(path) as im:
        return im.tag_v2.get(284, 1) == 2 and im.tag_v2.get(258, (1,))[0] > 8


def expect(fmt, path, raw):
    """(width, height, depth, alpha, frames, bpp, pixels, frame records) or None."""
    TiffImagePlugin.READ_LIBTIFF = fmt == "tiff" and tiff_wide_planes(path)
    im = Image.open(path)
    frames = getattr(im, "n_frames", 1)
    records = []
    if fmt == "png":
        depth, channels, colour = png_header(raw)
        sdepth = depth * channels
        trns = im.info.get("transparency")
        alpha = colour in (4, 6) or trns is not None
        if im.mode in ("I", "1", "L") and colour == 0:
            # Gray of any depth: Pillow's samples, then the rules (high byte; tRNS on the stored value).
            values = list(im.getdata())
            scale = {1: 255, 2: 85, 4: 17, 8: 1, 16: 1}[depth]
            out = bytearray()
            for v in values:
                stored = v // scale if depth < 8 else v
                if im.mode == "1":
                    stored = 1 if v else 0
                g = stored >> 8 if depth == 16 else stored * scale
                out += bytes((g, g, g))
                if alpha:
                    out.append(0 if stored == trns else 255)
            pixels = bytes(out)
        else:
            rgba = im.convert("RGBA" if alpha else "RGB")
            pixels = rgba.tobytes()
    elif fmt == "jpeg":
        sdepth = im.bits * len(im.getbands())
        alpha = False
        pixels = im.convert("RGB").tobytes()
    elif fmt == "gif":
        sw, sh, bits, stored = gif_records(raw)
        # The screen grows to hold the first frame; the first frame's
        # transparent index gives alpha, as Pillow shows the picture.
        sw, sh = max(sw, stored[0][0] + stored[0][2]), max(sh, stored[0][1] + stored[0][3])
        sdepth = bits
        alpha = stored[0][6]
        for i, (left, top, w, h, delay, dispose, _) in enumerate(stored):
            l, t, cw, ch = clip(left, top, w, h, sw, sh)
            disposal = {2: 1, 3: 2}.get(dispose, 0)
            records.append((i, l, t, cw, ch, delay * 10, disposal, 1))
        _, l, t, cw, ch = records[0][:5]
        full = im.convert("RGBA").tobytes()
        out = bytearray()
        for y in range(t, t + ch):
            for x in range(l, l + cw):
                p = full[4 * (y * sw + x):4 * (y * sw + x) + 4]
                out += p if alpha else p[:3]
        pixels = bytes(out)
    elif fmt == "tiff":
        sdepth = im.tag_v2.get(258, (1,))[0] * im.tag_v2.get(277, 1)
        alpha = im.mode in ("RGBA", "LA")
        if im.mode in ("I;16", "I;16B", "I;16L", "I"):
            bits = im.tag_v2.get(258, (1,))[0]
            signed = im.tag_v2.get(339, (1,))[0] == 2
            out = bytearray()
            for v in im.getdata():
                # Pillow's 32-bit integers are signed: an unsigned sample of 2^31 or more comes negative.
                v = v + (1 << (bits - 1)) if signed else v & ((1 << bits) - 1)
                out += bytes((v >> (bits - 8),)) * 3
            pixels = bytes(out)
        else:
            pixels = im.convert("RGBA" if alpha else "RGB").tobytes()
    elif fmt == "webp":
        alpha = im.mode == "RGBA"
        sdepth = 32 if alpha else 24
        if frames > 1:
            for i, (x, y, w, h, d, dispose, blend) in enumerate(webp_frames(raw)):
                records.append((i, x, y, w, h, d, dispose, blend))
            # Pillow composes frame 0 on the canvas; frame 0 of the test animations covers it.
            x, y, w, h = records[0][1:5]
            im = im.convert("RGBA" if alpha else "RGB").crop((x, y, x + w, y + h))
        pixels = im.convert("RGBA" if alpha else "RGB").tobytes()
    width, height = im.size
    if records:
        width, height = (sw, sh) if fmt == "gif" else Image.open(path).size
    bpp = 4 if alpha else 3
    return width, height, sdepth, alpha, frames, bpp, bgr(pixels, bpp), records


def main():
    octtool = sys.argv[1]
    lines = []
    for fmt, exts in FORMATS.items():
        blob = bytearray()
        # The pictures made here come after those taken from elsewhere, so that
        # adding some leaves the offsets of the others as they were.
        walk = sorted(os.walk(os.path.join(DATA, fmt)), key=lambda entry: (os.path.basename(entry[0]) == "made", entry))
        for root, _, files in walk:
            for name in sorted(files):
                # BigTIFF has no codec on Windows and the image layer refuses it on both systems.
                if not name.lower().endswith(exts) or name.lower().endswith(".bigtiff.tif"):
                    continue
                path = os.path.join(root, name)
                rel = os.path.relpath(path, DATA)
                with open(path, "rb") as f:
                    raw = f.read()
                if fmt == "tiff" and raw[2:4] in (b"\x2b\x00", b"\x00\x2b"):
                    continue  # BigTIFF, which no decoder here is handed (the library names it apart)
                try:
                    got = expect(fmt, path, raw)
                except Exception:
                    got = None
                if got is None and fmt == "tiff":
                    ga = tiff_gray_alpha(raw)
                    if ga:
                        got = (ga[0], ga[1], ga[2], True, 1, 4, bgr(ga[3], 4), [])
                if got is None:
                    lines.append(f"unreadable {rel}")
                    continue
                w, h, depth, alpha, frames, bpp, pixels, records = got
                # Large pictures keep only their hash, which keeps the packs small.
                offset = len(blob) if len(pixels) <= KEEP_PIXELS else -1
                lines.append(f"picture {rel} {w} {h} {depth} {int(alpha)} {frames} {bpp} "
                             f"{fnv64(pixels):016x} {offset} {len(pixels)}")
                if offset >= 0:
                    blob += pixels
                for r in records:
                    lines.append(f"frame {rel} " + " ".join(str(v) for v in r))
        with tempfile.NamedTemporaryFile(delete=False) as tmp:
            tmp.write(blob)
        subprocess.run([octtool, "pack", "--level", "9", tmp.name, os.path.join(HERE, f"pixels-{fmt}.pack")],
                       check=True)
        os.unlink(tmp.name)
    with open(os.path.join(HERE, "expected.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
