"""What bench/batch checks on the outputs of its last round: that each
tool's levels are octtool's, pixel for pixel, and that every PNG octtool
wrote reads back, with Pillow and with libspng, as the pixels of its BMP.

The reference is octtool's -j 1 BMP of each input: 24 bits, gray, each
byte one of the 8 palette values. Every other output is turned back into
level indices by the palette (any other value counts as a differing pixel)
and compared with it. A peer whose JPEG decoder rounds otherwise than
octtool's shows here as a fraction of differing levels; it is reported, not
hidden, and fails nothing. octtool disagreeing with itself (its PNG, its
level file, -j 2) or a PNG that does not read back fails the run.
"""
import os
import subprocess
import zlib

import numpy as np
from PIL import Image

PALETTE = np.array([0, 29, 59, 89, 119, 149, 179, 255], dtype=np.uint8)
NOT_A_LEVEL = 255
LEVEL_OF_VALUE = np.full(256, NOT_A_LEVEL, dtype=np.uint8)
LEVEL_OF_VALUE[PALETTE] = np.arange(8, dtype=np.uint8)


def rgb_of(path):
    """The file's pixels as an H×W×3 uint8 array (Pillow's reading), or None
    when Pillow cannot read them."""
    try:
        with Image.open(path) as im:
            return np.asarray(im.convert("RGB"))
    except (OSError, ValueError, SyntaxError):  # Pillow's errors for damaged or unknown files
        return None


def levels_of(path):
    """Level indices of a gray output (NOT_A_LEVEL where a pixel is not gray
    or not a palette value), or None when it cannot be read."""
    rgb = rgb_of(path)
    if rgb is None:
        return None
    levels = LEVEL_OF_VALUE[rgb[..., 0]]
    levels[(rgb[..., 0] != rgb[..., 1]) | (rgb[..., 0] != rgb[..., 2])] = NOT_A_LEVEL
    return levels


def spng_crcs(png_pixels, paths):
    """{path: (width, height, crc32 of RGB) or the reason libspng gave}."""
    out = {}
    for start in range(0, len(paths), 64):
        chunk = paths[start:start + 64]
        run = subprocess.run([png_pixels, *chunk], capture_output=True, text=True)
        if run.returncode not in (0, 1):
            raise RuntimeError(f"png_pixels failed: {run.stderr.strip()}")
        for line in run.stdout.splitlines():
            fields = line.split("\t", 3)
            if fields[0] == "error":
                out[fields[2]] = fields[1]
            else:
                out[fields[3]] = (int(fields[0]), int(fields[1]), int(fields[2], 16))
    return out


class Tally:
    """Differing levels of one output against the reference, over files."""

    def __init__(self, name, must_agree):
        self.name, self.must_agree = name, must_agree
        self.files = self.pixels = self.differing = self.missing = self.unreadable = self.mis_sized = 0
        self.worst = None  # (fraction, file) of the file that differs most

    def add(self, stem, reference, path):
        """Compares one output with the reference levels: a file that is
        missing or unreadable, or of another size, differs everywhere."""
        if not os.path.exists(path):
            self.missing += 1
            return
        levels = levels_of(path)
        self.files += 1
        self.pixels += reference.size
        if levels is None:
            self.unreadable += 1
        elif levels.shape != reference.shape:
            self.mis_sized += 1
        if levels is None or levels.shape != reference.shape:
            self.differing += reference.size
            self.worst = (1.0, stem)
            return
        n = int(np.count_nonzero(levels != reference))
        self.differing += n
        if n and (self.worst is None or n / reference.size > self.worst[0]):
            self.worst = (n / reference.size, stem)

    def ok(self):
        """A decoder's rounding is no fault of a peer; a file it did not write, or wrote wrong, is."""
        return (self.missing == 0 and self.unreadable == 0 and self.mis_sized == 0
                and (self.differing == 0 or not self.must_agree))

    def record(self, job):
        r = {"bench": "batch-check", "check": "levels", "job": job, "output": self.name, "files": self.files,
             "missing": self.missing, "unreadable": self.unreadable, "mis_sized": self.mis_sized,
             "pixels": self.pixels,
             "differing": self.differing,
             "fraction": round(self.differing / self.pixels, 8) if self.pixels else 0.0,
             "must_agree": self.must_agree, "ok": self.ok()}
        if self.worst:
            r["worst_file"], r["worst_fraction"] = self.worst[1], round(self.worst[0], 8)
        return r


