"""The nine dispersion formulas of the refractiveindex.info database, in its units (λ in µm).

Each formula gives some quantity Q(λ) — n, n − 1, n², n² − 1 or the Lorentz–Lorenz ratio
(n² − 1)/(n² + 2) — as a sum of terms in the coefficients C1, C2, ...; missing trailing
coefficients are zero, and terms with a zero amplitude are skipped (formula 4's C8^C9 would
otherwise make 0·λ⁰/(λ² − 1) a 0/0 at 1 µm).
"""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import real_vector, type_name
from quilmo_lab.materials.base import Material, index_derivative, index_from_permittivity

_MAX_COEFFICIENTS = 17


Array = npt.NDArray[np.float64]
Terms = tuple[Any, Any]


def _pairs(c: Array, start: int) -> Iterator[tuple[float, float]]:
    """(amplitude, parameter) pairs C[start], C[start+1], ... with non-zero amplitude."""
    for i in range(start, _MAX_COEFFICIENTS - 1, 2):
        if c[i] != 0.0:
            yield float(c[i]), float(c[i + 1])


def _power(x: Array, amplitude: float, exponent: float) -> Terms:
    """amplitude·x^exponent and its derivative."""
    value = amplitude * x ** exponent
    return value, value * exponent / x


def _sellmeier(x: Array, c: Array, squared: bool) -> Terms:
    value, slope = np.full(x.shape, c[0]), np.zeros(x.shape)
    square = x * x
    for b, pole in _pairs(c, 1):
        pole = pole * pole if squared else pole
        denominator = square - pole
        value += b * square / denominator
        slope -= 2.0 * b * pole * x / (denominator * denominator)
    return value, slope


def _power_series(x: Array, c: Array) -> Terms:
    value, slope = np.full(x.shape, c[0]), np.zeros(x.shape)
    for amplitude, exponent in _pairs(c, 1):
        term, term_slope = _power(x, amplitude, exponent)
        value += term
        slope += term_slope
    return value, slope


def _refractiveindex_info(x: Array, c: Array) -> Terms:
    value, slope = np.full(x.shape, c[0]), np.zeros(x.shape)
    square = x * x
    for i in (1, 5):  # C2 λ^C3 / (λ² − C4^C5) and C6 λ^C7 / (λ² − C8^C9)
        if c[i] != 0.0:
            top, top_slope = _power(x, c[i], c[i + 1])
            denominator = square - c[i + 2] ** c[i + 3]
            value += top / denominator
            slope += (top_slope * denominator - top * 2.0 * x) / (denominator * denominator)
    for amplitude, exponent in _pairs(c, 9):
        term, term_slope = _power(x, amplitude, exponent)
        value += term
        slope += term_slope
    return value, slope


def _gases(x: Array, c: Array) -> Terms:
    value, slope = np.full(x.shape, c[0]), np.zeros(x.shape)
    inverse_square = 1.0 / (x * x)
    for b, pole in _pairs(c, 1):
        denominator = pole - inverse_square
        value += b / denominator
        # d/dλ (pole − λ⁻²) = 2λ⁻³
        slope -= b * 2.0 * inverse_square / x / (denominator * denominator)
    return value, slope


def _herzberger(x: Array, c: Array) -> Terms:
    square = x * x
    g = 1.0 / (square - 0.028)
    dg = -2.0 * x * g * g
    value = c[0] + c[1] * g + c[2] * g * g + c[3] * square + c[4] * square ** 2 + c[5] * square ** 3
    slope = c[1] * dg + 2.0 * c[2] * g * dg + 2.0 * c[3] * x + 4.0 * c[4] * x ** 3 + 6.0 * c[5] * x ** 5
    return value, slope


def _retro(x: Array, c: Array) -> Terms:
    square = x * x
    denominator = square - c[2]
    value = c[0] + c[1] * square / denominator + c[3] * square
    slope = -2.0 * c[1] * c[2] * x / (denominator * denominator) + 2.0 * c[3] * x
    return value, slope


