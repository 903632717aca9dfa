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
from types import ModuleType
from typing import TYPE_CHECKING, TypeAlias

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, number_array, shape_text, type_name
from quilmo_lab._optional import colour_module
from quilmo_lab._polarisation import Polarisation, check_polarisation
from quilmo_lab.dispersion import SIDES, Side
from quilmo_lab.stack import Stack

if TYPE_CHECKING:
    from colour import SpectralDistribution

FloatArray = npt.NDArray[np.float64]
# An illuminant's name among colour-science's (such as "D65"), or its spectral distribution.
Illuminant: TypeAlias = "str | SpectralDistribution"

OBSERVER = "CIE 1931 2 Degree Standard Observer"
# The visible range a colour is computed over; a spectrum must cover it.
VISIBLE = (380.0, 780.0)


@dataclass(frozen=True)
class Colour:
    """XYZ (Y = 100 for a perfect reflector), xyY (Y the same), Lab (CIELAB, L* 0-100)
    under `illuminant` for `observer`."""

    XYZ: FloatArray
    xyY: FloatArray
    Lab: FloatArray
    illuminant: str
    observer: str


def _illuminant(colour: ModuleType, illuminant: Illuminant) -> tuple[SpectralDistribution, str]:
    if isinstance(illuminant, str):
        try:
            distribution: SpectralDistribution = colour.SDS_ILLUMINANTS[illuminant]
        except KeyError:
            raise ValueError(f"illuminant must be one of colour-science's illuminants (for example "
                             f"{', '.join(list(colour.SDS_ILLUMINANTS)[:8])}, ...); received {illuminant!r}") from None
        return distribution, illuminant
    if isinstance(illuminant, colour.SpectralDistribution):
        return illuminant, str(illuminant.name)
    raise TypeError(f"illuminant must be a name such as 'D65' or a colour.SpectralDistribution; "
                    f"received {type_name(illuminant)}")


def spectrum_colour(wavelengths: npt.ArrayLike, values: npt.ArrayLike, illuminant: Illuminant = "D65",
                    observer: str = OBSERVER) -> Colour:
    """The colour of light with spectral reflectance or transmittance `values` (fractions,
    shape (W,)) at `wavelengths` (nm, covering 380-780 nm) under `illuminant`."""
    colour = colour_module("quilmo_lab.colour")
    wl = number_array("wavelengths", wavelengths).astype(np.float64)
    v = number_array("values", values).astype(np.float64)
    if wl.ndim != 1 or v.shape != wl.shape:
        raise ValueError(f"values must have the shape (W,) of the wavelengths; received shape {shape_text(v.shape)} "
                         f"for wavelengths of shape {shape_text(wl.shape)}")
    if wl.size < 2 or wl.min() > VISIBLE[0] or wl.max() < VISIBLE[1]:
        raise ValueError(f"wavelengths must cover the visible range {VISIBLE[0]:g}-{VISIBLE[1]:g} nm; "
                         f"received {wl.min():g}-{wl.max():g} nm")
    try:
        cmfs = colour.MSDS_CMFS[observer]
    except KeyError:
        raise ValueError(f"observer must be one of colour-science's colour matching functions (for example "
                         f"{OBSERVER!r}); received {observer!r}") from None
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


# The weights of each polarisation as angles, as stack_colour has always weighted them
# (cos^2 and sin^2 of pi/4 are not quite 0.5 each in the last bit).
_ANGLES = {"s": 0.0, "p": math.pi / 2, "unpolarized": math.pi / 4}


def stack_colour(stack: Stack, side: Side = "r", angle: float = 0.0, polarisation: Polarisation = "unpolarized",
                 illuminant: Illuminant = "D65", observer: str = OBSERVER, step: float = 5.0) -> Colour:
    """The colour of the light a Stack reflects (side="r") or transmits ("t") at `angle`
    (radians), for "s", "p", "unpolarized" light or a polarisation angle, from its spectrum
    over 380-780 nm every `step` nm."""
    choice("side", side, SIDES)
    check_polarisation(polarisation)
    phi = _ANGLES[polarisation] if isinstance(polarisation, str) else polarisation
    wl = np.arange(VISIBLE[0], VISIBLE[1] + step / 2, step)
    result = stack.solve(wl, angle)
    spectrum = result.R(phi) if side == "r" else result.T(phi)
    return spectrum_colour(wl, spectrum[0, 0], illuminant, observer)
