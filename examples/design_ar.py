"""A broadband anti-reflection coating for 420-680 nm on N-BK7, grown by needle optimisation
=========================================================================================

Starts from a single SiO2 layer on N-BK7 and lets the needle method (thin layers of
TiO2 or SiO2 inserted where they lower the merit most, then refinement of all
thicknesses with the analytic Jacobian) grow the design, with dispersive materials
from the built-in library, at normal incidence. Prints every step, the final design,
its average and largest reflectance over the band and its reflected colour under D65
(when colour-science is installed), and writes a PNG of the spectra (when matplotlib
is installed).

Run it as::

    python examples/design_ar.py [--output design_ar.png]
"""

import argparse
import pathlib
import sys
import time

import numpy as np

import quilmo_lab as ql
from quilmo_lab import design

# Evaporated films rather than the bulk crystals: a coating's TiO2 is far below
# rutile's index, and both tables cover the band and the 380-780 nm of the colour.
LOW, HIGH = ql.library["SiO2 film"], ql.library["TiO2 film"]
SUBSTRATE = ql.library["N-BK7"]
BAND = np.linspace(420.0, 680.0, 105)  # nm, every 2.5 nm


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--output", type=pathlib.Path,
                        # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
                        default=pathlib.Path(sys.argv[0]).with_name("design_ar.png"))
    args = parser.parse_args()

    start = time.perf_counter()
    targets = [design.Target("R", BAND, value=0.0, tolerance=0.001)]
    initial = ql.Stack([ql.Layer(LOW, 100.0)], incident=1.0, exit=SUBSTRATE)
    # layers under 5 nm are dropped; an insertion must lower the merit by 1 % to be kept
    result = design.needle(initial, targets, materials=(HIGH, LOW), min_thickness=5.0, improvement=0.01)
    elapsed = time.perf_counter() - start

    print("step  layers  merit    total thickness")
    for i, step in enumerate(result.steps):
        print(f"{i:>4}  {step.layers:>6}  {step.merit:7.3f}  {step.total_thickness:7.1f} nm")
    print(f"stopped: {result.stopped}")
    print(f"design: {result.stack!r}")
    R = result.stack.solve(BAND).R(0.0)[0, 0]
    bare = initial.solve(BAND).R(0.0)[0, 0]
    print(f"reflectance over {BAND[0]:g}-{BAND[-1]:g} nm: average {100 * R.mean():.3f} %, "
          f"maximum {100 * R.max():.3f} %")
    print(f"designed in {elapsed:.2f} s")
    try:
        from quilmo_lab.colour import stack_colour

        c = stack_colour(result.stack, "r")
        print(f"reflected colour under D65: xyY = ({c.xyY[0]:.4f}, {c.xyY[1]:.4f}, {c.xyY[2]:.3f}), "
              f"L*a*b* = ({c.Lab[0]:.2f}, {c.Lab[1]:.2f}, {c.Lab[2]:.2f})")
    except ImportError as error:
        print(f"(no colour: {error})")

    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed; no figure written")
        return
    fig, (ax, steps) = plt.subplots(1, 2, figsize=(11, 4), gridspec_kw={"width_ratios": [2, 1]})
    ax.plot(BAND, 100 * bare, label="start: one SiO2 layer")
    ax.plot(BAND, 100 * R, label=f"needle design, {len(result.stack.layers)} layers")
    ax.set_xlabel("wavelength (nm)")
    ax.set_ylabel("reflectance (%)")
    ax.set_ylim(0, max(1.0, 100 * float(bare.max()) * 1.1))
    ax.set_title("Broadband AR on N-BK7 (TiO2 / SiO2), normal incidence")
    ax.legend()
    steps.semilogy([step.merit for step in result.steps], "o-")
    for i, step in enumerate(result.steps):
        steps.annotate(str(step.layers), (i, step.merit), textcoords="offset points", xytext=(4, 4), fontsize=8)
    steps.set_xlabel("needle step")
    steps.set_ylabel("merit (RMS of R / 0.1 %)")
    steps.set_title("merit after each insertion (layers marked)")
    fig.tight_layout()
    fig.savefig(args.output, dpi=120)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
