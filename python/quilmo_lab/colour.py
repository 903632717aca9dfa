"""CIE colour of reflected and transmitted light, through colour-science.

colour-science (PyPI `colour-science`) is an optional dependency, imported on first
use. XYZ is scaled so that a perfect reflector has Y = 100 under the chosen
illuminant; CIELAB takes that illuminant's own white as reference, so a perfect
reflector is L* = 100, a* = b* = 0 exactly.
"""

from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]

OBSERVER = "CIE 1931 2 Degree Standard Observer"
# The visible range a colour is computed over; a spectrum must cover it.
VISIBLE = (380.0, 780.0)


def _colour_science() -> Any:
    try:
        import colour
    except ImportError:
        raise ImportError("quilmo_lab.colour needs colour-science: pip install colour-science") from None
    return colour


@dataclass(frozen=True)
class Colour:
    """XYZ (Y = 100 for a perfect reflector), xyY (Y the same), Lab (CIELAB, L* 0-100)
    under `illuminant` for `observer`."""

    XYZ: FloatArray
    xyY: FloatArray
    Lab: FloatArray
    illuminant: str
    observer: str


def _illuminant(colour: Any, illuminant: Any) -> tuple[Any, str]:
    if isinstance(illuminant, str):
        try:
            return colour.SDS_ILLUMINANTS[illuminant], illuminant
        except KeyError:
            raise ValueError(f"illuminant {illuminant!r} is not among colour-science's illuminants "
                             f"(for example {', '.join(list(colour.SDS_ILLUMINANTS)[:8])}, ...)") from None
    if isinstance(illuminant, colour.SpectralDistribution):
        return illuminant, str(illuminant.name)
    raise TypeError(f"illuminant must be a name such as 'D65' or a colour.SpectralDistribution; "
                    f"received {type(illuminant).__name__}")


def spectrum_colour(wavelengths: npt.ArrayLike, values: npt.ArrayLike, illuminant: Any = "D65",
                    observer: str = OBSERVER) -> Colour:
    """The colour of light with spectral reflectance or transmittance `values` (fractions,
    shape (W,)) at `wavelengths` (nm, covering 380-780 nm) under `illuminant`."""
    colour = _colour_science()
    wl = np.asarray(wavelengths, dtype=np.float64)
    v = np.asarray(values, dtype=np.float64)
    if wl.ndim != 1 or v.shape != wl.shape:
        raise ValueError(f"values has shape {v.shape} for wavelengths of shape {wl.shape}; expected both (W,)")
    if wl.size < 2 or wl.min() > VISIBLE[0] or wl.max() < VISIBLE[1]:
        raise ValueError(f"wavelengths must cover the visible range {VISIBLE[0]:g}-{VISIBLE[1]:g} nm; "
                         f"received {wl.min():g}-{wl.max():g} nm")
    try:
        cmfs = colour.MSDS_CMFS[observer]
    except KeyError:
        raise ValueError(f"observer {observer!r} is not among colour-science's colour matching functions") from None
    sd_illuminant, name = _illuminant(colour, illuminant)
    order = np.argsort(wl)
    sd = colour.SpectralDistribution(dict(zip(wl[order], v[order])), name="spectrum")
    with warnings.catch_warnings():
        # colour-science announces each interpolation of the spectra onto the observer's
        # grid; that alignment is what is asked for here
        warnings.simplefilter("ignore", colour.utilities.ColourRuntimeWarning)
        XYZ = np.asarray(colour.sd_to_XYZ(sd, cmfs, sd_illuminant), dtype=np.float64)
        unit = colour.SpectralDistribution(dict(zip(wl[order], np.ones(wl.size))), name="perfect reflector")
        white = np.asarray(colour.sd_to_XYZ(unit, cmfs, sd_illuminant), dtype=np.float64)
    xyY = np.asarray(colour.XYZ_to_xyY(XYZ / 100.0), dtype=np.float64) * np.array([1.0, 1.0, 100.0])
    Lab = np.asarray(colour.XYZ_to_Lab(XYZ / 100.0, colour.XYZ_to_xy(white / 100.0)), dtype=np.float64)
    return Colour(XYZ, xyY, Lab, name, observer)


def stack_colour(stack: Any, side: str = "r", angle: float = 0.0, polarisation: str = "mean",
                 illuminant: Any = "D65", observer: str = OBSERVER, step: float = 5.0) -> Colour:
    """The colour of the light a Stack reflects (side="r") or transmits ("t") at `angle`
    (radians), for "s", "p" or unpolarised ("mean") light, from its spectrum over
    380-780 nm every `step` nm."""
    if side not in ("r", "t"):
        raise ValueError(f"side must be 'r' or 't'; received {side!r}")
    phis = {"s": 0.0, "p": math.pi / 2, "mean": math.pi / 4}
    if polarisation not in phis:
        raise ValueError(f"polarisation must be 's', 'p' or 'mean'; received {polarisation!r}")
    wl = np.arange(VISIBLE[0], VISIBLE[1] + step / 2, step)
    result = stack.solve(wl, angle)
    spectrum = result.R(phis[polarisation]) if side == "r" else result.T(phis[polarisation])
    return spectrum_colour(wl, spectrum[0, 0], illuminant, observer)
