"""The shared library and the prototypes of its exports.

Every export takes and returns 64-bit integers, pointers or handles. ctypes
assumes a C ``int`` for anything it is not told, which would cut pointers and
handles to 32 bits, so every function used here gets its ``argtypes`` and
``restype``. The functions are loaded through ``ctypes.CDLL``, which releases
the GIL for the length of each call: threads that convert pictures run in the
library at the same time.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional, Tuple, Union

from ._errors import OctError

# The soname on Linux; the package ships the library under this name.
LIBRARY_NAME = "liboct.so.1"

# The environment variable that names a library file to use when the package
# has none of its own (a development build, for instance).
LIBRARY_VARIABLE = "OCT_LIBRARY"

# What the functions take for a file name, as open() does.
PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_i64 = ctypes.c_int64
_ptr = ctypes.c_void_p


class OctBitmap(ctypes.Structure):
    """The description ``octBitmapInfo`` fills: the layout of the Windows
    BITMAP record, for the library's own bottom-up bitmaps (``widthBytes`` is
    the pitch a bitmap over a host's memory was made with)."""

    _fields_ = [
        ("type", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("widthBytes", ctypes.c_int32),
        ("planes", ctypes.c_uint16),
        ("bitsPerPixel", ctypes.c_uint16),
        ("bits", ctypes.c_void_p),
    ]


# name: (argtypes, restype). OctImage* is an opaque pointer: c_void_p keeps
# all 64 bits, and None for the null record.
_PROTOTYPES = {
    "octConvert": ([_i64], _ptr),
    "octLoad": ([ctypes.c_char_p], _ptr),
    "octCatch": ([_ptr, _i64], _ptr),
    "octSave": ([_ptr, ctypes.c_char_p, _i64], _i64),
    "octFree": ([_ptr], _i64),
    "octWidth": ([_ptr], _i64),
    "octHeight": ([_ptr], _i64),
    "octAlpha": ([_ptr], _i64),
    "octHandle": ([_ptr], _i64),
    "octVersion": ([], _i64),
    "octBitmapCreate": ([_i64, _i64, _i64], _i64),
    "octBitmapWrap": ([_ptr, _i64, _i64, _i64, _i64], _i64),
    "octBitmapInfo": ([_i64, ctypes.POINTER(OctBitmap)], _i64),
    "octBitmapDelete": ([_i64], _i64),
    "octLevelCodes": ([_ptr, _ptr, _i64], _i64),
    "octLastError": ([ctypes.c_char_p, _i64], _i64),
}


def _candidates() -> List[Tuple[str, str]]:
    """The places to load the library from, in order: (what, path or name)."""
    places = [("the package's folder", str(Path(__file__).resolve().parent / LIBRARY_NAME))]
    named = os.environ.get(LIBRARY_VARIABLE)
    if named:
        places.append((LIBRARY_VARIABLE, named))
    else:
        places.append((LIBRARY_VARIABLE, ""))
    places.append(("the system's library search path", LIBRARY_NAME))
    return places


def _load() -> Tuple[ctypes.CDLL, str]:
    if not sys.platform.startswith("linux"):
        raise OctError(
            f"pyoct needs the Linux build of the library ({LIBRARY_NAME}); "
            f"this is {sys.platform}, whose bitmaps are GDI handles"
        )
    tried = []
    for what, where in _candidates():
        if not where:
            tried.append(f"{what}: not set")
            continue
        # A path that does not exist is skipped without asking the loader,
        # which would otherwise search for the bare name elsewhere.
        if os.sep in where and not os.path.exists(where):
            tried.append(f"{what}: {where} does not exist")
            continue
        try:
            lib = ctypes.CDLL(where)
        except OSError as e:
            tried.append(f"{what}: {where}: {e}")
            continue
        missing = [name for name in _PROTOTYPES if not hasattr(lib, name)]
        if missing:
            tried.append(f"{what}: {where} lacks {', '.join(missing)}")
            continue
        return lib, where
    raise OctError("cannot load the oct library; tried\n  " + "\n  ".join(tried))


def _declare(lib: ctypes.CDLL) -> None:
    for name, (argtypes, restype) in _PROTOTYPES.items():
        fn = getattr(lib, name)
        fn.argtypes = argtypes
        fn.restype = restype


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
_path: Optional[str] = None


def library() -> ctypes.CDLL:
    """The loaded library with every prototype declared; loaded once."""
    global _lib, _path
    if _lib is None:
        with _lock:
            if _lib is None:
                lib, path = _load()
                _declare(lib)
                _path = path
                _lib = lib
    return _lib


def library_path() -> str:
    """Where the library was loaded from."""
    library()
    assert _path is not None
    return _path


def encode_name(path: PathLike) -> bytes:
    """A file name as the library takes it: zero-terminated UTF-16.

    ctypes' wide strings are wchar_t, which is UTF-32 on Linux, so the name is
    encoded here and handed over as bytes. A name must be whole Unicode: the
    library turns it back into the file system's UTF-8.
    """
    name = os.fsdecode(os.fspath(path))
    if "\0" in name:
        raise ValueError("embedded null character in file name")
    try:
        return name.encode("utf-16-le") + b"\0\0"
    except UnicodeEncodeError:
        raise OctError(
            f"the file name {name!r} holds bytes that are not UTF-8, and the library takes Unicode names"
        ) from None
