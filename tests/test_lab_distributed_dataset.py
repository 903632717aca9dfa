"""quilmo_lab.distributed.dataset: reproducible, resumable, each chunk written once, also when a worker dies."""

import os
import pathlib
import time

import numpy as np
import pytest

import quilmo_lab as ql
from lab_helpers import kill_a_worker_when, local_cluster_client

pytest.importorskip("dask")
pytest.importorskip("xarray")
zarr = pytest.importorskip("zarr")
distributed_lab = pytest.importorskip("quilmo_lab.distributed")

WL = np.linspace(400.0, 800.0, 50)
MEDIA = np.array([1.0, 1.46, 2.3 + 0.01j, 1.46, 2.3 + 0.01j, 1.52])


class Coatings:
    """Random 4-layer coatings; with `fail_flag` an existing file, the chunks whose first
    thickness is above 200 nm fail (chunks 2, 4 and 6 of seed 2024) (an interruption that hits the same chunks on every run);
    `pause` seconds of sleep per chunk leave time to kill a worker."""

    def __init__(self, fail_flag=None, pause=0.0):
        self.fail_flag, self.pause = fail_flag, pause

    def __call__(self, rng, size):
        d = rng.uniform(20.0, 250.0, (size, 4))
        time.sleep(self.pause)
        if self.fail_flag is not None and os.path.exists(self.fail_flag) and d[0, 0] > 200.0:
            raise RuntimeError("interrupted")
        return {"indices": MEDIA, "thicknesses": d, "design": rng.integers(0, 3, size)}


def files(path):
    """Every file of a store by its path in the store: its bytes and its modification time."""
    root = pathlib.Path(path)
    return {str(p.relative_to(root)): (p.read_bytes(), p.stat().st_mtime_ns) for p in root.rglob("*") if p.is_file()}


def same_store(a, b):
    first, second = files(a), files(b)
    assert sorted(first) == sorted(second)
    for name in first:
        assert first[name][0] == second[name][0], name


def completed_files(path):
    """The files of the chunks flagged complete: flags and data, with their times."""
    group = zarr.open_group(path, mode="r")
    done = np.flatnonzero(group["complete"][...])
    chunk = group.attrs["quilmo_lab.dataset"]["chunk"]
    out = {}
    for name, (_, mtime) in files(path).items():
        parts = name.split("/")
        if len(parts) > 2 and parts[1] == "c" and parts[0] != "complete" and int(parts[2]) in done:
            out[name] = mtime
        elif parts[0] == "complete" and len(parts) == 3 and int(parts[2]) in done:
            out[name] = mtime
    return chunk, done, out


ARGUMENTS = dict(wavelengths=WL, angles=[0.0, 0.5], chunk=6, seed=2024, quantities=("R_s", "T_p", "psi"),
                 progress=False)


@pytest.fixture(scope="module")
def client():
    with local_cluster_client() as client:
        yield client


@pytest.fixture(scope="module")
def reference(client, tmp_path_factory):
    path = tmp_path_factory.mktemp("reference") / "set.zarr"
    distributed_lab.dataset(Coatings(), 40, path, client=client, **ARGUMENTS)
    return path


def test_store_holds_the_spectra_of_its_stacks(reference):
    data = distributed_lab.dataset(Coatings(), 40, reference, **ARGUMENTS)  # every chunk done: nothing to do
    assert data["R_s"].dims == ("sample", "angle", "wavelength") and data["R_s"].shape == (40, 2, 50)
    assert data["thicknesses"].dims == ("sample", "layer") and data["design"].shape == (40,)
    assert bool(data["complete"].all())
    d = data["thicknesses"].values
    local = ql.solve(data["indices"].values, d, WL, [0.0, 0.5])
    for name in ("R_s", "T_p", "psi"):
        assert data[name].values.tobytes() == getattr(local, name).tobytes(), name
    # chunk k draws from SeedSequence(seed, spawn_key=(k,))
    first = Coatings()(np.random.default_rng(np.random.SeedSequence(2024, spawn_key=(1,))), 6)
    assert np.array_equal(d[6:12], first["thicknesses"])


def test_interrupted_then_resumed_is_the_uninterrupted_store(client, reference, tmp_path):
    path, flag = tmp_path / "set.zarr", tmp_path / "interrupt"
    flag.touch()
    with pytest.raises(RuntimeError, match="interrupted"):
        distributed_lab.dataset(Coatings(str(flag)), 40, path, client=client, **ARGUMENTS)
    _, done, before = completed_files(path)
    assert 0 < done.size < 7
    flag.unlink()
    distributed_lab.dataset(Coatings(str(flag)), 40, path, client=client, **ARGUMENTS)
    same_store(path, reference)
    after = files(path)
    assert {name: after[name][1] for name in before} == before  # nothing written again


def test_a_worker_killed_mid_run_leaves_the_same_store(client, reference, tmp_path):
    import threading
    path = tmp_path / "set.zarr"
    seen = {}

    def kill():
        def some_chunks_done():
            if not path.exists() or not (path / "complete" / "c").exists():
                return None
            chunk, done, mtimes = completed_files(path)
            return mtimes if 2 <= done.size else None
        seen["before"] = kill_a_worker_when(client, some_chunks_done)

    killer = threading.Thread(target=kill)
    killer.start()
    distributed_lab.dataset(Coatings(pause=0.3), 40, path, client=client, **ARGUMENTS)
    killer.join()
    same_store(path, reference)
    after = files(path)
    assert {name: after[name][1] for name in seen["before"]} == seen["before"]
    client.wait_for_workers(2, timeout=60)


@pytest.mark.parametrize("change, words", [
    ({"n": 41}, "another data set"),
    ({"seed": 7}, "another data set"),
    ({"wavelengths": WL[:-1]}, "another data set"),
    ({"quantities": ("R_s",)}, "another data set"),
    ({"chunk": 5}, "another data set"),
])
def test_a_store_of_another_data_set_is_not_resumed(client, reference, change, words):
    arguments = {**ARGUMENTS, "n": 40, **change}
    with pytest.raises(ValueError, match=words):
        distributed_lab.dataset(Coatings(), path=reference, client=client, **arguments)


@pytest.mark.parametrize("generator, error, words", [
    (lambda rng, size: {"thicknesses": rng.uniform(1, 2, (size, 4))}, TypeError, "indices"),
    (lambda rng, size: [MEDIA, rng.uniform(1, 2, (size, 4))], TypeError, "mapping"),
    (lambda rng, size: {"indices": MEDIA, "thicknesses": [1.0, 2.0, 3.0, 4.0]}, ValueError, "stacks"),
    (lambda rng, size: {"indices": MEDIA, "thicknesses": rng.uniform(1, 2, (size, 4)), "label": 1},
     ValueError, "one entry per stack"),
])
def test_generators_that_do_not_fit(tmp_path, generator, error, words):
    with pytest.raises(error, match=words):
        distributed_lab.dataset(generator, 8, tmp_path / "set.zarr", wavelengths=WL, chunk=8, progress=False)


def test_a_path_holding_something_else_is_refused(tmp_path):
    zarr.open_group(tmp_path / "other.zarr", mode="w")
    with pytest.raises(ValueError, match="something else"):
        distributed_lab.dataset(Coatings(), 8, tmp_path / "other.zarr", wavelengths=WL, progress=False)
