"""Levels unpacked from level codes against the format read bit by bit, over
every pixel count up to a few groups, larger ones, and slices of every size."""

from __future__ import annotations

import ctypes

import numpy as np
import pytest

from pyoct import _codes

# The format's table (docs/formats/level-buffer.md): level → bits p, p+1, p+2.
FORMAT = {0: (0, 0, 0), 1: (0, 0, 1), 2: (0, 1, 0), 3: (1, 0, 0), 4: (0, 1, 1), 5: (1, 1, 0), 6: (1, 0, 1),
          7: (1, 1, 1)}
LEVEL_OF_BITS = {bits: level for level, bits in FORMAT.items()}


def by_the_format(codes: np.ndarray, pixels: int, alpha: bool, alpha_codes: bool) -> np.ndarray:
    bits = np.unpackbits(codes, bitorder="little")
    step = 6 if alpha else 3
    first = 3 if alpha_codes else 0
    return np.array([LEVEL_OF_BITS[tuple(int(b) for b in bits[k * step + first:k * step + first + 3])]
                     for k in range(pixels)], np.uint8)


class Codes:
    """A stand-in for the library whose octLevelCodes gives these codes."""

    def __init__(self, codes: np.ndarray):
        self.codes = codes

    def octLevelCodes(self, record, out, size):
        if out is not None and size >= self.codes.size:
            ctypes.memmove(out, self.codes.ctypes.data, self.codes.size)
        return self.codes.size


def filled(codes: np.ndarray, alpha: bool, rng) -> np.ndarray:
    """read_codes' buffer for these codes, with random bytes everywhere but
    the codes: where the levels go, and past the codes, where no pixel's
    codes are."""
    buffer = _codes.read_codes(Codes(codes), 0, alpha)
    _, first = _codes._layout(codes.size, alpha)
    assert np.array_equal(buffer[first:first + codes.size], codes)
    noise = rng.integers(0, 256, buffer.size, dtype=np.uint8)
    noise[first:first + codes.size] = codes
    return noise


COUNTS = list(range(1, 41)) + [63, 64, 65, 1000, 4097]


@pytest.mark.parametrize("slice_groups", [1, 3, _codes._SLICE])
@pytest.mark.parametrize("alpha", [False, True], ids=["gray", "alpha"])
def test_unpack_reads_each_code_as_the_format_lays_it_out(alpha, slice_groups, monkeypatch):
    monkeypatch.setattr(_codes, "_SLICE", slice_groups)
    rng = np.random.default_rng(7 + slice_groups)
    for pixels in COUNTS:
        size = (pixels * (6 if alpha else 3) + 7) // 8
        codes = rng.integers(0, 256, size, dtype=np.uint8)
        for alpha_codes in ([False, True] if alpha else [False]):
            got = _codes.unpack(filled(codes, alpha, rng), pixels, alpha, alpha_codes)
            assert got.shape == (pixels,)
            assert np.array_equal(got, by_the_format(codes, pixels, alpha, alpha_codes)), (pixels, alpha_codes)


def test_the_table_is_the_formats():
    assert [_codes.CODE_LEVEL[bits[0] | bits[1] << 1 | bits[2] << 2] for bits in FORMAT.values()] == list(FORMAT)
