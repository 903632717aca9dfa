"""Thickness and Cauchy coefficients of a film from synthetic ellipsometry
=======================================================================

A Cauchy film (n = A + B/lambda^2) on N-BK7 is "measured" at 55, 65 and 75 degrees
over 400-900 nm: psi and delta from quilmo_lab with Gaussian noise of 0.05 degrees
added. quilmo_lab.fit recovers thickness, A and B from a rough start, with the
analytic Jacobian for the thickness; the script prints the values, standard errors
and correlations, and writes a PNG of data and fit (when matplotlib is installed).

Run it as::

    python examples/fit_film.py [--output fit_film.png] [--seed 1]
"""

import argparse
import pathlib
import sys

import numpy as np

import quilmo_lab as ql
from quilmo_lab import fit
from quilmo_lab.materials import Cauchy

TRUE = {"thickness": 312.0, "A": 1.92, "B": 1.4e4}
START = {"thickness": 300.0, "A": 1.85, "B": 1.0e4}
NOISE = np.radians(0.05)
WAVELENGTHS = np.linspace(400.0, 900.0, 101)
ANGLES = np.radians([55.0, 65.0, 75.0])


def film(thickness: float, A: float, B: float) -> ql.Stack:
    return ql.Stack([ql.Layer(Cauchy(A, B), thickness)], incident=1.0, exit=ql.library["N-BK7"])


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--output", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).with_name("fit_film.png"))
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    clean = film(**TRUE).solve(WAVELENGTHS, ANGLES)
    measured = {name: getattr(clean, name)[0] + rng.normal(0.0, NOISE, clean.psi[0].shape)
                for name in ("psi", "delta")}
    result = fit.fit(film, START, WAVELENGTHS, measured, angles=ANGLES, sigma={"psi": NOISE, "delta": NOISE},
                     thickness={"thickness": 0})

    print(f"{'parameter':>10} {'true':>10} {'start':>10} {'fitted':>12} {'std error':>10} {'off/σ':>6}")
    for name in result.names:
        off = (result.values[name] - TRUE[name]) / result.stderr[name]
        print(f"{name:>10} {TRUE[name]:>10g} {START[name]:>10g} {result.values[name]:>12.5f} "
              f"{result.stderr[name]:>10.2g} {off:>6.2f}")
    print(f"reduced chi-square {result.reduced_chi2:.3f} ({result.dof} degrees of freedom)")
    print("correlation matrix (" + ", ".join(result.names) + "):")
    print(np.array2string(result.correlation, precision=3, suppress_small=True))

    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed; no figure written")
        return
    fitted = result.stack.solve(WAVELENGTHS, ANGLES)
    fig, axes = plt.subplots(1, 2, figsize=(10, 4))
    for name, ax in zip(("psi", "delta"), axes):
        for a, angle in enumerate(ANGLES):
            (dots,) = ax.plot(WAVELENGTHS, np.degrees(measured[name][a]), ".", ms=3,
                              label=f"{np.degrees(angle):.0f}°: data and fit")
            ax.plot(WAVELENGTHS, np.degrees(getattr(fitted, name)[0, a]), "-", lw=1, color=dots.get_color())
        ax.set_xlabel("wavelength (nm)")
        ax.set_ylabel(f"{name} (degrees)")
    axes[0].legend(fontsize=8)
    fig.suptitle("Cauchy film on N-BK7: synthetic ellipsometry and fit")
    fig.tight_layout()
    fig.savefig(args.output, dpi=120)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
