"""quilmo_lab when memory runs short or a direct caller of the engine hands it arrays that
overlap: our own MemoryError naming the grid, a ValueError naming the overlapping arrays,
and results that keep what the call was given even when the caller rewrites it meanwhile."""

import threading

import numpy as np
import pytest

import quilmo_lab as ql
import quilmo_lab.design
from quilmo_lab import _engine


@pytest.mark.parametrize("front", ["solve", "derivatives", "dispersion", "profile"])
def test_results_too_large_are_our_memory_error(front):
    # 2e5 angles x 1e6 wavelengths: terabytes of results.
    n, d = [1.0, 1.45, 1.52], [90.0]
    wl = np.broadcast_to(np.float64(500.0), (1_000_000,))
    calls = {
        "solve": lambda: ql.solve(n, d, wl, np.zeros(200_000)),
        "derivatives": lambda: ql.solve(n, d, wl, np.zeros(200_000), derivatives=True),
        "dispersion": lambda: ql.dispersion(n, np.zeros((200_000, 1)), wl),
        "profile": lambda: ql.profile(n, d, wl, 0.0, np.zeros(1_000_000)),
    }
    with pytest.raises(MemoryError, match=r"the results of a grid of .* wavelengths of 3 media need .* GiB") as info:
        calls[front]()
    assert type(info.value) is MemoryError


def _engine_arrays():
    indices = np.array([[[1.0], [1.45], [1.52]]], dtype=np.complex128)
    thicknesses = np.array([[90.0]])
    wavelengths = np.linspace(400.0, 700.0, 8)
    angles = np.zeros(2)
    return indices, thicknesses, wavelengths, angles


@pytest.mark.parametrize("overlap", ["outputs", "input"])
def test_engine_refuses_outputs_that_share_memory(overlap):
    indices, thicknesses, wavelengths, angles = _engine_arrays()
    amplitudes = np.zeros((4, 1, 2, 8), dtype=np.complex128)
    if overlap == "outputs":  # powers viewing the first half of the amplitudes' bytes
        powers = amplitudes.reshape(-1).view(np.float64)[:64].reshape(4, 1, 2, 8)
        expected = "powers must not share memory with amplitudes"
    else:  # powers written over the wavelengths being read
        buffer = np.zeros(64)
        wavelengths = buffer[:8]
        wavelengths[:] = np.linspace(400.0, 700.0, 8)
        powers = buffer.reshape(4, 1, 2, 8)
        expected = "powers must not share memory with wavelengths"
    with pytest.raises(ValueError, match=expected):
        _engine.coherent(indices, thicknesses, wavelengths, angles, 1, np.zeros((1, 2)), 0, amplitudes, powers,
                         1)


def test_inputs_rewritten_during_a_call_do_not_tear_results():
    # The fronts copy what they are given before the engine runs: a thread rewriting the
    # caller's thicknesses meanwhile cannot mix two stacks in one result.
    n = np.array([1.0, 2.1, 1.45, 1.52])
    d = np.array([70.0, 110.0])
    wl = np.linspace(400.0, 800.0, 200_000)
    before = ql.solve(n, d, wl, threads=2).R()
    stop = threading.Event()

    def rewrite():
        while not stop.is_set():
            d[:] = (200.0, 20.0)
            d[:] = (70.0, 110.0)

    writer = threading.Thread(target=rewrite)
    d[:] = (70.0, 110.0)
    writer.start()
    try:
        results = [ql.solve(n, d, wl, threads=2).R() for _ in range(3)]
    finally:
        stop.set()
        writer.join()
    other = ql.solve(n, [200.0, 20.0], wl, threads=2).R()
    for result in results:
        whole = (result == before).all(axis=-1) | (result == other).all(axis=-1)
        assert whole.all(), "a result mixes points of two thicknesses"


@pytest.mark.parametrize("angles", [2.0, -1.6, 10.0, np.inf, 45.0, [0.0, np.pi - 0.3]])
@pytest.mark.parametrize("front", ["solve", "dispersion", "profile", "target"])
def test_angles_beyond_grazing_are_refused_as_radians(front, angles):
    # Before, 2.0 rad was silently solved as pi - 2.0.
    n, d, wl = [1.0, 1.45, 1.52], [90.0], [500.0, 600.0]
    first = np.atleast_1d(angles)[-1]
    calls = {
        "solve": lambda: ql.solve(n, d, wl, angles),
        "dispersion": lambda: ql.dispersion(n, d, wl, first),
        "profile": lambda: ql.profile(n, d, wl, first, [10.0]),
        "target": lambda: ql.design.Target("R", wl, 0.1, angle=first),
    }
    with pytest.raises(ValueError, match=r"angles? must be (angles of incidence in radians.*did you pass degrees|finite)"):
        calls[front]()


def test_grazing_bound_itself_is_accepted():
    res = ql.solve([1.0, 1.45, 1.52], [90.0], [500.0], [-np.pi / 2, np.pi / 2, np.nan])
    assert res.R().shape == (1, 3, 1)


@pytest.mark.parametrize("indices, thicknesses", [
    ([1.0, 1.45, 1.52], [90.0]), ([1.0, 1.45 + 0.1j, 2.5], [90.0]), ([1.5, 1.0], []), ([1.33, 3.0 + 4.0j], []),
])
def test_grazing_incidence_is_the_limit_not_nan(indices, thicknesses):
    # Before, sin(theta) rounding to 1 gave 0/0: NaN at pi/2 and within 1e-8 rad of it.
    res = ql.solve(indices, thicknesses, [500.0, 700.0], [np.pi / 2, -np.pi / 2, np.pi / 2 - 1e-8])
    assert (res.R() == 1.0).all() and (res.T() == 0.0).all()
    for r in (res.r_s, res.r_p):
        assert (r == -1.0).all()
    for t in (res.t_s, res.t_p):
        assert (t == 0.0).all()
    near = ql.solve(indices, thicknesses, [500.0, 700.0], np.pi / 2 - 1e-7)
    np.testing.assert_allclose(near.R(), 1.0, atol=1e-5)
    np.testing.assert_allclose(near.r_p, -1.0, atol=1e-5)
    assert np.isnan(ql.solve([1.0, np.nan], [], [500.0], np.pi / 2).R()).all(), "NaN input stays NaN"
