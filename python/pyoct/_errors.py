"""Exceptions. The library reports a failure as 0 and gives no reason, so the
reason in a message comes from what pyoct can see around the call: whether
the file is there, readable, a folder, and what the library refuses."""

from __future__ import annotations

import errno
import os
from typing import Optional


class OctError(OSError):
    """A call of the library failed: a picture it cannot read, a file it
    cannot write, a level file it cannot make."""


class OctFileNotFoundError(OctError, FileNotFoundError):
    """The file to read, or the folder to write into, does not exist."""


class OctPermissionError(OctError, PermissionError):
    """The file cannot be read or written for want of permission."""


class OctIsADirectoryError(OctError, IsADirectoryError):
    """A folder was named where a file belongs."""


for _error in (OctError, OctFileNotFoundError, OctPermissionError, OctIsADirectoryError):
    _error.__module__ = "pyoct"


def read_failure(path: str) -> OctError:
    """The exception for a file the library did not read, by what is there."""
    if not os.path.lexists(path):
        return OctFileNotFoundError(errno.ENOENT, "no such file", path)
    if os.path.isdir(path):
        return OctIsADirectoryError(errno.EISDIR, "a folder, not a picture", path)
    if not os.access(path, os.R_OK):
        return OctPermissionError(errno.EACCES, "not readable", path)
    return OctError(errno.EINVAL, "not a picture or a level file that the library reads", path)


def write_failure(path: str, level_file: bool) -> OctError:
    """The exception for a file the library did not write."""
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        return OctFileNotFoundError(errno.ENOENT, "no such folder to write into", path)
    if os.path.isdir(path):
        return OctIsADirectoryError(errno.EISDIR, "a folder is there", path)
    if not os.access(folder, os.W_OK) or (os.path.exists(path) and not os.access(path, os.W_OK)):
        return OctPermissionError(errno.EACCES, "not writable", path)
    if level_file:
        return OctError(
            errno.EINVAL,
            "no level file: the library makes none for pictures of 28 pixels or fewer "
            "or for levels that do not compress",
            path,
        )
    return OctError(errno.EIO, "the library could not write the file", path)


def closed_error() -> ValueError:
    return ValueError("operation on a closed pyoct.Image")


def memory_failure(what: str, detail: Optional[str] = None) -> OctError:
    message = f"the library could not read {what}"
    if detail:
        message += f": {detail}"
    return OctError(errno.EINVAL, message)
