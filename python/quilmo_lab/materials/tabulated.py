"""Measured n and k at listed wavelengths, interpolated between them."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, real_vector, shape_text
from quilmo_lab.materials.base import Material, RealArray


def _natural_spline_curvatures(x: npt.NDArray[np.float64], y: npt.NDArray[Any]) -> Any:
    """Second derivatives M of the natural cubic spline through (x, y), by the Thomas algorithm."""
    count = x.size
    curvature = np.zeros(count, dtype=y.dtype)
    if count < 3:
        return curvature
    h = np.diff(x)
    slope = np.diff(y) / h
    diagonal = 2.0 * (h[:-1] + h[1:])
    rhs = 6.0 * np.diff(slope)
    # Forward elimination of the symmetric tridiagonal system (sub/super-diagonal h[1:-1]).
    for i in range(1, count - 2):
        factor = h[i] / diagonal[i - 1]
        diagonal[i] -= factor * h[i]
        rhs[i] -= factor * rhs[i - 1]
    inner = np.empty_like(rhs)
    inner[-1] = rhs[-1] / diagonal[-1]
    for i in range(count - 4, -1, -1):
        inner[i] = (rhs[i] - h[i + 1] * inner[i + 1]) / diagonal[i]
    curvature[1:-1] = inner
    return curvature


class Tabulated(Material):
    """An index from a table of measurements, interpolated between its rows.

    Parameters
    ----------
    wavelengths : array_like
        Vacuum wavelengths in nm, strictly increasing, at least two.
    n : array_like
        The real index at each wavelength, or the complex n + ik.
    k : array_like, optional
        The extinction coefficient at each wavelength, with a real `n`.
    interpolation : {"linear", "cubic"}, optional
        Linear, or a natural cubic spline through n and k separately.
    name : str, optional
        The name a Stack shows.
    valid_range : tuple of float, optional
        (low, high) in nm (default: the table's span).
    extrapolate : bool, optional
        Continue the end intervals beyond the table instead of refusing.

    Raises
    ------
    TypeError, ValueError
        For tables that are not finite, increasing or of matching lengths.

    Notes
    -----
    Both interpolations pass exactly through the table's values. A linear table has a
    piecewise-constant dn/dλ, so its GDD and TOD in `dispersion` are only meaningful
    with cubic interpolation.

    Examples
    --------
    >>> table = ql.Tabulated([400.0, 500.0, 600.0], [1.50, 1.48, 1.47])
    >>> print(table(450.0), table.valid_range)
    (1.49+0j) (400.0, 600.0)
    """

    def __init__(self, wavelengths: npt.ArrayLike, n: npt.ArrayLike, k: npt.ArrayLike | None = None, *,
                 interpolation: str = "linear", name: str | None = None,
                 valid_range: tuple[float, float] | None = None, extrapolate: bool = False) -> None:
        nodes = real_vector("wavelengths", wavelengths)
        if nodes.size < 2:
            raise ValueError(f"wavelengths must list at least 2 points; received {nodes.size}")
        if not np.all(np.diff(nodes) > 0.0):
            raise ValueError(f"wavelengths must be strictly increasing; received {nodes.tolist()}")
        if nodes[0] <= 0.0:
            raise ValueError(f"wavelengths must be positive; received {nodes[0]:g}")
        values = np.asarray(n)
        if values.dtype.kind == "c":
            if k is not None:
                raise TypeError("k must be left out when n is complex (n + ik); received a complex n and k")
            values = np.atleast_1d(values.astype(np.complex128))
            if values.shape != nodes.shape or not np.all(np.isfinite(values)):
                raise ValueError(f"n must be finite with {nodes.size} entries; received shape {shape_text(values.shape)}")
        else:
            values = real_vector("n", n, length=nodes.size).astype(np.complex128)
            if k is not None:
                values.imag = real_vector("k", k, length=nodes.size)
        choice("interpolation", interpolation, ("linear", "cubic"))
        self.wavelengths = nodes
        self.values = values
        self.interpolation = interpolation
        self._curvature: Any = None
        if interpolation == "cubic":
            self._curvature = curvature = _natural_spline_curvatures(nodes, values)
            h2 = np.diff(nodes) ** 2 / 6.0
            left, right = h2 * curvature[:-1], h2 * curvature[1:]
            # h²/6·((u³ − u)M₁ + (v³ − v)M₀) = −u·v·((M₁' + 2M₀') + u(M₁' − M₀')), M' = h²M/6
            self._sum = right + 2.0 * left
            self._difference = right - left
            self._node_numbers = np.arange(nodes.size, dtype=np.float64)
        span = (float(nodes[0]), float(nodes[-1]))
        super().__init__(name=name, valid_range=span if valid_range is None else valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return "Tabulated"

    def _interval(self, wl: RealArray) -> Any:
        index = np.searchsorted(self.wavelengths, wl, side="right") - 1
        np.clip(index, 0, self.wavelengths.size - 2, out=index)
        return index

    def _index(self, wl: RealArray) -> Any:
        if self._curvature is None:
            # Linear: extrapolation continues the end segments rather than holding the end values.
            result = np.interp(wl, self.wavelengths, self.values)
            outside = (wl < self.wavelengths[0]) | (wl > self.wavelengths[-1])
            if outside.any():
                result[outside] = self._linear_ends(wl[outside])
            return result
        # The natural spline is the linear interpolant plus −u·v·(S + u·D) on each interval, u and
        # v = 1 − u the fractions of the way from either end; np.interp finds the intervals and the
        # fractions in compiled code, and the correction vanishes exactly at the nodes.
        result = np.interp(wl, self.wavelengths, self.values)
        position = np.interp(wl, self.wavelengths, self._node_numbers)
        # fmin also sends a NaN position to the last interval, where it stays NaN through u.
        i = np.fmin(position, self.wavelengths.size - 2).astype(np.intp)
        u = position - i
        weight = u * (u - 1.0)
        result.real += weight * (self._sum.real[i] + u * self._difference.real[i])
        result.imag += weight * (self._sum.imag[i] + u * self._difference.imag[i])
        outside = (wl < self.wavelengths[0]) | (wl > self.wavelengths[-1])
        if outside.any():
            result[outside] = self._cubic_ends(wl[outside])
        return result

    def _cubic_ends(self, wl: RealArray) -> Any:
        """The end intervals' cubics continued beyond the table."""
        i = self._interval(wl)
        x, y, m = self.wavelengths, self.values, self._curvature
        h = x[i + 1] - x[i]
        u = (wl - x[i]) / h
        v = 1.0 - u
        return v * y[i] + u * y[i + 1] + (h * h / 6.0) * ((u * u * u - u) * m[i + 1] + (v * v * v - v) * m[i])

    def _linear_ends(self, wl: RealArray) -> Any:
        i = self._interval(wl)
        x, y = self.wavelengths, self.values
        return y[i] + (wl - x[i]) * (y[i + 1] - y[i]) / (x[i + 1] - x[i])

    def _derivative(self, wl: RealArray) -> Any:
        i = self._interval(wl)
        x, y = self.wavelengths, self.values
        h = x[i + 1] - x[i]
        secant = (y[i + 1] - y[i]) / h
        if self._curvature is None:
            return secant  # at a node, the slope of the interval that starts there
        m = self._curvature
        u = (wl - x[i]) / h
        v = 1.0 - u
        return secant + (h / 6.0) * ((3.0 * u * u - 1.0) * m[i + 1] - (3.0 * v * v - 1.0) * m[i])
