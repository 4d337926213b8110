"""numpy and Pillow pictures in: levels by their definition, views of any
layout, and the same level files as octtool makes of the same pixels."""

from __future__ import annotations

import errno

import numpy as np
import pytest
from PIL import Image as PILImage

import pyoct
from conftest import PALETTE, PICTURES, ROOT, numpy_levels, picture_id

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
    yield "every-other-row", rgba[::2]
    yield "upside-down", rgb[::-1]
    yield "upside-down-every-third-row", rgba[::-3]
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
    yield "one-row", random_pixels(1, 77, 3)
    yield "one-column", random_pixels(53, 1, 4)
    yield "one-column-of-a-wider-array", rgba[:, 5:6]


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


# The same pixels laid out in memory as converted where they lie (the first
# four) and as copied first (the rest).
LAYOUTS = {
    "contiguous": lambda p: p,
    "upside-down-view": lambda p: np.ascontiguousarray(p[::-1])[::-1],
    "crop-of-a-wider-array": lambda p: np.pad(p, ((3, 2), (5, 4), (0, 0)))[3:-2, 5:-4],
    "every-other-row-of-a-taller-array": lambda p: np.repeat(p, 2, axis=0)[::2],
    "fortran-order": np.asfortranarray,
    "pixels-apart": lambda p: np.pad(p, ((0, 0), (0, 0), (0, 1)))[..., :p.shape[2]],
}


@pytest.mark.parametrize("layout", list(LAYOUTS))
@pytest.mark.parametrize("depth", [3, 4])
def test_level_files_equal_octtools_for_the_same_pixels(depth, layout, convert, tmp_path):
    # RGB through a 24-bit BMP and RGBA through a PNG, both lossless, so
    # that octtool reads exactly these pixels.
    pixels = random_pixels(48, 70, depth)
    source = tmp_path / ("pixels.bmp" if depth == 3 else "pixels.png")
    PILImage.fromarray(pixels).save(source)
    array = LAYOUTS[layout](pixels)
    assert np.array_equal(array, pixels)
    with pyoct.fromarray(array) as image:
        assert image.tobytes() == convert(source, ".oct")
        image.save(tmp_path / "mine.bmp")
    assert (tmp_path / "mine.bmp").read_bytes() == convert(source, ".bmp")


class Calls:
    """Counts the calls of one of the library's functions and passes them on."""

    def __init__(self, fn):
        self.fn, self.count = fn, 0

    def __call__(self, *args):
        self.count += 1
        return self.fn(*args)


# The views whose rows hold their pixels side by side, a row's stride or more
# apart: the library reads them where they lie.
SIDE_BY_SIDE = {"contiguous-rgb", "contiguous-rgba", "every-sum-rgb", "every-sum-rgba", "every-other-row",
                "upside-down", "upside-down-every-third-row", "cropped", "width-1", "width-2", "width-3", "width-5",
                "width-7", "one-pixel", "one-row", "one-column", "one-column-of-a-wider-array"}


@pytest.mark.parametrize("name, array", VIEWS, ids=[n for n, _ in VIEWS])
def test_rows_of_side_by_side_pixels_are_converted_where_they_lie(name, array, monkeypatch):
    lib = pyoct._library()
    wrap, create = Calls(lib.octBitmapWrap), Calls(lib.octBitmapCreate)
    monkeypatch.setattr(lib, "octBitmapWrap", wrap)
    monkeypatch.setattr(lib, "octBitmapCreate", create)
    with pyoct.fromarray(array) as image:
        assert np.array_equal(image.levels, numpy_levels(array))
    assert (wrap.count, create.count) == ((1, 0) if name in SIDE_BY_SIDE else (0, 1))


LEVEL_OF_VALUE = np.zeros(256, np.uint8)
LEVEL_OF_VALUE[PALETTE] = np.arange(8, dtype=np.uint8)


def rebuilt_levels(image: pyoct.Image):
    """The levels as the rebuilt picture shows them, read back through the palette."""
    rebuilt = LEVEL_OF_VALUE[image.toarray()]
    return rebuilt[..., 0], (rebuilt[..., 3] if image.alpha else None)


def assert_levels_are_the_rebuilt_pictures(image: pyoct.Image):
    gray, alpha = rebuilt_levels(image)
    assert np.array_equal(image.levels, gray)
    if alpha is None:
        assert image.alpha_levels is None
    else:
        assert np.array_equal(image.alpha_levels, alpha)


@pytest.mark.parametrize("path", PICTURES, ids=picture_id)
def test_levels_of_pictures_and_level_files_are_what_the_rebuilt_picture_shows(path):
    with pyoct.open(path) as image:
        assert_levels_are_the_rebuilt_pictures(image)
        if image.width * image.height > 28:
            with pyoct.frombytes(image.tobytes()) as again:
                assert_levels_are_the_rebuilt_pictures(again)
                assert np.array_equal(again.levels, image.levels)


def level_file_or_reason(image: pyoct.Image):
    """The level file's bytes, or why there is none (too few pixels, levels
    that do not compress)."""
    try:
        return image.tobytes()
    except pyoct.OctError as e:
        return str(e)


def test_levels_of_random_shapes_and_layouts():
    """Sides of 1 and widths off a multiple of 8, in every layout: numpy's
    levels, what the rebuilt picture shows, and the same level file whether
    converted where they lie or copied first."""
    rng = np.random.default_rng(4096)
    layouts = list(LAYOUTS.values()) + [lambda p: p.transpose(1, 0, 2).copy().transpose(1, 0, 2)]
    for case in range(120):
        height = int(rng.choice([1, 2, 3, 8, 9])) if case % 3 == 0 else int(rng.integers(1, 40))
        width = int(rng.choice([1, 2, 7, 9, 15, 17])) if case % 3 == 1 else int(rng.integers(1, 70))
        depth = int(rng.choice([3, 4]))
        pixels = RNG.integers(0, 256, (height, width, depth), dtype=np.uint8)
        array = layouts[case % len(layouts)](pixels)
        with pyoct.fromarray(array) as image, pyoct.fromarray(np.asfortranarray(pixels)) as copied:
            assert np.array_equal(image.levels, numpy_levels(pixels)), (height, width, depth)
            if depth == 4:
                assert np.array_equal(image.alpha_levels, pixels[..., 3] // 32)
            assert_levels_are_the_rebuilt_pictures(image)
            assert np.array_equal(image.toarray(), copied.toarray())
            assert level_file_or_reason(image) == level_file_or_reason(copied)


def test_pixels_too_many_for_a_bitmap_are_refused_saying_so():
    # 2^31 bytes and more, refused before they are read: the system's
    # zero-filled pages are never touched.
    pixels = np.zeros((23171, 23171, 4), np.uint8)
    with pytest.raises(pyoct.OctError, match="a bitmap of 23171 × 23171 pixels at 32 bits; at most 2147483647 bytes") \
            as caught:
        pyoct.fromarray(pixels)
    assert caught.value.errno == errno.EFBIG


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
