"""numpy and Pillow pictures in: levels by their definition, views of any
layout, and the same level files as octtool makes of the same pixels."""

from __future__ import annotations

import numpy as np
import pytest
from PIL import Image as PILImage

import pyoct
from conftest import PALETTE, ROOT, numpy_levels

RNG = np.random.default_rng(20240607)


def random_pixels(height: int, width: int, depth: int) -> np.ndarray:
    return RNG.integers(0, 256, (height, width, depth), dtype=np.uint8)


def every_sum(depth: int) -> np.ndarray:
    """Pixels whose colour sums cover 0..765, each level's edges included,
    with red and blue apart so that their order matters to nothing but the
    sum; the alpha byte runs through 0..255."""
    sums = np.arange(766)
    red = np.minimum(sums, 255)
    blue = np.clip(sums - 255, 0, 255)
    green = sums - red - blue
    pixels = np.stack([red, green, blue], axis=1)
    if depth == 4:
        pixels = np.concatenate([pixels, (np.arange(766) % 256)[:, None]], axis=1)
    return pixels.astype(np.uint8).reshape(1, 766, depth)


def views():
    """(name, array): contiguous arrays and views of every layout."""
    rgba = random_pixels(61, 83, 4)
    rgb = random_pixels(64, 80, 3)
    yield "contiguous-rgb", rgb
    yield "contiguous-rgba", rgba
    yield "every-sum-rgb", every_sum(3)
    yield "every-sum-rgba", every_sum(4)
    yield "strided-rows-and-columns", rgb[::2, ::3]
    yield "flipped", rgba[::-1, ::-1]
    yield "transposed", rgb.transpose(1, 0, 2)
    yield "rgb-of-rgba", rgba[:, :, :3]
    yield "reversed-channels", rgba[:, :, ::-1]
    yield "fortran-order", np.asfortranarray(rgb)
    yield "cropped", rgba[7:50, 11:70]
    yield "broadcast-row", np.broadcast_to(rgb[:1], (40, 80, 3))
    # Widths whose rows need padding to 4 bytes in a 24-bit bitmap.
    for width in (1, 2, 3, 5, 7):
        yield f"width-{width}", random_pixels(9, width, 3)
    yield "one-pixel", random_pixels(1, 1, 4)


VIEWS = list(views())


@pytest.mark.parametrize("array", [a for _, a in VIEWS], ids=[n for n, _ in VIEWS])
def test_levels_are_numpys(array):
    before = array.copy()
    with pyoct.fromarray(array) as image:
        height, width, depth = array.shape
        assert image.size == (width, height)
        assert image.alpha == (depth == 4)
        assert image.levels.shape == (height, width) and not image.levels.flags.writeable
        assert np.array_equal(image.levels, numpy_levels(array))
        if depth == 4:
            assert np.array_equal(image.alpha_levels, array[..., 3] // 32)
        else:
            assert image.alpha_levels is None
        rebuilt = image.toarray()
        assert rebuilt.shape == array.shape and rebuilt.flags.c_contiguous
        assert np.array_equal(rebuilt[..., :3], np.repeat(PALETTE[image.levels][..., None], 3, axis=2))
        if depth == 4:
            assert np.array_equal(rebuilt[..., 3], PALETTE[image.alpha_levels])
    assert np.array_equal(array, before)


@pytest.mark.parametrize("depth", [3, 4])
def test_level_files_equal_octtools_for_the_same_pixels(depth, convert, tmp_path):
    # RGB through a 24-bit BMP and RGBA through a PNG, both lossless, so
    # that octtool reads exactly these pixels.
    pixels = random_pixels(48, 70, depth)
    source = tmp_path / ("pixels.bmp" if depth == 3 else "pixels.png")
    PILImage.fromarray(pixels).save(source)
    with pyoct.fromarray(pixels) as image:
        assert image.tobytes() == convert(source, ".oct")
        image.save(tmp_path / "mine.bmp")
    assert (tmp_path / "mine.bmp").read_bytes() == convert(source, ".bmp")


@pytest.mark.parametrize(
    "array, error",
    [
        (np.zeros((4, 4, 3), np.uint16), TypeError),
        (np.zeros((4, 4, 3), np.float32), TypeError),
        (np.zeros((4, 4), np.uint8), ValueError),
        (np.zeros((4, 4, 2), np.uint8), ValueError),
        (np.zeros((4, 4, 5), np.uint8), ValueError),
        (np.zeros((2, 4, 4, 3), np.uint8), ValueError),
        (np.zeros((0, 4, 3), np.uint8), ValueError),
        (np.zeros((4, 0, 4), np.uint8), ValueError),
    ],
    ids=["uint16", "float32", "2d", "2-channels", "5-channels", "4d", "no-rows", "no-columns"],
)
def test_arrays_that_are_no_picture_are_refused(array, error):
    with pytest.raises(error):
        pyoct.fromarray(array)


@pytest.mark.parametrize(
    "mode, alpha",
    [("RGB", False), ("RGBA", True), ("L", False), ("LA", True), ("P", False), ("1", False), ("CMYK", False)],
)
def test_fromimage_takes_any_mode_as_rgb_or_rgba(mode, alpha):
    with PILImage.open(ROOT / "samples" / "harvesters-320.bmp") as photo:
        picture = photo.convert("RGBA").convert(mode)
    expected = np.asarray(picture.convert("RGBA" if alpha else "RGB"))
    with pyoct.fromimage(picture) as image, pyoct.fromarray(expected) as direct:
        assert image.alpha == alpha
        assert image.tobytes() == direct.tobytes()


@pytest.mark.parametrize("mode", ["P", "RGB"])
def test_fromimage_keeps_a_transparent_colour(mode):
    picture = PILImage.new("P", (40, 30), 0)
    picture.putpalette([255, 0, 0, 0, 0, 255])
    picture.paste(1, (0, 0, 20, 30))
    if mode == "RGB":
        picture = picture.convert("RGB")
        picture.info["transparency"] = (0, 0, 255)
    else:
        picture.info["transparency"] = 1
    with pyoct.fromimage(picture) as image:
        assert image.alpha
        assert np.array_equal(image.alpha_levels[:, :20], np.zeros((30, 20), np.uint8))
        assert np.array_equal(image.alpha_levels[:, 20:], np.full((30, 20), 7, np.uint8))
