"""The built-in library: common coating, optics and photovoltaics materials from published data.

Every entry reproduces a published dispersion formula with its authors' coefficients; its
docstring gives the source, the wavelengths it covers and what the published precision is.
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping, Sequence

import numpy as np

from quilmo_lab._checks import type_name
from quilmo_lab.materials.base import Material
from quilmo_lab.materials.cauchy import Cauchy
from quilmo_lab.materials.oscillators import DrudeLorentz
from quilmo_lab.materials.refractiveindex_formulas import RefractiveIndexFormula
from quilmo_lab.materials.sellmeier import Sellmeier
from quilmo_lab.materials.separate_nk import SeparateNK
from quilmo_lab.materials.tabulated import Tabulated

_UM2 = 1e6  # µm² in nm²


def _sellmeier_um(name: str, B: Sequence[float], C_um2: Sequence[float], low_nm: float, high_nm: float, doc: str,
                  A: float = 1.0) -> Material:
    material = Sellmeier(B, [c * _UM2 for c in C_um2], A=A, name=name, valid_range=(low_nm, high_nm))
    material.__doc__ = doc
    return material


def _resonances_um(name: str, B: Sequence[float], resonances_um: Sequence[float], low_nm: float, high_nm: float,
                   doc: str) -> Material:
    material = Sellmeier(B, resonances=[r * 1e3 for r in resonances_um], name=name, valid_range=(low_nm, high_nm))
    material.__doc__ = doc
    return material


def _cauchy_film(name: str, A: float, B_um2: float, C_um4: float, low_nm: float, high_nm: float,
                 doc: str) -> Material:
    material = Cauchy(A, B_um2 * 1e6, C_um4 * 1e12, name=name, valid_range=(low_nm, high_nm))
    material.__doc__ = doc
    return material


def _formula(name: str, number: int, coefficients: Sequence[float], low_nm: float, high_nm: float,
             doc: str) -> Material:
    material = RefractiveIndexFormula(number, coefficients, name=name, valid_range=(low_nm, high_nm))
    material.__doc__ = doc
    return material


def _film_table(name: str, rows: Sequence[Sequence[float]], doc: str) -> Material:
    """A measured film from rows of (λ µm, n) or (λ µm, n, k): n by cubic spline, k linearly.

    k goes linearly because a spline through an absorption edge rings below zero past it.
    """
    table = np.asarray(rows, dtype=np.float64)
    wavelengths = table[:, 0] * 1e3
    material: Material = Tabulated(wavelengths, table[:, 1], interpolation="cubic", name=name)
    if table.shape[1] == 3:
        extinction = Tabulated(wavelengths, np.zeros(len(table)), table[:, 2], name=name)
        material = SeparateNK(material, extinction, name=name)
    material.__doc__ = doc
    return material


def _rakic(name: str, plasma: float, drude: tuple[float, float], lorentz: Sequence[tuple[float, float, float]],
           low_nm: float, high_nm: float, doc: str) -> Material:
    material = DrudeLorentz(plasma, [(drude[0], 0.0, drude[1])] + [tuple(row) for row in lorentz],
                            name=name, valid_range=(low_nm, high_nm))
    material.__doc__ = doc
    return material


_RAKIC = ("Lorentz–Drude model of A. D. Rakić, A. B. Djurišić, J. M. Elazar and M. L. Majewski, "
          "Appl. Opt. 37, 5271 (1998), eq. (3) and Table 1 (parameters given to 3–4 significant figures; "
          "the fit describes measured data to a few per cent in ε).")


def _build() -> dict[str, Material]:
    entries = [
        _resonances_um("fused silica", [0.6961663, 0.4079426, 0.8974794], [0.0684043, 0.1162414, 9.896161],
                       210.0, 3710.0,
                       "Fused silica at 20 °C: I. H. Malitson, J. Opt. Soc. Am. 55, 1205 (1965), Sellmeier with "
                       "resonance wavelengths; 0.21–3.71 µm; the fit reproduces the measured indices to about "
                       "1e-5. Also found as \"SiO2\"; thin films are \"SiO2 film\"."),
        _sellmeier_um("N-BK7", [1.03961212, 0.231792344, 1.01046945], [0.00600069867, 0.0200179144, 103.560653],
                      300.0, 2500.0,
                      "SCHOTT N-BK7 borosilicate crown, catalogue Sellmeier (SCHOTT optical glass data sheet); "
                      "0.3–2.5 µm; catalogue precision ±2e-5 in n (nd = 1.51680)."),
        _sellmeier_um("N-SF11", [1.73759695, 0.313747346, 1.89878101], [0.013188707, 0.0623068142, 155.23629],
                      370.0, 2500.0,
                      "SCHOTT N-SF11 dense flint, catalogue Sellmeier (SCHOTT optical glass data sheet); "
                      "0.37–2.5 µm; catalogue precision ±2e-5 in n (nd = 1.78472)."),
        _sellmeier_um("N-F2", [1.39757037, 0.159201403, 1.26865430], [0.00995906143, 0.0546931752, 119.248346],
                      320.0, 2500.0,
                      "SCHOTT N-F2 flint, catalogue Sellmeier (SCHOTT optical glass data sheet); 0.32–2.5 µm; "
                      "catalogue precision ±2e-5 in n (nd = 1.62004)."),
        _resonances_um("CaF2", [0.5675888, 0.4710914, 3.8484723], [0.050263605, 0.1003909, 34.649040],
                       230.0, 9700.0,
                       "Calcium fluoride at 24 °C: I. H. Malitson, Appl. Opt. 2, 1103 (1963); 0.23–9.7 µm; "
                       "about 1e-5 in n."),
        _resonances_um("MgF2", [0.48755108, 0.39875031, 2.3120353], [0.04338408, 0.09461442, 23.793604],
                       200.0, 7000.0,
                       "Magnesium fluoride, ordinary ray: M. J. Dodge, Appl. Opt. 23, 1980 (1984); 0.2–7.0 µm; "
                       "about 1e-5 in n (films are usually a little lower: n ≈ 1.38 at 550 nm)."),
        _resonances_um("sapphire", [1.4313493, 0.65054713, 5.3414021], [0.0726631, 0.1193242, 18.028251],
                       200.0, 5000.0,
                       "Sapphire (crystalline Al2O3), ordinary ray at 20 °C: I. H. Malitson and M. J. Dodge, "
                       "J. Opt. Soc. Am. 62, 1405 (1972); 0.2–5.0 µm; about 1e-5 in n."),
        _sellmeier_um("quartz", [1.07044083, 1.10202242], [0.0100585997, 100.0], 198.0, 2050.0,
                      "Crystalline quartz (α-SiO2), ordinary ray: G. Ghosh, Opt. Commun. 163, 95 (1999); "
                      "0.198–2.05 µm; about 1e-5 in n.", A=1.28604141),
        _sellmeier_um("PMMA", [1.1819], [0.011313], 437.0, 1052.0,
                      "Poly(methyl methacrylate): N. Sultanova, S. Kasarova and I. Nikolov, Acta Phys. Pol. A "
                      "116, 585 (2009); 0.437–1.052 µm; about 1e-3 in n (sample-dependent)."),
        _formula("ZnS", 4, [8.393, 0.14383, 0.0, 0.2421, 2.0, 4430.99, 0.0, 36.71, 2.0], 405.0, 13000.0,
                 "Zinc sulfide (cubic, CVD): M. Debenham, Appl. Opt. 23, 2238 (1984), n² = 8.393 + "
                 "0.14383/(λ² − 0.2421²) + 4430.99/(λ² − 36.71²) with λ in µm; 0.405–13 µm; "
                 "about 1e-3 in n."),
        _formula("TiO2", 4, [5.913, 0.2441, 0.0, 0.0803, 1.0], 430.0, 1530.0,
                 "Titanium dioxide, rutile crystal, ordinary ray: J. R. DeVore, J. Opt. Soc. Am. 41, 416 "
                 "(1951), n² = 5.913 + 0.2441/(λ² − 0.0803) with λ in µm; 0.43–1.53 µm; about 1e-3 in n. "
                 "Evaporated or sputtered TiO2 films are less dense (typically n ≈ 2.2–2.45 at 550 nm): "
                 "for coatings, \"TiO2 film\" is usually the better choice."),
        _film_table("TiO2 film", [
            (0.350, 2.585271, 0.029085), (0.352, 2.568217, 0.021243), (0.355, 2.543123, 0.011855),
            (0.358, 2.518941, 0.005249), (0.360, 2.503537, 0.002345), (0.362, 2.488899, 0.000607),
            (0.363, 2.481942, 0.000165), (0.364, 2.475302, 0.000001), (0.365, 2.469105, 0.0), (0.370, 2.442075, 0.0),
            (0.380, 2.399300, 0.0), (0.390, 2.365628, 0.0), (0.400, 2.337928, 0.0), (0.425, 2.285390, 0.0),
            (0.450, 2.247783, 0.0), (0.500, 2.197043, 0.0), (0.550, 2.164358, 0.0), (0.600, 2.141661, 0.0),
            (0.650, 2.125097, 0.0), (0.700, 2.112561, 0.0), (0.750, 2.102809, 0.0), (0.800, 2.095051, 0.0),
            (0.820, 2.092383, 0.0)],
            "Titanium dioxide film, 200 nm on glass: S. Sarkar, V. Gupta, M. Kumar, J. Schubert, P. T. Probst, "
            "J. Joseph and T. A. F. König, ACS Appl. Mater. Interfaces 11, 13752 (2019), the authors' n, k "
            "table (as distributed by refractiveindex.info) at the rows listed, n by cubic spline and k "
            "linearly between; 0.35–0.82 µm, absorption edge included; the rows are given to 1e-6, and "
            "between them this follows the full table to 1e-4 in n and 4e-4 in k. Film indices depend on "
            "the deposition: this is a dense film (n = 2.164 at 550 nm)."),
        _cauchy_film("HfO2", 1.875, 6.28e-3, 5.80e-4, 250.0, 2000.0,
                     "Hafnium oxide film (electron-beam evaporated): M. F. Al-Kuhaili, Opt. Mater. 27, 383 (2004), "
                     "n = 1.875 + 6.28e-3/λ² + 5.80e-4/λ⁴ with λ in µm; 0.25–2.0 µm as the fit is usually "
                     "quoted; "
                     "about 1e-3 in n for films like the paper's (film indices vary with the deposition)."),
        _film_table("SiO2 film", [
            (0.260, 1.520370, 0.001055), (0.270, 1.516463, 0.000882), (0.280, 1.512977, 0.000730),
            (0.300, 1.507046, 0.000483), (0.324, 1.501361, 0.000268), (0.350, 1.496504, 0.000116),
            (0.374, 1.492904, 0.000036), (0.400, 1.489714, 0.000001), (0.450, 1.485008, 0.0), (0.500, 1.481613, 0.0),
            (0.550, 1.479093, 0.0), (0.600, 1.477171, 0.0), (0.650, 1.475674, 0.0), (0.700, 1.474484, 0.0),
            (0.800, 1.472737, 0.0), (0.900, 1.471538, 0.0), (1.000, 1.470680, 0.0), (1.100, 1.470045, 0.0),
            (1.200, 1.469561, 0.0)],
            "Silicon dioxide film, ion-assisted electron-beam deposition, 300 nm on fused silica: L. Gao, "
            "F. Lemarchand and M. Lequime, J. Europ. Opt. Soc. Rap. Public. 8, 13010 (2013), the authors' "
            "n, k table (as distributed by refractiveindex.info) at the rows listed, n by cubic spline and k "
            "linearly between; 0.26–1.2 µm; the rows are given to 1e-6, and between them this follows the "
            "full table to 1e-5 in n and 2e-5 in k. "
            "\"SiO2\" names the bulk glass (fused silica) instead."),
        _film_table("Ta2O5 film", [
            (0.350, 2.317048, 0.000655), (0.356, 2.306355, 0.000602), (0.362, 2.296414, 0.000553),
            (0.376, 2.275751, 0.000456), (0.388, 2.260419, 0.000386), (0.400, 2.246896, 0.000327),
            (0.420, 2.227622, 0.000247), (0.450, 2.204562, 0.000158), (0.500, 2.176708, 0.000067),
            (0.550, 2.157262, 0.000021), (0.600, 2.143086, 0.000002), (0.650, 2.132408, 0.0), (0.700, 2.124149, 0.0),
            (0.800, 2.112356, 0.0), (0.900, 2.104484, 0.0), (1.000, 2.098955, 0.0), (1.100, 2.094918, 0.0),
            (1.200, 2.091878, 0.0), (1.300, 2.089529, 0.0), (1.400, 2.087676, 0.0), (1.500, 2.086189, 0.0)],
            "Tantalum pentoxide film, ion-assisted electron-beam deposition, 400 nm on BK7: L. Gao, "
            "F. Lemarchand and M. Lequime, Opt. Express 20, 15734 (2012), the authors' n, k table (as "
            "distributed by refractiveindex.info) at the rows listed, n by cubic spline and k linearly "
            "between; 0.35–1.5 µm; the rows are given to 1e-6, and between them this follows the full "
            "table to 5e-5 in n and 1e-5 in k."),
        _film_table("Nb2O5 film", [
            (0.320897, 3.015082, 0.182), (0.326112, 2.969054, 0.134), (0.330648, 2.927563, 0.0988),
            (0.335248, 2.885020, 0.0702), (0.340695, 2.835818, 0.0454), (0.345435, 2.796110, 0.0310),
            (0.35024, 2.760074, 0.0212), (0.355113, 2.727608, 0.0143), (0.360053, 2.698595, 0.00950),
            (0.365062, 2.672167, 0.00546), (0.37014, 2.647506, 0.00257), (0.375289, 2.624815, 0.000984),
            (0.38051, 2.604270, 0.000308), (0.385804, 2.585717, 8.11e-5), (0.390271, 2.571554, 2.43e-5),
            (0.400282, 2.543701, 2.01e-6), (0.41055, 2.519415, 6.13e-7), (0.424, 2.492484, 4.80e-7),
            (0.450159, 2.451319, 5.55e-7), (0.475736, 2.420825, 6.62e-7), (0.500456, 2.397549, 7.79e-7),
            (0.550005, 2.362928, 1.05e-6), (0.600297, 2.338250, 1.38e-6), (0.650678, 2.320068, 1.77e-6),
            (0.700433, 2.306343, 2.23e-6), (0.800509, 2.286701, 3.36e-6), (0.900257, 2.273471, 4.82e-6),
            (1.00084, 2.263815, 6.67e-6), (1.20051, 2.250575, 1.17e-5), (1.40077, 2.241302, 1.87e-5)],
            "Niobium pentoxide film, magnetron sputtered on silicon: D. Franta, B. Hroncová, J. Dvořák, "
            "J. Vohánka, P. Franta, I. Ohlídal, V. Pekař and D. Škoda, Opt. Mater. 157, 116133 (2024), the "
            "authors' n, k table from their universal dispersion model fit (as distributed by "
            "refractiveindex.info) at the rows listed, n rounded to 1e-6 and k to 3 significant figures, "
            "n by cubic spline and k linearly between; 0.32–1.4 µm, absorption edge included; between "
            "the rows this follows the full table to 2e-4 in n and 2e-3 in k (in the edge)."),
        _film_table("Al2O3 film", [
            (0.30, 1.73756), (0.32, 1.72717), (0.34, 1.71886), (0.36, 1.71210), (0.40, 1.70185), (0.50, 1.68691),
            (0.60, 1.67906), (0.70, 1.67427), (0.80, 1.67101), (1.00, 1.66663), (1.20, 1.66347), (1.40, 1.66072),
            (1.60, 1.65805), (1.80, 1.65531), (2.00, 1.65241)],
            "Amorphous aluminium oxide film, pulsed-laser deposited: R. Boidin, T. Halenkovič, V. Nazabal, "
            "L. Beneš and P. Němec, Ceram. Int. 42, 1177 (2016), the authors' n table (as distributed by "
            "refractiveindex.info) at the rows listed, cubic spline between; 0.3–2.0 µm, no absorption; "
            "the rows are given to 1e-5, and between them this follows the full table to 1e-4. Evaporated and "
            "sputtered alumina is often a little lower (n ≈ 1.60–1.65 at 550 nm)."),
        _film_table("ITO", [
            (0.401047791, 2.063480, 0.012450), (0.412172180, 2.047016, 0.009547), (0.424885254, 2.030478, 0.007239),
            (0.450308777, 2.002544, 0.004543), (0.474138672, 1.980620, 0.003272), (0.499550201, 1.960207, 0.002586),
            (0.550343384, 1.924885, 0.002168), (0.599498169, 1.894357, 0.002306), (0.650169678, 1.864398, 0.002718),
            (0.700754578, 1.834763, 0.003313), (0.749660400, 1.805634, 0.004039), (0.800026062, 1.774636, 0.004938),
            (0.850255676, 1.742333, 0.005997), (0.900332520, 1.708445, 0.007231), (0.950239868, 1.672740, 0.008656),
            (0.975124695, 1.654141, 0.009448), (0.999961060, 1.635010, 0.010296)],
            "Indium tin oxide, 17 nm commercial film (Optics Balzers) on D263M glass: R. J. Moerland and "
            "J. P. Hoogenboom, Optica 3, 112 (2016), supplementary n, k table from ellipsometry and "
            "transmittance (as distributed by refractiveindex.info) at the rows listed, n by cubic spline "
            "and k linearly between; 0.401–1.0 µm; the rows are given to 1e-6, and between them this "
            "follows the full table to 2e-4 in n and 3e-4 in k. ITO depends strongly on the deposition and "
            "doping; the free-carrier absorption rising towards the infrared is this film's."),
        _formula("Si", 4, [11.67316, 1.0, 0.0, 0.0, 1.0, 0.004482633, 0.0, 1.108205, 2.0], 2500.0, 22222.0,
                 "Crystalline silicon in its transparent infrared: C. Chandler-Horowitz and P. M. Amirtharaj, "
                 "J. Appl. Phys. 97, 123526 (2005), n² = 11.67316 + 1/λ² + 0.004482633/(λ² − 1.108205²) with "
                 "λ in µm; 2.5–22.2 µm; about 1e-4 in n. No absorption (the visible needs a measured table)."),
        _sellmeier_um("Ge", [6.72880, 0.21307], [0.44105, 3870.1], 2500.0, 12000.0,
                      "Germanium in its transparent infrared at room temperature: H. W. Icenogle, B. C. Platt and "
                      "W. L. Wolfe, Appl. Opt. 15, 2348 (1976); 2.5–12 µm; about 1e-3 in n.", A=9.28156),
        _sellmeier_um("water", [5.684027565e-1, 1.726177391e-1, 2.086189578e-2, 1.130748688e-1],
                      [5.101829712e-3, 1.821153936e-2, 2.620722293e-2, 1.069792721e1], 182.0, 1129.0,
                      "Distilled water at 20 °C: M. Daimon and A. Masumura, Appl. Opt. 46, 3811 (2007), four-term "
                      "Sellmeier; 0.182–1.129 µm; about 1e-5 in n; absorption not included."),
        _formula("air", 6, [0.0, 0.05792105, 238.0185, 0.00167917, 57.362], 230.0, 1690.0,
                 "Standard dry air (15 °C, 101 325 Pa, 450 ppm CO2): P. E. Ciddor, Appl. Opt. 35, 1566 (1996), "
                 "n − 1 = 0.05792105/(238.0185 − λ⁻²) + 0.00167917/(57.362 − λ⁻²) with λ in µm; "
                 "0.23–1.69 µm; about 1e-8 in n."),
        _rakic("Ag", 9.01, (0.845, 0.048),
               [(0.065, 0.816, 3.886), (0.124, 4.481, 0.452), (0.011, 8.185, 0.065), (0.840, 9.083, 0.916),
                (5.646, 20.29, 2.419)], 247.97, 12398.0,
               "Silver. " + _RAKIC + " Photon energies 0.1–5 eV (0.248–12.4 µm)."),
        _rakic("Au", 9.03, (0.760, 0.053),
               [(0.024, 0.415, 0.241), (0.010, 0.830, 0.345), (0.071, 2.969, 0.870), (0.601, 4.304, 2.494),
                (4.384, 13.32, 2.214)], 206.64, 12398.0,
               "Gold. " + _RAKIC + " Photon energies 0.1–6 eV (0.207–12.4 µm)."),
        _rakic("Cu", 10.83, (0.575, 0.030),
               [(0.061, 0.291, 0.378), (0.104, 2.957, 1.056), (0.723, 5.300, 3.213), (0.638, 11.18, 4.305)],
               206.64, 12398.0,
               "Copper. " + _RAKIC + " Photon energies 0.1–6 eV (0.207–12.4 µm)."),
        _rakic("Al", 14.98, (0.523, 0.047),
               [(0.227, 0.162, 0.333), (0.050, 1.544, 0.312), (0.166, 1.808, 1.351), (0.030, 3.473, 3.382)],
               206.64, 12398.0,
               "Aluminium. " + _RAKIC + " Used here over photon energies 0.1–6 eV (0.207–12.4 µm)."),
    ]
    return {material.name: material for material in entries}


class MaterialLibrary(Mapping[str, Material]):
    """A read-only mapping from names to materials, such as the built-in `library`.

    Parameters
    ----------
    materials : dict of str to Material
        The materials by name.
    aliases : mapping of str to str, optional
        Further names looked up but not listed, each for one of `materials`.

    Raises
    ------
    TypeError
        For a name that is not a string.
    KeyError
        For a name the library does not have (the message lists those it has).

    Notes
    -----
    Lookup accepts any capitalisation ("n-bk7", "FUSED SILICA"). In the built-in library
    "SiO2" is the bulk glass, fused silica ("SiO2 film" is the coating). Every entry
    reproduces a published dispersion formula or table; its docstring gives the source,
    the wavelengths it covers and its precision.

    Examples
    --------
    >>> glass = ql.library["n-bk7"]
    >>> glass.name, glass.valid_range
    ('N-BK7', (300.0, 2500.0))
    >>> print(np.round(ql.library["SiO2"](587.6).real, 5))
    1.45846
    >>> "Ag" in ql.library
    True
    """

    def __init__(self, materials: dict[str, Material], aliases: Mapping[str, str] | None = None) -> None:
        self._materials = dict(materials)
        self._folded = {name.casefold(): name for name in self._materials}
        for alias, name in (aliases or {}).items():
            self._folded.setdefault(alias.casefold(), self._folded[name.casefold()])

    def __getitem__(self, name: str) -> Material:
        if not isinstance(name, str):
            raise TypeError(f"a material name must be a string; received {type_name(name)}")
        canonical = self._folded.get(name.casefold())
        if canonical is None:
            raise KeyError(f"no material {name!r} in the library; it has: {', '.join(self._materials)}")
        return self._materials[canonical]

    def __iter__(self) -> Iterator[str]:
        return iter(self._materials)

    def __len__(self) -> int:
        return len(self._materials)

    def __repr__(self) -> str:
        return f"<material library: {', '.join(self._materials)}>"


library = MaterialLibrary(_build(), aliases={"SiO2": "fused silica"})
