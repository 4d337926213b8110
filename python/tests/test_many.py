"""Many pictures on threads and through dask, against octtool."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

import pytest

import pyoct
import pyoct.dask
from pyoct import _many
from conftest import PICTURES, ROOT, picture_id


@pytest.fixture
def inputs(tmp_path):
    """The test pictures, a missing file and a file that is no picture, in
    a folder of their own; (paths, indexes of the bad ones)."""
    folder = tmp_path / "in"
    folder.mkdir()
    paths = []
    for source in PICTURES:
        copy = folder / source.name
        shutil.copyfile(source, copy)
        paths.append(copy)
    (folder / "notes.txt").write_text("not a picture")
    paths.insert(3, folder / "notes.txt")
    paths.insert(7, folder / "missing.png")
    return paths, {3: pyoct.OctError, 7: FileNotFoundError}


def check_outcomes(outcomes, paths, bad, out_dir: Path, suffix: str, convert):
    assert [o[0] for o in outcomes] == paths
    for i, (path, out, error) in enumerate(outcomes):
        if i in bad:
            assert out is None and isinstance(error, bad[i]) and isinstance(error, pyoct.OctError), error
            continue
        assert error is None, error
        assert Path(out) == out_dir / (path.stem + suffix)
        assert Path(out).read_bytes() == convert(path, suffix), path.name
    written = sorted(p.name for p in out_dir.iterdir())
    assert written == sorted(p.stem + suffix for i, p in enumerate(paths) if i not in bad)


@pytest.mark.parametrize("bmp, workers", [(False, 4), (True, 4), (False, 1), (False, None)])
def test_threads_write_octtools_files(bmp, workers, inputs, convert, tmp_path):
    paths, bad = inputs
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    outcomes = pyoct.convert_many(paths, out_dir, bmp=bmp, workers=workers)
    check_outcomes(outcomes, paths, bad, out_dir, ".bmp" if bmp else ".oct", convert)


@pytest.mark.parametrize("many", ["threads", "dask"])
def test_wrong_calls_are_refused_before_any_work(many, tmp_path):
    convert_many = pyoct.convert_many
    if many == "dask":
        pytest.importorskip("dask.bag")
        convert_many = pyoct.dask.convert_many
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    same_stem = [ROOT / "samples" / "harvesters-320.bmp", tmp_path / "HARVESTERS-320.png"]
    with pytest.raises(ValueError, match="both write"):
        convert_many(same_stem, out_dir)
    assert not list(out_dir.iterdir())
    assert convert_many([], out_dir) == []
    if many == "threads":
        with pytest.raises(FileNotFoundError):
            pyoct.convert_many(PICTURES[:1], tmp_path / "missing")
        with pytest.raises(ValueError):
            pyoct.convert_many(PICTURES[:1], out_dir, workers=0)


@pytest.mark.parametrize(
    "first, second, same",
    [
        ("\u00c4", "\u00e4", True),  # A and a with diaeresis: one name in a folder that folds case
        ("Photo", "PHOTO", True),
        ("\u212a", "k", False),  # the Kelvin sign is its own upper case; that of "k" is K
        ("\u00df", "SS", False),  # sharp s has no one-letter upper case
        ("\u03a9", "\u2126", False),  # omega and the ohm sign, each its own upper case
    ],
)
def test_outputs_collide_by_the_rule_of_a_folder_that_folds_case(first, second, same):
    # The rule octtool convert -o applies too: plat::nameFoldCase.
    paths = [f"/in/{first}.png", f"/in/{second}.jpg"]
    if same:
        with pytest.raises(ValueError, match="both write"):
            _many.plan(paths, "out", bmp=False)
    else:
        assert _many.plan(paths, "out", bmp=False) == [
            os.path.join("out", f"{first}.oct"),
            os.path.join("out", f"{second}.oct"),
        ]


def test_dask_default_scheduler_writes_octtools_files(inputs, convert, tmp_path):
    dask = pytest.importorskip("dask")
    paths, bad = inputs
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    with dask.config.set(scheduler="threads"):
        outcomes = pyoct.dask.convert_many(paths, out_dir)
    check_outcomes(outcomes, paths, bad, out_dir, ".oct", convert)


@pytest.mark.parametrize("bmp", [False, True])
def test_dask_local_cluster_of_two_processes_writes_octtools_files(bmp, cluster, inputs, convert, tmp_path):
    from distributed import get_task_stream

    paths, bad = inputs
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    with get_task_stream(cluster) as stream:
        outcomes = pyoct.dask.convert_many(paths, out_dir, bmp=bmp, client=cluster)
    check_outcomes(outcomes, paths, bad, out_dir, ".bmp" if bmp else ".oct", convert)
    # The pictures went to both worker processes.
    assert {task["worker"] for task in stream.data} == set(cluster.scheduler_info()["workers"])


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    ) as local, distributed.Client(local) as client:
        yield client


@pytest.mark.parametrize("many", ["threads", "dask"])
def test_skip_existing_converts_only_the_missing_outputs(many, inputs, convert, tmp_path):
    """A batch half done (some outputs there, one of them a stand-in that must
    stay as it is) is finished, and nothing that was there is written again."""
    if many == "dask":
        dask = pytest.importorskip("dask")

        def run(*args, **kwargs):
            with dask.config.set(scheduler="threads"):
                return pyoct.dask.convert_many(*args, **kwargs)

    else:
        run = pyoct.convert_many
    paths, bad = inputs
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    good = [p for i, p in enumerate(paths) if i not in bad]
    (out_dir / (good[0].stem + ".oct")).write_bytes(b"kept as it was")
    (out_dir / (good[1].stem + ".oct")).write_bytes(convert(good[1], ".oct"))
    outcomes = run(paths, out_dir, skip_existing=True)
    assert (out_dir / (good[0].stem + ".oct")).read_bytes() == b"kept as it was"
    for i, (path, out, error) in enumerate(outcomes):
        if i in bad:
            assert out is None and isinstance(error, bad[i])
        else:
            assert error is None and Path(out) == out_dir / (path.stem + ".oct")
            if path != good[0]:
                assert Path(out).read_bytes() == convert(path, ".oct"), path.name
    again = run(paths, out_dir)
    check_outcomes(again, paths, bad, out_dir, ".oct", convert)
