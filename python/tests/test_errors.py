"""Every failure raises from the library's own reason: the exception type,
errno and message say what the file is, never a guess made afterwards."""

from __future__ import annotations

import errno
import os

import numpy as np
import pytest

import pyoct
from conftest import DATA, ROOT

HEIF = b"\0\0\0\x18ftypheic\0\0\0\0mif1heic"


def _make(kind, tmp_path):
    path = tmp_path / f"in-{kind}"
    if kind == "missing":
        return path
    if kind == "folder":
        path.mkdir()
    elif kind == "cut-jpeg":
        path.write_bytes((DATA / "jpeg-bad" / "pillow" / "truncated_jpeg.jpg").read_bytes())
    elif kind == "text":
        path.write_bytes(b"hello")
    elif kind == "heif":
        path.write_bytes(HEIF)
    elif kind == "bigtiff":
        path.write_bytes((DATA / "tiff" / "made" / "palette-1c-8b-orientation-6.bigtiff.tif").read_bytes())
    elif kind == "huge-bmp":
        header = bytearray(54)
        header[0:2] = b"BM"
        header[10:18] = (54).to_bytes(4, "little") + (40).to_bytes(4, "little")
        header[18:26] = (40000).to_bytes(4, "little") * 2
        header[26], header[28] = 1, 24
        path.write_bytes(bytes(header))
    return path


# kind: (exception, errno, the message or its start)
CASES = {
    "missing": (FileNotFoundError, errno.ENOENT, "no such file"),
    "folder": (IsADirectoryError, errno.EISDIR, "a folder, not a file"),
    "cut-jpeg": (pyoct.OctDamagedError, errno.EINVAL, "damaged JPEG"),
    "text": (pyoct.OctFormatError, errno.EINVAL, "not a picture or level file this library knows"),
    # The header alone: a HEIF without its image.
    "heif": (pyoct.OctDamagedError, errno.EINVAL, "damaged HEIF"),
    "bigtiff": (pyoct.OctNoCodecError, errno.ENOTSUP, "a BigTIFF picture, which this system has no codec for"),
    "huge-bmp": (pyoct.OctError, errno.EFBIG, "40000 × 40000 pixels; at most"),
}


@pytest.mark.parametrize("kind", list(CASES))
def test_a_failed_read_raises_what_the_library_found(kind, tmp_path):
    path = _make(kind, tmp_path)
    kind_error, number, message = CASES[kind]
    with pytest.raises(kind_error) as caught:
        pyoct.open(path)
    error = caught.value
    assert isinstance(error, pyoct.OctError) and error.errno == number
    assert error.strerror.startswith(message), error.strerror
    assert error.filename == str(path)
    assert error.code > 0
    if path.is_file():
        # The same bytes from memory: the same cause, without a file name.
        with pytest.raises(kind_error) as again:
            pyoct.frombytes(path.read_bytes())
        assert again.value.strerror == error.strerror and again.value.filename is None


def test_the_five_causes_are_five_different_failures(tmp_path):
    seen = set()
    for kind in ("missing", "folder", "cut-jpeg", "text", "bigtiff"):
        with pytest.raises(pyoct.OctError) as caught:
            pyoct.open(_make(kind, tmp_path))
        seen.add((type(caught.value), caught.value.errno, caught.value.strerror))
    assert len(seen) == 5


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads a file without read permission")
def test_an_unreadable_file_raises_permission_error(tmp_path):
    path = tmp_path / "locked.bmp"
    path.write_bytes((DATA / "bmp" / "g" / "pal8.bmp").read_bytes())
    path.chmod(0)
    with pytest.raises(PermissionError) as caught:
        pyoct.open(path)
    assert caught.value.errno == errno.EACCES and caught.value.strerror == "permission denied"


def test_failed_saves_raise_what_the_library_found(tmp_path):
    (tmp_path / "folder.oct").mkdir()
    with pyoct.open(ROOT / "samples" / "harvesters-320.bmp") as image:
        with pytest.raises(FileNotFoundError) as caught:
            image.save(tmp_path / "missing" / "x.oct")
        assert caught.value.strerror == "no such folder"
        with pytest.raises(IsADirectoryError):
            image.save(tmp_path / "folder.oct")
    with pyoct.fromarray(np.zeros((4, 7, 3), np.uint8)) as tiny:
        with pytest.raises(pyoct.OctError) as caught:
            tiny.save(tmp_path / "tiny.oct")
        assert caught.value.errno == errno.EINVAL and "28 pixels" in caught.value.strerror


def test_convert_many_reports_each_failure_with_its_reason(tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    paths = [_make("cut-jpeg", tmp_path), ROOT / "samples" / "harvesters-320.bmp", _make("heif", tmp_path)]
    results = pyoct.convert_many(paths, out)
    errors = [error for _, _, error in results]
    assert isinstance(errors[0], pyoct.OctDamagedError) and errors[1] is None
    assert isinstance(errors[2], pyoct.OctDamagedError) and "HEIF" in errors[2].strerror
