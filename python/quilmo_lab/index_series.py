"""A material's index and its first three wavelength derivatives, for dispersion.

Group delay needs dn/dλ, which every material gives analytically; GDD and TOD also
need d²n/dλ² and d³n/dλ³. These come from the analytic first derivative by central
differences with one Richardson step (error of order h⁴): a single generic rule that
serves every model, including those whose first derivative is itself a long closed
form (Tauc–Lorentz, effective media). The step h = λ/1000 keeps the truncation
error near 1e-11 relative for indices whose nearest resonance is a few hundred nm
away, while the rounding error of differencing dn/dλ stays far below it. A table
interpolated linearly has a piecewise constant dn/dλ, so its GDD and TOD are only
meaningful with cubic interpolation.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

# Relative step of the differences of dn/dλ.
STEP = 1e-3


def index_series(material: Any, wavelengths: npt.NDArray[np.float64], what: str = "material"
                 ) -> npt.NDArray[np.complex128]:
    """(4, W): n, dn/dλ, d²n/dλ², d³n/dλ³ at `wavelengths` (nm), λ in nm."""
    derivative = getattr(material, "derivative", None)
    if derivative is None:
        raise TypeError(f"{what} must be a material with a derivative dn/dλ (a quilmo_lab.materials model "
                        f"or a number); received {type(material).__name__}")
    wl = np.asarray(wavelengths, dtype=np.float64)
    out = np.empty((4, wl.size), dtype=np.complex128)
    out[0] = material(wl)
    out[1] = derivative(wl)
    h = STEP * wl
    # the shifted points may leave the validity range by a fraction of a nm: the
    # formula is smooth there, the range is checked at the wavelengths themselves
    shifted = np.concatenate([wl + h, wl - h, wl + 2 * h, wl - 2 * h])
    try:
        f = derivative(shifted, extrapolate=True)
    except TypeError:  # a derivative without the keyword
        f = derivative(shifted)
    plus, minus, plus2, minus2 = f.reshape(4, wl.size)
    first = (plus - minus) / (2 * h)
    first2 = (plus2 - minus2) / (4 * h)
    out[2] = (4 * first - first2) / 3
    second = (plus - 2 * out[1] + minus) / (h * h)
    second2 = (plus2 - 2 * out[1] + minus2) / (4 * h * h)
    out[3] = (4 * second - second2) / 3
    return out
