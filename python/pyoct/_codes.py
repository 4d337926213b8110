"""Levels from a record's level codes, which ``octLevelCodes`` copies out: a
3-bit code a pixel, or with alpha a 3-bit gray code and then a 3-bit alpha
code, lowest bit first, pixels in the order of a bottom-up bitmap's rows (the
bottom row first), each row left to right and codes running on across rows
(docs/formats/level-buffer.md).

numpy has no operation that spreads bit fields into bytes, so the codes go
through a table: 12 bits of codes, four 3-bit codes, index the four levels
they stand for, held as the bytes of one little-endian 32-bit word. Three
bytes of codes are 8 pixels without alpha and 4 with it, so each 3 bytes
are read as one 32-bit word (a strided view; the word's fourth byte belongs
to the next group and is masked off) and give the table two indices, or,
with alpha, one index gathered from the four gray (or alpha) codes. The
groups are unpacked a slice at a time, so that the index arrays stay in the
processor's cache between the steps; the lookups themselves (numpy's take,
about a nanosecond each) are most of the time.
"""

from __future__ import annotations

import ctypes
import errno

import numpy as np
import numpy.typing as npt

from ._errors import OctError

# Code → level: the inverse of the format's table (level 1 is code 4, level 3
# code 1, level 4 code 6 ...).
CODE_LEVEL = (0, 3, 2, 5, 1, 6, 4, 7)


def _four_levels() -> npt.NDArray[np.uint32]:
    index = np.arange(4096, dtype=np.uint32)
    level = np.array(CODE_LEVEL, np.uint32)
    table = np.zeros(4096, "<u4")
    for j in range(4):
        table |= level[(index >> (3 * j)) & 7] << (8 * j)
    return table


# 12 bits of codes → the levels of their four pixels, one byte each.
_TABLE = _four_levels()

# Groups of 3 code bytes unpacked per slice: 2^16 groups keep each slice's
# indices (1 MiB) and levels in the second-level cache; measured against 2^14
# and 2^18 on 4096 x 4096 pictures.
_SLICE = 1 << 16

# The gray codes of the four pixels in 24 bits of codes with alpha (bits 0-2,
# 6-8, 12-14, 18-20); the alpha codes are the next three bits of each.
_GRAY_OF_FOUR = 0x1C71C7


def read_codes(lib: ctypes.CDLL, record: int) -> npt.NDArray[np.uint8]:
    """The record's level codes, followed by zero bytes up to a whole group of
    3 bytes and one more, so that every group can be read as a 32-bit word.
    Call with the record's lock held."""
    size = int(lib.octLevelCodes(record, None, 0))
    if size <= 0:
        raise OctError(errno.EINVAL, "the library gave no level codes")
    block = np.empty(-(-size // 3) * 3 + 1, np.uint8)
    block[size:] = 0
    if lib.octLevelCodes(record, block.ctypes.data, size) != size:
        raise OctError(errno.EINVAL, "the library gave no level codes")
    return block


def unpack(block: npt.NDArray[np.uint8], pixels: int, alpha: bool, alpha_codes: bool) -> npt.NDArray[np.uint8]:
    """The level of each of `pixels` pixels from `block` (as read_codes gives
    it), in the codes' order: the gray levels, or with `alpha_codes` the alpha
    levels of a picture with alpha."""
    groups = (block.size - 1) // 3
    words = np.ndarray((groups,), "<u4", block, 0, (3,))
    per_group = 4 if alpha else 8
    out = np.empty(groups * per_group, np.uint8)
    out_words = out.view("<u4")
    slice_size = min(_SLICE, groups)
    work = np.empty(slice_size, np.uint32)
    if not alpha:
        index = np.empty((slice_size, 2), np.intp)
        for start in range(0, groups, slice_size):
            n = min(slice_size, groups - start)
            w, low, high = words[start:start + n], index[:n, 0], index[:n, 1]
            np.bitwise_and(w, 0xFFF, out=low, casting="unsafe")
            np.right_shift(w, 12, out=work[:n])
            np.bitwise_and(work[:n], 0xFFF, out=high, casting="unsafe")
            np.take(_TABLE, index[:n].reshape(-1), out=out_words[2 * start:2 * (start + n)], mode="wrap")
    else:
        index = np.empty(slice_size, np.intp)
        spare = np.empty(slice_size, np.uint32)
        for start in range(0, groups, slice_size):
            n = min(slice_size, groups - start)
            a, b = work[:n], spare[:n]
            if alpha_codes:
                np.right_shift(words[start:start + n], 3, out=a)
                np.bitwise_and(a, _GRAY_OF_FOUR, out=a)
            else:
                np.bitwise_and(words[start:start + n], _GRAY_OF_FOUR, out=a)
            # Codes 0 and 1 to bits 0-5 and codes 2 and 3 to bits 12-17, then
            # all four to bits 0-11.
            np.right_shift(a, 3, out=b)
            np.bitwise_or(a, b, out=a)
            np.bitwise_and(a, 0x3F03F, out=a)
            np.right_shift(a, 6, out=b)
            np.bitwise_or(a, b, out=a)
            np.bitwise_and(a, 0xFFF, out=index[:n], casting="unsafe")
            np.take(_TABLE, index[:n], out=out_words[start:start + n], mode="wrap")
    return out[:pixels]
