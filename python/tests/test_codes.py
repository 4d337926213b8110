"""Levels unpacked from level codes against the format read bit by bit, over
every pixel count up to a few groups, larger ones, and slices of every size."""

from __future__ import annotations

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


def block_of(codes: np.ndarray, rng) -> np.ndarray:
    """What read_codes gives for these codes, with random bytes (not zeros)
    in the padding, which must not reach any pixel."""
    block = rng.integers(0, 256, -(-codes.size // 3) * 3 + 1, dtype=np.uint8)
    block[:codes.size] = codes
    return block


COUNTS = list(range(1, 41)) + [63, 64, 65, 1000, 4097]


@pytest.mark.parametrize("slice_groups", [1, 3, _codes._SLICE])
@pytest.mark.parametrize("alpha", [False, True], ids=["gray", "alpha"])
def test_unpack_reads_each_code_as_the_format_lays_it_out(alpha, slice_groups, monkeypatch):
    monkeypatch.setattr(_codes, "_SLICE", slice_groups)
    rng = np.random.default_rng(7 + slice_groups)
    for pixels in COUNTS:
        size = (pixels * (6 if alpha else 3) + 7) // 8
        codes = rng.integers(0, 256, size, dtype=np.uint8)
        block = block_of(codes, rng)
        for alpha_codes in ([False, True] if alpha else [False]):
            got = _codes.unpack(block, pixels, alpha, alpha_codes)
            assert got.shape == (pixels,)
            assert np.array_equal(got, by_the_format(codes, pixels, alpha, alpha_codes)), (pixels, alpha_codes)


def test_the_table_is_the_formats():
    assert [_codes.CODE_LEVEL[bits[0] | bits[1] << 1 | bits[2] << 2] for bits in FORMAT.values()] == list(FORMAT)
