"""The built-in library against published values."""

import re

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab.materials import RefractiveIndexFormula, library
from quilmo_lab.materials.base import HC_EV_NM


# Glasses at catalogue values; films at rows of the authors' tables (within their printed precision)
# and at rows in between the ones the library keeps (within the accuracy its docstring states).
@pytest.mark.parametrize("name, wavelength, n, k, precision", [
    ("N-BK7", 587.56, 1.5168, 0.0, 5e-5),                # SCHOTT catalogue nd
    ("N-SF11", 587.56, 1.78472, 0.0, 2e-5),              # SCHOTT catalogue nd
    ("N-F2", 587.56, 1.62004, 0.0, 2e-5),                # SCHOTT catalogue nd
    ("fused silica", 587.6, 1.4585, 0.0, 5e-5),          # Malitson 1965
    ("fused silica", 852.1, 1.4525, 0.0, 5e-5),          # Malitson 1965
    ("SiO2 film", 550.0, 1.479093, 0.0, 1e-6),           # Gao, Lemarchand & Lequime 2013
    ("SiO2 film", 300.0, 1.507046, 0.000483, 1e-6),
    ("SiO2 film", 476.0, 1.483111, 0.0, 1e-5),
    ("TiO2 film", 550.0, 2.164358, 0.0, 1e-6),           # Sarkar et al. 2019
    ("TiO2 film", 355.0, 2.543123, 0.011855, 1e-6),
    ("TiO2 film", 475.0, 2.219342, 0.0, 1e-4),
    ("Ta2O5 film", 550.0, 2.157262, 0.000021, 1e-6),     # Gao, Lemarchand & Lequime 2012
    ("Ta2O5 film", 520.0, 2.168138, 0.000044, 5e-5),
    ("Nb2O5 film", 550.005, 2.362928, 1.05e-6, 1e-6),    # Franta et al. 2024
    ("Nb2O5 film", 525.25, 2.378589, 9.08e-7, 2e-4),
    ("Al2O3 film", 600.0, 1.67906, 0.0, 1e-5),           # Boidin et al. 2016
    ("Al2O3 film", 440.0, 1.69454, 0.0, 1e-4),
    ("ITO", 550.343384, 1.924885, 0.002168, 1e-6),       # Moerland & Hoogenboom 2016
    ("ITO", 624.843689, 1.879273, 0.002486, 2e-4),
])
def test_published_indices(name, wavelength, n, k, precision):
    index = library[name](wavelength)
    assert abs(index.real - n) <= precision
    assert abs(index.imag - k) <= precision and (k > 0.0 or index.imag == 0.0)


def _rakic_permittivity(energy, plasma, f0, gamma0, oscillators):
    """Rakić et al. 1998, eq. (3), in the paper's own sign convention (Im ε < 0 for loss)."""
    drude = 1.0 - f0 * plasma**2 / (energy * (energy - 1j * gamma0))
    bound = sum(f * plasma**2 / ((w**2 - energy**2) + 1j * energy * g) for f, w, g in oscillators)
    return drude + bound


@pytest.mark.parametrize("name, plasma, f0, gamma0, oscillators", [
    ("Ag", 9.01, 0.845, 0.048, [(0.065, 0.816, 3.886), (0.124, 4.481, 0.452), (0.011, 8.185, 0.065),
                                (0.840, 9.083, 0.916), (5.646, 20.29, 2.419)]),
    ("Au", 9.03, 0.760, 0.053, [(0.024, 0.415, 0.241), (0.010, 0.830, 0.345), (0.071, 2.969, 0.870),
                                (0.601, 4.304, 2.494), (4.384, 13.32, 2.214)]),
    ("Cu", 10.83, 0.575, 0.030, [(0.061, 0.291, 0.378), (0.104, 2.957, 1.056), (0.723, 5.300, 3.213),
                                 (0.638, 11.18, 4.305)]),
    ("Al", 14.98, 0.523, 0.047, [(0.227, 0.162, 0.333), (0.050, 1.544, 0.312), (0.166, 1.808, 1.351),
                                 (0.030, 3.473, 3.382)]),
])
def test_rakic_metals_follow_the_papers_model_and_parameters(name, plasma, f0, gamma0, oscillators):
    energies = np.array([0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0])
    eps = _rakic_permittivity(energies, plasma, f0, gamma0, oscillators)
    n = library[name](HC_EV_NM / energies)
    np.testing.assert_allclose(n * n, np.conj(eps), rtol=1e-12)


