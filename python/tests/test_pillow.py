"""The Pillow plugin: level files open as their rebuilt picture and save
with the bytes pyoct writes."""

from __future__ import annotations

import io

import numpy as np
import pytest
from PIL import Image as PILImage

import pyoct
import pyoct.pillow  # noqa: F401 - registers the format
from conftest import PICTURES, ROOT, picture_id


@pytest.mark.parametrize("source", PICTURES, ids=picture_id)
def test_pillow_opens_level_files_as_the_rebuilt_picture(source, convert, tmp_path):
    level_file = tmp_path / "picture.oct"
    level_file.write_bytes(convert(source, ".oct"))
    with pyoct.open(level_file) as image:
        expected = image.toarray()
        mode = "RGBA" if image.alpha else "RGB"
    with PILImage.open(level_file) as picture:
        assert picture.format == "OCT"
        assert picture.mode == mode and picture.size == (expected.shape[1], expected.shape[0])
        assert np.array_equal(np.asarray(picture), expected)


@pytest.mark.parametrize("source", PICTURES, ids=picture_id)
def test_pillow_saves_the_bytes_of_fromarray(source, tmp_path):
    try:
        with PILImage.open(source) as picture:
            picture.load()
    except OSError:
        pytest.skip(f"Pillow does not read {source.name}")
    rgb_or_rgba = picture.convert("RGBA" if "A" in picture.mode or "transparency" in picture.info else "RGB")
    with pyoct.fromarray(np.asarray(rgb_or_rgba)) as image:
        expected = image.tobytes()
    picture.save(tmp_path / "saved.oct")
    assert (tmp_path / "saved.oct").read_bytes() == expected
    memory = io.BytesIO()
    picture.save(memory, format="OCT")
    assert memory.getvalue() == expected


def test_a_bmp_saved_by_pillow_equals_octtools_level_file(convert, tmp_path):
    source = ROOT / "samples" / "harvesters-320.bmp"
    with PILImage.open(source) as picture:
        picture.save(tmp_path / "photo.oct")
    assert (tmp_path / "photo.oct").read_bytes() == convert(source, ".oct")


def test_level_files_round_trip_through_pillow(tmp_path):
    pixels = np.random.default_rng(3).integers(0, 256, (40, 50, 4), dtype=np.uint8)
    with pyoct.fromarray(pixels) as image:
        image.save(tmp_path / "a.oct")
        rebuilt = image.toarray()
    with PILImage.open(tmp_path / "a.oct") as picture:
        assert np.array_equal(np.asarray(picture), rebuilt)
        picture.save(tmp_path / "b.oct")
    # Saved again, the rebuilt picture is converted anew: its levels are
    # those of the rebuilt pixels, not the first levels (29 * 3 // 96 is 0).
    with pyoct.open(tmp_path / "b.oct") as again, pyoct.fromarray(rebuilt) as expected:
        assert np.array_equal(again.levels, expected.levels)
        assert np.array_equal(again.alpha_levels, expected.alpha_levels)


def test_other_formats_and_bad_level_files_are_not_taken(tmp_path):
    with PILImage.open(ROOT / "samples" / "harvesters-320.bmp") as picture:
        assert picture.format == "BMP"
    (tmp_path / "bad.oct").write_bytes(b"OCTL" + bytes(18) + b"not a payload")
    with pytest.raises((SyntaxError, OSError)):
        with PILImage.open(tmp_path / "bad.oct") as picture:
            picture.load()
    with pytest.raises(OSError):
        with PILImage.open(io.BytesIO(b"OCTL\x01")) as picture:
            picture.load()
