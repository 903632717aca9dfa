"""One point of an array stack, the call tmm-style loops make, takes a short path through solve:
the same bits, the same ownership and the same errors as the general path (which any option,
here derivatives=False, selects)."""

import math
import sys

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab import _engine
from lab_helpers import FIELDS, assert_same_bits

POINTS = [
    ([1.0, 1.38, 1.52], [99.6], [550.0], 0.5),
    ([1.0, 2.0 + 0.3j, 0.2 + 3.1j, 1.5], [40.0, 12.5], 633.0, 0.0),  # absorbing layers, wavelength as a scalar
    ([1.5, 1.0], [], [600.0], 1.2),  # total internal reflection, no inner layer
    (np.array([1, 2, 1]), np.array([100]), np.array([500]), 0),  # integers everywhere
    ([1.0, 1.38, 1.52], [99.6], [550.0], math.pi / 2),  # grazing
    ([1.0, 1.38, 1.52], [99.6], [550.0], -math.pi / 2),
    ([1.0, 1.38, 1.52], [99.6], [550.0], math.nan),
    ([1.0, 1.38, 1.52], [99.6], [550.0], np.float64(0.3)),
    ([1.0, 1.45, 1.0], [1e7], [550.0], 0.2),  # a thick layer: the scaled product
]


@pytest.mark.parametrize("indices, thicknesses, wavelengths, angle", POINTS)
def test_one_point_gives_the_general_paths_bits(indices, thicknesses, wavelengths, angle):
    short = ql.solve(indices, thicknesses, wavelengths, angle)
    general = ql.solve(indices, thicknesses, wavelengths, angle, derivatives=False)
    assert short.shape == general.shape == (1, 1, 1)
    assert short.angles.dtype == general.angles.dtype and short.wavelengths.dtype == general.wavelengths.dtype
    assert_same_bits(short, general, (*FIELDS, "kz", "layer_angles", "waves_s", "waves_p", "mueller_r",
                                      "mueller_t", "absorbed_s", "absorbed_p"))
    threaded = ql.solve(indices, thicknesses, wavelengths, angle, threads=1)
    assert_same_bits(threaded, general)


def test_one_point_owns_its_inputs():
    n, d, w = np.array([1.0, 2.0 + 0.5j, 1.5]), np.array([80.0]), np.array([550.0])
    result = ql.solve(n, d, w, 0.4)
    n[1], d[0], w[0] = 3.0, 10.0, 900.0
    expected = ql.solve([1.0, 2.0 + 0.5j, 1.5], [80.0], [550.0], 0.4, derivatives=False)
    assert_same_bits(result, expected, ("R_s", "T_p", "absorbed_s", "kz"))  # lazily computed after the change
    assert result.wavelengths[0] == 550.0 and not result.R_s.flags.writeable


@pytest.mark.parametrize("args, kwargs", [
    ((["1", "1.5", "1"], [100.0], [500.0], 0.1), {}),
    (([1.0, 1.5, 1.0], [100.0 + 1j], [500.0], 0.1), {}),
    (([1.0, 1.5, 1.0], [100.0, 5.0], [500.0], 0.1), {}),
    (([1.0, 1.5, 1.0], [[100.0, 5.0]], [500.0], 0.1), {}),
    (([1.0], [], [500.0], 0.1), {}),
    (([[1.0, 1.5, 1.0]], [100.0], [500.0], 0.1), {}),
    (([1.0, 1.5, 1.0], [100.0], [[500.0]], 0.1), {}),
    (([1.0, 1.5, 1.0], [100.0], [500.0 + 1j], 0.1), {}),
    (([1.0, 1.5, 1.0], [100.0], [500.0], 45.0), {}),
    (([1.0, 1.5, 1.0], [100.0], [500.0], True), {}),
    (([1.0, 1.5, 1.0], [100.0], [500.0], 0.1), {"threads": 0}),
    (([1.0, 1.5, 1.0], [100.0], [500.0], 0.1), {"threads": 1.5}),
    (([1.0, [1.5, 2.0], 1.0], [100.0], [500.0], 0.1), {}),
])
def test_one_point_refuses_what_the_general_path_refuses_in_its_words(args, kwargs):
    with pytest.raises((TypeError, ValueError)) as general:
        ql.solve(*args, **kwargs, derivatives=False)
    with pytest.raises(general.type) as short:
        ql.solve(*args, **kwargs)
    assert str(short.value) == str(general.value)


@pytest.mark.parametrize("position", [0, 1, 4])
def test_a_refused_buffer_is_released(position):
    args = [np.ones(3, dtype=np.complex128), np.array([1.0]), 500.0, 0.0, np.empty(4, dtype=np.complex128),
            np.empty(4), None, None]
    wrong = np.ones(args[position].shape, dtype=np.float32)  # a format the engine does not read
    args[position] = wrong
    before = sys.getrefcount(wrong)
    with pytest.raises(ValueError, match="must hold"):
        _engine.coherent_point(*args)
    assert sys.getrefcount(wrong) == before
