"""Exceptions. The library reports a failure as 0 and keeps, for the calling
thread, the reason of its last failure (``octLastError``): a code and a short
text. An exception is made from that record right after the failed call, on
the same thread, so each says what the library found: no such file, a
damaged JPEG, a HEIF picture this system has no codec for."""

from __future__ import annotations

import ctypes
import errno
from typing import Dict, Optional, Tuple, Type


class OctError(OSError):
    """A call of the library failed: a picture it cannot read, a file it
    cannot write, a level file it cannot make. ``code`` is the library's own
    code (oct.h's ``OCT_E…``), ``errno`` the nearest system error number."""

    code: int = 0


class OctFileNotFoundError(OctError, FileNotFoundError):
    """The file to read, or the folder to write into, does not exist."""


class OctPermissionError(OctError, PermissionError):
    """The file cannot be read or written for want of permission."""


class OctIsADirectoryError(OctError, IsADirectoryError):
    """A folder was named where a file belongs."""


class OctFormatError(OctError):
    """The bytes are not a picture or level file that the library knows."""


class OctDamagedError(OctError):
    """A picture or level file of a known format whose bytes are damaged or
    cut short."""


class OctNoCodecError(OctError):
    """A picture of a known format that this system has no codec for."""


for _error in (OctError, OctFileNotFoundError, OctPermissionError, OctIsADirectoryError, OctFormatError,
               OctDamagedError, OctNoCodecError):
    _error.__module__ = "pyoct"

# The library's codes (oct.h, OCT_E…): the exception and errno each raises.
_BY_CODE: Dict[int, Tuple[Type[OctError], int]] = {
    1: (OctFileNotFoundError, errno.ENOENT), 2: (OctPermissionError, errno.EACCES),
    3: (OctIsADirectoryError, errno.EISDIR), 4: (OctFormatError, errno.EINVAL),
    5: (OctNoCodecError, errno.ENOTSUP), 6: (OctDamagedError, errno.EINVAL),
    7: (OctError, errno.EFBIG), 8: (OctError, errno.ENOMEM), 9: (OctError, errno.ENOSPC),
    10: (OctError, errno.EIO), 11: (OctError, errno.EINVAL), 12: (OctError, errno.EIO),
    13: (OctError, errno.EINVAL),
}

_TEXT_SIZE = 256


def last_failure(lib: ctypes.CDLL, path: Optional[str] = None) -> OctError:
    """The exception for the calling thread's last failure in the library,
    with `path` (when given) as its file name. Call it on the thread that
    made the failed call, before any other call of the library."""
    text = ctypes.create_string_buffer(_TEXT_SIZE)
    code = int(lib.octLastError(text, _TEXT_SIZE))
    message = text.value.decode("utf-8", "replace") or "the library gave no reason"
    kind, number = _BY_CODE.get(code, (OctError, errno.EIO))
    error = kind(number, message, path) if path is not None else kind(number, message)
    error.code = code
    return error


def closed_error() -> ValueError:
    return ValueError("operation on a closed pyoct.Image")
