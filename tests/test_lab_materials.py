"""Dispersion models: derivatives, Kramers–Kronig consistency, interpolation, ranges and validation."""

import numpy as np
import pytest

from quilmo_lab.materials import (Bruggeman, Cauchy, Constant, Drude, DrudeLorentz, Function, MaxwellGarnett,
                                  RefractiveIndexFormula, Sellmeier, SeparateNK, Tabulated, TaucLorentz,
                                  from_permittivity, library)
from quilmo_lab.materials.base import HC_EV_NM
from quilmo_lab.materials.spliced import Spliced

TABLE_WL = np.array([300.0, 350.0, 420.0, 500.0, 610.0, 700.0, 850.0, 1000.0])
TABLE_N = np.array([2.10, 2.02, 1.97, 1.93, 1.905, 1.89, 1.876, 1.87])
TABLE_K = np.array([0.30, 0.12, 0.05, 0.02, 0.01, 0.006, 0.004, 0.003])

FILM = Cauchy(1.46, 3600.0, 1.0e8, urbach_amplitude=0.002, urbach_exponent=1.5, urbach_edge=350.0)
ABSORBER = TaucLorentz(A=120.0, E0=3.8, C=1.9, Eg=2.4, eps_inf=1.2)
MODELS = {
    "constant": Constant(1.5 + 0.01j),
    "cauchy+urbach": FILM,
    "sellmeier C": library["N-BK7"],
    "sellmeier resonances": library["fused silica"],
    "drude": Drude(8.5, 0.07, eps_inf=3.0),
    "drude-lorentz": library["Ag"],
    "tauc-lorentz": ABSORBER,
    "tabulated linear": Tabulated(TABLE_WL, TABLE_N, TABLE_K),
    "tabulated cubic": Tabulated(TABLE_WL, TABLE_N, TABLE_K, interpolation="cubic"),
    "bruggeman": Bruggeman(library["Au"], FILM, 0.3),
    "maxwell-garnett": MaxwellGarnett(library["Ag"], library["water"], 0.1),
    "separate n and k": SeparateNK(library["N-BK7"], Tabulated(TABLE_WL, np.zeros(8), TABLE_K)),
    "function, vectorised": Function(lambda wl: 1.45 + 3600.0 / wl**2 + 1j * 20.0 / wl),
    "function, one wavelength at a time": Function(lambda wl: 1.45 + 3600.0 / wl**2 + 20j / wl
                                                   if wl == wl else complex("nan")),  # `if`: arrays refused
    "function of the permittivity": from_permittivity(lambda wl: 1.0 - (wl / 140.0) ** 2 + 2.0j * wl / 140.0),
    "spliced table and formula": Spliced(Tabulated(TABLE_WL, TABLE_N, TABLE_K, interpolation="cubic"), FILM, 600.0),
    **{f"formula {number}": RefractiveIndexFormula(number, coefficients, valid_range=(300.0, 1000.0))
       for number, coefficients in [
           (1, [0.1, 0.6961663, 0.0684043, 0.4079426, 0.1162414, 0.8974794, 9.896161]),
           (2, [0.0, 1.03961212, 0.00600069867, 0.231792344, 0.0200179144, 1.01046945, 103.560653]),
           (3, [2.5, 0.02, -2.0, -0.01, 2.0]),
           (4, [2.0, 0.1, 2.0, 0.2, 2.0, 0.01, 1.0, 3.0, 1.0, 0.005, -4.0]),
           (5, [1.45, 0.004, -2.0, 0.0001, -4.0]),
           (6, [0.0, 0.05792105, 238.0185, 0.00167917, 57.362]),
           (7, [1.5, 0.01, 0.001, -0.002, 1e-4, -1e-5]),
           (8, [0.2, 0.1, 0.03, -0.005]),
           (9, [2.0, 0.02, 0.04, 0.01, 0.6, 0.01]),
       ]},
}
# Between the table's nodes, where interpolated slopes are continuous.
PROBE = np.array([320.0, 447.5, 555.5, 633.0, 777.7, 980.0])


