"""simulate() and the Simulation result: surface, physics, determinism, failures."""

import math

import numpy as np
import pytest

import quilmo
from conftest import PanicException, random_stack, run_python, uniform_stack
from numpy_tmm import reflectance_transmittance


def simulate(d, n, wl, theta=0.0, phi=0.0):
    return quilmo.DataPy(d, n, wl, theta, phi).simulate()


# --- the result object -----------------------------------------------------

@pytest.mark.parametrize("count", [0, 1, 100, 101, 1000])
def test_result_arrays(count):
    d, n, wl = uniform_stack([1.0, 2.0, 1.5], np.linspace(400, 800, count), [80.0])
    result = simulate(d, n, wl)
    assert type(result).__name__ == "Simulation" and type(result) is quilmo.Simulation
    for name in ("r", "t"):
        array = getattr(result, name)
        assert type(array) is np.ndarray
        assert array.shape == (count,) and array.dtype == np.float64
        assert array.flags.c_contiguous and array.flags.writeable and array.flags.owndata
        assert array.base is None
        assert array is not getattr(result, name)


def test_result_arrays_are_independent_copies():
    d, n, wl = uniform_stack([1.0, 1.5], [500.0, 600.0])
    result = simulate(d, n, wl)
    first = result.r
    first[:] = 42.0
    assert not np.any(result.r == 42.0)
    setup = quilmo.DataPy(d, n, wl, 0.0, 0.0)
    result = setup.simulate()
    del setup
    np.testing.assert_array_equal(result.t, simulate(d, n, wl).t)


@pytest.mark.parametrize("d, n", [
    (np.zeros(0), np.zeros((0, 0), complex)),
    (np.zeros(0), np.zeros((1, 3), complex)),
    (np.ones(7), np.zeros((5, 0), complex)),
])
def test_no_wavelengths_any_shapes(d, n):
    result = simulate(d, n, np.zeros(0))
    assert result.r.shape == result.t.shape == (0,)


@pytest.mark.parametrize("name", ["r", "t", "x"])
def test_result_is_read_only(name):
    result = simulate(*uniform_stack([1.0, 1.5], [500.0]))
    with pytest.raises(AttributeError):
        setattr(result, name, np.zeros(1))


# --- physics ---------------------------------------------------------------

@pytest.mark.parametrize("n1, n2", [(1.0, 1.5), (1.5, 1.0), (1.33, 2.4), (1.0, 1.0)])
def test_bare_interface_at_normal_incidence(n1, n2):
    result = simulate(*uniform_stack([n1, n2], [500.0]))
    assert result.r[0] == pytest.approx(((n1 - n2) / (n1 + n2)) ** 2, rel=1e-15, abs=1e-17)
    assert result.t[0] == pytest.approx(4 * n1 * n2 / (n1 + n2) ** 2, rel=1e-15)


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("count", [7, 257])
def test_lossless_stacks_conserve_energy(seed, count):
    rng = np.random.default_rng(seed)
    d, n, wl = random_stack(rng, int(rng.integers(2, 14)), count, absorbing=False)
    theta = rng.uniform(0.0, 1.5)
    result = simulate(d, n, wl, theta, rng.uniform(0.0, math.pi))
    np.testing.assert_allclose(result.r + result.t, 1.0, rtol=0, atol=1e-12)


def test_total_internal_reflection():
    d, n, wl = uniform_stack([1.5, 2.0, 1.0], np.linspace(400, 700, 150), [120.0])
    result = simulate(d, n, wl, theta=math.pi / 3, phi=0.7)
    assert np.all(result.t == 0.0)
    np.testing.assert_allclose(result.r, 1.0, rtol=0, atol=1e-12)


def test_phi_selects_polarisation():
    d, n, wl = uniform_stack([1.0, 2.2, 1.45, 1.52], np.linspace(400, 800, 50), [60.0, 90.0])
    s = simulate(d, n, wl, 0.8, 0.0)
    p = simulate(d, n, wl, 0.8, math.pi / 2)
    mixed = simulate(d, n, wl, 0.8, math.pi / 4)
    assert not np.allclose(s.r, p.r)
    np.testing.assert_allclose(mixed.r, (s.r + p.r) / 2, rtol=1e-14)
    np.testing.assert_allclose(mixed.t, (s.t + p.t) / 2, rtol=1e-14)
    # At normal incidence s and p coincide.
    np.testing.assert_allclose(simulate(d, n, wl, 0.0, 0.0).r, simulate(d, n, wl, 0.0, 1.0).r, rtol=1e-14)


def test_quarter_wave_coating_minimum_at_design_wavelength():
    wl = np.linspace(400.0, 700.0, 3001)
    coating = math.sqrt(1.52)
    result = simulate(*uniform_stack([1.0, coating, 1.52], wl, [550.0 / (4 * coating)]))
    assert wl[np.argmin(result.r)] == pytest.approx(550.0, abs=0.1)
    assert result.r.min() < 1e-12


@pytest.mark.parametrize("seed", range(8))
@pytest.mark.parametrize("absorbing", [False, True])
def test_agrees_with_independent_numpy_implementation(seed, absorbing):
    rng = np.random.default_rng(100 + seed)
    count = int(rng.choice([5, 120]))
    d, n, wl = random_stack(rng, int(rng.integers(2, 12)), count, absorbing)
    theta, phi = rng.uniform(0.0, 1.3), rng.uniform(0.0, math.pi)
    result = simulate(d, n, wl, theta, phi)
    r, t = reflectance_transmittance(d, n, wl, theta, phi)
    np.testing.assert_allclose(result.r, r, rtol=1e-12, atol=1e-15)
    np.testing.assert_allclose(result.t, t, rtol=1e-12, atol=1e-15)


