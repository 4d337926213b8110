"""An image's life, failures as exceptions, and threads."""

from __future__ import annotations

import copy
import gc
import pickle
import os
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import pyoct
from conftest import PICTURES, ROOT

PHOTO = ROOT / "samples" / "harvesters-320.bmp"


def use(image: pyoct.Image, what: str, tmp_path) -> object:
    return {
        "width": lambda: image.width,
        "height": lambda: image.height,
        "size": lambda: image.size,
        "alpha": lambda: image.alpha,
        "levels": lambda: image.levels,
        "alpha_levels": lambda: image.alpha_levels,
        "toarray": image.toarray,
        "toimage": image.toimage,
        "tobytes": image.tobytes,
        "save-oct": lambda: image.save(tmp_path / "x.oct"),
        "save-bmp": lambda: image.save(tmp_path / "x.bmp"),
        "save-png": lambda: image.save(tmp_path / "x.png"),
        "enter": lambda: image.__enter__(),
    }[what]()


USES = ["width", "height", "size", "alpha", "levels", "alpha_levels", "toarray", "toimage", "tobytes",
        "save-oct", "save-bmp", "save-png", "enter"]


@pytest.mark.parametrize("what", USES)
def test_a_closed_image_refuses_every_use(what, tmp_path):
    image = pyoct.open(PHOTO)
    image.levels  # kept levels must not outlive the record either
    image.close()
    assert image.closed and "closed" in repr(image)
    with pytest.raises(ValueError, match="closed"):
        use(image, what, tmp_path)
    assert not list(tmp_path.iterdir())
    image.close()  # twice is harmless


def test_the_context_manager_and_the_collector_free_records():
    with pyoct.open(PHOTO) as image:
        # A copy would free the record twice.
        for duplicate in (copy.copy, copy.deepcopy, pickle.dumps):
            with pytest.raises(TypeError):
                duplicate(image)

    before = pyoct.live_records()
    with pyoct.open(PHOTO) as image:
        assert pyoct.live_records() == before + 1
    assert image.closed and pyoct.live_records() == before
    forgotten = [pyoct.open(PHOTO) for _ in range(3)]
    assert pyoct.live_records() == before + 3
    del forgotten
    gc.collect()
    assert pyoct.live_records() == before


@pytest.mark.parametrize(
    "path, error",
    [
        ("no-such-picture.png", FileNotFoundError),
        ("no-such-folder/picture.png", FileNotFoundError),
        (str(ROOT / "tests"), IsADirectoryError),
        (str(ROOT / "README.md"), pyoct.OctError),
        (str(ROOT / "tests" / "data" / "ico" / "hopper.ico"), pyoct.OctError),
    ],
    ids=["missing-file", "missing-folder", "folder", "text", "icon"],
)
def test_files_that_are_no_picture_raise(path, error, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error) as caught:
        pyoct.open(path)
    assert isinstance(caught.value, pyoct.OctError) and isinstance(caught.value, OSError)
    assert caught.value.filename == path


@pytest.mark.parametrize(
    "data",
    [
        b"",
        b"not a picture",
        (ROOT / "tests" / "data" / "png" / "pngsuite" / "basn6a08.png").read_bytes()[:100],
        b"OCTL" + bytes(30),
    ],
    ids=["empty", "text", "cut-png", "bare-header"],
)
def test_bytes_that_are_no_picture_raise(data):
    with pytest.raises(pyoct.OctError):
        pyoct.frombytes(data)


def test_names_the_library_cannot_take_raise():
    with pytest.raises(ValueError, match="null"):
        pyoct.open("a\0b.png")
    with pytest.raises(pyoct.OctError, match="not UTF-8"):
        pyoct.open(b"\xff\xfe.png")


def test_failed_saves_raise_and_leave_the_old_file(tmp_path):
    with pyoct.open(PHOTO) as image:
        with pytest.raises(FileNotFoundError):
            image.save(tmp_path / "missing" / "x.oct")
        with pytest.raises(FileNotFoundError):
            image.save(tmp_path / "missing" / "x.png")
        (tmp_path / "folder.oct").mkdir()
        with pytest.raises(IsADirectoryError):
            image.save(tmp_path / "folder.oct")
    # The library makes no level file of 28 pixels or fewer; an old file of
    # that name stays as it was.
    old = tmp_path / "tiny.oct"
    old.write_bytes(b"old contents")
    with pyoct.fromarray(np.zeros((4, 7, 3), np.uint8)) as tiny:
        with pytest.raises(pyoct.OctError, match="28 pixels"):
            tiny.save(old)
        with pytest.raises(pyoct.OctError, match="28 pixels"):
            tiny.tobytes()
        tiny.save(tmp_path / "tiny.bmp")  # the rebuilt picture is still written
    assert old.read_bytes() == b"old contents"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["folder.oct", "tiny.bmp", "tiny.oct"]


def test_tobytes_leaves_no_temporary_file(tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    import tempfile

    monkeypatch.setattr(tempfile, "tempdir", None)
    with pyoct.open(PHOTO) as image:
        image.tobytes()
        with pyoct.fromarray(np.zeros((2, 2, 3), np.uint8)) as tiny:
            with pytest.raises(pyoct.OctError):
                tiny.tobytes()
    assert not list(tmp_path.iterdir())


def test_threads_convert_at_once_as_one_thread_does():
    arrays = [np.random.default_rng(seed).integers(0, 256, (90, 120, 3 + seed % 2), dtype=np.uint8)
              for seed in range(8)]

    def work(i):
        with pyoct.open(PICTURES[i % len(PICTURES)]) as a, pyoct.fromarray(arrays[i % 8]) as b:
            return a.tobytes(), b.tobytes(), b.levels.tobytes()

    serial = [work(i) for i in range(32)]
    with ThreadPoolExecutor(8) as pool:
        for _ in range(3):
            assert list(pool.map(work, range(32))) == serial


def test_one_image_shared_by_threads_and_closed_under_them():
    image = pyoct.open(PHOTO)
    expected = (image.tobytes(), image.toarray())
    start = threading.Barrier(5)
    outcomes = []

    def reader():
        start.wait()
        for _ in range(40):
            try:
                data, pixels = image.tobytes(), image.toarray()
                assert data == expected[0] and np.array_equal(pixels, expected[1])
                outcomes.append("read")
            except ValueError:
                outcomes.append("closed")

    threads = [threading.Thread(target=reader) for _ in range(4)]
    for t in threads:
        t.start()
    start.wait()
    image.close()
    for t in threads:
        t.join()
    assert len(outcomes) == 160 and "closed" in outcomes
