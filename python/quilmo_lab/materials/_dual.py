"""Forward-mode derivative numbers over NumPy arrays.

A long closed form (the Tauc–Lorentz real part) is written once over an `ops` namespace; called
with plain arrays it gives values, called with `Dual` numbers it gives the exact derivative along
with them, so the two can never disagree.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt


class Dual:
    """value + slope·ε with ε² = 0; `slope` is the derivative with respect to the chosen variable."""

    __slots__ = ("value", "slope")
    __array_ufunc__ = None  # NumPy arrays defer to our reflected operators

    def __init__(self, value: Any, slope: Any) -> None:
        self.value = value
        self.slope = slope

    def __add__(self, other: Any) -> Dual:
        if isinstance(other, Dual):
            return Dual(self.value + other.value, self.slope + other.slope)
        return Dual(self.value + other, self.slope)

    __radd__ = __add__

    def __neg__(self) -> Dual:
        return Dual(-self.value, -self.slope)

    def __sub__(self, other: Any) -> Dual:
        return self.__add__(-other)

    def __rsub__(self, other: Any) -> Dual:
        return (-self).__add__(other)

    def __mul__(self, other: Any) -> Dual:
        if isinstance(other, Dual):
            return Dual(self.value * other.value, self.slope * other.value + self.value * other.slope)
        return Dual(self.value * other, self.slope * other)

    __rmul__ = __mul__

    def __truediv__(self, other: Any) -> Dual:
        if isinstance(other, Dual):
            value = self.value / other.value
            return Dual(value, (self.slope - value * other.slope) / other.value)
        return Dual(self.value / other, self.slope / other)

    def __rtruediv__(self, other: Any) -> Dual:
        value = other / self.value
        return Dual(value, -value * self.slope / self.value)


def square_log_abs(x: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """x² ln|x|, continued by its limit 0 at x = 0."""
    result = np.abs(x)
    result[result == 0.0] = 1.0
    np.log(result, out=result)
    result *= x
    result *= x
    return result


class ArrayOps:
    """The elementary functions on plain arrays."""

    log = staticmethod(np.log)
    square_log_abs = staticmethod(square_log_abs)


class DualOps:
    """The elementary functions on `Dual` numbers."""

    @staticmethod
    def log(x: Dual) -> Dual:
        return Dual(np.log(x.value), x.slope / x.value)

    @staticmethod
    def square_log_abs(x: Dual) -> Dual:
        magnitude = np.abs(x.value)
        magnitude[magnitude == 0.0] = 1.0
        log = np.log(magnitude)
        # d/dx x² ln|x| = x(2 ln|x| + 1), which also tends to 0 at x = 0.
        return Dual(x.value * x.value * log, x.value * (2.0 * log + 1.0) * x.slope)
