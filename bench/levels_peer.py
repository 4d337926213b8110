#!/usr/bin/python3
"""The OpenCV and Pillow peers of bench/batch: every picture to the 8 gray
levels by our rule, in one process, one file after another.

  bench/levels_peer.py opencv|pillow bmp|png|png-optimize OUTDIR FILE...

Writes OUTDIR/STEM.bmp or OUTDIR/STEM.png for each FILE and prints one line,
the files and the milliseconds the loop took in this process (bench/batch
times the whole process, the imports included).

Both peers make the levels the same way, with numpy: the three channels
summed as uint16 (0 to 765, exact) and one 766-entry table that maps the
sum s to level s div 96, so that the division is one lookup. Only the
reading and the writing differ:

  opencv  cv2.imread (BGR; the sum does not care) and cv2.imwrite of the
          gray picture of palette values, at OpenCV's default settings: an
          8-bit gray PNG, an 8-bit BMP with a gray colour table
  pillow  Image.open; a BMP is the gray picture of palette values saved as
          mode "L" (8 bits, a gray colour table); a PNG is the level indices
          with the 8-entry gray palette, mode "P", which Pillow writes as a
          4-bit indexed PNG, octtool's own layout: at Pillow's default
          settings (png), or with optimize=True (png-optimize: zlib's level
          9, the smallest PNG Pillow makes of these pixels, ten times slower)
"""
import os
import sys
import time

import numpy as np

PALETTE = np.array([0, 29, 59, 89, 119, 149, 179, 255], dtype=np.uint8)
LEVEL_OF_SUM = (np.arange(766) // 96).astype(np.uint8)
VALUE_OF_SUM = PALETTE[LEVEL_OF_SUM]


def channel_sum(rgb):
    """r + g + b of an H×W×3 uint8 array, exact, as uint16."""
    total = rgb[..., 0].astype(np.uint16)
    total += rgb[..., 1]
    total += rgb[..., 2]
    return total


def opencv_writer(kind):
    import cv2

    if kind not in ("bmp", "png"):
        raise ValueError(f"OpenCV writes bmp or png here, not {kind}")

    def convert(path, target):
        picture = cv2.imread(path, cv2.IMREAD_COLOR)
        if picture is None:
            raise ValueError("OpenCV cannot read it")
        if not cv2.imwrite(target, VALUE_OF_SUM[channel_sum(picture)]):
            raise ValueError(f"OpenCV cannot write {target}")

    return convert


def pillow_writer(kind):
    from PIL import Image

    gray_palette = [v for value in PALETTE for v in (value, value, value)]

    def convert(path, target):
        with Image.open(path) as im:
            sums = channel_sum(np.asarray(im.convert("RGB")))
        if kind == "bmp":
            Image.fromarray(VALUE_OF_SUM[sums], "L").save(target)
        else:
            out = Image.fromarray(LEVEL_OF_SUM[sums], "L")
            out.putpalette(gray_palette)
            out.save(target, optimize=kind == "png-optimize")

    return convert


WRITERS = {"opencv": opencv_writer, "pillow": pillow_writer}


def main(argv):
    if len(argv) < 4 or argv[0] not in WRITERS or argv[1] not in ("bmp", "png", "png-optimize"):
        print("usage: " + __doc__.split("\n\n")[1].strip(), file=sys.stderr)
        return 2
    peer, kind, folder, files = argv[0], argv[1], argv[2], argv[3:]
    try:
        convert = WRITERS[peer](kind)
    except ValueError as e:
        print(f"levels_peer: {e}", file=sys.stderr)
        return 2
    ext = kind.split("-")[0]
    start = time.perf_counter()
    for path in files:
        stem = os.path.splitext(os.path.basename(path))[0]
        try:
            convert(path, os.path.join(folder, f"{stem}.{ext}"))
        except (OSError, ValueError) as e:
            print(f"levels_peer: {peer}: {path}: {e}", file=sys.stderr)
            return 1
    print(f"files={len(files)} work_ms={(time.perf_counter() - start) * 1000:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
