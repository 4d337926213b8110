"""Many pictures, each through a record of its own, as octtool convert -o
does it: octLoad, octSave, octFree."""

from __future__ import annotations

import errno
import os
from concurrent.futures import ThreadPoolExecutor
from typing import Dict, Iterable, List, Optional, Sequence, Tuple

from . import _errors
from ._lib import PathLike, encode_name, library

# One outcome per input: (the input as given, the file written or None, the
# exception that stopped it or None).
Outcome = Tuple[PathLike, Optional[str], Optional[BaseException]]

# As many threads as octtool starts at most.
MAX_WORKERS = 64


def out_folder(out_dir: PathLike) -> str:
    return os.fsdecode(os.fspath(out_dir))


def fold_case(name: str) -> str:
    """`name` as a folder that folds letter case compares it (NTFS, exFAT):
    every UTF-16 code unit by its simple, one-character upper case, where it
    has one; characters beyond the BMP stay. "Ä" and "ä" are one name, "ß"
    and "SS" two, and so are the Kelvin sign and "k". octtool convert -o
    folds by the same rule (plat::nameFoldCase)."""
    out = []
    for c in name:
        # str.upper gives the full upper case; where that is more than one
        # character the simple one, if there is one, is the title case
        # (U+1F80 to U+1F88), else the character stays (sharp s).
        upper = c.upper()
        if len(upper) != 1:
            upper = c.title() if len(c.title()) == 1 else c
        out.append(upper if ord(c) <= 0xFFFF and ord(upper) <= 0xFFFF else c)
    return "".join(out)


def plan(paths: Sequence[PathLike], out_dir: str, bmp: bool) -> List[str]:
    """The file each input is written to: out_dir/STEM.oct, or STEM.bmp,
    STEM being the input's name without its last extension. Two inputs that
    would write the same file in a folder that folds letter case (fold_case),
    so that such a folder keeps both, are refused before any work."""
    extension = ".bmp" if bmp else ".oct"
    taken: Dict[str, PathLike] = {}
    targets = []
    for path in paths:
        name = os.path.basename(os.fsdecode(os.fspath(path)))
        if not name:
            raise ValueError(f"{path!r} names a folder, not a file")
        stem = os.path.splitext(name)[0]
        folded = fold_case(stem)
        if folded in taken:
            raise ValueError(f"{taken[folded]!r} and {path!r} would both write {stem}{extension}")
        taken[folded] = path
        targets.append(os.path.join(out_dir, stem + extension))
    return targets


def convert_file(
    path: PathLike, out_path: str, bmp: bool, skip_existing: bool = False
) -> Tuple[Optional[str], Optional[BaseException]]:
    """Converts one picture into `out_path`; (out_path, None) or (None, the
    reason). With `skip_existing` an output that is there already is left as
    it is, and counts as written: a save replaces its file only whole."""
    if skip_existing and os.path.lexists(out_path):
        return out_path, None
    lib = library()
    try:
        name = os.fsdecode(os.fspath(path))
        record = lib.octLoad(encode_name(name))
        if not record:
            return None, _errors.last_failure(lib, name)
        try:
            saved = lib.octSave(record, encode_name(out_path), 1 if bmp else 0)
            # Read before octFree: the reason belongs to the last call.
            failure = _errors.last_failure(lib, out_path) if saved != 1 else None
        finally:
            lib.octFree(record)
        if failure is not None:
            return None, failure
        return out_path, None
    except (OSError, ValueError, TypeError) as e:
        return None, e


def convert_pair(
    pair: Tuple[PathLike, str], bmp: bool, skip_existing: bool = False
) -> Tuple[Optional[str], Optional[BaseException]]:
    """convert_file for a (path, out_path) pair; the form dask maps."""
    return convert_file(pair[0], pair[1], bmp, skip_existing)


def convert_many(
    paths: Iterable[PathLike],
    out_dir: PathLike,
    *,
    bmp: bool = False,
    workers: Optional[int] = None,
    skip_existing: bool = False,
) -> List[Outcome]:
    """Converts every picture or level file in `paths` into the folder
    `out_dir`, which must exist: out_dir/STEM.oct (the level file), or
    out_dir/STEM.bmp (the rebuilt picture) with ``bmp=True``, STEM being the
    input's name without its last extension.

    `workers` threads (default: one per processor, at most 64) convert at
    once, one picture each; the library runs them in parallel. Returns one
    ``(path, out_path, error)`` per input, in the order given: ``out_path``
    is the file written and ``error`` None, or ``out_path`` is None and
    ``error`` the :class:`OctError` that stopped that picture. A picture that
    fails does not stop the others. Two inputs that would write the same
    file raise ``ValueError`` before any work.

    With ``skip_existing=True`` an input whose output is in `out_dir`
    already is not converted again (its outcome names that file): a save
    replaces its file only once the new one is complete, so an output that
    is there is whole, and a batch that was killed is finished by running it
    again.
    """
    items = list(paths)
    folder = out_folder(out_dir)
    if not os.path.isdir(folder):
        raise _errors.OctFileNotFoundError(errno.ENOENT, "no folder to write into (make it first)", folder)
    targets = plan(items, folder, bmp)
    if not items:
        return []
    if workers is None:
        workers = min(MAX_WORKERS, os.cpu_count() or 1)
    if workers < 1:
        raise ValueError("workers must be 1 or more")
    library()  # loaded here, so that a missing library raises rather than fills every outcome
    with ThreadPoolExecutor(max_workers=min(workers, len(items)), thread_name_prefix="pyoct") as pool:
        done = list(pool.map(convert_file, items, targets, [bmp] * len(items), [skip_existing] * len(items)))
    return [(path, out, error) for path, (out, error) in zip(items, done)]
