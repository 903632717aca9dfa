"""One material from two that cover neighbouring wavelengths: a visible table and an infrared formula."""

from __future__ import annotations

import numpy as np

from quilmo_lab._checks import real_number, type_name
from quilmo_lab.materials.base import ComplexArray, Material, RealArray


class Spliced(Material):
    """A material that is one model up to a wavelength and another beyond it.

    Parameters
    ----------
    short : Material
        The model at and below `join` (nm).
    long : Material
        The model above `join`, called there even below its own valid range (the
        caller states how well the two meet).
    join : float
        The wavelength in nm where `long` takes over; within `short`'s valid range.
    name : str, optional
        The name a Stack shows (default: that of `short`).
    extrapolate : bool, optional
        Evaluate beyond the two parts' outer ends.

    Raises
    ------
    TypeError, ValueError
        For parts that are not materials, or a join outside `short`'s range.

    Notes
    -----
    Each wavelength is evaluated by exactly one part, so the values above `join`
    are those of `long` bit for bit.

    Examples
    --------
    >>> from quilmo_lab.materials.spliced import Spliced
    >>> both = Spliced(ql.Tabulated([400.0, 800.0], [1.5, 1.4]), ql.Cauchy(1.38, 1000.0), 800.0)
    >>> print(both([600.0, 1000.0]), both.valid_range)
    [1.45 +0.j 1.381+0.j] (400.0, inf)
    """

    def __init__(self, short: Material, long: Material, join: float, *, name: str | None = None,
                 extrapolate: bool = False) -> None:
        for label, part in (("short", short), ("long", long)):
            if not isinstance(part, Material):
                raise TypeError(f"{label} must be a Material; received {type_name(part)}")
        join = real_number("join", join)
        low, high = short.valid_range
        if not low < join <= high:
            raise ValueError(f"join must lie within the valid range of short ({low:g}-{high:g} nm); "
                             f"received {join:g}")
        self.short, self.long, self.join = short, long, join
        super().__init__(name=name, valid_range=(low, long.valid_range[1]), extrapolate=extrapolate)

    def _default_name(self) -> str:
        return self.short.name

    def _pieces(self, wl: RealArray, method: str) -> ComplexArray:
        result = np.empty(wl.shape, dtype=np.complex128)
        below = wl <= self.join
        above = ~below  # NaN wavelengths too: they come out as `long` gives them
        if below.any():
            result[below] = getattr(self.short, method)(wl[below], extrapolate=True)
        if above.any():
            result[above] = getattr(self.long, method)(wl[above], extrapolate=True)
        return result

    def _index(self, wl: RealArray) -> ComplexArray:
        return self._pieces(wl, "__call__")

    def _derivative(self, wl: RealArray) -> ComplexArray:
        return self._pieces(wl, "derivative")
