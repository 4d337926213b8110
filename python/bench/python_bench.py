#!/usr/bin/env python3
"""fromarray plus levels against octConvert from C, on the same pixels.

    /usr/bin/python3 python/bench/python_bench.py [SIZE] [RUNS]

SIZE defaults to 4096 (a SIZE x SIZE picture: the repository's photograph
resampled by Pillow, once as RGB and once as RGBA with an alpha ramp), RUNS
to 15. The C side is convert_timer.c, compiled here against the library that
pyoct loaded, and times octConvert alone on a bitmap filled beforehand. The
Python side times pyoct.fromarray(array).levels, which makes a bitmap over
the array's own rows (octBitmapWrap), converts, deletes the bitmap, copies
the level codes out (octLevelCodes) and unpacks them with numpy. Both print
the fastest run and the median; the ratio is of the medians. The two sides
run in turns, so that other work on the machine weighs on both alike.
"""

from __future__ import annotations

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
from PIL import Image

import pyoct

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
PHOTO = ROOT / "tests" / "data" / "photo" / "harvesters.bmp"


def picture(size: int, depth: int) -> np.ndarray:
    with Image.open(PHOTO) as photo:
        rgb = np.asarray(photo.convert("RGB").resize((size, size), Image.LANCZOS))
    if depth == 3:
        return np.ascontiguousarray(rgb)
    ramp = np.linspace(0, 255, size, dtype=np.float64).astype(np.uint8)
    alpha = np.broadcast_to(ramp[None, :], (size, size))[..., None]
    return np.ascontiguousarray(np.concatenate([rgb, alpha], axis=2))


def build_timer(work: Path) -> Path:
    library = Path(pyoct.library_path()).resolve()
    timer = work / "convert_timer"
    subprocess.run(
        ["cc", "-O2", "-std=c11", f"-I{ROOT / 'include'}", "-o", str(timer), str(HERE / "convert_timer.c"),
         str(library), f"-Wl,-rpath,{library.parent}"],
        check=True,
    )
    return timer


def time_c(timer: Path, raw: Path, size: int, depth: int, runs: int) -> "tuple[float, float]":
    out = subprocess.run([str(timer), str(raw), str(size), str(size), str(depth), str(runs)],
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1])


def time_python(array: np.ndarray, runs: int) -> "tuple[float, float, float, float]":
    """(fastest, median) of fromarray + levels, and the medians of its two parts."""
    whole, convert, levels = [], [], []
    for _ in range(runs):
        start = time.perf_counter()
        image = pyoct.fromarray(array)
        middle = time.perf_counter()
        image.levels
        end = time.perf_counter()
        image.close()
        whole.append(end - start)
        convert.append(middle - start)
        levels.append(end - middle)
    return min(whole), statistics.median(whole), statistics.median(convert), statistics.median(levels)


def main() -> int:
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 4096
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    print(f"library: {pyoct.library_path()}")
    print(f"{size} x {size} pixels, {runs} runs each, 3 turns; seconds, fastest / median")
    with tempfile.TemporaryDirectory(prefix="pyoct-bench-") as temp:
        work = Path(temp)
        timer = build_timer(work)
        for depth in (3, 4):
            array = picture(size, depth)
            raw = work / f"pixels-{depth}.raw"
            raw.write_bytes(array.tobytes())
            pyoct.fromarray(array).close()  # the first conversion maps the library's buffers
            c_runs, py_runs = [], []
            for _ in range(3):
                c_runs.append(time_c(timer, raw, size, depth, runs))
                py_runs.append(time_python(array, runs))
            c_min = min(r[0] for r in c_runs)
            c_med = statistics.median(r[1] for r in c_runs)
            py_min = min(r[0] for r in py_runs)
            py_med = statistics.median(r[1] for r in py_runs)
            part_convert = statistics.median(r[2] for r in py_runs)
            part_levels = statistics.median(r[3] for r in py_runs)
            kind = "RGB " if depth == 3 else "RGBA"
            print(f"{kind} octConvert from C:         {c_min:.4f} / {c_med:.4f}")
            print(f"{kind} fromarray + levels:        {py_min:.4f} / {py_med:.4f}   "
                  f"(fromarray {part_convert:.4f}, levels {part_levels:.4f})   "
                  f"ratio {py_med / c_med:.2f} (fastest {py_min / c_min:.2f})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
