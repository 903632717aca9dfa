"""Callables as materials, permittivities in and out, and the guidance for ε passed as n."""

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab.materials import Function, from_permittivity

WL = np.array([420.0, 515.5, 633.0, 780.0])


def drude_eps(wl):
    return 1.0 - (wl / 140.0) ** 2 / (1.0 + 0.02j * wl / 140.0)


@pytest.mark.parametrize("callable_n", [
    lambda wl: 1.45 + 3600.0 / wl**2,                                     # vectorised
    lambda wl: 1.45 + 3600.0 / wl**2 if wl > 0 else 0.0,                  # an `if`: one float at a time
    lambda wl: float(1.45 + 3600.0 / wl**2),                              # float() of an array fails
    lambda wl: [1.45 + 3600.0 / x**2 for x in wl],                        # a list, one value per wavelength
    lambda wl: 1.45 + 3600.0 / np.max(wl) ** 2,                           # reduces an array: asked per float
], ids=["vectorised", "if on the wavelength", "float of the argument", "list", "reduction"])
# NumPy 1.25-1.26 only warn where float() takes a one-element array (2.x refuses it, and we ask per float)
@pytest.mark.filterwarnings("ignore:Conversion of an array with ndim > 0 to a scalar:DeprecationWarning")
def test_a_callable_is_evaluated_vectorised_or_per_wavelength_alike(callable_n):
    expected = 1.45 + 3600.0 / WL**2
    film = Function(callable_n)
    np.testing.assert_allclose(film(WL), expected, rtol=1e-15)
    assert film(WL).dtype == np.complex128 and np.ndim(film(633.0)) == 0
    grid = np.stack([WL, WL])
    np.testing.assert_array_equal(film(grid), np.stack([film(WL), film(WL)]))


def test_a_layer_takes_any_callable_and_solves_as_the_same_array():
    interpolate = pytest.importorskip("scipy.interpolate")
    table_wl, table_n = [400.0, 600.0, 800.0], [2.1 + 0.02j, 2.05 + 0.01j, 2.0 + 0.0j]
    measured = interpolate.interp1d(table_wl, table_n)
    layer = ql.Layer(measured, 120.0)
    assert isinstance(layer.material, Function) and layer.material.valid_range == (400.0, 800.0)
    as_callable = ql.Stack([layer], exit=lambda wl: 1.52 + 0 * wl).solve(WL, 0.3)
    ones = np.ones(WL.size)
    as_arrays = ql.solve([ones, np.interp(WL, table_wl, table_n), 1.52 * ones], [120.0], WL, 0.3)
    np.testing.assert_array_equal(as_callable.r_p, as_arrays.r_p)
    # the table's own end is ours: a clear refusal instead of SciPy's, and a one-sided slope there
    with pytest.raises(ValueError, match="where interp1d is valid from 400 to 800 nm"):
        layer.material(850.0)
    np.testing.assert_allclose(layer.material.derivative([400.0, 800.0]), [-2.5e-4 - 5e-5j, -2.5e-4 - 5e-5j],
                               rtol=1e-9)


@pytest.mark.parametrize("build, error, text", [
    (lambda: Function(3.0), TypeError, "function must be a callable of the wavelength that returns indices; "
                                       "received float"),
    (lambda: ql.Layer(ql.Cauchy, 10.0), TypeError, "received the class Cauchy"),
    (lambda: Function(lambda wl: "glass")(500.0), TypeError, "function must return numbers"),
    (lambda: Function(lambda wl: np.ones(3))([500.0, 600.0]), ValueError,
     "function must return one number per wavelength; received 3 numbers for one wavelength"),
    (lambda: from_permittivity(lambda wl: None)(500.0), TypeError, "eps must return numbers; received NoneType"),
    (lambda: ql.Layer(2.25, 10.0, eps=2.25), TypeError, "Layer takes refractive indices n \\+ ik, not "
                                                        "permittivities; received the keyword 'eps'.*from_permittivity"),
    (lambda: ql.Constant(1.5, permittivity=2.25), TypeError, "Constant takes refractive indices.*'permittivity'"),
    (lambda: Function(np.sqrt, epsilon=drude_eps), TypeError, "Function takes refractive indices.*'epsilon'"),
    (lambda: ql.Layer(1.5, 10.0, thikness=3.0), TypeError, "Layer takes no keyword 'thikness'; received "
                                                           "thikness=3.0"),
    (lambda: from_permittivity("2.25"), TypeError, "eps must be a number, a 1-D array over the wavelengths or a "
                                                   "callable"),
    (lambda: from_permittivity([[2.25]]), ValueError, "eps as an array must be one-dimensional"),
    (lambda: from_permittivity(np.inf), ValueError, "eps must be finite"),
])
def test_mistakes_are_named(build, error, text):
    with pytest.raises(error, match=text):
        build()


