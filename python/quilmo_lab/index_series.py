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

from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import type_name
from quilmo_lab.materials.base import Material

if TYPE_CHECKING:
    from quilmo_lab._media import Medium
    from quilmo_lab.stack import Stack

# Relative step of the differences of dn/dλ.
STEP = 1e-3


def index_series(material: Medium, wavelengths: npt.NDArray[np.float64], what: str = "material"
                 ) -> npt.NDArray[np.complex128]:
    """(4, W): n, dn/dλ, d²n/dλ², d³n/dλ³ at `wavelengths` (nm), λ in nm."""
    if not isinstance(material, Material):
        raise TypeError(f"{what} must be a material with a derivative dn/dλ (a quilmo_lab.materials model "
                        f"or a number); received {type_name(material)}")
    wl = np.asarray(wavelengths, dtype=np.float64)
    out = np.empty((4, wl.size), dtype=np.complex128)
    out[0] = material(wl)
    out[1] = material.derivative(wl)
    h = STEP * wl
    # the shifted points may leave the validity range by a fraction of a nm: the
    # formula is smooth there, the range is checked at the wavelengths themselves
    shifted = np.concatenate([wl + h, wl - h, wl + 2 * h, wl - 2 * h])
    f = material.derivative(shifted, extrapolate=True)
    plus, minus, plus2, minus2 = f.reshape(4, wl.size)
    first = (plus - minus) / (2 * h)
    first2 = (plus2 - minus2) / (4 * h)
    out[2] = (4 * first - first2) / 3
    second = (plus - 2 * out[1] + minus) / (h * h)
    second2 = (plus2 - 2 * out[1] + minus2) / (4 * h * h)
    out[3] = (4 * second - second2) / 3
    return out


def stack_index_derivatives(stack: Stack, wavelengths: npt.NDArray[np.float64]) -> npt.NDArray[np.complex128]:
    """(3, media, W): dn/dλ, d²n/dλ², d³n/dλ³ of every medium of `stack` at `wavelengths` (nm)."""
    media = [("incident", stack.incident)]
    media += [(f"layers[{i}].material", layer.material) for i, layer in enumerate(stack.layers)]
    media.append(("exit", stack.exit))
    derivatives = np.empty((3, len(media), np.size(wavelengths)), dtype=np.complex128)
    for row, (what, material) in enumerate(media):
        derivatives[:, row, :] = index_series(material, wavelengths, what)[1:]
    return derivatives
