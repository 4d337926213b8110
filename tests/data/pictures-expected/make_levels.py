#!/usr/bin/python3
"""Writes levels.txt: the gray and alpha levels of reference decodings of the HEIF,
AVIF and JPEG XL test pictures, made once by other decoders than the library's.

Run once, from the repository root, with Pillow (Debian python3-pil) and the
reference decodings made by Debian's tools into one folder:

    heif-convert tests/data/heif/libheif/X.heic REFS/X.heic.png       (libheif-examples)
    avifdec      tests/data/avif/libavif/X.avif REFS/X.avif.png       (libavif-bin)
    djxl         tests/data/jxl/conformance/X.jxl REFS/X.jxl.png      (libjxl-tools)
    /usr/bin/python3 tests/data/pictures-expected/make_levels.py REFS

avifdec (libavif 0.11) writes abc_color_irot_alpha_irot.avif unrotated, so that
one reference comes from heif-convert, which applies the rotation as the
library does. heif-convert refuses clap_irot_imir_non_essential.avif, so its
reference is avifdec's unturned output cropped to the clean aperture (x 4..11,
y 6..15), turned a quarter anti-clockwise and mirrored left to right by hand
(numpy's fliplr(rot90(crop))). alpha_noispe.avif is decoded with
`avifdec --no-strict`, as the library reads it. djxl (libjxl 0.7) writes alpha_nonpremultiplied.jxl (12-bit
samples) with colours far from the conformance suite's own ref.png, whose
copy in REFS stands in for it.

Each line: PATH WIDTH HEIGHT DEPTH then 8 gray-level counts, (r + g + b) div 96
over 8-bit samples, then 8 alpha-level counts, a div 32 (all pixels in level 7
without alpha). Frame 0 only. DEPTH is 32 with alpha, else 24. The test
compares counts, not exact pixels, since these decoders convert colour with
their own rounding.
"""
import pathlib
import sys

from PIL import Image

ROOT = pathlib.Path(__file__).resolve().parent.parent
refs = pathlib.Path(sys.argv[1])
out = []
for folder in ("heif", "avif", "jxl"):
    for path in sorted((ROOT / folder).rglob("*")):
        ref = refs / (path.name + ".png")
        if not path.is_file() or not ref.exists():
            continue
        im = Image.open(ref)
        alpha = im.mode in ("RGBA", "LA")
        im = im.convert("RGBA")
        gray, alphas = [0] * 8, [0] * 8
        for r, g, b, a in im.getdata():
            gray[(r + g + b) // 96] += 1
            alphas[a // 32] += 1
        rel = path.relative_to(ROOT).as_posix()
        out.append(" ".join([rel, str(im.width), str(im.height), "32" if alpha else "24"] +
                            [str(v) for v in gray + alphas]))
(ROOT / "pictures-expected" / "levels.txt").write_text("\n".join(out) + "\n")
