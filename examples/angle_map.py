"""p-polarised reflectance of a coated glass over wavelength and angle of incidence
================================================================================

A quarter-wave MgF2 anti-reflection coating (designed for 550 nm) on glass,
solved on a grid of 1,000 wavelengths from 400 nm to 800 nm and 90 angles
from 0 to 89 degrees in one call of quilmo_lab.solve. Towards grazing
incidence R_p rises to 1, but a little below Brewster's angle of bare glass
(56.7 degrees) it dips below 0.1 % at every wavelength: the dark band across
the map. Prints where R_p is smallest and, when matplotlib is installed,
writes a PNG.

Run it as::

    python examples/angle_map.py [--output angle_map.png]
"""

import argparse
import math
import pathlib
import sys

import numpy as np

import quilmo_lab as ql

DESIGN_WAVELENGTH = 550.0  # nm
AIR, MGF2, GLASS = 1.0, 1.38, 1.52


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--output", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).with_suffix(".png"),
                        help="PNG to write (default: angle_map.png beside this script)")
    args = parser.parse_args()

    wl = np.linspace(400.0, 800.0, 1000)
    angles_deg = np.arange(90.0)
    result = ql.solve([AIR, MGF2, GLASS], [DESIGN_WAVELENGTH / (4 * MGF2)], wl, np.radians(angles_deg))
    r_p = result.R_p[0]  # (angle, wavelength)

    brewster = math.degrees(math.atan(GLASS / AIR))
    oblique = angles_deg >= 30.0
    darkest = angles_deg[oblique][np.argmin(r_p[oblique], axis=0)]
    print(f"grid: {result.shape[1]} angles x {result.shape[2]} wavelengths")
    print(f"R_p at normal incidence, 550 nm: {r_p[0, np.argmin(abs(wl - 550))]:.4%}")
    print(f"angle of least R_p beyond 30 degrees: {darkest.min():.0f} to {darkest.max():.0f} degrees, "
          f"R_p there at most {r_p[oblique].min(axis=0).max():.3%} "
          f"(Brewster's angle of bare glass: {brewster:.1f} degrees)")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        from matplotlib.colors import PowerNorm
    except ImportError:
        print("matplotlib is not installed: no figure")
        return
    figure, axes = plt.subplots(figsize=(7.5, 5.0), layout="constrained")
    image = axes.pcolormesh(wl, angles_deg, r_p, norm=PowerNorm(0.4, vmin=0.0, vmax=0.2),
                            cmap="magma", shading="auto")
    axes.plot(wl, darkest, color="cyan", linewidth=0.8, label="least $R_p$ beyond 30 degrees")
    axes.axhline(brewster, color="white", linestyle="--", linewidth=0.8, label="Brewster's angle of glass")
    axes.legend(loc="upper left", fontsize=8, facecolor="black", labelcolor="white")
    axes.set_xlabel("wavelength (nm)")
    axes.set_ylabel("angle of incidence (degrees)")
    axes.set_title("$R_p$ of a quarter-wave MgF$_2$ coating on glass")
    figure.colorbar(image, ax=axes, label="$R_p$ (colour scale ends at 0.2)")
    figure.savefig(args.output, dpi=120)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
