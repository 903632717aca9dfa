"""The variables of a distributed solve: those a block's Result holds, and those derived from them.

A block task hands on the arrays its Result holds (powers, amplitudes, derivatives,
absorbed fractions); absorptances and ellipsometric angles are derived from them block
by block, by the functions `Result` uses, so that a variable nobody reads costs nothing
and every one is the local Result's bits.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from quilmo_lab.result import Result, absorptance, ellipsometric_angles, ellipsometric_derivatives

GRID = ("stack", "angle", "wavelength")
LAYERED = ("stack", "angle", "layer", "wavelength")

Array = npt.NDArray[np.generic]


def _psi(r_s: Array, r_p: Array) -> Array:
    return ellipsometric_angles(r_s, r_p)[0]  # type: ignore[arg-type]


def _delta(r_s: Array, r_p: Array) -> Array:
    return ellipsometric_angles(r_s, r_p)[1]  # type: ignore[arg-type]


def _dpsi(r_s: Array, r_p: Array, dr_s: Array, dr_p: Array) -> Array:
    return ellipsometric_derivatives(r_s, r_p, dr_s, dr_p)[0]  # type: ignore[arg-type]


def _ddelta(r_s: Array, r_p: Array, dr_s: Array, dr_p: Array) -> Array:
    return ellipsometric_derivatives(r_s, r_p, dr_s, dr_p)[1]  # type: ignore[arg-type]


@dataclass(frozen=True)
class Quantity:
    """One variable: its name, dimensions and type, and how it is derived, elementwise along the
    stack, angle and wavelength axes, from the arrays a Result holds (`derive` of the `sources`;
    None: it is one of them, the Result attribute of its name)."""

    name: str
    dims: tuple[str, ...]
    dtype: type
    derive: Callable[..., Array] | None = None
    sources: tuple[str, ...] = ()


POWERS = [Quantity(name, GRID, np.float64) for name in ("R_s", "R_p", "T_s", "T_p")]
ABSORPTANCES = [Quantity(f"A_{p}", GRID, np.float64, absorptance, (f"R_{p}", f"T_{p}")) for p in "sp"]
AMPLITUDES = [Quantity(name, GRID, np.complex128) for name in ("r_s", "r_p", "t_s", "t_p")]
ELLIPSOMETRY = [Quantity("psi", GRID, np.float64, _psi, ("r_s", "r_p")),
                Quantity("delta", GRID, np.float64, _delta, ("r_s", "r_p"))]
POWER_DERIVATIVES = [Quantity(name, LAYERED, np.float64) for name in ("dR_s", "dR_p", "dT_s", "dT_p")]
AMPLITUDE_DERIVATIVES = [Quantity(name, LAYERED, np.complex128) for name in ("dr_s", "dr_p", "dt_s", "dt_p")]
ELLIPSOMETRY_DERIVATIVES = [Quantity("dpsi", LAYERED, np.float64, _dpsi, ("r_s", "r_p", "dr_s", "dr_p")),
                            Quantity("ddelta", LAYERED, np.float64, _ddelta, ("r_s", "r_p", "dr_s", "dr_p"))]
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


def values(result: Result, wanted: Sequence[Quantity]) -> dict[str, Array]:
    """Every wanted quantity of `result`, the derived ones computed."""
    return {q.name: getattr(result, q.name) if q.derive is None
            else q.derive(*(getattr(result, source) for source in q.sources)) for q in wanted}
