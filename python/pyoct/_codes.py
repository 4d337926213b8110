"""Levels from a record's level codes, which ``octLevelCodes`` copies out: a
3-bit code a pixel, or with alpha a 3-bit gray code and then a 3-bit alpha
code, lowest bit first, pixels in the order of a bottom-up bitmap's rows (the
bottom row first), each row left to right and codes running on across rows
(docs/formats/level-buffer.md).

numpy has no operation that spreads bit fields into bytes, so the codes go
through a table: 12 bits of codes, four 3-bit codes, index the four levels
they stand for, held as the bytes of one little-endian 32-bit word. Three
bytes of codes are 8 pixels without alpha and 4 with it: each group of 3
bytes gives the table two indices, or, with alpha, one index gathered from
its four gray (or alpha) codes, read from strided views of the codes. The
lookups (numpy's take, about 0.75 ns each) are most of the time, and the
indices (numpy takes only 64-bit ones) the rest: about 5 ms for the gray
levels of a 4096 x 4096 picture, 7 to 8 ms with alpha, where more steps
gather each index. Tables over more bits, which would need fewer lookups,
miss the cache: a 2^18-entry one (1 MiB) for pictures with alpha took 15 ms.
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


def _four_levels(pixel_of_slot: "tuple[int, int, int, int]") -> npt.NDArray[np.uint32]:
    """The table from 12 bits holding four 3-bit codes, the one in slot j
    (bits 3j to 3j + 2) being pixel pixel_of_slot[j]'s, to the four pixels'
    levels, one byte each in pixel order."""
    index = np.arange(4096, dtype=np.uint32)
    level = np.array(CODE_LEVEL, np.uint32)
    table = np.zeros(4096, "<u4")
    for slot, pixel in enumerate(pixel_of_slot):
        table |= level[(index >> (3 * slot)) & 7] << (8 * pixel)
    return table


_TABLE = _four_levels((0, 1, 2, 3))
# The same for codes gathered in the order of pixels 0, 2, 1, 3 (see unpack).
_SPREAD_TABLE = _four_levels((0, 2, 1, 3))

# Groups of 3 code bytes unpacked per slice, which bounds the index arrays
# (4 MiB at most). On 4096 x 4096 pictures 2^18 took 20% less time than 2^14
# (numpy's calls cost more than the cache gains) and 2^22, the picture in one
# slice, 75% more.
_SLICE = 1 << 18

# The gray codes of the four pixels in 24 bits of codes with alpha (bits 0-2,
# 6-8, 12-14, 18-20); the alpha codes are the next three bits of each.
_GRAY_OF_FOUR = 0x1C71C7


def _layout(size: int, alpha: bool) -> "tuple[int, int]":
    """(groups, where the codes start) for `size` bytes of codes: the levels
    of the groups fill the buffer from its start, 8 or 4 bytes a group, and
    the codes lie at its end, followed by zeros to a whole group and one byte
    more, so that every group can be read as a 32-bit word."""
    groups = -(-size // 3)
    return groups, groups * ((4 if alpha else 8) - 3)


def read_codes(lib: ctypes.CDLL, record: int, alpha: bool) -> npt.NDArray[np.uint8]:
    """A buffer for unpack with the record's level codes in it. Call with the
    record's lock held."""
    size = int(lib.octLevelCodes(record, None, 0))
    if size <= 0:
        raise OctError(errno.EINVAL, "the library gave no level codes")
    groups, first = _layout(size, alpha)
    buffer = np.empty(first + groups * 3 + 1, np.uint8)
    buffer[first + size:] = 0
    if lib.octLevelCodes(record, buffer[first:].ctypes.data, size) != size:
        raise OctError(errno.EINVAL, "the library gave no level codes")
    return buffer


def unpack(buffer: npt.NDArray[np.uint8], pixels: int, alpha: bool, alpha_codes: bool) -> npt.NDArray[np.uint8]:
    """The level of each of `pixels` pixels from a buffer that read_codes
    filled, in the codes' order: the gray levels, or with `alpha_codes` the
    alpha levels of a picture with alpha. The levels are a view of the
    buffer, written over its codes: the levels of a group end at or before
    the codes of the next group begin, so that no code is written over before
    it has been read, and the picture's memory is needed only once."""
    per_group = 4 if alpha else 8
    groups = (buffer.size - 1) // per_group
    first = groups * (per_group - 3)
    out_words = buffer[:groups * per_group].view("<u4")
    size = min(_SLICE, groups)
    if not alpha:
        # Each group's two 12-bit halves are the 16-bit values at its bytes 0
        # and 1, the first masked, the second shifted right by 4.
        index = np.empty((size, 2), np.intp)
        for start in range(0, groups, size):
            n = min(size, groups - start)
            at = first + 3 * start
            np.bitwise_and(np.ndarray((n,), "<u2", buffer, at, (3,)), 0xFFF, out=index[:n, 0], casting="unsafe")
            np.right_shift(np.ndarray((n,), "<u2", buffer, at + 1, (3,)), 4, out=index[:n, 1], casting="unsafe")
            np.take(_TABLE, index[:n].reshape(-1), out=out_words[2 * start:2 * (start + n)], mode="wrap")
        return buffer[:pixels]
    # The group's four codes of a kind sit at bits 0, 6, 12 and 18 (plus 3
    # for alpha); ORed with themselves 9 bits lower they fill bits 0 to 11
    # in the order of pixels 0, 2, 1, 3, which _SPREAD_TABLE puts back.
    words = np.ndarray((groups,), "<u4", buffer, first, (3,))
    codes, moved = np.empty(size, np.uint32), np.empty(size, np.uint32)
    index = np.empty(size, np.intp)
    shift = 3 if alpha_codes else 0
    for start in range(0, groups, size):
        n = min(size, groups - start)
        a, b = codes[:n], moved[:n]
        np.bitwise_and(words[start:start + n], _GRAY_OF_FOUR << shift, out=a)
        np.right_shift(a, 9, out=b)
        np.bitwise_or(a, b, out=a)
        if shift:
            # In place: numpy's shift into 64-bit values took 40 times as long.
            np.right_shift(a, shift, out=a)
        np.bitwise_and(a, 0xFFF, out=index[:n], casting="unsafe")
        np.take(_SPREAD_TABLE, index[:n], out=out_words[start:start + n], mode="wrap")
    return buffer[:pixels]
