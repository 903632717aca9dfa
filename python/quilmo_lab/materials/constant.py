"""A wavelength-independent index."""

from __future__ import annotations

import math
import numbers

import numpy as np

from quilmo_lab._checks import type_name
from quilmo_lab.materials.base import ComplexArray, Material, RealArray


class Constant(Material):
    """n + ik the same at every wavelength (valid everywhere unless `valid_range` says otherwise)."""

    def __init__(self, index: complex, *, name: str | None = None,
                 valid_range: tuple[float, float] = (0.0, math.inf),
                 extrapolate: bool = False) -> None:
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
