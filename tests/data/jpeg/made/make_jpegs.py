#!/usr/bin/python3
"""Writes the JPEG test pictures of this folder (run once, with Pillow and cjpeg from libjpeg-turbo-progs).

All are ../pillow/hopper.jpg made 61 x 45, so that no side is a whole number of blocks or MCUs.

  sampling-*.jpg  colour pictures whose luma and chroma sampling factors are outside the few
                  combinations TurboJPEG knows (cjpeg -sample H1xV1,H2xV2,H3xV3; a missing
                  component takes 1x1): odd factors (3x1, 3x2), 4x2, 4:1:1 on its side (1x4),
                  chroma sampled differently from each other (2x2,2x1,1x1), chroma finer than
                  luma (1x1,1x2,1x2); with restart markers, arithmetic coding or progressive scans
                  on some, so each of those decoding paths meets an odd layout
  gray-sampling-2x2.jpg  gray whose one component says 2x2 (readers must treat it as 1x1)
  cmyk-sampling-2x2.jpg  CMYK as Pillow writes it (Adobe marker, transform 0, stored inverted) with
                  its first component at 2x2 and the others at 1x1
  cmyk-no-adobe.jpg  CMYK without an Adobe marker, storing the ink amounts themselves (not inverted)
  ycck-sampling-2x2.jpg  YCCK (Adobe marker, transform 2), Y at 2x2: the cyan, magenta and yellow of
                  the Adobe polarity carried as Y, Cb, Cr, black as stored by Adobe, 255 - ink

Pillow writes CMYK from its inverted raw mode (stored = 255 - value) with an Adobe marker of
transform 0; the other CMYK kinds are made from that by choosing the values and then removing the
marker or changing its transform byte, which leaves the coded data as it was.
"""
import os
import subprocess
import tempfile

from PIL import Image, ImageChops

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = (61, 45)


def base():
    picture = Image.open(os.path.join(HERE, "..", "pillow", "hopper.jpg")).convert("RGB")
    return picture.crop((0, 20, 128, 115)).resize(SIZE, Image.LANCZOS)


def cjpeg(name, *args):
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "in.ppm")
        base().save(ppm)
        subprocess.run(["cjpeg", "-quality", "85", *args, "-outfile", os.path.join(HERE, name), ppm], check=True)


def inks():
    """Cyan, magenta, yellow and black amounts (0 = no ink) of the picture, with some black taken out."""
    c, m, y = (ImageChops.invert(band) for band in base().split())
    k = ImageChops.darker(ImageChops.darker(c, m), y).point(lambda v: v // 2)
    return [ImageChops.subtract(band, k) for band in (c, m, y)] + [k]


def adobe_segment(raw):
    """Where the APP14 "Adobe" segment lies: (start of its marker, end)."""
    at = 2
    while raw[at] == 0xFF and raw[at + 1] != 0xDA:
        end = at + 2 + (raw[at + 2] << 8 | raw[at + 3])
        if raw[at + 1] == 0xEE and raw[at + 4:at + 9] == b"Adobe":
            return at, end
        at = end
    raise ValueError("no Adobe segment")


def save_cmyk(name, values, subsampling, edit=None):
    """Saves `values` (bands Pillow inverts as it stores them) and applies `edit` to the bytes."""
    path = os.path.join(HERE, name)
    Image.merge("CMYK", values).save(path, quality=85, subsampling=subsampling)
    if edit:
        with open(path, "rb") as f:
            raw = bytearray(f.read())
        with open(path, "wb") as f:
            f.write(edit(raw))


def without_adobe(raw):
    start, end = adobe_segment(raw)
    return raw[:start] + raw[end:]


def transform_ycck(raw):
    start, end = adobe_segment(raw)
    assert end - start == 16 and raw[end - 1] == 0  # marker, length 14, "Adobe", version, flags, transform 0
    raw[end - 1] = 2
    return raw


cjpeg("sampling-3x1.jpg", "-sample", "3x1")
cjpeg("sampling-4x2.jpg", "-sample", "4x2", "-restart", "1")
cjpeg("sampling-1x4.jpg", "-sample", "1x4", "-arithmetic")
cjpeg("sampling-2x2-2x1-1x1.jpg", "-sample", "2x2,2x1,1x1")
cjpeg("sampling-1x1-1x2-1x2.jpg", "-sample", "1x1,1x2,1x2")
cjpeg("sampling-3x2-progressive.jpg", "-sample", "3x2", "-progressive")
cjpeg("gray-sampling-2x2.jpg", "-grayscale", "-sample", "2x2")

ink = inks()
save_cmyk("cmyk-sampling-2x2.jpg", ink, 2)
save_cmyk("cmyk-no-adobe.jpg", [ImageChops.invert(band) for band in ink], 0, without_adobe)
ycc = Image.merge("RGB", ink[:3]).convert("YCbCr").split()
save_cmyk("ycck-sampling-2x2.jpg", [ImageChops.invert(band) for band in ycc] + [ink[3]], 2, transform_ycck)
