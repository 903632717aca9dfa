"""quilmo_lab.solve's surface: shapes and broadcasting, bad input, threads, the interpreter lock."""

import threading
import time

import numpy as np
import pytest

import quilmo_lab as ql
from conftest import random_stack, run_python
from lab_helpers import FIELDS, assert_same_bits

WL = np.linspace(400.0, 800.0, 7)


@pytest.mark.parametrize("indices, thicknesses, angles, shape", [
    ([1.0, 1.38, 1.52], [100.0], 0.0, (1, 1, 7)),                                   # constant indices
    (np.ones((3, 7)) * [[1.0], [1.38], [1.52]], [100.0], [0.0, 0.5], (1, 2, 7)),    # (media, W)
    (np.ones((3, 1)) * [[1.0], [1.38], [1.52]], [[100.0], [120.0], [90.0]], 0.2, (3, 1, 7)),  # batch of thicknesses
    (np.ones((2, 3, 7)) * [[1.0], [1.38], [1.52]], [100.0], 0.2, (2, 1, 7)),         # batch of indices
    ([1, 2, 1], [50], [0.1, 0.2, 0.3], (1, 3, 7)),                                  # integers
    ([1.0, 1.52], [], 0.3, (1, 1, 7)),                                               # a bare interface
    ([1.0 + 0.1j, 1.5, 1.0], [100.0], 0.0, (1, 1, 7)),  # a lossy incidence medium, allowed at normal incidence
])
def test_result_shapes(indices, thicknesses, angles, shape):
    result = ql.solve(indices, thicknesses, WL, angles)
    assert result.shape == shape
    for name in FIELDS:
        assert getattr(result, name).shape == shape, name
        assert np.isfinite(getattr(result, name)).all(), name
    assert result.R(0.3).shape == shape and result.A(np.zeros(shape)).shape == shape


def test_broadcast_inputs_give_the_same_points():
    rng = np.random.default_rng(3)
    d, n, wl = random_stack(rng, media=5, count=7, absorbing=True)
    thicknesses = np.stack([d, d * 1.1])
    batched = ql.solve(np.stack([n, n]), thicknesses, wl, [0.0, 0.4])
    for b in range(2):
        single = ql.solve(n, thicknesses[b], wl, [0.0, 0.4])
        for name in FIELDS:
            assert getattr(batched, name)[b].tobytes() == getattr(single, name)[0].tobytes(), name
    constant = ql.solve(n[:, 0], d, wl)
    full = ql.solve(np.repeat(n[:, :1], wl.size, axis=1), d, wl)
    assert constant.R_s.tobytes() == full.R_s.tobytes()


def test_empty_grids():
    assert ql.solve([1.0, 1.5], [], [], 0.0).R_s.shape == (1, 1, 0)
    assert ql.solve([1.0, 1.5], [], WL, []).R_s.shape == (1, 0, 7)
    assert ql.solve([1.0, 1.2, 1.5], np.empty((0, 1)), WL).R_s.shape == (0, 1, 7)


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(thicknesses=[1.0, 2.0, 3.0, 4.0], indices=[1, 2, 3, 2, 1]), ValueError,
     "thicknesses must have 3 entries or shape (B, 3) for 5 media; received 4 entries"),
    (dict(thicknesses=[1 + 1j]), TypeError, "thicknesses must hold real numbers; received an array of dtype complex128"),
    (dict(indices=[1.0]), ValueError, "indices must hold at least 2 media (incidence and exit medium); received 1 medium"),
    (dict(indices=np.ones((3, 4))), ValueError, "indices must have 7 columns, one per wavelength"),
    (dict(indices=np.ones((1, 1, 3, 7))), ValueError,
     "indices must have shape (media,), (media, W) or (B, media, W); received shape (1, 1, 3, 7)"),
    (dict(indices=[[1, 2], [1]]), ValueError, "indices must be a rectangular array of numbers"),
    (dict(indices=np.ones((2, 3, 7)), thicknesses=np.ones((3, 1))), ValueError,
     "thicknesses must hold as many stacks as indices (2), or one of them a single stack for all; received 3"),
    (dict(angles=[[0.1]]), ValueError, "angles must be a scalar or of shape (A,); received shape (1, 1)"),
    (dict(angles="0.1"), TypeError, "angles must hold real or complex numbers"),
    (dict(angles=[0.1, 2.0 + 0.1j]), ValueError, "between -pi/2 and pi/2 (did you pass degrees?)"),
    (dict(threads=0), ValueError, "threads must be between 1 and 255; received 0"),
    (dict(threads=True), TypeError, "threads must be an int or None; received bool"),
])
def test_bad_input_names_parameter_expected_and_received(kwargs, error, message):
    args = dict(indices=[1.0, 1.38, 1.52], thicknesses=[100.0], wavelengths=WL, angles=0.0) | kwargs
    threads = args.pop("threads", None)
    with pytest.raises(error) as caught:
        ql.solve(**args, threads=threads)
    assert message in str(caught.value)