@pytest.mark.parametrize("name", MODELS)
def test_derivative_matches_central_differences(name):
    material = MODELS[name]
    step = 1e-3
    numeric = (material(PROBE + step) - material(PROBE - step)) / (2.0 * step)
    analytic = material.derivative(PROBE)
    scale = np.abs(numeric) + 1e-9 * np.abs(material(PROBE))
    assert np.all(np.abs(analytic - numeric) <= 1e-6 * scale + 1e-12), (analytic, numeric)


@pytest.mark.parametrize("name", MODELS)
def test_shape_passive_branch_and_nan(name):
    material = MODELS[name]
    n = material(np.linspace(320.0, 980.0, 12).reshape(3, 4))
    assert n.shape == (3, 4) and n.dtype == np.complex128
    assert np.all(n.imag >= 0.0)
    scalar = material(633.0)
    assert np.ndim(scalar) == 0 and scalar == material(np.array([633.0]))[0]
    with np.errstate(invalid="ignore"):  # NumPy's own warning for arithmetic on NaN
        values, slopes = material(np.array([np.nan, 633.0])), material.derivative(np.array([np.nan, 633.0]))
    assert values[1] == scalar and np.isfinite(slopes[1])


def _kk_real_part(model, energy):
    """ε₁(E) − ε∞ = (2/π) P∫ ξ ε₂(ξ)/(ξ² − E²) dξ (principal value: Cauchy-weight quadrature)."""
    integrate = pytest.importorskip("scipy.integrate")

    def eps2(xi):
        xi = np.atleast_1d(np.asarray(xi, dtype=float))
        return float(model._imaginary_part(xi, xi > model.Eg)[0])

    def numerator(xi):
        return xi * eps2(xi) / (xi + energy)

    split = 40.0 * max(energy, model.E0)
    if energy > model.Eg:
        near = integrate.quad(numerator, model.Eg, split, weight="cauchy", wvar=energy, limit=400)[0]
    else:
        near = integrate.quad(lambda xi: numerator(xi) / (xi - energy), model.Eg, split, limit=400)[0]
    far = integrate.quad(lambda xi: numerator(xi) / (xi - energy), split, np.inf, limit=400)[0]
    return model.eps_inf + 2.0 / np.pi * (near + far)


@pytest.mark.parametrize("parameters", [
    dict(A=120.0, E0=3.8, C=1.9, Eg=2.4, eps_inf=1.2),   # a high-index oxide
    dict(A=180.0, E0=3.6, C=2.4, Eg=1.2, eps_inf=1.0),   # amorphous silicon-like
    dict(A=60.0, E0=8.0, C=1.0, Eg=6.0, eps_inf=1.0),    # a wide-gap dielectric
])
def test_tauc_lorentz_real_part_is_the_kramers_kronig_transform(parameters):
    model = TaucLorentz(**parameters)
    for energy in (0.3, parameters["Eg"], parameters["Eg"] + 0.4, parameters["E0"], 9.5):
        n = model(HC_EV_NM / energy, extrapolate=True)
        assert (n * n).real == pytest.approx(_kk_real_part(model, energy), rel=1e-7, abs=1e-8)
    # transparent below the gap, absorbing above it
    gap = parameters["Eg"]
    below, above = model(HC_EV_NM / np.array([0.5, 0.99 * gap]), extrapolate=True), model(HC_EV_NM / (gap + 0.1))
    assert np.all(below.imag == 0.0) and above.imag > 0.0


def test_cubic_table_is_the_natural_spline_and_both_tables_hit_the_nodes():
    interpolate = pytest.importorskip("scipy.interpolate")
    table = Tabulated(TABLE_WL, TABLE_N, TABLE_K, interpolation="cubic")
    spline = interpolate.CubicSpline(TABLE_WL, TABLE_N + 1j * TABLE_K, bc_type="natural")
    wl = np.linspace(300.0, 1000.0, 141)
    np.testing.assert_allclose(table(wl), spline(wl), rtol=1e-12)
    np.testing.assert_allclose(table.derivative(wl), spline(wl, 1), rtol=1e-9, atol=1e-15)
    for interpolated in (table, MODELS["tabulated linear"]):
        np.testing.assert_array_equal(interpolated(TABLE_WL), TABLE_N + 1j * TABLE_K)


