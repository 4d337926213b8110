"""Shared pieces: the repository's pictures, octtool to compare with, and a
check that every test leaves no record open."""

from __future__ import annotations

import gc
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import pyoct

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"

# One or more of each kind the library reads, with and without alpha.
PICTURES = [
    ROOT / "samples" / "harvesters-320.bmp",
    DATA / "bmp" / "g" / "pal8.bmp",
    DATA / "png" / "pngsuite" / "basn2c08.png",
    DATA / "png" / "pngsuite" / "basn6a08.png",
    DATA / "png" / "pngsuite" / "tbrn2c08.png",
    DATA / "jpeg" / "pillow" / "hopper.jpg",
    DATA / "jpeg" / "pillow" / "hopper_orientation_6.jpg",
    DATA / "gif" / "pillow" / "transparent.gif",
    DATA / "tiff" / "libtiff" / "minisblack-2c-8b-alpha.tiff",
    DATA / "webp" / "libwebp-test-data" / "lossless1.webp",
    # The pictures phones and the web make, through the same octLoad.
    DATA / "heif" / "libheif" / "with-alpha-512x512.heic",
    DATA / "avif" / "libavif" / "abc_color_irot_alpha_irot.avif",
    DATA / "jxl" / "conformance" / "grayscale.jxl",
]

# The byte values of the rebuilt picture, by level.
PALETTE = np.array([0, 29, 59, 89, 119, 149, 179, 255], np.uint8)


def picture_id(path: Path) -> str:
    return path.name


@pytest.fixture(scope="session")
def octtool() -> Path:
    """octtool, which the package's files must equal: OCT_TOOL, else the
    native build's. Named but missing fails; not built skips."""
    named = os.environ.get("OCT_TOOL")
    tool = Path(named) if named else ROOT / "build" / "native" / "octtool"
    if not tool.is_file():
        if named:
            pytest.fail(f"OCT_TOOL names {tool}, which does not exist")
        pytest.skip(f"no octtool at {tool} (build the native preset or set OCT_TOOL)")
    return tool


@pytest.fixture
def convert(octtool, tmp_path):
    """octtool convert IN OUT; the bytes of OUT."""

    def run(source: Path, suffix: str) -> bytes:
        out = tmp_path / f"octtool-{source.stem}{suffix}"
        subprocess.run([str(octtool), "convert", str(source), str(out)], check=True, capture_output=True)
        return out.read_bytes()

    return run


@pytest.fixture(autouse=True)
def no_record_left_open():
    """Every test must release every record it made: closed, or collected."""
    before = pyoct.live_records()
    yield
    gc.collect()
    assert pyoct.live_records() == before, "a test left a record of the library open"


def numpy_levels(pixels: np.ndarray) -> np.ndarray:
    """The gray level by its definition: the sum of red, green and blue div 96."""
    return (pixels[..., :3].astype(np.uint16).sum(axis=2) // 96).astype(np.uint8)


def bmp_pixels(data: bytes) -> np.ndarray:
    """The pixels of an uncompressed 24- or 32-bit BMP as RGB or RGBA, top
    row first; read here because Pillow drops a 32-bit BMP's alpha."""
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    depth = int.from_bytes(data[28:30], "little") // 8
    assert depth in (3, 4)
    pitch = (width * depth + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, pitch * abs(height), offset).reshape(abs(height), pitch)
    pixels = rows[:, : width * depth].reshape(abs(height), width, depth)
    if height > 0:
        pixels = pixels[::-1]
    order = [2, 1, 0, 3][:depth]
    return pixels[..., order]
