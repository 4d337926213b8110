#!/usr/bin/python3
"""Writes anim-alpha.webp and anim-lossy.webp, the animated WebP test pictures (run once, with Pillow).

Three 60 x 40 frames each: a gradient with a see-through band, then a square that moves, so the
encoder stores frames 1 and 2 as sub-rectangles with their own blend and dispose methods.
"""
import os

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