def test_effective_media_reach_their_components_and_bruggeman_its_equation():
    wl = np.array([400.0, 650.0, 900.0])
    gold, film = library["Au"], FILM
    for mixture in (Bruggeman, MaxwellGarnett):
        np.testing.assert_allclose(mixture(gold, film, 0.0)(wl), film(wl), rtol=1e-13)
        np.testing.assert_allclose(mixture(gold, film, 1.0)(wl), gold(wl), rtol=1e-13)
    # Bruggeman treats both phases alike; Maxwell Garnett does not.
    np.testing.assert_allclose(Bruggeman(gold, film, 0.3)(wl), Bruggeman(film, gold, 0.7)(wl), rtol=1e-13)
    # and Bruggeman's defining equation holds
    a, b, f = library["Ag"](wl) ** 2, FILM(wl) ** 2, 0.4
    eps = Bruggeman(library["Ag"], FILM, f)(wl) ** 2
    residual = f * (a - eps) / (a + 2 * eps) + (1 - f) * (b - eps) / (b + 2 * eps)
    assert np.all(np.abs(residual) < 1e-12)


def test_out_of_range_wavelengths_are_refused_unless_extrapolating():
    glass = library["N-BK7"]
    with pytest.raises(ValueError, match=r"N-BK7 is valid from 300 to 2500 nm.*extrapolate=True.*received 1 wavelength.*250 nm"):
        glass([250.0, 500.0])
    assert glass(250.0, extrapolate=True).real > glass(300.0).real
    lenient = Sellmeier(glass.B, glass.C, valid_range=glass.valid_range, extrapolate=True)
    assert lenient(250.0) == glass(250.0, extrapolate=True)
    with pytest.raises(ValueError, match="valid from 300 to 1000 nm"):
        Tabulated(TABLE_WL, TABLE_N)(1000.5)
    with pytest.raises(ValueError, match="positive"):
        Constant(1.5)(np.array([0.0, 500.0]))
    with pytest.raises(ValueError, match="must be valid at some wavelengths in common"):
        Bruggeman(library["Ge"], library["water"], 0.5)
    # an extrapolated linear table continues its end segments
    assert Tabulated([400.0, 500.0], [1.5, 1.4], extrapolate=True)([300.0, 600.0]) == pytest.approx([1.6, 1.3])


@pytest.mark.parametrize("wavelengths, text", [
    ([100.0, np.nan], "received 1 wavelength.*100 nm"),
    ([np.nan, 3000.0], "received 1 wavelength.*3000 nm"),
    ([-500.0, np.nan], "positive.*received -500"),
])
def test_nan_does_not_hide_the_other_wavelengths_from_the_checks(wavelengths, text):
    with pytest.raises(ValueError, match=text):
        library["N-BK7"](wavelengths)
    assert np.isnan(library["N-BK7"]([np.nan, 500.0])[0]) and np.isnan(library["N-BK7"]([np.nan, np.nan])).all()


@pytest.mark.parametrize("build, error, text", [
    (lambda: Cauchy("1.5"), TypeError, "A must be a real number; received str"),
    (lambda: Sellmeier([1.0]), TypeError, "exactly one of C"),
    (lambda: DrudeLorentz(9.0, [(1.0, 0.0)]), ValueError, r"shape \(M, 3\); received shape \(1, 2\)"),
    (lambda: TaucLorentz(A=50.0, E0=2.0, C=4.5, Eg=1.0), ValueError, "C must be less than 2·E0"),
    (lambda: Tabulated([500.0, 400.0], [1.5, 1.6]), ValueError, "strictly increasing"),
    (lambda: MaxwellGarnett(1.5, FILM, 0.2), TypeError, "inclusion must be a Material; received float"),
    (lambda: Bruggeman(FILM, FILM, 1.2), ValueError, "fraction must be between 0 and 1"),
    (lambda: Constant(1.5, valid_range=(500.0, 400.0)), ValueError, "low < high"),
])
def test_invalid_parameters_name_what_was_expected(build, error, text):
    with pytest.raises(error, match=text):
        build()