@pytest.mark.parametrize("name, wavelength, low, high", [
    ("Ag", 700.0, 0.95, 1.0),   # silver: the best visible mirror
    ("Al", 550.0, 0.88, 0.94),  # aluminium: ~0.91 in the green
    ("Al", 820.0, 0.80, 0.90),  # ... with its interband dip near 1.5 eV
    ("Au", 450.0, 0.25, 0.50),  # gold absorbs blue, hence its colour
    ("Au", 800.0, 0.93, 1.0),
])
def test_metal_mirrors_reflect_as_measured(name, wavelength, low, high):
    n = library[name](wavelength)
    reflectance = abs((1.0 - n) / (1.0 + n)) ** 2
    assert low < reflectance < high


def test_library_is_a_read_only_mapping_of_documented_materials():
    names = list(library)
    assert len(names) == len(set(names)) >= 19
    for required in ("fused silica", "N-BK7", "CaF2", "MgF2", "sapphire", "ZnS", "Si", "Ge", "water",
                     "TiO2", "Ag", "Au", "Al", "Cu", "SiO2 film", "TiO2 film", "Ta2O5 film", "Nb2O5 film",
                     "Al2O3 film", "ITO"):
        assert required in library
    assert library["n-bk7"] is library["N-BK7"]
    # An alias is found (in any capitalisation) but not listed, so names stay unique.
    assert library["SiO2"] is library["sio2"] is library["fused silica"]
    assert "SiO2" not in names and library["SiO2 film"] is not library["SiO2"]
    for name in names:
        material = library[name]
        assert material.name == name
        assert re.search(r"\(\d{4}\)|catalogue", material.__doc__), name  # a dated citation
        low, high = material.valid_range
        assert 0.0 < low < high < np.inf
        values = material(np.linspace(low, high, 2001))
        assert np.all(np.isfinite(values))
        assert np.all(values.imag >= 0.0), name  # no gain anywhere, tabulated edges included
    with pytest.raises(KeyError, match="no material 'unobtainium' in the library; it has: fused silica"):
        library["unobtainium"]
    with pytest.raises(TypeError):
        library["Ag"] = library["Au"]


def test_silicon_keeps_its_infrared_formula_bit_for_bit_and_adds_green_s_table():
    infrared = RefractiveIndexFormula(4, [11.67316, 1.0, 0.0, 0.0, 1.0, 0.004482633, 0.0, 1.108205, 2.0],
                                      valid_range=(2500.0, 22222.0))
    silicon = library["Si"]
    wl = np.random.default_rng(7).uniform(2500.0, 22222.0, 37)
    mixed = np.concatenate([wl, [550.0, 1000.0, 1450.0]])
    for evaluate in ("__call__", "derivative"):
        ours = getattr(silicon, evaluate)(mixed)[:wl.size]
        np.testing.assert_array_equal(ours.view(np.uint64), getattr(infrared, evaluate)(wl).view(np.uint64))
    # Green (2008) at the table's rows, and the two parts meeting at 1450 nm within the stated 1.3e-3
    np.testing.assert_array_equal(silicon([550.0, 1000.0, 1450.0]), [4.077 + 0.027968j, 3.572 + 5.093e-4j,
                                                                      3.485 + 1.3846e-13j])
    assert abs(silicon(1450.0 + 1e-9) - silicon(1450.0)) < 1.3e-3
    assert silicon.valid_range == (250.0, 22222.0)


@pytest.mark.parametrize("name, wavelength, index", [
    ("a-Si", 619.9, 4.23 + 0.461j),      # Pierce and Spicer (1972)
    ("GaAs", 516.6, 4.205 + 0.371j),     # Aspnes et al. (1986)
    ("GaAs", 826.6, 3.666 + 0.080j),
])
def test_semiconductor_tables_pass_through_their_published_rows(name, wavelength, index):
    assert library[name](wavelength) == pytest.approx(index, abs=1e-12)


@pytest.mark.parametrize("alias, name", [
    ("gold", "Au"), ("Silver", "Ag"), ("aluminium", "Al"), ("aluminum", "Al"), ("copper", "Cu"),
    ("c-Si", "Si"), ("silicon", "Si"), ("amorphous silicon", "a-Si"), ("gallium arsenide", "GaAs"),
])
def test_the_names_users_type_find_the_entries(alias, name):
    assert library[alias] is library[name] and alias not in list(library)
    assert ql.Layer(alias, 10.0).material is library[name]
