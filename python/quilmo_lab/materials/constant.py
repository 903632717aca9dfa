"""A wavelength-independent index."""

from __future__ import annotations

import math
import numbers
from typing import Never

import numpy as np

from quilmo_lab._checks import no_permittivity_keyword, type_name
from quilmo_lab.materials.base import ComplexArray, Material, RealArray


class Constant(Material):
    """An index n + ik that is the same at every wavelength.

    Parameters
    ----------
    index : complex
        n + ik, finite (k > 0 absorbing).
    name, valid_range, extrapolate : optional
        As for `Material`: the name a Stack shows, the (low, high) wavelengths in nm where
        the model holds (default: all), and whether to evaluate outside them.

    Raises
    ------
    TypeError, ValueError
        For an index that is not a finite number; a TypeError that points to
        `from_permittivity` for a keyword ``eps``, ``epsilon`` or ``permittivity``.

    Examples
    --------
    >>> print(ql.Constant(1.38)([400.0, 800.0]))
    [1.38+0.j 1.38+0.j]
    >>> ql.Constant(2.0 + 0.1j).name
    '2+0.1j'
    """

    def __init__(self, index: complex, *, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf),
                 extrapolate: bool = False, **mistaken: Never) -> None:
        no_permittivity_keyword("Constant", mistaken)
        if isinstance(index, bool) or not isinstance(index, numbers.Number):
            raise TypeError(f"index must be a number; received {type_name(index)}")
        index = complex(index)
        if not (math.isfinite(index.real) and math.isfinite(index.imag)):
            raise ValueError(f"index must be finite; received {index!r}")
        self.index = index
        super().__init__(name=name, valid_range=valid_range, extrapolate=extrapolate)

    def _default_name(self) -> str:
        return f"{self.index.real:g}" if self.index.imag == 0.0 else f"{self.index:g}".strip("()")

    def _index(self, wl: RealArray) -> ComplexArray:
        return np.full(wl.shape, self.index, dtype=np.complex128)

    def _derivative(self, wl: RealArray) -> ComplexArray:
        return np.zeros(wl.shape, dtype=np.complex128)
