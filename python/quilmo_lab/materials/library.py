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
from quilmo_lab.materials.spliced import Spliced
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


# Crystalline silicon at 300 K, every 10 nm from 250 to 1450 nm: (n, k).
_GREEN_2008 = [
    (1.665, 3.665), (1.757, 4.084), (2.068, 4.68), (2.959, 5.287), (4.356, 5.286), (4.976, 4.234),
    (5.121, 3.598), (5.112, 3.303), (5.195, 3.1), (5.301, 2.977), (5.494, 2.938), (6.026, 2.966),
    (6.891, 2.171), (6.616, 0.946), (6.039, 0.445), (5.613, 0.296), (5.330, 0.227), (5.119, 0.176),
    (4.949, 0.138), (4.812, 0.107), (4.691, 0.086302), (4.587, 0.071381), (4.497, 0.062086),
    (4.419, 0.055004), (4.350, 0.049131), (4.294, 0.044165), (4.241, 0.039367), (4.193, 0.036415),
    (4.151, 0.033108), (4.112, 0.030295), (4.077, 0.027968), (4.045, 0.025758), (4.015, 0.024131),
    (3.988, 0.022524), (3.963, 0.021081), (3.940, 0.019934), (3.918, 0.018446), (3.898, 0.017367),
    (3.879, 0.016444), (3.861, 0.015432), (3.844, 0.014431), (3.828, 0.013498), (3.813, 0.012743),
    (3.798, 0.011905), (3.784, 0.011201), (3.772, 0.010528), (3.759, 0.010057), (3.748, 0.0096257),
    (3.737, 0.0089461), (3.727, 0.008362), (3.717, 0.0078185), (3.708, 0.007197), (3.699, 0.0067402),
    (3.691, 0.0063933), (3.683, 0.005834), (3.675, 0.0054113), (3.668, 0.0049955), (3.661, 0.0046134),
    (3.654, 0.0042734), (3.647, 0.0039439), (3.641, 0.003612), (3.635, 0.0032781), (3.630, 0.0029839),
    (3.624, 0.0026821), (3.619, 0.0024293), (3.614, 0.0021701), (3.609, 0.0019625), (3.604, 0.0017571),
    (3.600, 0.0015467), (3.595, 0.0013689), (3.591, 0.0011793), (3.587, 0.0010237), (3.583, 0.00087225),
    (3.579, 0.00074866), (3.575, 0.00062238), (3.572, 0.0005093), (3.568, 0.00041071), (3.565, 0.00032386),
    (3.562, 0.00024753), (3.559, 0.00018704), (3.556, 0.0001362), (3.553, 9.3631e-05), (3.550, 6.8118e-05),
    (3.547, 5.3285e-05), (3.545, 4.0768e-05), (3.542, 3.0637e-05), (3.540, 2.3849e-05),
    (3.537, 1.7825e-05), (3.535, 1.3488e-05), (3.532, 9.0718e-06), (3.530, 6.223e-06), (3.528, 3.877e-06),
    (3.526, 2.0483e-06), (3.524, 6.1036e-07), (3.522, 3.4091e-07), (3.520, 2.1008e-07),
    (3.518, 1.2518e-07), (3.517, 7.9609e-08), (3.515, 4.6004e-08), (3.513, 2.3682e-08),
    (3.511, 9.9472e-09), (3.509, 3.6096e-09), (3.508, 2.0213e-09), (3.506, 1.2223e-09),
    (3.505, 7.2885e-10), (3.503, 4.6553e-10), (3.502, 2.8147e-10), (3.500, 1.6807e-10), (3.499, 8.467e-11),
    (3.497, 3.7322e-11), (3.496, 1.8263e-11), (3.495, 1.0281e-11), (3.494, 6.5413e-12), (3.492, 4.173e-12),
    (3.491, 2.5441e-12), (3.490, 1.5597e-12), (3.489, 9.5374e-13), (3.488, 5.65e-13), (3.487, 2.8449e-13),
    (3.486, 2.0626e-13), (3.485, 1.3846e-13)
]


