"""Media given by their relative permittivity ε, as PyMoosh and most electromagnetics codes take them."""

from __future__ import annotations

import math
import numbers
from typing import TYPE_CHECKING, Any

import numpy as np

from quilmo_lab._checks import number_array, shape_text, type_name
from quilmo_lab.materials.base import Material, index_from_permittivity
from quilmo_lab.materials.constant import Constant
from quilmo_lab.materials.function import _PermittivityFunction

if TYPE_CHECKING:
    from quilmo_lab._media import SampledIndices


def from_permittivity(eps: Any, *, valid_range: tuple[float, float] | None = None, name: str | None = None,
                      extrapolate: bool = False) -> Material | SampledIndices:
    """The medium of relative permittivity ε: quilmo_lab takes indices, n + ik = √ε.

    Every medium in quilmo_lab is a complex refractive index n + ik (k > 0 absorbing,
    the exp(-iωt) convention of `tmm` and PyMoosh alike). Codes that take ε (PyMoosh's
    ``Structure``, most electromagnetics solvers) are converted here, never by guessing:
    a permittivity passed where an index is expected would be taken as n.

    Parameters
    ----------
    eps : complex, array_like or callable
        A constant ε; ε at each wavelength of the solve (1-D, as an array of
        indices is given); or a callable ε(λ) of the vacuum wavelength in nm (a
        function of PyMoosh's kind), vectorised or not, as `Function` calls it.
    valid_range : tuple of float, optional
        (low, high) in nm where `eps` holds (default: every wavelength, or for an
        interpolator the span of its nodes, as for `Function`).
    name : str, optional
        The name a Stack shows.
    extrapolate : bool, optional
        Call `eps` outside `valid_range` instead of refusing.

    Returns
    -------
    Material or array medium
        A `Constant`, a `Function` computing √ε(λ), or the indices √ε over the
        wavelengths of the solve (what an array given to `Layer` becomes).

    Raises
    ------
    TypeError, ValueError
        For ε that is not a number, a 1-D array of numbers or a callable, or not finite.

    Notes
    -----
    The root is the one with k ≥ 0 (Re n ≥ 0 where ε is real and positive): ε = -1
    gives n = i, a metal below its plasma frequency. Every material has the inverse,
    `Material.permittivity`.

    Examples
    --------
    >>> print(ql.materials.from_permittivity(2.25)(500.0))
    (1.5+0j)
    >>> drude = ql.materials.from_permittivity(lambda wl: 1.0 - (wl / 150.0) ** 2 + 0.5j)
    >>> print(np.round(drude(600.0), 4), np.round(drude.permittivity(600.0), 6))
    (0.0645+3.8735j) (-15+0.5j)
    >>> ql.Stack([ql.Layer(ql.materials.from_permittivity([2.25, 2.30]), 100.0)]).indices([500.0, 600.0]).shape
    (3, 2)
    """
    if isinstance(eps, numbers.Complex) and not isinstance(eps, bool):
        value = complex(eps)
        if not (math.isfinite(value.real) and math.isfinite(value.imag)):
            raise ValueError(f"eps must be finite; received {value!r}")
        index = complex(index_from_permittivity(np.array([value]))[0])
        return Constant(index, name=name, valid_range=(0.0, math.inf) if valid_range is None else valid_range,
                        extrapolate=extrapolate)
    if callable(eps) and not isinstance(eps, (np.ndarray, list, tuple)):
        return _PermittivityFunction(eps, valid_range=valid_range, name=name or _callable_name(eps),
                                     extrapolate=extrapolate)
    if isinstance(eps, (np.ndarray, list, tuple)):
        from quilmo_lab._media import SampledIndices  # the media module imports the library, built of materials

        array = number_array("eps", eps, complex_allowed=True)
        if array.ndim != 1:
            raise ValueError(f"eps as an array must be one-dimensional, one ε per wavelength of the solve; "
                             f"received shape {shape_text(array.shape)}")
        if not np.all(np.isfinite(array)):
            raise ValueError("eps must be finite; received an array with NaN or infinite values")
        return SampledIndices(index_from_permittivity(array.astype(np.complex128)))
    raise TypeError(f"eps must be a number, a 1-D array over the wavelengths or a callable ε(λ); received "
                    f"{type_name(eps)}")


def _callable_name(eps: Any) -> str:
    return "√" + getattr(eps, "__name__", type(eps).__name__)
