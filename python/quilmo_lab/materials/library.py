"""The built-in library: common coating, optics and photovoltaics materials from published data.

Every entry reproduces a published dispersion formula with its authors' coefficients; its
docstring gives the source, the wavelengths it covers and what the published precision is.
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping, Sequence

from .base import Material
from .cauchy import Cauchy
from .oscillators import DrudeLorentz
from .refractiveindex_formulas import RefractiveIndexFormula
from .sellmeier import Sellmeier

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
                       "1e-5."),
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
                 "Evaporated or sputtered TiO2 films are less dense: typically n ≈ 2.2–2.45 at 550 nm."),
        _cauchy_film("HfO2", 1.875, 6.28e-3, 5.80e-4, 250.0, 2000.0,
                     "Hafnium oxide film (electron-beam evaporated): M. F. Al-Kuhaili, Opt. Mater. 27, 383 (2004), "
                     "n = 1.875 + 6.28e-3/λ² + 5.80e-4/λ⁴ with λ in µm; 0.25–2.0 µm as the fit is usually "
                     "quoted; "
                     "about 1e-3 in n for films like the paper's (film indices vary with the deposition)."),
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
    """A read-only mapping from names to the built-in materials: `library["N-BK7"]`, `list(library)`.

    Lookup also accepts any capitalisation ("n-bk7", "FUSED SILICA").
    """

    def __init__(self, materials: dict[str, Material]) -> None:
        self._materials = dict(materials)
        self._folded = {name.casefold(): name for name in self._materials}

    def __getitem__(self, name: str) -> Material:
        if not isinstance(name, str):
            raise TypeError(f"material names are strings; got {type(name).__name__}")
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


library = MaterialLibrary(_build())
