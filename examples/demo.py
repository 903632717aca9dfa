"""Reflectance and transmittance of two classic coatings on glass
==============================================================

A single-layer quarter-wave anti-reflection coating (MgF2 on glass) and a
20-pair quarter-wave Bragg mirror (TiO2/SiO2 on glass), both designed for
550 nm, evaluated at normal incidence over 1,001 wavelengths from 400 nm to
800 nm. Prints a short table and, when matplotlib is installed, writes a PNG
of the two spectra.

Run it as::

    python examples/demo.py [--output spectra.png]
"""

import argparse
import pathlib
import sys

import numpy as np

import quilmo

DESIGN_WAVELENGTH = 550.0  # nm
AIR, GLASS = 1.0, 1.52
MGF2, TIO2, SIO2 = 1.38, 2.35, 1.46


def quarter_wave(index: float) -> float:
    """Thickness (nm) of a quarter-wave layer at the design wavelength."""
    return DESIGN_WAVELENGTH / (4.0 * index)


def stack(indices: list[float], wl: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Thicknesses of the inner layers and the index matrix (media x wavelengths)."""
    inner = indices[1:-1]
    d = np.array([quarter_wave(index) for index in inner])
    n = np.repeat(np.array(indices, dtype=complex)[:, None], wl.size, axis=1)
    return d, n


def spectra(indices: list[float], wl: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    d, n = stack(indices, wl)
    result = quilmo.DataPy(d, n, wl, 0.0, 0.0).simulate()
    return result.r, result.t


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--output", type=pathlib.Path,
                        # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
                        default=pathlib.Path(sys.argv[0]).with_name("demo_spectra.png"))
    args = parser.parse_args()

    wl = np.linspace(400.0, 800.0, 1001)
    coatings = {
        "quarter-wave AR coating": [AIR, MGF2, GLASS],
        "20-pair Bragg mirror": [AIR] + [TIO2, SIO2] * 20 + [GLASS],
    }
    results = {name: spectra(indices, wl) for name, indices in coatings.items()}

    for name, (r, t) in results.items():
        layers = len(coatings[name]) - 2
        print(f"\n{name} ({layers} layer{'s' if layers != 1 else ''} on glass, normal incidence)")
        print(f"{'wavelength/nm':>14} {'R':>10} {'T':>10} {'R + T':>10}")
        for i in range(0, wl.size, 100):
            print(f"{wl[i]:14.1f} {r[i]:10.6f} {t[i]:10.6f} {r[i] + t[i]:10.6f}")
    bare = ((AIR - GLASS) / (AIR + GLASS)) ** 2
    r_ar = results["quarter-wave AR coating"][0]
    print(f"\nbare glass reflects {bare:.4f}; the coating reflects {r_ar[wl.searchsorted(550.0)]:.5f} at 550 nm")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot written")
        return
    figure, axes = plt.subplots(1, 2, figsize=(10, 3.6), sharey=True)
    for axis, (name, (r, t)) in zip(axes, results.items()):
        axis.plot(wl, r, label="R")
        axis.plot(wl, t, label="T")
        axis.set_title(name)
        axis.set_xlabel("wavelength (nm)")
        axis.grid(alpha=0.3)
    axes[0].set_ylabel("fraction of incident power")
    axes[0].legend()
    figure.tight_layout()
    figure.savefig(args.output, dpi=90)
    print(f"plot written to {args.output.resolve()}")


if __name__ == "__main__":
    main()
