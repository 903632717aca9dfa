"""Layer and Stack: designs of materials solved through quilmo_lab.solve."""

import numpy as np
import pytest

import quilmo_lab
from quilmo_lab.materials import Cauchy, Constant, library
from quilmo_lab.stack import Layer, Stack

WL = np.linspace(440.0, 920.0, 25)
FIELDS = ("r_s", "r_p", "t_s", "t_p", "R_s", "R_p", "T_s", "T_p")


def assert_same_bits(got, expected, names, stacks=slice(None)):
    for name in names:
        np.testing.assert_array_equal(getattr(got, name), getattr(expected, name)[stacks], err_msg=name)


def _coating():
    high = Cauchy(2.28, 2.2e4, name="TiO2 film", valid_range=(380.0, 1100.0))
    return Stack([Layer(high, 61.0), Layer("MgF2", 99.6), Layer(library["Ag"], 12.0), Layer(1.46, 85.0)],
                 incident=Constant(1.0, name="air"), exit="N-BK7")


def test_repr_reads_like_a_design():
    stack = Stack([Layer("MgF2", 99.6)], incident=Constant(1.0, name="air"), exit="N-BK7")
    assert repr(stack) == "air | MgF2 99.6 nm | N-BK7"
    assert repr(_coating()) == "air | TiO2 film 61 nm | MgF2 99.6 nm | Ag 12 nm | 1.46 85 nm | N-BK7"


def test_stack_solves_as_solve_does_with_the_materials_arrays():
    stack = _coating()
    angles = np.radians([0.0, 30.0, 65.0])
    indices = np.array([np.ones(WL.size, complex), stack.layers[0].material(WL), library["MgF2"](WL),
                        library["Ag"](WL), np.full(WL.size, 1.46 + 0j), library["N-BK7"](WL)])
    batch = np.array([61.0, 99.6, 12.0, 85.0]) * np.array([[1.0], [0.98], [1.03]])  # thickness variants
    expected = quilmo_lab.solve(indices, batch, WL, angles)
    assert_same_bits(stack.solve(WL, angles), expected, FIELDS, slice(0, 1))
    assert_same_bits(stack.solve(WL, angles, thicknesses=batch), expected, FIELDS)


def test_media_given_as_arrays_over_the_wavelengths():
    film = library["TiO2"](WL)
    by_array = Stack([Layer(film, 70.0)], exit=library["N-BK7"](WL)).solve(WL)
    by_model = Stack([Layer("TiO2", 70.0)], exit="N-BK7").solve(WL)
    np.testing.assert_array_equal(by_array.R_s, by_model.R_s)
    with pytest.raises(ValueError, match=r"must have one index per wavelength \(24\); received 25 indices"):
        Stack([Layer(film, 70.0)]).solve(WL[:-1])


def test_incoherent_layers_reach_solve_as_its_mask():
    stack = Stack([Layer("MgF2", 100.0), Layer("N-BK7", 1e6, coherent=False), Layer("MgF2", 90.0)],
                  exit="water")
    np.testing.assert_array_equal(stack.coherent, [True, False, True])
    direct = quilmo_lab.solve(stack.indices(WL), stack.thicknesses, WL, 0.2, coherent=[True, False, True])
    assert_same_bits(stack.solve(WL, 0.2), direct, FIELDS[4:8])


@pytest.mark.parametrize("build, error, text", [
    (lambda: Layer("MgF2", "100"), TypeError, "thickness must be a real number of nm; received str"),
    (lambda: Layer("MgF2", -5.0), ValueError, "thickness must be finite and non-negative"),
    (lambda: Layer(object(), 10.0), TypeError, "material must be a Material, a library name"),
    (lambda: Stack(Layer("MgF2", 10.0)), TypeError, "layers must be a sequence of Layer"),
    (lambda: Stack([("MgF2", 10.0)]), TypeError, r"layers\[0\] must be a Layer; received tuple"),
    (lambda: Stack([], exit=np.ones((2, 3))), TypeError, "exit as an array must be a 1-D array"),
])
def test_invalid_designs_say_what_was_expected(build, error, text):
    with pytest.raises(error, match=text):
        build()