def _silicon() -> Material:
    """Green's visible table joined at its last row to the infrared formula of Chandler-Horowitz
    and Amirtharaj, which keeps its values there bit for bit."""
    wavelengths = 250.0 + 10.0 * np.arange(len(_GREEN_2008))
    table = np.asarray(_GREEN_2008)
    visible = SeparateNK(Tabulated(wavelengths, table[:, 0], interpolation="cubic"),
                         Tabulated(wavelengths, np.zeros(len(table)), table[:, 1]))
    infrared = RefractiveIndexFormula(4, [11.67316, 1.0, 0.0, 0.0, 1.0, 0.004482633, 0.0, 1.108205, 2.0],
                                      name="Si", valid_range=(2500.0, 22222.0))
    material = Spliced(visible, infrared, 1450.0, name="Si")
    material.__doc__ = (
        "Crystalline silicon at room temperature. From 0.25 to 1.45 µm: M. A. Green, Sol. Energy Mater. "
        "Sol. Cells 92, 1305 (2008), the author's self-consistent n, k table at 300 K every 10 nm (as "
        "distributed by refractiveindex.info), n by cubic spline and k (band-to-band absorption) linearly "
        "between; n to 1e-3 and k to 3–5 significant figures as published. Above 1.45 µm: C. "
        "Chandler-Horowitz and P. M. Amirtharaj, J. Appl. Phys. 97, 123526 (2005), n² = 11.67316 + 1/λ² + "
        "0.004482633/(λ² − 1.108205²) with λ in µm, fitted over 2.5–22.2 µm to about 1e-4 in n, no "
        "absorption; from 1.45 to 2.5 µm the formula is used below its fitted range, where it meets "
        "Green's table within 1.3e-3 in n at 1.45 µm. Also found as \"c-Si\" and \"silicon\"; "
        "amorphous silicon is \"a-Si\".")
    return material


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
        _silicon(),
        _film_table("a-Si", [
            (0.2066, 1.11, 2.28), (0.2254, 1.35, 2.51), (0.2480, 1.69, 2.76), (0.2583, 1.86, 2.85),
            (0.2695, 2.07, 2.93), (0.2818, 2.30, 2.99), (0.2952, 2.56, 3.04), (0.3100, 2.87, 3.06),
            (0.3263, 3.21, 3), (0.3444, 3.55, 2.88), (0.3543, 3.73, 2.79), (0.3647, 3.90, 2.66),
            (0.3875, 4.17, 2.38), (0.4133, 4.38, 2.02), (0.4428, 4.47, 1.64), (0.4769, 4.49, 1.28),
            (0.4960, 4.47, 1.12), (0.5166, 4.46, 0.969), (0.5636, 4.36, 0.69), (0.6199, 4.23, 0.461),
            (0.6526, 4.17, 0.363), (0.6888, 4.09, 0.271), (0.7293, 4.01, 0.199), (0.7749, 3.93, 0.136),
            (0.8266, 3.86, 0.0812), (0.8856, 3.77, 0.0401), (0.9538, 3.68, 0), (1.0330, 3.61, 0),
            (1.1270, 3.57, 0), (1.2400, 3.54, 0), (1.3780, 3.50, 0), (1.5500, 3.48, 0), (1.7710, 3.45, 0),
            (2.0660, 3.44, 0)],
            "Amorphous silicon, a 60 nm evaporated film: D. T. Pierce and W. E. Spicer, Phys. Rev. B 5, 3017 "
            "(1972), n and k as tabulated from their measurements in E. D. Palik (ed.), Handbook of Optical "
            "Constants of Solids (Academic Press, 1985) (as distributed by refractiveindex.info) at the rows "
            "listed, n by cubic spline and k linearly between; 0.2066–2.066 µm; n and k to 2–3 significant "
            "figures, k = 0 from 0.954 µm on as tabulated. Hydrogenated films (a-Si:H, as in solar cells) "
            "absorb less in the red: their band gap is wider."),
        _film_table("GaAs", [
            (0.2066, 1.264, 2.472), (0.2101, 1.288, 2.557), (0.2138, 1.311, 2.625), (0.2175, 1.325, 2.710),
            (0.2214, 1.349, 2.815), (0.2254, 1.383, 2.936), (0.2296, 1.430, 3.079), (0.2339, 1.499, 3.255),
            (0.2384, 1.599, 3.484), (0.2431, 1.802, 3.795), (0.2480, 2.273, 4.084), (0.2530, 2.890, 4.047),
            (0.2583, 3.342, 3.770), (0.2638, 3.598, 3.452), (0.2695, 3.769, 3.169), (0.2755, 3.913, 2.919),
            (0.2818, 4.015, 2.563), (0.2883, 3.939, 2.260), (0.2952, 3.810, 2.069), (0.3024, 3.692, 1.969),
            (0.3100, 3.601, 1.920), (0.3179, 3.538, 1.904), (0.3263, 3.501, 1.909), (0.3351, 3.485, 1.931),
            (0.3444, 3.495, 1.965), (0.3542, 3.531, 2.013), (0.3647, 3.596, 2.076), (0.3757, 3.709, 2.162),
            (0.3875, 3.938, 2.288), (0.3999, 4.373, 2.146), (0.4133, 4.509, 1.948), (0.4275, 5.052, 1.721),
            (0.4428, 4.959, 0.991), (0.4592, 4.694, 0.696), (0.4769, 4.492, 0.539), (0.4959, 4.333, 0.441),
            (0.5166, 4.205, 0.371), (0.5391, 4.100, 0.320), (0.5636, 4.013, 0.276), (0.5904, 3.940, 0.240),
            (0.6199, 3.878, 0.211), (0.6525, 3.826, 0.179), (0.6888, 3.785, 0.151), (0.7293, 3.742, 0.112),
            (0.7749, 3.700, 0.091), (0.8266, 3.666, 0.080)],
            "Gallium arsenide at room temperature ((100) face, n-type 1.7e17 cm⁻³): D. E. Aspnes, S. M. Kelso, "
            "R. A. Logan and R. Bhat, J. Appl. Phys. 60, 754 (1986), the n, k table of the x = 0 sample from "
            "spectroscopic ellipsometry (as distributed by refractiveindex.info), n by cubic spline and k "
            "linearly between; 0.2066–0.8266 µm (1.5–6 eV); n and k to 1e-3. The band edge (0.87 µm) lies "
            "beyond the table."),
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
    "SiO2" is the bulk glass, fused silica ("SiO2 film" is the coating); the metals are
    also found by their English names ("gold", "silver", "aluminium" or "aluminum",
    "copper"); "Si" (also "c-Si", "silicon") is crystalline silicon from the ultraviolet to
    the far infrared, a measured table up to 1.45 µm and a formula beyond, and "a-Si"
    amorphous silicon. Every entry
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


# Further names users type for the entries.
_ALIASES = {"SiO2": "fused silica", "c-Si": "Si", "silicon": "Si", "crystalline silicon": "Si",
            "amorphous silicon": "a-Si", "gallium arsenide": "GaAs", "gold": "Au", "silver": "Ag",
            "aluminium": "Al", "aluminum": "Al", "copper": "Cu"}

library = MaterialLibrary(_build(), aliases=_ALIASES)
