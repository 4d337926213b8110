#!/usr/bin/python3
"""Checks bench/batch's checks and harnesses on tiny made-up files, in a few
seconds: that a differing, missing, damaged or mis-sized output is counted
and fails where it must, that a PNG which does not read back is caught by
both readers, and that the C peers fail by name and compute our levels.

  /usr/bin/python3 bench/batch_check_test.py

The libvips and TurboJPEG cases are skipped, saying so, where their
headers are missing (scripts/setup bench installs them).
"""
import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import batch_check  # noqa: E402

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def load_batch():
    loader = importlib.machinery.SourceFileLoader("batch", os.path.join(HERE, "batch"))
    spec = importlib.util.spec_from_loader("batch", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def gray_png(path, levels, bits4=False):
    """levels (H×W of 0..7) as octtool would write them (4-bit indexed) or as
    a peer would (8-bit gray of palette values)."""
    if bits4:
        im = Image.fromarray(levels.astype(np.uint8), "L")
        im.putpalette([v for x in batch_check.PALETTE for v in (x, x, x)])
    else:
        im = Image.fromarray(batch_check.PALETTE[levels], "L")
    im.save(path)


def levels_cases(tmp, reference):
    """Outputs of one picture beside the reference, one folder each:
    (name, must_agree, write(path) or None for a missing file, expected)."""
    def changed(path):
        out = reference.copy()
        out[0, :3] = (out[0, :3] + 1) % 8
        gray_png(path, out)

    def not_gray(path):
        rgb = np.repeat(batch_check.PALETTE[reference][..., None], 3, axis=2)
        rgb[1, 1, 0] ^= 1
        Image.fromarray(rgb, "RGB").save(path)

    def off_palette(path):
        values = batch_check.PALETTE[reference].copy()
        values[2, 2] = 30
        Image.fromarray(values, "L").save(path)

    def damaged(path):
        gray_png(path, reference)
        with open(path, "r+b") as f:
            f.truncate(40)

    def other_size(path):
        gray_png(path, reference[:, :-1])

    n = reference.size
    return [
        ("same", True, lambda p: gray_png(p, reference), {"differing": 0, "ok": True}),
        ("peer, 3 changed", False, changed, {"differing": 3, "ok": True, "worst_file": "pic"}),
        ("octtool, 3 changed", True, changed, {"differing": 3, "ok": False}),
        ("one pixel not gray", True, not_gray, {"differing": 1, "ok": False}),
        ("a value off the palette", True, off_palette, {"differing": 1, "ok": False}),
        ("missing", False, None, {"missing": 1, "ok": False}),
        ("damaged", False, damaged, {"unreadable": 1, "differing": n, "ok": False}),
        ("other size", False, other_size, {"mis_sized": 1, "differing": n, "ok": False}),
    ]


def test_levels_and_readback(png_pixels):
    with tempfile.TemporaryDirectory() as tmp:
        reference = (np.arange(8 * 6).reshape(6, 8) * 5 % 8).astype(np.uint8)
        ref_dir = os.path.join(tmp, "ref")
        os.makedirs(ref_dir)
        Image.fromarray(np.repeat(batch_check.PALETTE[reference][..., None], 3, axis=2), "RGB").save(
            os.path.join(ref_dir, "pic.bmp"))
        outputs, expected = [], {}
        for i, (name, must, write, want) in enumerate(levels_cases(tmp, reference)):
            folder = os.path.join(tmp, f"case{i}")
            os.makedirs(folder)
            if write:
                write(os.path.join(folder, "pic.png"))
            outputs.append((name, folder, "png", must))
            expected[name] = want
        # octtool's own PNGs, which must also read back: one exact, one with a
        # pixel off, one cut inside its pixels, one that lost its last 20
        # bytes (the end chunk and the pixel chunk's check), which Pillow
        # reads as if whole and libspng refuses.
        pngs = {"octtool exact": (None, (0, 0)), "octtool one off": ((3, 4), (1, 1)),
                "octtool cut short": (60, (1, 1)), "octtool without its end": (-20, (0, 1))}
        for name, (fault, _) in pngs.items():
            folder = os.path.join(tmp, name.replace(" ", "-"))
            os.makedirs(folder)
            out = reference.copy()
            if isinstance(fault, tuple):
                out[fault] = (out[fault] + 1) % 8
            path = os.path.join(folder, "pic.png")
            gray_png(path, out, bits4=True)
            if isinstance(fault, int):
                with open(path, "r+b") as f:
                    f.truncate(fault if fault > 0 else os.path.getsize(path) + fault)
            outputs.append((name, folder, "png", True))

        records = batch_check.check_job("tiny", ["pic"], ref_dir, outputs, png_pixels)
        levels = {r["output"]: r for r in records if r["check"] == "levels"}
        for name, want in expected.items():
            got = levels.get(name, {})
            for key, value in want.items():
                check(got.get(key) == value, f"levels, {name}: {key} {got.get(key)!r}, not {value!r}")
        back = {r["output"]: r for r in records if r["check"] == "png-readback"}
        check(set(back) == set(pngs) | {"same", "octtool, 3 changed", "one pixel not gray",
                                        "a value off the palette"},
              f"readback is checked for the outputs that must agree: {sorted(back)}")
        for name, (_, (pillow, spng)) in pngs.items():
            r = back.get(name, {})
            check(r.get("ok") is (pillow + spng == 0) and r.get("pillow_differing_files") == pillow
                  and r.get("libspng_differing_files") == spng, f"{name}: Pillow {pillow}, libspng {spng}: {r}")
        words = batch_check.words(levels["peer, 3 changed"])
        check("3 of 48 levels differ" in words and "(6.2500%; most in pic" in words, f"words: {words!r}")
        check(batch_check.words(levels["damaged"]).endswith("1 files unreadable (FAILED)"),
              f"words: {batch_check.words(levels['damaged'])!r}")


def test_harnesses(batch, tmp):
    """The C peers: a file that is not a JPEG fails naming it; libvips's
    levels are the rule's on a small JPEG."""
    have = {name: subprocess.run(["pkg-config", "--exists", *pkgs]).returncode == 0
            for name, pkgs in batch.HARNESSES.items()}
    if not (have["jpeg_decode"] and have["vips_levels"]):
        print("batch_check_test: skipped the libvips and TurboJPEG cases: their headers are missing "
              "(scripts/setup bench installs them)")
        return
    tools = batch.build_harnesses(["jpeg_decode", "vips_levels"], tmp)
    not_jpeg = os.path.join(tmp, "not a jpeg.jpg")
    with open(not_jpeg, "w") as f:
        f.write("text")
    for name, argv in (("jpeg_decode", [tools["jpeg_decode"], not_jpeg]),
                       ("vips_levels", [tools["vips_levels"], tmp, not_jpeg])):
        run = subprocess.run(argv, capture_output=True, text=True)
        check(run.returncode == 1 and "not a jpeg.jpg" in run.stderr, f"{name} on a text file: {run}")

    # Every sum of the three bands, 0 to 765, in one picture: noise that a
    # JPEG of quality 100 keeps varied.
    rng = np.random.default_rng(7)
    picture = os.path.join(tmp, "noise.jpg")
    Image.fromarray(rng.integers(0, 256, (64, 96, 3), dtype=np.uint8), "RGB").save(picture, quality=100)
    run = subprocess.run([tools["vips_levels"], tmp, picture], capture_output=True, text=True)
    check(run.returncode == 0 and run.stdout.startswith("files=1 "), f"vips_levels: {run}")
    decoded = np.asarray(Image.open(picture).convert("RGB")).astype(np.uint16).sum(axis=2)
    want = batch_check.PALETTE[decoded // 96]
    with Image.open(os.path.join(tmp, "noise.png")) as im:
        got = np.asarray(im)
    check(got.shape == want.shape and np.array_equal(got, want), "vips_levels: the levels are (r+g+b) div 96")
    run = subprocess.run([tools["jpeg_decode"], picture, picture], capture_output=True, text=True)
    check(run.returncode == 0 and run.stdout.startswith("files=2 megapixels=0.01 "), f"jpeg_decode: {run}")


def main():
    batch = load_batch()
    with tempfile.TemporaryDirectory() as tmp:
        png_pixels = batch.build_harnesses(["png_pixels"], tmp)["png_pixels"]
        test_levels_and_readback(png_pixels)
        test_harnesses(batch, tmp)
    for f in failures:
        print("batch_check_test: FAILED:", f, file=sys.stderr)
    print(f"batch_check_test: {'failed' if failures else 'passed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
