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
    """A material's index and its first three wavelength derivatives.

    Parameters
    ----------
    material : Material
        The material (a Stack's medium given as an array has no derivative).
    wavelengths : ndarray
        Vacuum wavelengths in nm, (W,).
    what : str, optional
        How errors name the material.

    Returns
    -------
    ndarray
        (4, W) complex: n, dn/dλ, d²n/dλ², d³n/dλ³, derivatives per nm.

    Raises
    ------
    TypeError
        For a medium that is not a Material.

    See Also
    --------
    quilmo_lab.dispersion : Takes these as `index_derivatives`.

    Notes
    -----
    dn/dλ is the material's analytic derivative; the higher two are central differences
    of it with one Richardson step, h = λ/1000.

    Examples
    --------
    For Cauchy's n = A + B/λ², dn/dλ = -2B/λ³:

    >>> from quilmo_lab.index_series import index_series
    >>> series = index_series(ql.Cauchy(1.5, 4000.0), np.array([500.0]))
    >>> print(f"{series[1, 0].real:.4e} {-2 * 4000.0 / 500.0**3:.4e}")
    -6.4000e-05 -6.4000e-05
    """
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
    """The first three wavelength derivatives of the index of every medium of a stack.

    Parameters
    ----------
    stack : Stack
        The design; each of its media must be a Material.
    wavelengths : ndarray
        Vacuum wavelengths in nm, (W,).

    Returns
    -------
    ndarray
        (3, media, W) complex: dn/dλ, d²n/dλ², d³n/dλ³ per nm, the incidence medium
        first; `dispersion`'s `index_derivatives` for the stack's indices.

    Raises
    ------
    TypeError
        For a medium that is not a Material.

    See Also
    --------
    index_series : The same for one material, with the index itself.

    Examples
    --------
    >>> from quilmo_lab.index_series import stack_index_derivatives
    >>> stack = ql.Stack([ql.Layer("TiO2", 100.0)], exit="N-BK7")
    >>> stack_index_derivatives(stack, np.array([600.0, 800.0])).shape
    (3, 3, 2)
    """
    media = [("incident", stack.incident)]
    media += [(f"layers[{i}].material", layer.material) for i, layer in enumerate(stack.layers)]
    media.append(("exit", stack.exit))
    derivatives = np.empty((3, len(media), np.size(wavelengths)), dtype=np.complex128)
    for row, (what, material) in enumerate(media):
        derivatives[:, row, :] = index_series(material, wavelengths, what)[1:]
    return derivatives
