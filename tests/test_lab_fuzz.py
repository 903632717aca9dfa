"""Property-based fuzzing of quilmo_lab's public fronts, as a careless or hostile user calls them.

Only TypeError, ValueError, FileNotFoundError and MemoryError may escape, each in our wording
(naming what was expected and what was received), never another library's text, and no call
may take long. A short derandomised run in CI; QUILMO_FUZZ_LONG=1 runs a hundred times more,
QUILMO_FUZZ_EXAMPLES=N exactly N per front (the sanitizer leg runs fewer).
"""

import os
import time
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import quilmo_lab as ql
import quilmo_lab.design

LONG = os.environ.get("QUILMO_FUZZ_LONG") == "1"
EXAMPLES = int(os.environ.get("QUILMO_FUZZ_EXAMPLES", 100_000 if LONG else 1_500))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, derandomize=not LONG,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                       HealthCheck.filter_too_much])
ALLOWED = (TypeError, ValueError, FileNotFoundError, MemoryError)
# Seconds one call may take: the inputs drawn are small.
TIME_LIMIT = 5.0

ODD_NUMBERS = [0.0, -0.0, 1.0, -1.0, 1.5, np.nan, np.inf, -np.inf, 1e308, 1e-308, 5e-324, np.pi / 2, -np.pi / 2,
               np.nextafter(np.pi / 2, 0), 2.0, 45.0, 1e6, 2**63, -(2**63)]
JUNK = [None, "x", "", b"1", [], [[]], [[1.0], [2.0, 3.0]], {"a": 1}, object(), True, 1 + 2j, slice(1),
        np.array("abc"), np.array([None, 1.0], dtype=object)]


@st.composite
def number_arrays(draw, max_dims=3):
    dtype = draw(st.sampled_from([np.float64, np.complex128, np.int64, np.float32, np.bool_]))
    shape = draw(hnp.array_shapes(min_dims=0, max_dims=max_dims, min_side=0, max_side=5))
    elements = st.sampled_from(ODD_NUMBERS[:-2]) | st.floats(-1e3, 1e3)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # casts of NaN and overflows to integers
        array = draw(hnp.arrays(np.float64, shape, elements=elements)).astype(dtype)
    if np.dtype(dtype).kind == "c" and draw(st.booleans()):
        array = array + 1j * draw(st.sampled_from([0.0, 0.01, -0.5, np.nan]))
    return array.T if draw(st.booleans()) else array


def values(max_dims=3):
    return number_arrays(max_dims) | st.sampled_from(ODD_NUMBERS) | st.sampled_from(JUNK) | \
        st.lists(st.sampled_from(ODD_NUMBERS), max_size=5)


def plausible_problem():
    """Mostly well-formed arrays, so that calls reach the engine often."""
    return st.tuples(
        st.integers(2, 5).flatmap(lambda media: st.tuples(
            st.lists(st.sampled_from([1.0, 1.45, 2.1 + 0.1j, 3.0 + 4.0j, np.nan]), min_size=media, max_size=media),
            st.lists(st.sampled_from([0.0, 90.0, 1e5, -1.0, np.nan, np.inf]), min_size=media - 2,
                     max_size=media - 2))),
        st.lists(st.sampled_from([400.0, 633.0, -1.0, 0.0, np.nan, np.inf, 1e-300]), min_size=0, max_size=4),
        st.lists(st.sampled_from(ODD_NUMBERS), min_size=0, max_size=3) | st.sampled_from(ODD_NUMBERS),
    )


def _call(front, *args, **kwargs):
    start = time.perf_counter()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            front(*args, **kwargs)
    except ALLOWED as error:
        text = str(error)
        assert text, f"{type(error).__name__} without a message"
        assert "received" in text or "could not be allocated" in text or "no refractiveindex" in text, text
    finally:
        assert time.perf_counter() - start < TIME_LIMIT, f"{front.__name__} took too long"


THREADS = st.sampled_from([None, 1, 2, 255, 0, -1, 256, 1.5, "2", True])


@FUZZ
@given(indices=values(), thicknesses=values(2), wavelengths=values(1), angles=values(1), threads=THREADS,
       derivatives=st.sampled_from([False, True, 1, None]))
def test_solve_with_any_arguments(indices, thicknesses, wavelengths, angles, threads, derivatives):
    _call(ql.solve, indices, thicknesses, wavelengths, angles, threads=threads, derivatives=derivatives)


@FUZZ
@given(problem=plausible_problem(), threads=THREADS, coherent=st.sampled_from([None, True, False, "x"]),
       front=st.sampled_from(["solve", "derivatives", "profile", "dispersion", "absorbed"]))
def test_fronts_with_plausible_arguments(problem, threads, coherent, front):
    (n, d), wl, angles = problem
    mask = None if coherent is None or coherent == "x" and not d else [coherent] * len(d) if coherent != "x" else "x"
    angle = angles[0] if isinstance(angles, list) and angles else angles
    calls = {
        "solve": lambda: ql.solve(n, d, wl, angles, coherent=mask, threads=threads),
        "derivatives": lambda: ql.solve(n, d, wl, angles, coherent=mask, threads=threads, derivatives=True),
        "absorbed": lambda: ql.solve(n, d, wl, angles, coherent=mask, threads=threads).absorbed(),
        "profile": lambda: ql.profile(n, d, wl, angle, [0.0, 10.0, -5.0], coherent=mask, threads=threads),
        "dispersion": lambda: ql.dispersion(n, d, wl, angle, threads=threads),
    }
    _call(calls[front])


@FUZZ
@given(material=st.sampled_from(["N-BK7", "Ag", "Si", "SiO2", "water"]), wavelengths=values(2),
       extrapolate=st.sampled_from([None, True, False]))
def test_library_materials_with_any_wavelengths(material, wavelengths, extrapolate):
    _call(ql.library[material], wavelengths, extrapolate=extrapolate)


@FUZZ
@given(index=values(0), thickness=values(0), exit=values(0), wavelengths=values(1))
def test_stacks_built_from_anything(index, thickness, exit, wavelengths):
    def build_and_solve():
        ql.Stack([ql.Layer(index, thickness)], exit=exit).solve(wavelengths)

    _call(build_and_solve)