# --- determinism -----------------------------------------------------------

@pytest.mark.parametrize("count", [100, 101, 1500])
def test_each_wavelength_alone_gives_the_same_bits(count):
    rng = np.random.default_rng(count)
    d, n, wl = random_stack(rng, 9, count, absorbing=True)
    together = simulate(d, n, wl, 0.4, 0.3)
    for i in range(0, count, max(1, count // 37)):
        alone = simulate(d, n[:, i:i + 1], wl[i:i + 1], 0.4, 0.3)
        assert alone.r.tobytes() == together.r[i:i + 1].tobytes()
        assert alone.t.tobytes() == together.t[i:i + 1].tobytes()


def test_results_do_not_depend_on_thread_count():
    code = """
        import hashlib, sys
        import numpy as np
        import quilmo
        sys.path.insert(0, {tests!r})
        from conftest import random_stack
        d, n, wl = random_stack(np.random.default_rng(5), 12, 5000, absorbing=True)
        result = quilmo.DataPy(d, n, wl, 0.5, 0.25).simulate()
        print(hashlib.sha256(result.r.tobytes() + result.t.tobytes()).hexdigest())
    """.format(tests=str(__import__("pathlib").Path(__file__).parent))
    digests = set()
    for threads in ("1", "2", "7"):
        run = run_python(code, env={"RAYON_NUM_THREADS": threads})
        assert run.returncode == 0, run.stderr
        digests.add(run.stdout.strip())
    assert len(digests) == 1


def test_repeated_calls_are_equal_and_leave_the_setup_unchanged():
    rng = np.random.default_rng(9)
    d, n, wl = random_stack(rng, 6, 300, absorbing=True)
    setup = quilmo.DataPy(d, n, wl, 0.2, 0.1)
    first, second = setup.simulate(), setup.simulate()
    assert first is not second
    assert first.r.tobytes() == second.r.tobytes() and first.t.tobytes() == second.t.tobytes()
    np.testing.assert_array_equal(setup.d, d)
    np.testing.assert_array_equal(setup.n, n)
    np.testing.assert_array_equal(setup.wl, wl)
    assert (setup.theta, setup.phi) == (0.2, 0.1)


# --- failures --------------------------------------------------------------

def _bad_setups(count):
    wl = np.linspace(400, 800, count)
    good_n = np.full((4, count), 1.5 + 0j)
    yield "too few columns", np.ones(2), good_n[:, :-1], wl
    yield "single row", np.ones(2), good_n[:1], wl
    yield "d too short", np.ones(1), good_n, wl
    yield "no rows", np.ones(2), np.zeros((0, count), complex), wl


@pytest.mark.parametrize("count", [50, 100, 101, 2000])
@pytest.mark.parametrize("case", range(4))
def test_inconsistent_setups_panic(count, case, capfd):
    name, d, n, wl = list(_bad_setups(count))[case]
    setup = quilmo.DataPy(d, n, wl, 0.1, 0.2)
    with pytest.raises(PanicException) as info:
        setup.simulate()
    assert str(info.value) == "ndarray: index out of bounds", name
    assert "ndarray: index out of bounds" in capfd.readouterr().err
    # The object and the module stay usable.
    good = simulate(np.ones(2), np.full((4, count), 1.5 + 0j), wl)
    assert good.r.shape == (count,)


@pytest.mark.parametrize("count, missing", [(100, 1), (100, 60), (101, 1), (101, 100), (2000, 700)])
@pytest.mark.parametrize("constant", [True, False])
def test_missing_columns_panic_after_earlier_wavelengths_were_computed(count, missing, constant, capfd):
    rng = np.random.default_rng(count + missing)
    d, n, wl = random_stack(rng, 6, count, absorbing=True, dispersive=not constant)
    with pytest.raises(PanicException, match="^ndarray: index out of bounds$"):
        simulate(d, n[:, : count - missing], wl, 0.3, 0.2)
    assert "ndarray: index out of bounds" in capfd.readouterr().err


def test_non_finite_inputs_flow_through():
    wl = np.array([500.0, 600.0, np.nan, 700.0, np.inf])
    n = np.full((3, 5), 1.5 + 0j)
    n[1, 0] = np.nan
    n[1, 1] = complex(np.inf, 0)
    result = simulate(np.array([100.0]), n, wl)
    assert np.isnan(result.r[0]) and np.isnan(result.t[0])
    assert np.isfinite(result.r[3])
    zero = simulate(np.zeros(0), np.zeros((2, 1), complex), np.array([500.0]))
    assert not np.isfinite(zero.r[0])


def test_pool_starts_only_above_one_hundred_wavelengths():
    code = """
        import os
        import numpy as np
        import quilmo
        def threads():
            return len(os.listdir("/proc/self/task"))
        n = np.full((3, 101), 1.5 + 0j)
        wl = np.linspace(400, 800, 101)
        start = threads()
        quilmo.DataPy(np.ones(1), n[:, :100], wl[:100], 0.0, 0.0).simulate()
        after_sequential = threads()
        quilmo.DataPy(np.ones(1), n, wl, 0.0, 0.0).simulate()
        print(start, after_sequential, threads())
    """
    run = run_python(code, env={"RAYON_NUM_THREADS": "3"})
    assert run.returncode == 0, run.stderr
    start, after_sequential, after_parallel = map(int, run.stdout.split())
    assert after_sequential == start
    assert after_parallel == start + 3
