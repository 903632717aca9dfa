"""Five classic PyMoosh computations redone with quilmo_lab, with PyMoosh itself as the check
==========================================================================================

1. Reflection spectrum: a two-layer anti-reflection coating on a dispersive glass
   whose permittivity is a user's function eps(wavelength), at 30 degrees.
2. Angular scan: a film on a glass prism seen from inside the glass, through total
   internal reflection.
3. A thin-film solar cell (ITO | 300 nm amorphous silicon | silver): the fraction
   absorbed in each layer and the short-circuit current under AM1.5.
4. Surface-plasmon resonance in the Otto geometry: prism | air gap | gold.
5. A quarter-wave Bragg mirror (8 pairs) on glass.

How a PyMoosh script maps onto quilmo_lab:

- PyMoosh takes permittivities eps, quilmo_lab takes indices n + ik = sqrt(eps):
  ``ql.materials.from_permittivity(eps)`` converts a number, an array or a function, and
  every material's ``permittivity`` method gives eps back (what PyMoosh takes below).
- Both take k > 0 (Im eps > 0) as absorbing and give the same r and t phases.
- Angles: PyMoosh's ``coefficient``, ``spectrum`` and ``absorption`` take radians, its
  ``angular`` and ``photo`` take degrees; quilmo_lab takes radians everywhere.
- Polarisation 0 (TE) is "s", 1 (TM) is "p". PyMoosh's t_p is the ratio of magnetic
  fields, quilmo_lab's (like tmm's) that of electric fields: ``ql.magnetic_t_p``
  converts. r_p, and every power, is the same in both.
- quilmo_lab solves a whole spectrum, angular scan or batch in one call.

Each case returns both computations; ``tests/test_lab_pymoosh.py`` holds them to 1e-10.
The AM1.5 spectrum of case 3 is PyMoosh's (``PyMoosh.photo.solar``, photon current
per nm); the short-circuit current is its trapezoidal integral against the
absorbed fraction, as PyMoosh's ``photo`` computes it.

Prints the largest deviation of each case and, when matplotlib is installed, writes
pymoosh_examples.png. Needs PyMoosh (pip install PyMoosh)::

    python examples/pymoosh_examples.py [--output-dir DIR]
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import pathlib
import sys
import warnings
from collections.abc import Callable, Iterator

import numpy as np

import quilmo_lab as ql

POLARISATIONS = {"s": 0, "p": 1}  # quilmo_lab's name and PyMoosh's number


@dataclasses.dataclass
class Comparison:
    """One case computed by both codes: quantities by name over the case's axis."""

    title: str
    axis_label: str
    axis: np.ndarray
    quilmo: dict[str, np.ndarray]
    pymoosh: dict[str, np.ndarray]
    shown: tuple[str, ...]  # the quantities drawn

    def deviations(self) -> dict[str, float]:
        """The largest |quilmo - PyMoosh| of each quantity (relative for the current)."""
        out = {}
        for name, ours in self.quilmo.items():
            difference = np.abs(np.asarray(ours) - np.asarray(self.pymoosh[name]))
            scale = np.abs(np.asarray(ours)) if name == "Jsc" else 1.0
            out[name] = float(np.max(difference / scale))
        return out


def _pymoosh():  # type: ignore[no-untyped-def]
    import PyMoosh

    return PyMoosh