def test_a_failure_inside_the_callable_propagates_unchanged():
    def broken(wl):
        raise ZeroDivisionError("inside the user's function")

    with pytest.raises(ZeroDivisionError, match="inside the user's function"):
        Function(broken)(500.0)


@pytest.mark.parametrize("eps, expected", [
    (2.25, np.full(WL.size, 2.25)),
    (-4.0 + 0.5j, np.full(WL.size, -4.0 + 0.5j)),  # a metal: the root with k > 0
    (np.array([2.25, -1.0, 4.0 + 1.0j, -9.0 - 0.0j]), np.array([2.25, -1.0, 4.0 + 1.0j, -9.0])),
    (drude_eps, drude_eps(WL)),
    (lambda wl: drude_eps(wl) if np.ndim(wl) == 0 else None, drude_eps(WL)),  # None for arrays: per wavelength
], ids=["dielectric", "metal", "array", "function", "function of one float"])
def test_from_permittivity_is_undone_by_permittivity(eps, expected):
    medium = from_permittivity(eps)
    n = medium(WL)
    assert np.all(n.imag >= 0.0) and np.all(n.real >= 0.0)
    np.testing.assert_allclose(medium.permittivity(WL), expected, rtol=1e-14, atol=1e-14)


def test_every_material_gives_its_permittivity_as_the_square_of_its_index():
    for material in (ql.library["gold"], ql.Cauchy(1.45, 3600.0), ql.library["a-Si"]):
        n = material(WL)
        np.testing.assert_array_equal(material.permittivity(WL), n * n)
        assert material.permittivity(633.0) == material(633.0) ** 2
    with pytest.raises(ValueError, match="valid from"):
        ql.library["GaAs"].permittivity(900.0)


@pytest.mark.parametrize("incident, exit, angle", [(1.0, 1.5, 0.0), (1.5, 2.0 + 0.3j, 0.7), (1.33, 1.0, 1.2)])
def test_magnetic_and_electric_t_p_are_inverse_and_scale_by_the_indices(incident, exit, angle):
    result = ql.solve([incident, 1.9 + 0.05j, exit], [140.0], WL, angle)
    magnetic = ql.magnetic_t_p(result.t_p, incident, exit)
    assert magnetic.shape == result.t_p.shape
    np.testing.assert_allclose(ql.electric_t_p(magnetic, incident, exit), result.t_p, rtol=1e-15)
    np.testing.assert_allclose(magnetic, result.t_p * exit / incident, rtol=1e-15)
    per_wavelength = ql.magnetic_t_p(result.t_p, np.full(WL.size, incident), np.full(WL.size, exit))
    np.testing.assert_array_equal(per_wavelength, magnetic)
    with pytest.raises(ValueError, match="exit must be a number or one index per wavelength.*received shape \\(3,\\)"):
        ql.magnetic_t_p(result.t_p, incident, [1.0, 1.5, 2.0])


def test_dispersion_through_a_callable_is_that_of_the_same_formula():
    # the callable's slope comes from central differences, the Cauchy model's in closed form
    wl = np.linspace(700.0, 900.0, 21)
    closed_form = ql.Cauchy(1.45, 3600.0, 1e8)
    callable_n = Function(lambda w: 1.45 + 3600.0 / w**2 + 1e8 / w**4)
    expected, ours = (ql.dispersion(ql.Stack([ql.Layer(2.3, 80.0), ql.Layer(m, 130.0)] * 4, exit="N-BK7"), wl)
                      for m in (closed_form, callable_n))
    for quantity, tolerance in (("phase", 0.0), ("gd", 1e-10), ("gdd", 1e-8), ("tod", 1e-6)):
        scale = np.max(np.abs(getattr(expected, quantity)))
        assert np.max(np.abs(getattr(ours, quantity) - getattr(expected, quantity))) <= tolerance * scale, quantity
