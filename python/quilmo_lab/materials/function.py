"""A material given by any callable of the wavelength: a function, a SciPy interpolator."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import Any, Never

import numpy as np

from quilmo_lab._checks import material_callable, no_permittivity_keyword, per_wavelength_values, vectorised_values
from quilmo_lab.materials.base import ComplexArray, Material, RealArray, index_from_permittivity

# The relative step of the central differences that give dñ/dλ: small enough for a truncation
# error of ~1e-10 on smooth data, large enough that rounding stays below it.
_RELATIVE_STEP = 2.0 ** -17


class Function(Material):
    """A material whose index is computed by a callable n(λ) of the vacuum wavelength in nm.

    What `tmm` users pass as a dispersive index (a function, a ``scipy.interpolate.interp1d``
    object) becomes a material: `Layer` and `Stack` wrap any callable in one.

    Parameters
    ----------
    function : callable
        Takes vacuum wavelengths in nm and returns n + ik (k > 0 absorbing), the
        refractive index, not the permittivity (for ε(λ) use `from_permittivity`).
    valid_range : tuple of float, optional
        (low, high) in nm where `function` holds (default: the span of the nodes of an
        interpolator that has them as a 1-D ``x``, as SciPy's ``interp1d``,
        ``CubicSpline`` and ``PchipInterpolator`` do; else every wavelength).
    name : str, optional
        The name a Stack shows (default: the callable's ``__name__`` or type name).
    extrapolate : bool, optional
        Call `function` outside `valid_range` instead of refusing.

    Raises
    ------
    TypeError
        For an argument that is not callable, a class, or a keyword ``eps``,
        ``epsilon`` or ``permittivity`` (this takes indices).

    Notes
    -----
    `function` is called once with the whole array of wavelengths (a NumPy array in
    nm); where that fails (a function written with `math` or an ``if`` on the
    wavelength) or returns other than one value per wavelength, it is called once per
    wavelength with a float. What it returns must be numbers; a failure of the
    callable itself propagates unchanged. The derivative `dispersion` needs comes
    from central differences with a step of λ·2⁻¹⁷ (one-sided at the ends of
    `valid_range`): about 1e-10 relative for smooth functions, the slope of the
    segment for a linear interpolator.

    Examples
    --------
    >>> film = ql.materials.Function(lambda wl: 1.45 + 3600.0 / wl**2, valid_range=(400.0, 900.0))
    >>> print(film(600.0))
    (1.46+0j)
    >>> from scipy.interpolate import interp1d
    >>> measured = interp1d([400.0, 800.0], [2.1 + 0.02j, 2.0 + 0.0j])
    >>> print(np.round(ql.Layer(measured, 50.0).material([600.0]), 4))
    [2.05+0.01j]
    """

    _argument = "function"  # what errors about the callable's values call it

    def __init__(self, function: Callable[..., Any], *, valid_range: tuple[float, float] | None = None,
                 name: str | None = None, extrapolate: bool = False, **mistaken: Never) -> None:
        no_permittivity_keyword("Function", mistaken)
        self.function = material_callable("function", function)
        if valid_range is None:
            valid_range = _node_span(function)
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return getattr(self.function, "__name__", type(self.function).__name__)

    def _values(self, wl: RealArray) -> ComplexArray:
        """The callable's values at `wl`, vectorised where it allows, else one wavelength at a time."""
        flat = wl.reshape(-1)
        try:
            vectorised = self.function(flat.copy())  # a copy: the callable may write into its argument
        except (TypeError, ValueError):
            vectorised = None  # written for one float at a time
        values = None if vectorised is None else vectorised_values(vectorised, flat.size)
        if values is None:
            values = per_wavelength_values(self._argument, [self.function(float(x)) for x in flat])
        return values.reshape(wl.shape)

    def _index(self, wl: RealArray) -> ComplexArray:
        return self._values(wl)

    def _derivative(self, wl: RealArray) -> ComplexArray:
        step = wl * _RELATIVE_STEP
        low, high = self.valid_range
        inside = (wl >= low) & (wl <= high)
        # Stay inside the valid range where the wavelength is, so that an interpolator that
        # refuses beyond its table is never asked outside it.
        below = np.where(inside, np.maximum(wl - step, low), wl - step)
        above = np.where(inside, np.minimum(wl + step, high), wl + step)
        slope: ComplexArray = (self._index(above) - self._index(below)) / (above - below)
        return slope


def _node_span(function: Any) -> tuple[float, float]:
    """The wavelengths an interpolator's nodes span (its ``x``), or every wavelength."""
    nodes = getattr(function, "x", None)
    if isinstance(nodes, np.ndarray) and nodes.ndim == 1 and nodes.size >= 2 and nodes.dtype.kind in "iuf":
        low, high = float(nodes.min()), float(nodes.max())
        if math.isfinite(low) and math.isfinite(high) and 0.0 <= low < high:
            return low, high
    return 0.0, math.inf


class _PermittivityFunction(Function):
    """A Function of ε(λ): the index is its root with k ≥ 0."""

    _argument = "eps"

    def _index(self, wl: RealArray) -> ComplexArray:
        return index_from_permittivity(self._values(wl))

    def __repr__(self) -> str:
        low, high = self.valid_range
        return f"<Function of the permittivity {self.name!r}, valid {low:g}-{high:g} nm>"
