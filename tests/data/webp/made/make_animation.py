#!/usr/bin/python3
"""Writes anim-alpha.webp, anim-lossy.webp and anim-blend-first.webp, the animated WebP test pictures
(run once, with Pillow).

Three 60 x 40 frames each: a gradient with a see-through band, then a square that moves, so the
encoder stores frames 1 and 2 as sub-rectangles with their own blend and dispose methods.
"""
import io
import os
import struct

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))


def frames():
    base = Image.new("RGBA", (60, 40))
    for y in range(40):
        for x in range(60):
            base.putpixel((x, y), (x * 4, y * 6, 255 - x * 4, 0 if 10 <= y < 14 else 255))
    out = [base]
    for i, (x, y) in enumerate([(8, 6), (30, 18)]):
        f = base.copy()
        ImageDraw.Draw(f).rectangle((x, y, x + 11, y + 9), fill=(250, 200 - 80 * i, 20, 255))
        out.append(f)
    return out


f = frames()
f[0].save(os.path.join(HERE, "anim-alpha.webp"), save_all=True, append_images=f[1:], duration=[100, 250, 40],
          loop=0, lossless=True)
g = [x.convert("RGB") for x in f]
g[0].save(os.path.join(HERE, "anim-lossy.webp"), save_all=True, append_images=g[1:], duration=[70, 70, 500],
          loop=0, quality=80)


def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def still(image):
    out = io.BytesIO()
    image.save(out, "WEBP", lossless=True, exact=True)
    data = out.getvalue()
    return data[12:]  # the VP8L chunk after RIFF....WEBP


def frame(image, x, y, duration, blend):
    # ANMF: x / 2, y / 2, width − 1, height − 1 (24 bits each), duration (24 bits),
    # then flags: bit 1 set = do not blend, bit 0 set = dispose to background.
    w, h = image.size
    head = b"".join(v.to_bytes(3, "little") for v in (x // 2, y // 2, w - 1, h - 1, duration))
    return chunk(b"ANMF", head + bytes([0 if blend else 2]) + still(image))


# Pillow writes frame 0 without blending. Other encoders mark it to be blended
# over the empty canvas; it still shows as stored, the colours of its
# see-through band (kept exact here) included. Written by hand, since
# Pillow's animation writer neither blends frame 0 nor keeps hidden colours.
base = f[0]
square = Image.new("RGBA", (12, 10), (250, 200, 20, 255))
vp8x = chunk(b"VP8X", bytes([0x12, 0, 0, 0]) + (59).to_bytes(3, "little") + (39).to_bytes(3, "little"))
anim = chunk(b"ANIM", bytes([255, 255, 255, 255]) + struct.pack("<H", 0))
body = b"WEBP" + vp8x + anim + frame(base, 0, 0, 100, True) + frame(square, 8, 6, 100, True)
with open(os.path.join(HERE, "anim-blend-first.webp"), "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", len(body)) + body)
