"""Files in and out against octtool, byte for byte."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

import numpy as np
import pytest
from PIL import Image as PILImage

import pyoct
from conftest import PALETTE, PICTURES, ROOT, bmp_pixels, numpy_levels, picture_id


@pytest.mark.parametrize("source", PICTURES, ids=picture_id)
def test_level_files_and_bmps_equal_octtools(source, convert, tmp_path):
    with pyoct.open(source) as image:
        assert image.tobytes() == convert(source, ".oct")
        image.save(tmp_path / "mine.bmp")
        assert (tmp_path / "mine.bmp").read_bytes() == convert(source, ".bmp")
        image.save(tmp_path / "mine.oct")
        assert (tmp_path / "mine.oct").read_bytes() == convert(source, ".oct")


@pytest.mark.parametrize("source", PICTURES, ids=picture_id)
def test_a_level_file_rebuilds_as_octtools_bmp(source, convert, tmp_path):
    level_file = tmp_path / "in.oct"
    level_file.write_bytes(convert(source, ".oct"))
    expected = bmp_pixels(convert(level_file, ".bmp"))
    with pyoct.open(level_file) as image:
        rebuilt = image.toarray()
        assert rebuilt.shape == (image.height, image.width, 4 if image.alpha else 3)
        assert np.array_equal(rebuilt, expected)
        # The levels are what the rebuilt bytes stand for.
        assert np.array_equal(PALETTE[image.levels], rebuilt[..., 0])
        if image.alpha:
            assert np.array_equal(PALETTE[image.alpha_levels], rebuilt[..., 3])
        else:
            assert image.alpha_levels is None
        # A level file read again gives the same level file.
        assert image.tobytes() == level_file.read_bytes()


@pytest.mark.parametrize("source", PICTURES[:5], ids=picture_id)
def test_bytes_in_memory_read_as_the_file(source):
    data = source.read_bytes()
    with pyoct.open(source) as from_file:
        expected = from_file.tobytes()
    for block in (data, bytearray(data), memoryview(data), np.frombuffer(data, np.uint8)):
        with pyoct.frombytes(block) as image:
            assert image.tobytes() == expected


@pytest.mark.parametrize(
    "source",
    [ROOT / "samples" / "harvesters-320.bmp", ROOT / "tests" / "data" / "png" / "pngsuite" / "basn6a08.png"],
    ids=picture_id,
)
def test_levels_of_a_lossless_picture_are_numpys(source):
    with PILImage.open(source) as picture:
        pixels = np.asarray(picture)
    with pyoct.open(source) as image:
        assert image.size == (pixels.shape[1], pixels.shape[0])
        assert image.levels.dtype == np.uint8
        assert np.array_equal(image.levels, numpy_levels(pixels))
        if pixels.shape[2] == 4:
            assert image.alpha
            assert np.array_equal(image.alpha_levels, pixels[..., 3] // 32)


def test_png_out_holds_the_rebuilt_pixels(tmp_path):
    source = ROOT / "tests" / "data" / "png" / "pngsuite" / "basn6a08.png"
    with pyoct.open(source) as image:
        image.save(tmp_path / "out.PNG")
        with PILImage.open(tmp_path / "out.PNG") as written:
            assert written.format == "PNG" and written.mode == "RGBA"
            assert np.array_equal(np.asarray(written), image.toarray())
    assert sorted(os.listdir(tmp_path)) == ["out.PNG"]  # no temporary file left


@pytest.mark.parametrize(
    "name",
    ["bild-äöü.bmp", "写真.bmp", "emoji-\U0001F600.bmp", "with space.bmp"],
)
def test_names_outside_ascii_reach_the_library_whole(name, tmp_path, convert):
    source = ROOT / "samples" / "harvesters-320.bmp"
    renamed = tmp_path / name
    shutil.copyfile(source, renamed)
    out = tmp_path / (name + ".oct")
    for path in (renamed, str(renamed), os.fsencode(renamed)):
        with pyoct.open(path) as image:
            image.save(out)
        assert out.read_bytes() == convert(source, ".oct")


def test_the_loaded_library_is_the_packages_own_when_installed():
    if os.environ.get("PYOCT_EXPECT_INSTALLED") != "1":
        pytest.skip("only for the installed package (scripts/test sets PYOCT_EXPECT_INSTALLED=1)")
    assert Path(pyoct.library_path()).parent == Path(pyoct.__file__).parent
    assert pyoct.LIBRARY_VERSION == 1
