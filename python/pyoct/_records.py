"""Ownership of the library's records: every record pyoct receives is freed
exactly once, by ``Image.close`` or, for an image that was never closed, when
it is collected or the interpreter exits. The count of live records is kept
so that tests and hosts can see that nothing is left open."""

from __future__ import annotations

import threading
import weakref
from typing import Any

from ._lib import library

_lock = threading.Lock()
_live = 0


def _release(record: int) -> None:
    global _live
    library().octFree(record)
    with _lock:
        _live -= 1


def adopt(owner: Any, record: int) -> "weakref.finalize":
    """Ties `record` to `owner`: the returned finalizer frees it once, when
    called or when `owner` is collected."""
    global _live
    with _lock:
        _live += 1
    return weakref.finalize(owner, _release, record)


def live_records() -> int:
    """The number of records that pyoct holds open: images neither closed nor
    collected yet. A debugging aid: 0 once every image has been released."""
    with _lock:
        return _live
