"""quilmo_lab.distributed on a LocalCluster of two worker processes: the same bits as one machine."""

import sys

import numpy as np
import pytest

import quilmo_lab as ql
from lab_helpers import kill_a_worker_when, local_cluster_client

pytest.importorskip("dask")
pytest.importorskip("xarray")
distributed_lab = pytest.importorskip("quilmo_lab.distributed")
from quilmo_lab.distributed._chunks import plan  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with local_cluster_client() as client:
        yield client


def expected_value(result, name):
    return result.A(name[-1]) if name in ("A_s", "A_p") else getattr(result, name)


def assert_dataset_is_result(data, result):
    data = data.compute()
    assert tuple(data.sizes[d] for d in ("stack", "angle", "wavelength")) == result.shape
    for name, variable in data.data_vars.items():
        expected = expected_value(result, name)
        assert variable.values.dtype == expected.dtype, name
        assert variable.values.tobytes() == np.ascontiguousarray(expected).tobytes(), name


rng = np.random.default_rng(5)
WL = np.linspace(400.0, 900.0, 23)
ABSORBING = np.concatenate([[np.full(WL.size, 1.0)],
                            rng.uniform(1.3, 2.4, (4, WL.size)) + 1j * rng.uniform(0.0, 0.05, (4, WL.size)),
                            [np.full(WL.size, 1.52 + 0.001j)]])
BATCH = rng.uniform(20.0, 300.0, (11, 4))
# (arguments, keywords): every kind of result, and chunks that cut both axes unevenly
CASES = {
    "coherent": ((ABSORBING, BATCH, WL, [0.0, 0.4]), {"chunks": (4, 10)}),
    "per-stack indices": ((np.broadcast_to(ABSORBING, (11, *ABSORBING.shape)), BATCH, WL, 0.3), {"chunks": 3}),
    "incoherent": ((ABSORBING, BATCH, WL, [0.0, 0.7]), {"coherent": [True, False, True, True], "chunks": (5, 7),
                                                        "absorbed": True}),
    "derivatives": ((ABSORBING, BATCH, WL, [0.1, 0.6]), {"derivatives": True, "absorbed": True,
                                                        "chunks": {"stack": 4, "wavelength": 9}}),
    "incoherent derivatives": ((ABSORBING, BATCH, WL, 0.2), {"coherent": [False, True, True, False],
                                                            "derivatives": True, "chunks": {"wavelength": 5}}),
    "one stack": ((ABSORBING, BATCH[0], WL), {"threads": 2}),
}


@pytest.mark.parametrize("case", CASES)
def test_solve_is_the_local_solve_bit_for_bit(client, case):
    args, keywords = CASES[case]
    local_keywords = {k: v for k, v in keywords.items() if k in ("coherent", "derivatives", "threads")}
    data = distributed_lab.solve(*args, client=client, **keywords)
    assert_dataset_is_result(data, ql.solve(*args, **local_keywords))


def test_solve_of_a_stack_with_thickness_variants(client):
    coating = ql.Stack([ql.Layer(ql.Cauchy(1.45, 3600.0), 95.0), ql.Layer(2.1 + 0.01j, 60.0),
                        ql.Layer(1.5, 1e6, coherent=False)], exit=1.0)
    variants = coating.thicknesses * rng.uniform(0.9, 1.1, (7, 3))
    data = distributed_lab.solve(coating, WL, [0.0, 0.5], thicknesses=variants, chunks=2, client=client)
    assert_dataset_is_result(data, ql.solve(coating, WL, [0.0, 0.5], thicknesses=variants))
    assert "r_s" not in data  # no amplitudes across an incoherent layer


def test_solve_completes_the_same_when_a_worker_dies_mid_run(client):
    d = rng.uniform(20.0, 300.0, (600, 4))
    wl = np.linspace(400.0, 900.0, 400)
    data = distributed_lab.solve(ABSORBING[:, :1], d, wl, chunks=20)  # 30 tasks
    future = client.compute(data)

    def some_task_done():
        return client.run_on_scheduler(
            lambda dask_scheduler: sum(ts.state == "memory" for ts in dask_scheduler.tasks.values()))

    kill_a_worker_when(client, some_task_done)
    computed = future.result(timeout=120)
    assert_dataset_is_result(computed, ql.solve(ABSORBING[:, :1], d, wl))
    client.wait_for_workers(2, timeout=60)


@pytest.mark.parametrize("relative, targets", [
    (False, [("R", 0.0, 0.01)]),
    (True, [("R", 0.0, 0.01), ("T", 1.0, 0.02), ("GD", 0.0, 5.0)]),
])
def test_tolerance_is_the_local_tolerance(client, relative, targets):
    from quilmo_lab import design
    wl = np.linspace(450.0, 650.0, 9)
    goals = [design.Target(q, wl, value=v, tolerance=t, **({"polarisation": "s"} if q == "GD" else {}))
             for q, v, t in targets]
    coating = ql.Stack([ql.Layer(1.38, 95.0), ql.Layer(2.1, 60.0), ql.Layer(1.38, 20.0)], exit=1.52)
    sigma = 0.03 if relative else [1.0, 2.0, 0.5]
    spread = distributed_lab.tolerance(coating, goals, sigma, samples=45, relative=relative, seed=3, chunk=7,
                                       client=client)
    local = design.tolerance(coating, goals, sigma, samples=45, relative=relative, seed=3)
    for name in ("merit", "merit_percentiles", "thicknesses"):
        assert getattr(spread, name).tobytes() == getattr(local, name).tobytes(), name
    assert (spread.nominal_merit, spread.merit_mean, spread.merit_std) == \
        (local.nominal_merit, local.merit_mean, local.merit_std)
    for got, expected in zip(spread.targets, local.targets, strict=True):
        for name in ("values", "mean", "std", "nominal"):
            assert getattr(got, name).tobytes() == getattr(expected, name).tobytes(), name


