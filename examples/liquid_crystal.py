"""A cholesteric liquid crystal's reflection band, and the Mueller matrix of a tilted uniaxial film
================================================================================================

1. A cholesteric layer (a nematic whose director turns about the normal, one
   turn per 350 nm pitch, 20 pitches) between media of its mean index,
   solved as a TwistedLayer at normal incidence: one circular polarisation is
   reflected almost completely in the band from n_o p to n_e p, the other
   passes. Prints the band's edges and R of both at its centre.
2. A 500 nm uniaxial film (optic axis tilted 40 degrees from the normal and
   turned 30 degrees from the plane of incidence) on glass: its normalised
   reflection Mueller matrix from 0 to 80 degrees of incidence at 633 nm,
   where the off-diagonal blocks show the mixing of s and p that generalised
   ellipsometry measures.

Writes both figures into one PNG when matplotlib is installed.

Run it as::

    python examples/liquid_crystal.py [--output liquid_crystal.png]
"""

import argparse
import pathlib
import sys

import numpy as np

import quilmo_lab as ql

NO, NE, PITCH, PITCHES = 1.52, 1.72, 350.0, 20


def cholesteric_band(wl: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """R of the two circular polarisations over `wl`."""
    mean = (NO + NE) / 2
    director = ql.Uniaxial(NO, NE, axis=(np.pi / 2, 0.0))
    cell = ql.TwistedLayer(director, PITCH * PITCHES, twist=2 * np.pi * PITCHES, slices=24 * PITCHES)
    result = ql.Stack([cell], incident=mean, exit=mean).solve(wl)
    left, right = np.array([1.0, 1j]) / np.sqrt(2), np.array([1.0, -1j]) / np.sqrt(2)
    return result.R(left)[0, 0], result.R(right)[0, 0]


def tilted_film_mueller(angles: np.ndarray) -> np.ndarray:
    """The (A, 4, 4) normalised reflection Mueller matrices of the tilted film at 633 nm."""
    film = ql.Uniaxial(1.55, 1.70, axis=(np.radians(40.0), np.radians(30.0)))
    result = ql.Stack([ql.Layer(film, 500.0)], exit=1.46).solve([633.0], angles)
    mueller = result.mueller_r[0, :, 0]
    return np.asarray(mueller / mueller[:, :1, :1])


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--output", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).with_suffix(".png"),
                        help="PNG to write (default: liquid_crystal.png beside this script)")
    args = parser.parse_args()

    wl = np.linspace(450.0, 700.0, 501)
    left, right = cholesteric_band(wl)
    centre = np.argmin(np.abs(wl - PITCH * (NO + NE) / 2))
    band = wl[left > 0.9]
    print(f"band n_o p .. n_e p: {NO * PITCH:.0f} .. {NE * PITCH:.0f} nm; R > 0.9 from {band.min():.0f} to "
          f"{band.max():.0f} nm")
    print(f"at {wl[centre]:.0f} nm: R(left circular) = {left[centre]:.4f}, R(right circular) = {right[centre]:.4f}")

    angles_deg = np.linspace(0.0, 80.0, 81)
    mueller = tilted_film_mueller(np.radians(angles_deg))
    print(f"tilted film, 633 nm, 60 degrees: m(1,3) = {mueller[60, 0, 2]:.4f}, m(3,4) = {mueller[60, 2, 3]:.4f}")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no figure")
        return
    figure = plt.figure(figsize=(11.0, 5.5), layout="constrained")
    left_panel, right_panel = figure.subfigures(1, 2, width_ratios=(1.0, 1.3))
    axes = left_panel.subplots()
    axes.plot(wl, left, label="left circular (1, i)/√2")
    axes.plot(wl, right, label="right circular (1, -i)/√2")
    for edge in (NO * PITCH, NE * PITCH):
        axes.axvline(edge, color="grey", linestyle="--", linewidth=0.8)
    axes.set_xlabel("wavelength (nm)")
    axes.set_ylabel("R")
    axes.set_title(f"cholesteric, pitch {PITCH:g} nm, {PITCHES} pitches")
    axes.legend(loc="upper right", fontsize=8)
    grid = right_panel.subplots(4, 4, sharex=True)
    for i in range(4):
        for j in range(4):
            grid[i, j].plot(angles_deg, mueller[:, i, j], linewidth=1.0)
            grid[i, j].set_ylim(-1.05, 1.05)
            grid[i, j].set_title(f"m{i + 1}{j + 1}", fontsize=8)
            grid[i, j].tick_params(labelsize=6)
    right_panel.suptitle("tilted uniaxial film on glass: normalised Mueller matrix over angle (degrees)")
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
