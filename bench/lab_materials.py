"""quilmo_lab materials against a direct NumPy expression of the same formula.

    python bench/lab_materials.py [--size 1000000] [--repeats 15]

Each model evaluates the complex index n + ik at --size wavelengths (nm) spread over
its validity range, range check included; the direct expression writes the formula
out plainly with NumPy operators and returns the same complex array.  Both figures are
the best of --repeats calls, the two run alternately; the ratio is model / direct (at most 1 is the target).
The cubic table is also timed against SciPy's compiled CubicSpline, for reference.
"""

from __future__ import annotations

import argparse
import time

import numpy as np

from quilmo_lab.materials import (Bruggeman, Cauchy, Constant, Drude, MaxwellGarnett, Tabulated, TaucLorentz,
                                  library)
from quilmo_lab.materials.base import HC_EV_NM

TABLE_WL = np.linspace(300.0, 1000.0, 71)
TABLE_N = 1.9 + 3.0e4 / TABLE_WL**2
TABLE_K = 0.05 * np.exp(-TABLE_WL / 150.0)


def _bk7_direct(wl):
    x = wl * wl
    return np.sqrt(1 + 1.03961212e0 * x / (x - 6000.69867) + 0.231792344 * x / (x - 20017.9144)
                   + 1.01046945 * x / (x - 103560653.0) + 0j)


def _cauchy_direct(wl):
    return 1.46 + 3600.0 / wl**2 + 1.0e8 / wl**4 + 0j


def _urbach_direct(wl):
    n = 1.46 + 3600.0 / wl**2 + 1.0e8 / wl**4
    k = 0.002 * np.exp(1.5 * (HC_EV_NM / wl - HC_EV_NM / 350.0))
    return n + 1j * k


def _silver_direct(wl):
    energy = HC_EV_NM / wl
    eps = 1.0 - 0.845 * 9.01**2 / (energy * (energy + 1j * 0.048))
    for f, w, g in [(0.065, 0.816, 3.886), (0.124, 4.481, 0.452), (0.011, 8.185, 0.065), (0.840, 9.083, 0.916),
                    (5.646, 20.29, 2.419)]:
        eps = eps + f * 9.01**2 / (w**2 - energy**2 - 1j * energy * g)
    return np.sqrt(eps)


def _drude_direct(wl):
    energy = HC_EV_NM / wl
    return np.sqrt(3.0 - 8.5**2 / (energy * (energy + 1j * 0.07)))


def _tauc_lorentz_direct(wl, A=120.0, E0=3.8, C=1.9, Eg=2.4, eps_inf=1.2):
    """Jellison & Modine's ε₁ and ε₂ as printed (Eg is never hit exactly on this grid)."""
    E = HC_EV_NM / wl
    pi = np.pi
    alpha = np.sqrt(4 * E0**2 - C**2)
    gamma2 = E0**2 - C**2 / 2
    zeta4 = (E**2 - gamma2) ** 2 + alpha**2 * C**2 / 4
    a_ln = (Eg**2 - E0**2) * E**2 + Eg**2 * C**2 - E0**2 * (E0**2 + 3 * Eg**2)
    a_atan = (E**2 - E0**2) * (E0**2 + Eg**2) + Eg**2 * C**2
    eps1 = (eps_inf
            + A * C * a_ln / (2 * pi * zeta4 * alpha * E0)
            * np.log((E0**2 + Eg**2 + alpha * Eg) / (E0**2 + Eg**2 - alpha * Eg))
            - A * a_atan / (pi * zeta4 * E0)
            * (pi - np.arctan((2 * Eg + alpha) / C) + np.arctan((alpha - 2 * Eg) / C))
            + 2 * A * E0 * Eg * (E**2 - gamma2) / (pi * zeta4 * alpha)
            * (pi + 2 * np.arctan(2 * (gamma2 - Eg**2) / (alpha * C)))
            - A * E0 * C * (E**2 + Eg**2) / (pi * zeta4 * E) * np.log(np.abs(E - Eg) / (E + Eg))
            + 2 * A * E0 * C * Eg / (pi * zeta4)
            * np.log(np.abs(E - Eg) * (E + Eg) / np.sqrt((E0**2 - Eg**2) ** 2 + Eg**2 * C**2)))
    eps2 = np.where(E > Eg, A * E0 * C * (E - Eg) ** 2 / ((E**2 - E0**2) ** 2 + C**2 * E**2) / E, 0.0)
    return np.sqrt(eps1 + 1j * eps2)