def test_results_do_not_depend_on_threads():
    rng = np.random.default_rng(11)
    _, n, wl = random_stack(rng, media=8, count=301, absorbing=True)
    d = rng.uniform(5.0, 300.0, (7, 6))
    angles = np.linspace(0.0, 1.4, 5)
    reference = ql.solve(n, d, wl, angles, threads=1)
    for threads in (2, 3, 8, None):
        assert_same_bits(ql.solve(n, d, wl, angles, threads=threads), reference, context=(threads,))
    # Any cut of the grid: stack by stack and angle by angle give the same bits.
    for b, a in ((0, 1), (0, 4), (6, 1), (6, 4)):
        assert ql.solve(n, d[b], wl, angles[a], threads=2).r_p[0, 0].tobytes() == reference.r_p[b, a].tobytes()


def test_a_forked_child_builds_its_own_pools():
    # The parent's workers do not exist in the child; its first parallel solve starts new ones.
    done = run_python("""
        import os, warnings
        import numpy as np
        import quilmo_lab as ql
        warnings.simplefilter("ignore")  # fork() of a process with threads
        wl = np.linspace(400.0, 800.0, 3000)
        reference = ql.solve([1.0, 1.5, 1.52], [100.0], wl, threads=2).R_s.tobytes()
        pid = os.fork()
        if pid == 0:
            same = ql.solve([1.0, 1.5, 1.52], [100.0], wl, threads=2).R_s.tobytes() == reference
            os._exit(0 if same else 3)
        print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
    """, timeout=60)
    assert done.stdout.strip() == "0", done.stdout + done.stderr


def test_the_interpreter_lock_is_released_during_a_solve():
    wl = np.linspace(400.0, 800.0, 400)
    n = np.repeat(np.array([[1.0]] + [[2.35], [1.46]] * 20 + [[1.52]], dtype=complex), wl.size, axis=1)
    d = np.tile([58.5, 94.2], 20) * np.linspace(0.9, 1.1, 200)[:, None]  # 200 stacks
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0)

    start = time.perf_counter()
    ql.solve(n, d, wl, 0.3, threads=1)
    alone = time.perf_counter() - start
    thread = threading.Thread(target=count)
    thread.start()
    try:
        while not ticks:
            time.sleep(0.001)
        before = len(ticks)
        ql.solve(n, d, wl, 0.3, threads=1)
        during = len(ticks) - before
    finally:
        stop.set()
        thread.join()
    # Holding the lock would let the counter run at most once per switch interval (5 ms).
    assert during > 20 * max(1.0, alone / 0.005), (during, alone)


def test_polarisation_angles_broadcast_and_ellipsometry_conventions():
    # the weights themselves are checked bit for bit against DataPy
    result = ql.solve([1.0, 2.0 + 0.2j, 1.5], [120.0], WL, 0.6)
    phis = np.array([0.0, 0.4, 1.1])[:, None, None, None]
    np.testing.assert_array_equal(result.T(phis)[1], result.T(0.4))
    absorbed = ql.solve([1.0, 2.0 + 0.2j, 1.5, 1.0], [120.0, 40.0], WL, [0.2, 0.6]).absorbed
    np.testing.assert_array_equal(absorbed(phis)[2], absorbed(1.1))  # the weights skip the layer axis
    np.testing.assert_allclose(ql.ellipsometry_convention(result.delta, "pyelli"), np.pi - result.delta)
    with pytest.raises(ValueError, match="convention must be 'tmm', 'pyelli' or 'openfilters'; received 'x'"):
        ql.ellipsometry_convention(result.delta, "x")  # type: ignore[arg-type]