def film(d, A):
    return ql.Stack([ql.Layer(ql.Cauchy(A, 4000.0), d)], exit=3.88 + 0.02j)


def test_fit_map_is_one_local_fit_per_point(client):
    pytest.importorskip("scipy")
    from quilmo_lab.fit import fit
    wl = np.linspace(400.0, 800.0, 31)
    angles = [1.1, 1.2]
    truth = [(200.0, 1.46), (230.0, 1.47), (260.0, 1.45)]
    psi = np.array([film(d, a).solve(wl, angles).psi[0] for d, a in truth])[:, None]  # a 3 x 1 map
    measured = {"psi": psi, "delta": np.array([film(d, a).solve(wl, angles).delta[0] for d, a in truth])[:, None]}
    starts = {"d": np.array([[210.0], [225.0], [250.0]]), "A": 1.5}
    fits = distributed_lab.fit_map(film, starts, wl, measured, angles=angles, thickness={"d": 0}, chunk=2,
                                   sigma={"psi": 0.01}, client=client)
    assert fits.shape == (3, 1) and fits.success.all()
    for i, (d, _) in enumerate(truth):
        local = fit(film, {"d": starts["d"][i, 0], "A": 1.5}, wl, {q: v[i, 0] for q, v in measured.items()},
                    angles=angles, thickness={"d": 0}, sigma={"psi": 0.01})
        for name in ("d", "A"):
            assert fits.values[name][i, 0] == local.values[name]
            assert fits.stderr[name][i, 0] == local.stderr[name]
        assert fits.chi2[i, 0] == local.chi2
        assert abs(fits.values["d"][i, 0] - d) < 1e-6


def test_default_chunks_and_explicit_ones():
    assert plan(10_000, 1, 1000, None) == ((1250,) * 8, (1000,))
    # a single stack wider than a task is cut along its wavelengths
    assert plan(3, 2, 25_000, None) == ((3,), (5000,) * 5)
    assert plan(7, 1, 10, (3, 4)) == ((3, 3, 1), (4, 4, 2))
    assert plan(7, 1, 10, {"wavelength": 6}) == ((7,), (6, 4))


def test_each_block_is_one_task_and_each_chunk_a_lookup_in_it():
    # every task costs a round trip between the scheduler and a worker: nothing else per chunk
    data = distributed_lab.solve(ABSORBING, BATCH, WL, chunks=(4, 10))  # 3 x 3 blocks
    engine = ["R_s", "R_p", "T_s", "T_p", "r_s", "r_p", "t_s", "t_p"]
    graph = {key: task for name in engine for key, task in data[name].data.__dask_graph__().items()}
    assert len(graph) == 9 * (1 + len(engine))


@pytest.mark.parametrize("keywords, error, words", [
    ({"chunks": 0}, ValueError, "chunks"),
    ({"chunks": (2, 3, 4)}, ValueError, "pair"),
    ({"chunks": {"stacks": 2}}, ValueError, "stack"),
    ({"chunks": 2.5}, TypeError, "chunks"),
    ({"absorbed": "yes"}, TypeError, "absorbed"),
    ({"client": object()}, TypeError, "client"),
    ({"thicknesses": [[1.0, 2.0]]}, ValueError, "thicknesses"),
])
def test_mistakes_are_reported_before_any_task(keywords, error, words):
    arguments = {"indices": [1.0, 1.4, 1.5], "thicknesses": [[90.0], [100.0]], "wavelengths": [500.0], **keywords}
    with pytest.raises(error, match=words):
        distributed_lab.solve(**arguments)


def test_missing_dask_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "dask.array", None)
    with pytest.raises(ImportError, match=r'quilmo\[distributed\]'):
        distributed_lab.solve([1.0, 1.5], [], [500.0])


@pytest.mark.parametrize("measured, keywords, error, words", [
    ({"R": np.zeros((3, 5))}, {"angles": [0.0, 0.1]}, ValueError, r"\(\*map, 2, 5\)"),
    ({"R": np.zeros((3, 5)), "T": np.zeros((4, 5))}, {}, ValueError, "same map"),
    ({"X": np.zeros((3, 5))}, {}, ValueError, "measured"),
    ({}, {}, ValueError, "at least one"),
    ({"R": np.zeros((3, 5))}, {"chunk": 0}, ValueError, "chunk"),
])
def test_fit_map_mistakes_are_reported_before_any_fit(measured, keywords, error, words):
    with pytest.raises(error, match=words):
        distributed_lab.fit_map(film, {"d": 100.0, "A": 1.5}, np.linspace(400.0, 800.0, 5), measured, **keywords)
