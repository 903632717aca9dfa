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

from quilmo_lab._checks import choice, number_array, real_number, shape_text, type_name
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
# The finest spectrum stack_colour computes (some 40,000 wavelengths).
MIN_STEP = 0.01


@dataclass(frozen=True)
class Colour:
    """A colour in CIE 1931 XYZ, xyY and CIELAB.

    Attributes
    ----------
    XYZ : ndarray
        Tristimulus values, Y = 100 for a perfect reflector.
    xyY : ndarray
        Chromaticity x, y and the same Y.
    Lab : ndarray
        CIELAB L* (0 to 100), a*, b*, with the illuminant's own white as reference.
    illuminant : str
        The illuminant's name.
    observer : str
        The colour matching functions' name.

    Examples
    --------
    >>> from quilmo_lab.colour import stack_colour
    >>> coating = ql.Stack([ql.Layer(1.38, 550.0 / (4 * 1.38))], exit=1.52)
    >>> reflected = stack_colour(coating)
    >>> reflected.illuminant, bool(reflected.Lab[1] > 0 and reflected.Lab[2] < 0)  # purple
    ('D65', True)
    """

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
    """The colour of light with a given spectral reflectance or transmittance under an illuminant.

    Parameters
    ----------
    wavelengths : array_like
        Wavelengths in nm covering 380-780 nm, (W,).
    values : array_like
        The reflectance or transmittance at each, fractions, (W,).
    illuminant : str or colour.SpectralDistribution, optional
        An illuminant's name among colour-science's ("D65", "A", ...) or its spectrum.
    observer : str, optional
        colour-science's name of the colour matching functions.

    Returns
    -------
    Colour

    Raises
    ------
    ImportError
        Without colour-science (``pip install "quilmo[colour]"``).
    TypeError, ValueError
        For spectra of the wrong shape or range, or an unknown illuminant or observer.

    Notes
    -----
    XYZ is scaled so that a perfect reflector has Y = 100 under the illuminant; CIELAB
    takes that illuminant's own white as reference, so a perfect reflector is
    L* = 100, a* = b* = 0.

    Examples
    --------
    A perfect reflector sits on the white point of D65:

    >>> from quilmo_lab.colour import spectrum_colour
    >>> wl = np.arange(360.0, 831.0, 5.0)
    >>> white = spectrum_colour(wl, np.ones(wl.size))
    >>> [round(float(v), 3) for v in (*white.xyY[:2], white.Lab[0])]
    [0.313, 0.329, 100.0]
    """
    colour = colour_module("quilmo_lab.colour")
    wl = number_array("wavelengths", wavelengths).astype(np.float64)
    v = number_array("values", values).astype(np.float64)
    if wl.ndim != 1 or v.shape != wl.shape:
        raise ValueError(f"values must have the shape (W,) of the wavelengths; received shape {shape_text(v.shape)} "
                         f"for wavelengths of shape {shape_text(wl.shape)}")
    if not (np.isfinite(wl).all() and np.isfinite(v).all()):
        where = "wavelengths" if not np.isfinite(wl).all() else "values"
        bad = np.count_nonzero(~np.isfinite(wl if where == "wavelengths" else v))
        raise ValueError(f"{where} must be finite; received {bad} NaN or infinite entries")
    if np.unique(wl).size != wl.size:
        raise ValueError(f"wavelengths must not repeat (one value per wavelength); received "
                         f"{wl.size - np.unique(wl).size} repeated")
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
    """The colour of the light a stack reflects or transmits.

    Parameters
    ----------
    stack : Stack
        The design; its materials must cover 380-780 nm.
    side : {"r", "t"}, optional
        Reflected or transmitted light.
    angle : float, optional
        The angle of incidence in radians.
    polarisation : {"unpolarized", "s", "p"} or float, optional
        The light's polarisation, or an angle weighting s by cos² and p by sin².
    illuminant : str or colour.SpectralDistribution, optional
        As for `spectrum_colour`.
    observer : str, optional
        As for `spectrum_colour`.
    step : float, optional
        The spacing in nm of the spectrum computed over 380-780 nm, 0.01 to 400.

    Returns
    -------
    Colour

    Raises
    ------
    ImportError
        Without colour-science (``pip install "quilmo[colour]"``).

    See Also
    --------
    spectrum_colour : The colour of any spectrum.

    Examples
    --------
    A quarter-wave MgF2 layer at 550 nm reflects purple and transmits nearly white light:

    >>> from quilmo_lab.colour import stack_colour
    >>> coating = ql.Stack([ql.Layer(1.38, 550.0 / (4 * 1.38))], exit=1.52)
    >>> reflected = stack_colour(coating, "r")
    >>> bool(reflected.Lab[1] > 0 and reflected.Lab[2] < 0)
    True
    >>> bool(stack_colour(coating, "t", angle=0.3, polarisation="p").Lab[0] > 95)
    True
    """
    choice("side", side, SIDES)
    check_polarisation(polarisation)
    phi = _ANGLES[polarisation] if isinstance(polarisation, str) else polarisation
    step = real_number("step", step, minimum=MIN_STEP)
    if step > VISIBLE[1] - VISIBLE[0]:
        raise ValueError(f"step must be at most the visible range's {VISIBLE[1] - VISIBLE[0]:g} nm; received {step!r}")
    wl = np.arange(VISIBLE[0], VISIBLE[1] + step / 2, step)
    result = stack.solve(wl, angle)
    spectrum = result.R(phi) if side == "r" else result.T(phi)
    return spectrum_colour(wl, spectrum[0, 0], illuminant, observer)
