"""The Dask parameter sweep of examples/sweep_dask.py: results, failures, worker setup."""

import pathlib
import sys

import numpy as np
import pytest

import quilmo

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import sweep_dask  # noqa: E402

TIMEOUT = 60  # seconds; a hung sweep fails instead of blocking the run


def bits(array):
    return np.ascontiguousarray(array).view(np.uint64)


def evaluated_here(thicknesses, n, wl):
    """Every stack through quilmo directly, in this process."""
    results = [quilmo.DataPy(d, n, wl, 0.0, 0.0).simulate() for d in thicknesses]
    return np.array([result.r for result in results]), np.array([result.t for result in results])


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    # Workers are spawned with this process's sys.path, so they import quilmo
    # and sweep_dask from where this process does.
    with sweep_dask.local_cluster(2, 1) as cluster, \
            distributed.Client(cluster, timeout=f"{TIMEOUT}s") as client:
        client.wait_for_workers(2, timeout=TIMEOUT)
        yield client


@pytest.fixture(scope="module")
def mirror():
    wl = np.linspace(400.0, 800.0, 1001)  # above 100 wavelengths: the pool is used
    nominal, n = sweep_dask.mirror(wl)
    return list(sweep_dask.perturbed_thicknesses(nominal, 50, 0.03, seed=7)), n, wl


def test_workers_get_their_pool_size_from_the_nanny(client):
    assert sweep_dask.worker_pool_settings(client) == dict.fromkeys(
        client.scheduler_info()["workers"], "1")


def test_sweep_is_bit_identical_to_this_process(client, mirror):
    thicknesses, n, wl = mirror
    # 7 does not divide 50: the last task holds a single stack.
    sweep = sweep_dask.run_sweep(client, thicknesses, n, wl, batch_size=7,
                                 show_progress=False, timeout=TIMEOUT)
    r, t = evaluated_here(thicknesses, n, wl)
    assert sweep.failures == {}
    assert sweep.succeeded.all()
    assert sweep.r.shape == sweep.t.shape == (50, wl.size)
    np.testing.assert_array_equal(bits(sweep.r), bits(r))
    np.testing.assert_array_equal(bits(sweep.t), bits(t))


def test_failed_stack_is_reported_and_the_rest_returned(client, mirror):
    thicknesses, n, wl = mirror
    thicknesses = list(thicknesses)
    thicknesses[13] = thicknesses[13][:-1]  # one layer short
    workers_before = set(client.scheduler_info()["workers"])

    sweep = sweep_dask.run_sweep(client, thicknesses, n, wl, batch_size=4,
                                 show_progress=False, timeout=TIMEOUT)

    assert list(sweep.failures) == [13]
    assert sweep.failures[13] == "PanicException: ndarray: index out of bounds"
    assert np.isnan(sweep.r[13]).all() and np.isnan(sweep.t[13]).all()
    good = [i for i in range(50) if i != 13]
    np.testing.assert_array_equal(sweep.succeeded, np.isin(np.arange(50), good))
    r, t = evaluated_here([thicknesses[i] for i in good], n, wl)
    np.testing.assert_array_equal(bits(sweep.r[good]), bits(r))
    np.testing.assert_array_equal(bits(sweep.t[good]), bits(t))
    # No worker died and was replaced by its nanny.
    assert set(client.scheduler_info()["workers"]) == workers_before


def test_high_reflectance_band_is_the_widest_run_of_qualifying_wavelengths():
    wl = np.arange(10, dtype=float) * 10.0
    r = np.zeros((20, 10))
    r[:, 1:3] = 0.995          # all samples: a narrow run
    r[:, 5:9] = 0.995          # the wider run ...
    r[0, 5] = 0.99             # ... where one sample in 20 misses at 50: still 95 %
    r[:2, 8] = 0.5             # two of 20 miss at 80: 90 %, outside
    fraction, band = sweep_dask.high_reflectance_band(wl, r)
    np.testing.assert_array_equal(fraction, [0, 1, 1, 0, 0, 0.95, 1, 1, 0.9, 0])
    assert band == (50.0, 70.0)
    assert sweep_dask.high_reflectance_band(wl, np.zeros((3, 10)))[1] is None