def _linear_direct(wl):
    return np.interp(wl, TABLE_WL, TABLE_N) + 1j * np.interp(wl, TABLE_WL, TABLE_K)


def _bruggeman_direct(wl, f=0.3):
    a = _silver_direct(wl) ** 2
    b = _cauchy_direct(wl) ** 2
    c = (3 * f - 1) * a + (2 - 3 * f) * b
    root = np.sqrt(c * c + 8 * a * b)
    plus, minus = (c + root) / 4, (c - root) / 4
    return np.sqrt(np.where(minus.imag > plus.imag, minus, plus))


def _maxwell_garnett_direct(wl, f=0.1):
    a = _silver_direct(wl) ** 2
    b = _bk7_direct(wl) ** 2
    return np.sqrt(b * (a + 2 * b + 2 * f * (a - b)) / (a + 2 * b - f * (a - b)))


def _cases():
    film = Cauchy(1.46, 3600.0, 1.0e8)
    cases = [
        ("constant", Constant(1.5 + 0.01j), lambda wl: np.full(wl.shape, 1.5 + 0.01j)),
        ("Cauchy", film, _cauchy_direct),
        ("Cauchy + Urbach", Cauchy(1.46, 3600.0, 1.0e8, urbach_amplitude=0.002, urbach_exponent=1.5,
                                   urbach_edge=350.0), _urbach_direct),
        ("Sellmeier (N-BK7)", library["N-BK7"], _bk7_direct),
        ("Drude", Drude(8.5, 0.07, eps_inf=3.0), _drude_direct),
        ("Drude-Lorentz (Ag)", library["Ag"], _silver_direct),
        ("Tauc-Lorentz", TaucLorentz(A=120.0, E0=3.8, C=1.9, Eg=2.4, eps_inf=1.2), _tauc_lorentz_direct),
        ("tabulated, linear", Tabulated(TABLE_WL, TABLE_N, TABLE_K), _linear_direct),
        ("Bruggeman (Ag in film)", Bruggeman(library["Ag"], film, 0.3), _bruggeman_direct),
        ("Maxwell Garnett (Ag in N-BK7)", MaxwellGarnett(library["Ag"], library["N-BK7"], 0.1),
         _maxwell_garnett_direct),
    ]
    try:
        from scipy.interpolate import CubicSpline
    except ImportError:
        return cases
    spline = CubicSpline(TABLE_WL, TABLE_N + 1j * TABLE_K, bc_type="natural")
    c3, c2, c1, c0 = spline.c

    def cubic_direct(wl):
        i = np.clip(np.searchsorted(TABLE_WL, wl, side="right") - 1, 0, TABLE_WL.size - 2)
        t = wl - TABLE_WL[i]
        return c0[i] + t * (c1[i] + t * (c2[i] + t * c3[i]))

    cubic = Tabulated(TABLE_WL, TABLE_N, TABLE_K, interpolation="cubic")
    cases.append(("tabulated, cubic", cubic, cubic_direct))
    cases.append(("tabulated, cubic (SciPy's PPoly)", cubic, spline))
    return cases


def _best_of_both(first, second, argument, repeats):
    """Best times of two functions, run alternately so that both see the same machine load."""
    best = [np.inf, np.inf]
    for _ in range(repeats):
        for slot, function in enumerate((first, second)):
            start = time.perf_counter()
            function(argument)
            best[slot] = min(best[slot], time.perf_counter() - start)
    return best


def run(size: int = 1_000_000, repeats: int = 15) -> list[tuple[str, float, float]]:
    """Prints and returns (model, seconds of the model, seconds of the direct expression)."""
    rng = np.random.default_rng(7)
    wl = np.sort(rng.uniform(400.0, 1000.0, size))
    rows = []
    print(f"materials: complex index at {size:,} wavelengths, best of {repeats}")
    print(f"  {'model':32s} {'model ms':>9s} {'direct ms':>10s} {'ratio':>6s} {'max |diff|':>11s}")
    for name, material, direct in _cases():
        difference = float(np.max(np.abs(material(wl) - direct(wl))))
        ours, theirs = _best_of_both(material, direct, wl, repeats)
        rows.append((name, ours, theirs))
        print(f"  {name:32s} {ours * 1e3:9.2f} {theirs * 1e3:10.2f} {ours / theirs:6.2f} {difference:11.2e}")
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=15)
    options = parser.parse_args()
    run(options.size, options.repeats)


if __name__ == "__main__":
    main()
