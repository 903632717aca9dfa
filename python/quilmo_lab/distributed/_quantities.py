"""The variables of a distributed solve: those a block's Result holds, and those derived from them.

A block task hands on the arrays its Result holds (powers, amplitudes, derivatives,
absorbed fractions); absorptances and ellipsometric angles are derived from them in
tasks of their own, by the functions `Result` uses, so that a variable nobody reads
costs nothing and every one is the local Result's bits.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from functools import partial

import numpy as np
import numpy.typing as npt

from quilmo_lab.result import Result, absorptance, ellipsometric_angles, ellipsometric_derivatives

GRID = ("stack", "angle", "wavelength")
LAYERED = ("stack", "angle", "layer", "wavelength")

Arrays = Mapping[str, npt.NDArray[np.generic]]


def _absorptance(polarisation: str, held: Arrays) -> npt.NDArray[np.float64]:
    return absorptance(held[f"R_{polarisation}"], held[f"T_{polarisation}"])  # type: ignore[arg-type]


def _ellipsometry(which: int, held: Arrays) -> npt.NDArray[np.float64]:
    return ellipsometric_angles(held["r_s"], held["r_p"])[which]  # type: ignore[arg-type]


def _ellipsometry_derivative(which: int, held: Arrays) -> npt.NDArray[np.float64]:
    return ellipsometric_derivatives(held["r_s"], held["r_p"], held["dr_s"], held["dr_p"])[which]  # type: ignore[arg-type]


@dataclass(frozen=True)
class Quantity:
    """One variable: its name, dimensions and type, and how it is derived from the arrays a
    Result holds (None: it is one of them, the Result attribute of its name)."""

    name: str
    dims: tuple[str, ...]
    dtype: type
    derive: Callable[[Arrays], npt.NDArray[np.generic]] | None = None


POWERS = [Quantity(name, GRID, np.float64) for name in ("R_s", "R_p", "T_s", "T_p")]
ABSORPTANCES = [Quantity(f"A_{p}", GRID, np.float64, partial(_absorptance, p)) for p in "sp"]
AMPLITUDES = [Quantity(name, GRID, np.complex128) for name in ("r_s", "r_p", "t_s", "t_p")]
ELLIPSOMETRY = [Quantity(name, GRID, np.float64, partial(_ellipsometry, i)) for i, name in enumerate(("psi", "delta"))]
POWER_DERIVATIVES = [Quantity(name, LAYERED, np.float64) for name in ("dR_s", "dR_p", "dT_s", "dT_p")]
AMPLITUDE_DERIVATIVES = [Quantity(name, LAYERED, np.complex128) for name in ("dr_s", "dr_p", "dt_s", "dt_p")]
ELLIPSOMETRY_DERIVATIVES = [Quantity(name, LAYERED, np.float64, partial(_ellipsometry_derivative, i))
                            for i, name in enumerate(("dpsi", "ddelta"))]
ABSORBED = [Quantity(name, LAYERED, np.float64) for name in ("absorbed_s", "absorbed_p")]


def quantities(*, coherent: bool, derivatives: bool, absorbed: bool) -> list[Quantity]:
    """Every variable a solve with these options defines, in the Dataset's order."""
    out = [*POWERS, *ABSORPTANCES]
    if coherent:
        out += [*AMPLITUDES, *ELLIPSOMETRY]
    if derivatives:
        out += POWER_DERIVATIVES
        if coherent:
            out += [*AMPLITUDE_DERIVATIVES, *ELLIPSOMETRY_DERIVATIVES]
    if absorbed:
        out += ABSORBED
    return out


def held(result: Result, wanted: list[Quantity]) -> dict[str, npt.NDArray[np.generic]]:
    """The arrays of `result` among the wanted quantities (the others are derived from them)."""
    return {q.name: getattr(result, q.name) for q in wanted if q.derive is None}


class _Attributes(Mapping[str, npt.NDArray[np.generic]]):
    """A Result's arrays by name, read when asked for."""

    def __init__(self, result: Result) -> None:
        self._result = result

    def __getitem__(self, name: str) -> npt.NDArray[np.generic]:
        value: npt.NDArray[np.generic] = getattr(self._result, name)
        return value

    def __iter__(self) -> Iterator[str]:
        return iter(())

    def __len__(self) -> int:
        return 0


def values(result: Result, wanted: Sequence[Quantity]) -> dict[str, npt.NDArray[np.generic]]:
    """Every wanted quantity of `result`, the derived ones computed."""
    arrays = _Attributes(result)
    return {q.name: arrays[q.name] if q.derive is None else q.derive(arrays) for q in wanted}