def _exotic(x: Array, c: Array) -> Terms:
    square = x * x
    pole = square - c[2]
    shifted = x - c[4]
    resonance = shifted * shifted + c[5]
    value = c[0] + c[1] / pole + c[3] * shifted / resonance
    slope = -2.0 * c[1] * x / (pole * pole) + c[3] * (c[5] - shifted * shifted) / (resonance * resonance)
    return value, slope


# formula number: (Q(λ) and dQ/dλ, what Q is)
_FORMULAS: dict[int, tuple[Callable[[Array, Array], Terms], str]] = {
    1: (lambda x, c: _sellmeier(x, c, True), "n2-1"),
    2: (lambda x, c: _sellmeier(x, c, False), "n2-1"),
    3: (_power_series, "n2"),
    4: (_refractiveindex_info, "n2"),
    5: (_power_series, "n"),
    6: (_gases, "n-1"),
    7: (_herzberger, "n"),
    8: (_retro, "lorentz-lorenz"),
    9: (_exotic, "n2"),
}


class RefractiveIndexFormula(Material):
    """One of the nine dispersion formulas of the refractiveindex.info database.

    Parameters
    ----------
    formula : int
        The formula's number, 1 to 9.
    coefficients : array_like
        C1, C2, ... as the database gives them, for λ in µm (at most 17).
    valid_range : tuple of float
        (low, high) in nm.
    name : str, optional
        The name a Stack shows.
    extrapolate : bool, optional
        Evaluate outside `valid_range` instead of refusing.

    Raises
    ------
    TypeError, ValueError
        For a formula number outside 1-9 or coefficients that are not finite.

    See Also
    --------
    read_refractiveindex_info : Reads a page of the database.

    Notes
    -----
    Called, like every material, with wavelengths in nm; the formula itself takes µm.

    Examples
    --------
    Fused silica (Malitson 1965), formula 2 with squared resonances:

    >>> silica = ql.RefractiveIndexFormula(2, [0, 0.6961663, 0.0684043**2, 0.4079426, 0.1162414**2,
    ...                                        0.8974794, 9.896161**2], valid_range=(210.0, 3710.0))
    >>> print(np.round(silica(587.6).real, 5))
    1.45846
    """

    def __init__(self, formula: int, coefficients: npt.ArrayLike, *, valid_range: tuple[float, float],
                 name: str | None = None,
                 extrapolate: bool = False) -> None:
        if isinstance(formula, bool) or not isinstance(formula, int):
            raise TypeError(f"formula must be an integer 1-9; received {type_name(formula)}")
        if formula not in _FORMULAS:
            raise ValueError(f"formula must be 1-9; received {formula}")
        given = real_vector("coefficients", coefficients)
        if given.size > _MAX_COEFFICIENTS:
            raise ValueError(f"coefficients must number at most {_MAX_COEFFICIENTS}; received {given.size}")
        self.formula = formula
        self.coefficients = given
        self._padded = np.zeros(_MAX_COEFFICIENTS + 1)
        self._padded[:given.size] = given
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return f"formula {self.formula}"

    def _evaluate(self, wl: Array) -> Terms:
        evaluate, quantity = _FORMULAS[self.formula]
        value, slope = evaluate(wl * 1e-3, self._padded)
        slope = slope * 1e-3  # per µm to per nm
        if quantity == "n":
            return value.astype(np.complex128), slope.astype(np.complex128)
        if quantity == "n-1":
            return (value + 1.0).astype(np.complex128), slope.astype(np.complex128)
        if quantity == "n2-1":
            value = value + 1.0
        elif quantity == "lorentz-lorenz":
            ratio = value
            value = (1.0 + 2.0 * ratio) / (1.0 - ratio)
            slope = 3.0 * slope / ((1.0 - ratio) * (1.0 - ratio))
        n = index_from_permittivity(value)
        return n, index_derivative(n, slope)

    def _index(self, wl: Array) -> Any:
        return self._evaluate(wl)[0]

    def _derivative(self, wl: Array) -> Any:
        return self._evaluate(wl)[1]
