"""Many pictures on many machines: :func:`convert_many` through ``dask.bag``.

Every worker imports pyoct and loads the library itself, and writes into
`out_dir`, so the folder must be one that every worker sees under that name
(a shared file system).
"""

from __future__ import annotations

import os
from typing import Any, Iterable, List, Optional

from ._lib import PathLike
from ._many import Outcome, convert_pair, out_folder, plan

__all__ = ["convert_many"]

MAX_TASKS = 10_000


def convert_many(
    paths: Iterable[PathLike],
    out_dir: PathLike,
    *,
    bmp: bool = False,
    client: Optional[Any] = None,
    skip_existing: bool = False,
) -> List[Outcome]:
    """As :func:`pyoct.convert_many`, with the pictures spread over a
    ``dask.distributed`` client's workers, or over dask's default scheduler
    when `client` is None (a client made earlier in this process is that
    default). Up to 10,000 pictures, each is a task of its own, so that a
    slow picture holds up no other; beyond that they are shared out over
    10,000 tasks, which keeps the scheduler's work bounded.

    Returns one ``(path, out_path, error)`` per input, in the order given.
    The folder is not checked here, only by the workers: it need exist
    only where they run. ``skip_existing=True`` leaves out, on the workers,
    the inputs whose output is there already, as :func:`pyoct.convert_many`
    does.
    """
    import dask.bag as db

    items = list(paths)
    targets = plan(items, out_folder(out_dir), bmp)
    if not items:
        return []
    # Paths travel as str: every worker reads them the same way.
    pairs = [(os.fsdecode(os.fspath(p)), t) for p, t in zip(items, targets)]
    bag = db.from_sequence(pairs, npartitions=min(len(pairs), MAX_TASKS)).map(convert_pair, bmp=bmp, skip_existing=skip_existing)
    if client is not None:
        done = client.compute(bag).result()
    else:
        done = bag.compute()
    return [(path, out, error) for path, (out, error) in zip(items, done)]