def check_job(job, stems, reference_dir, outputs, png_pixels):
    """Checks the outputs of one job against octtool's BMPs STEM.bmp in
    reference_dir. outputs: [(name, folder, ext, must_agree)], must_agree
    for octtool's own, whose PNGs are also read back by both readers.
    Returns the check records."""
    tallies = [(Tally(name, must), folder, ext) for name, folder, ext, must in outputs]
    pngs = [(name, folder) for name, folder, ext, must in outputs if must and ext == "png"]
    readback = {name: {"pillow_bad": [], "spng_bad": [], "files": 0} for name, _ in pngs}
    wanted_crc = {}
    for stem in stems:
        reference_rgb = rgb_of(os.path.join(reference_dir, stem + ".bmp"))
        if reference_rgb is None:
            raise RuntimeError(f"octtool's reference {stem}.bmp in {reference_dir} is missing or unreadable")
        reference = LEVEL_OF_VALUE[reference_rgb[..., 0]]
        for tally, folder, ext in tallies:
            tally.add(stem, reference, os.path.join(folder, f"{stem}.{ext}"))
        crc = None
        for name, folder in pngs:
            path = os.path.join(folder, stem + ".png")
            if not os.path.exists(path):
                continue
            readback[name]["files"] += 1
            back = rgb_of(path)
            if back is None or not np.array_equal(back, reference_rgb):
                readback[name]["pillow_bad"].append(stem)
            if crc is None:
                crc = (reference_rgb.shape[1], reference_rgb.shape[0],
                       zlib.crc32(np.ascontiguousarray(reference_rgb)))
            wanted_crc[path] = (stem, crc)
    records = [t.record(job) for t, _, _ in tallies]
    got = spng_crcs(png_pixels, list(wanted_crc))
    for name, folder in pngs:
        for path, (stem, crc) in wanted_crc.items():
            if os.path.dirname(path) == folder and got.get(path) != crc:
                readback[name]["spng_bad"].append(stem)
        r = readback[name]
        records.append({"bench": "batch-check", "check": "png-readback", "job": job, "output": name,
                        "files": r["files"], "pillow_differing_files": len(r["pillow_bad"]),
                        "libspng_differing_files": len(r["spng_bad"]),
                        "ok": r["files"] == len(stems) and not r["pillow_bad"] and not r["spng_bad"],
                        **({"first_bad": (r["pillow_bad"] + r["spng_bad"])[0]}
                           if r["pillow_bad"] or r["spng_bad"] else {})})
    return records


def words(r):
    """One check record in words, for bench/batch's output and bench/plot's table."""
    if r["check"] == "levels":
        text = f"{r['job']}, {r['output']}: {r['differing']:,} of {r['pixels']:,} levels differ from octtool's"
        if r["differing"]:
            text += f" ({r['fraction'] * 100:.4f}%"
            text += f"; most in {r['worst_file']}, {r['worst_fraction'] * 100:.4f}%)" if r.get("worst_file") else ")"
        for what in ("missing", "unreadable", "mis_sized"):
            if r.get(what):
                text += f", {r[what]} files {what.replace('_', '-')}"
    else:
        text = (f"{r['job']}, {r['output']}: {r['files']} PNGs read back by Pillow and libspng, "
                f"{r['pillow_differing_files']} and {r['libspng_differing_files']} differing from the BMP")
    return text + ("" if r["ok"] else " (FAILED)")
