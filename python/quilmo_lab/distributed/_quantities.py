"""The variables of a distributed solve and how each is read from a Result."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from quilmo_lab.result import Result

GRID = ("stack", "angle", "wavelength")
LAYERED = ("stack", "angle", "layer", "wavelength")

POWERS = ("R_s", "R_p", "T_s", "T_p")
ABSORPTANCES = ("A_s", "A_p")
AMPLITUDES = ("r_s", "r_p", "t_s", "t_p")
ELLIPSOMETRY = ("psi", "delta")
POWER_DERIVATIVES = ("dR_s", "dR_p", "dT_s", "dT_p")
AMPLITUDE_DERIVATIVES = ("dr_s", "dr_p", "dt_s", "dt_p", "dpsi", "ddelta")
ABSORBED = ("absorbed_s", "absorbed_p")


@dataclass(frozen=True)
class Quantity:
    """One variable: its name (a Result attribute, or A_s / A_p), dimensions and type."""

    name: str
    dims: tuple[str, ...]
    dtype: type

    def of(self, result: Result) -> npt.NDArray[np.generic]:
        """This quantity of a Result, (B, A, W) or (B, A, layers, W)."""
        if self.name in ABSORPTANCES:
            return result.A(self.name[-1])
        value: npt.NDArray[np.generic] = getattr(result, self.name)
        return value


def quantities(*, coherent: bool, derivatives: bool, absorbed: bool) -> list[Quantity]:
    """Every variable a solve with these options defines, in the Dataset's order."""
    out = [Quantity(name, GRID, np.float64) for name in (*POWERS, *ABSORPTANCES)]
    if coherent:
        out += [Quantity(name, GRID, np.complex128) for name in AMPLITUDES]
        out += [Quantity(name, GRID, np.float64) for name in ELLIPSOMETRY]
    if derivatives:
        out += [Quantity(name, LAYERED, np.float64) for name in POWER_DERIVATIVES]
        if coherent:
            out += [Quantity(name, LAYERED, np.complex128 if name[1] in "rt" else np.float64)
                    for name in AMPLITUDE_DERIVATIVES]
    if absorbed:
        out += [Quantity(name, LAYERED, np.float64) for name in ABSORBED]
    return out