@contextlib.contextmanager
def _quiet() -> Iterator[None]:
    """PyMoosh casts complex absorption to float in `photo`; that warning says nothing here."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", np.exceptions.ComplexWarning)
        yield


@contextlib.contextmanager
def _numpy_trapz() -> Iterator[None]:
    """PyMoosh 4.0's `photo` integrates with np.trapz, which NumPy 2.4 removed: lend it
    np.trapezoid, its new name, for the call."""
    if hasattr(np, "trapz"):
        yield
        return
    np.trapz = np.trapezoid  # type: ignore[attr-defined]
    try:
        yield
    finally:
        del np.trapz  # type: ignore[attr-defined]


def _powers_and_amplitudes(result: ql.Result, stack: ql.Stack, wavelengths: np.ndarray, pick: Callable[
        [np.ndarray], np.ndarray]) -> dict[str, np.ndarray]:
    """r, t (t_p as PyMoosh's magnetic ratio), R, T of both polarisations from one solve."""
    media = stack.indices(wavelengths)
    out = {}
    for name in POLARISATIONS:
        t = getattr(result, f"t_{name}")
        if name == "p":
            t = ql.magnetic_t_p(t, media[0], media[-1])
        out.update({f"r_{name}": pick(getattr(result, f"r_{name}")), f"t_{name}": pick(t),
                    f"R_{name}": pick(getattr(result, f"R_{name}")), f"T_{name}": pick(getattr(result, f"T_{name}"))})
    return out


def trapezoid(values: np.ndarray, wavelengths: np.ndarray) -> float:
    """The trapezoidal integral (NumPy names it trapz before 2.0 and trapezoid since)."""
    return float(np.sum((values[1:] + values[:-1]) * np.diff(wavelengths)) / 2.0)


def permittivity_function(material: ql.Material) -> Callable[[float], complex]:
    """A material's eps(lambda) as a plain function: PyMoosh takes functions, not bound methods."""
    return lambda wavelength: material.permittivity(wavelength)


def glass_permittivity(wavelength: float | np.ndarray) -> float | np.ndarray:
    """A borosilicate crown glass as a PyMoosh user writes it: eps(lambda in nm), Sellmeier."""
    um2 = (np.asarray(wavelength) / 1e3) ** 2
    return 1.0 + 1.03961212 * um2 / (um2 - 0.00600069867) + 0.231792344 * um2 / (um2 - 0.0200179144) \
        + 1.01046945 * um2 / (um2 - 103.560653)


def reflection_spectrum() -> Comparison:
    """A two-layer AR coating (MgF2 | a weakly absorbing high-index film) on glass, at 30 degrees."""
    pm = _pymoosh()
    angle, points = np.radians(30.0), 201
    eps_mgf2, eps_film = 1.38 ** 2, (2.05 + 0.002j) ** 2
    structure = pm.Structure([1.0, eps_mgf2, eps_film, glass_permittivity], [0, 1, 2, 3], [0.0, 99.6, 134.1, 0.0],
                             verbose=False)
    moosh: dict[str, np.ndarray] = {}
    for name, number in POLARISATIONS.items():
        wavelengths, r, t, R, T = (np.ravel(a) for a in pm.spectrum(structure, angle, number, 400.0, 800.0, points))
        moosh.update({f"r_{name}": r, f"t_{name}": t, f"R_{name}": R, f"T_{name}": T})
    stack = ql.Stack([ql.Layer(ql.materials.from_permittivity(eps_mgf2), 99.6),
                      ql.Layer(ql.materials.from_permittivity(eps_film), 134.1)],
                     exit=ql.materials.from_permittivity(glass_permittivity))
    result = stack.solve(wavelengths, angle)
    ours = _powers_and_amplitudes(result, stack, wavelengths, lambda a: a[0, 0])
    return Comparison("reflection spectrum, 30°", "wavelength (nm)", wavelengths, ours, moosh,
                      ("R_s", "R_p"))


def angular_scan() -> Comparison:
    """A 250 nm film (n = 1.8) on a glass prism, lit from the glass at 600 nm, 0-89 degrees."""
    pm = _pymoosh()
    wavelength = 600.0
    structure = pm.Structure([1.5 ** 2, 1.8 ** 2, 1.0], [0, 1, 2], [0.0, 250.0, 0.0], verbose=False)
    moosh: dict[str, np.ndarray] = {}
    for name, number in POLARISATIONS.items():
        degrees, r, t, R, T = (np.ravel(a) for a in pm.angular(structure, wavelength, number, 0.0, 89.0, 179))
        moosh.update({f"r_{name}": r, f"t_{name}": t, f"R_{name}": R, f"T_{name}": T})
    stack = ql.Stack([ql.Layer(1.8, 250.0)], incident=1.5, exit=1.0)
    result = stack.solve([wavelength], np.radians(degrees))  # PyMoosh's angular scan is in degrees
    ours = _powers_and_amplitudes(result, stack, np.array([wavelength]), lambda a: a[0, :, 0])
    return Comparison("angular scan from glass, 600 nm", "angle of incidence (°)", degrees, ours, moosh,
                      ("R_s", "R_p"))


def solar_cell() -> Comparison:
    """ITO 80 nm | a-Si 300 nm | silver, at normal incidence: absorbed fractions and the current."""
    pm = _pymoosh()
    import PyMoosh.photo

    thicknesses = [80.0, 300.0]
    low, high, points = 420.0, 990.0, 58
    names = ("ITO", "a-Si", "silver")
    # PyMoosh takes eps(lambda): the same library materials, through their permittivity
    structure = pm.Structure([1.0, *(permittivity_function(ql.library[name]) for name in names)], [0, 1, 2, 3],
                             [0.0, *thicknesses, 0.0], verbose=False)
    wavelengths = np.linspace(low, high, points)
    absorbed = np.array([np.real(pm.absorption(structure, wl, 0.0, 0)[0][1:3]) for wl in wavelengths]).T
    with _numpy_trapz(), _quiet():
        current = PyMoosh.photo.photo(structure, 0.0, 0, low, high, [2], points)[1]  # incidence in degrees here
    stack = ql.Stack([ql.Layer(name, d) for name, d in zip(names[:2], thicknesses)], exit=names[2])
    result = stack.solve(wavelengths)
    layers = result.absorbed("s")[0, 0]  # (layer, wavelength)
    photon_current = PyMoosh.photo.solar(wavelengths)  # AM1.5 as photon current, A/cm² per nm
    ours = {"A_ITO": layers[0], "A_a-Si": layers[1], "R": result.R_s[0, 0],
            "Jsc": np.array([1e3 * trapezoid(layers[1] * photon_current, wavelengths)])}
    moosh = {"A_ITO": absorbed[0], "A_a-Si": absorbed[1],
             "R": np.array([pm.coefficient(structure, wl, 0.0, 0)[2] for wl in wavelengths]),
             "Jsc": np.array([current])}
    return Comparison(f"ITO | a-Si | Ag cell: Jsc {ours['Jsc'][0]:.3f} mA/cm²", "wavelength (nm)", wavelengths,
                      ours, moosh, ("A_ITO", "A_a-Si", "R"))


def otto_plasmon() -> Comparison:
    """Prism (n = 1.5) | 600 nm air gap | gold at 700 nm: the p-polarised reflectance dips
    where the incident light couples to the surface plasmon of the gold-air interface."""
    pm = _pymoosh()
    wavelength = 700.0
    gold = ql.library["gold"]
    structure = pm.Structure([1.5 ** 2, 1.0, permittivity_function(gold)], [0, 1, 2], [0.0, 600.0, 0.0],
                             verbose=False)
    moosh: dict[str, np.ndarray] = {}
    for name, number in POLARISATIONS.items():
        degrees, r, _, R, _ = (np.ravel(a) for a in pm.angular(structure, wavelength, number, 35.0, 60.0, 501))
        moosh.update({f"r_{name}": r, f"R_{name}": R})
    result = ql.Stack([ql.Layer(1.0, 600.0)], incident=1.5, exit=gold).solve([wavelength], np.radians(degrees))
    ours = {f"{quantity}_{name}": getattr(result, f"{quantity}_{name}")[0, :, 0]
            for name in POLARISATIONS for quantity in ("r", "R")}
    return Comparison("Otto geometry: prism | air | gold, 700 nm", "angle of incidence (°)", degrees, ours, moosh,
                      ("R_s", "R_p"))


def bragg_mirror() -> Comparison:
    """Eight quarter-wave pairs of n = 2.3 and 1.46 for 600 nm on glass, at normal incidence."""
    pm = _pymoosh()
    high, low, design = 2.3, 1.46, 600.0
    pairs = 8
    thicknesses = [design / (4 * high), design / (4 * low)] * pairs
    structure = pm.Structure([1.0, high ** 2, low ** 2, 1.52 ** 2], [0, *([1, 2] * pairs), 3],
                             [0.0, *thicknesses, 0.0], verbose=False)
    wavelengths, r, t, R, T = (np.ravel(a) for a in pm.spectrum(structure, 0.0, 0, 400.0, 900.0, 501))
    moosh = {"r_s": r, "t_s": t, "R_s": R, "T_s": T}
    result = ql.solve([1.0, *([high, low] * pairs), 1.52], thicknesses, wavelengths)
    ours = {name: getattr(result, name)[0, 0] for name in moosh}
    return Comparison("Bragg mirror, 8 pairs", "wavelength (nm)", wavelengths, ours, moosh, ("R_s", "T_s"))


CASES: dict[str, Callable[[], Comparison]] = {
    "reflection spectrum": reflection_spectrum,
    "angular scan": angular_scan,
    "solar cell": solar_cell,
    "Otto plasmon": otto_plasmon,
    "Bragg mirror": bragg_mirror,
}


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--output-dir", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).parent,
                        help="where to write pymoosh_examples.png")
    args = parser.parse_args()

    comparisons = {name: build() for name, build in CASES.items()}
    for name, comparison in comparisons.items():
        worst = max(comparison.deviations().items(), key=lambda item: item[1])
        print(f"{name:<20} largest deviation from PyMoosh: {worst[1]:.1e} ({worst[0]})")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no figure")
        return

    figure, axes = plt.subplots(2, 3, figsize=(14.0, 8.0), layout="constrained")
    for ax, comparison in zip(axes.flat, comparisons.values()):
        for quantity in comparison.shown:
            line, = ax.plot(comparison.axis, comparison.quilmo[quantity], label=f"{quantity} quilmo_lab")
            step = max(1, comparison.axis.size // 30)
            ax.plot(comparison.axis[::step], np.real(comparison.pymoosh[quantity])[::step], "o", markersize=3.5,
                    markerfacecolor="none", color=line.get_color(), label=f"{quantity} PyMoosh")
        ax.set_title(comparison.title, fontsize=10)
        ax.set_xlabel(comparison.axis_label)
        ax.legend(fontsize=7)
    deviations = axes.flat[-1]
    names = list(comparisons)
    worst = [max(comparison.deviations().values()) for comparison in comparisons.values()]
    deviations.bar(range(len(names)), np.maximum(worst, 1e-18))
    deviations.axhline(1e-10, color="black", linestyle="--", linewidth=0.8, label="1e-10")
    deviations.set_yscale("log")
    deviations.set_xticks(range(len(names)), names, rotation=20, fontsize=8)
    deviations.set_title("largest |quilmo_lab - PyMoosh| per case", fontsize=10)
    deviations.legend(fontsize=7)
    output = args.output_dir / "pymoosh_examples.png"
    figure.savefig(output, dpi=110)
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
