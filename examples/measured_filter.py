"""What a spectrophotometer sees of a narrow-band filter and of a rough mirror
===========================================================================

A Fabry-Perot band-pass for 550 nm (two quarter-wave TiO2/SiO2 mirrors around a
half-wave spacer) on glass, solved three ways: a collimated beam at normal
incidence, the same beam focused by f/2 optics (a cone of 14.5 degrees half
angle around the normal), and the f/2 beam seen through a spectrometer with a
2 nm slit. The cone lowers, widens and shifts the pass band towards the blue;
the slit smooths it further. Then a silver mirror with 0, 5 and 10 nm of RMS
roughness on its face (Debye-Waller factors, the specular loss of a rough metal):
roughness takes reflectance away in the blue. Prints
the peak transmittances and widths and, when matplotlib is installed, writes
two PNGs.

Run it as::

    python examples/measured_filter.py [--output-dir DIR]
"""

import argparse
import pathlib
import sys

import numpy as np

import quilmo_lab as ql

CENTRE = 550.0  # nm
HIGH, LOW, GLASS = 2.35, 1.46, 1.52


def band_pass() -> ql.Stack:
    mirror = [ql.Layer(HIGH, CENTRE / (4 * HIGH)), ql.Layer(LOW, CENTRE / (4 * LOW))] * 4
    spacer = [ql.Layer(HIGH, CENTRE / (4 * HIGH)), ql.Layer(LOW, CENTRE / (2 * LOW))]
    back = [ql.Layer(HIGH, CENTRE / (4 * HIGH)), ql.Layer(LOW, CENTRE / (4 * LOW))] * 3 + \
        [ql.Layer(HIGH, CENTRE / (4 * HIGH))]
    return ql.Stack(mirror + spacer + back, exit=GLASS)


def width(wl: np.ndarray, t: np.ndarray) -> float:
    above = wl[t >= t.max() / 2]
    return float(above.max() - above.min())


def main() -> None:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    # beside the script: sys.argv[0], since the documentation's gallery runs it without __file__
    parser.add_argument("--output-dir", type=pathlib.Path, default=pathlib.Path(sys.argv[0]).parent,
                        help="where to write the PNGs (default: beside this script)")
    args = parser.parse_args()

    stack = band_pass()
    wl = np.linspace(530.0, 565.0, 701)
    cone = ql.Cone(f_number=2.0)
    curves = {
        "collimated, 0 degrees": stack.solve(wl).T()[0, 0],
        "f/2 cone": stack.solve(wl, cone=cone).T()[0, 0],
        "f/2 cone, 2 nm slit": stack.solve(wl, cone=cone, bandwidth=ql.Slit(2.0)).T()[0, 0],
    }
    for name, t in curves.items():
        print(f"{name:>22}: peak T {t.max():.3f} at {wl[t.argmax()]:.2f} nm, FWHM {width(wl, t):.2f} nm")

    silver = ql.Drude(9.0, 0.02, eps_inf=3.7, name="silver (Drude)")
    mirror_wl = np.linspace(350.0, 900.0, 221)
    mirrors = {}
    for sigma in (0.0, 5.0, 10.0):
        # Debye-Waller: the specular loss exp(-(4 pi sigma / wavelength)^2) of a rough metal
        rough = ql.Stack([], exit=silver, exit_roughness=sigma)
        mirrors[f"{sigma:g} nm RMS"] = rough.solve(mirror_wl, roughness_model="debye-waller").R()[0, 0]
        print(f"silver, {sigma:g} nm roughness: R at 400 nm {np.interp(400.0, mirror_wl, mirrors[f'{sigma:g} nm RMS']):.4f}")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no figures")
        return
    figure, axes = plt.subplots(figsize=(7.0, 4.5), layout="constrained")
    for name, t in curves.items():
        axes.plot(wl, t, label=name)
    axes.set_xlabel("wavelength (nm)")
    axes.set_ylabel("T (unpolarised)")
    axes.set_title("A 550 nm band-pass filter as an instrument sees it")
    axes.legend()
    path = args.output_dir / "measured_filter.png"
    figure.savefig(path, dpi=120)
    print(f"wrote {path}")

    figure, axes = plt.subplots(figsize=(7.0, 4.5), layout="constrained")
    for name, r in mirrors.items():
        axes.plot(mirror_wl, r, label=name)
    axes.set_xlabel("wavelength (nm)")
    axes.set_ylabel("R (unpolarised, normal incidence)")
    axes.set_title("A silver mirror, smooth and rough (Debye-Waller)")
    axes.legend()
    path = args.output_dir / "rough_mirror.png"
    figure.savefig(path, dpi=120)
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