def test_to_xarray():
    xarray = pytest.importorskip("xarray")
    result = ql.solve([1.0, 1.38, 1.52], [[100.0], [110.0]], WL, [0.0, 0.3])
    data = result.to_xarray()
    assert isinstance(data, xarray.Dataset)
    assert data["R_p"].dims == ("stack", "angle", "wavelength")
    np.testing.assert_array_equal(data["wavelength"], WL)
    np.testing.assert_array_equal(data["delta"].values, result.delta)


STACK = ql.Stack([ql.Layer(2.0 + 0.1j, 80.0), ql.Layer(1.46, 1e5, coherent=False), ql.Layer(1.38, 95.0)],
                 incident=1.0, exit=1.52)


@pytest.mark.parametrize("front", ["solve", "profile"])
def test_a_stack_and_its_arrays_give_the_same_bits(front):
    arrays = (STACK.indices(WL), STACK.thicknesses, WL)
    if front == "solve":
        by_stack = ql.solve(STACK, WL, [0.0, 0.5], derivatives=True)
        by_arrays = ql.solve(*arrays, [0.0, 0.5], coherent=STACK.coherent, derivatives=True)
        names = ("R_s", "T_p", "absorbed_p", "dR_p", "dT_s", "wavelengths", "angles")
    else:
        by_stack = STACK.profile(WL, 0.4, [-5.0, 40.0, 1e3, 1e5 + 100.0])
        by_arrays = ql.profile(*arrays, 0.4, [-5.0, 40.0, 1e3, 1e5 + 100.0], coherent=STACK.coherent)
        names = ("density_s", "density_p", "E2_s", "E2_p", "depths")
    assert_same_bits(by_stack, by_arrays, names)
    # keywords name either form's parameters
    if front == "solve":
        assert_same_bits(ql.solve(stack=STACK, wavelengths=WL, angles=[0.0, 0.5]), by_arrays, ("R_p",))
        assert_same_bits(ql.solve(indices=arrays[0], thicknesses=arrays[1], wavelengths=WL, angles=[0.0, 0.5],
                                  coherent=STACK.coherent), by_arrays, ("R_p",))


@pytest.mark.parametrize("call, message", [
    (lambda: ql.solve(), "solve() needs the argument 'indices'; received none"),
    (lambda: ql.solve([1.0, 1.5], [], WL, 0.0, 2), "solve() takes at most 4 positional arguments; received 5"),
    (lambda: ql.solve([1.0, 1.5], [], WL, 0.1, angles=0.2), "solve() takes 'angles' once"),
    (lambda: ql.solve(STACK, WL, indices=[1.0, 1.5]), "received the unknown keyword argument 'indices'"),
    (lambda: ql.solve([1.0, 1.5], [], WL, pol="s"), "received the unknown keyword argument 'pol'"),
    (lambda: ql.profile(STACK, WL, 0.0), "profile() needs the argument 'depths'; received none"),
    (lambda: ql.dispersion(stack=[1.0, 1.5], wavelengths=WL), "stack must be a quilmo_lab.Stack; received list"),
])
def test_a_call_that_fits_neither_form_says_why(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert message in str(caught.value)


@pytest.mark.parametrize("polarisation, error", [
    ("mean", ValueError), ("S", ValueError), (True, TypeError), ("s p", ValueError), (["s"], TypeError),
])
def test_one_polarisation_vocabulary(polarisation, error):
    result = ql.solve([1.0, 2.0 + 0.2j, 1.5], [120.0], WL, 0.6, derivatives=True)
    assert result.R("s").tobytes() == result.R_s.tobytes() and result.dT("p").tobytes() == result.dT_p.tobytes()
    assert result.R().tobytes() == (0.5 * (result.R_s + result.R_p)).tobytes()
    match = "polarisation must be 's', 'p', 'unpolarized' or an angle in radians; received"
    for weighted in (result.R, result.absorbed, result.dA, ql.profile([1.0, 1.5], [], WL, 0.0, [0.0]).E2):
        with pytest.raises(error, match=match):
            weighted(polarisation)
