"""What results hand out: read-only arrays, and one way of saying that a quantity is missing.

Results are values: built once by a front, never changed afterwards. Their arrays are
marked read-only, so that nothing a caller does to them can corrupt what a result still
computes from them on first use.
"""

from __future__ import annotations

from typing import TypeVar

import numpy as np
import numpy.typing as npt

Scalar = TypeVar("Scalar", bound=np.generic)


def frozen(array: npt.NDArray[Scalar]) -> npt.NDArray[Scalar]:
    """`array`, marked read-only (it must be the result's own, not the caller's)."""
    array.setflags(write=False)
    return array


def plane(array: npt.NDArray[Scalar], index: int) -> npt.NDArray[Scalar]:
    """`array[index]`: one quantity of a block of them stacked on the first axis."""
    part: npt.NDArray[Scalar] = array[index]
    return part


def missing(owner: object, name: str, reason: str, remedy: str) -> AttributeError:
    """The AttributeError of a quantity `owner` does not have: why, and how to get it."""
    # no obj=: Python would append a "did you mean" guess at a similar name
    return AttributeError(f"{name} {reason}; {remedy}", name=name)


def not_computed(owner: object, name: str) -> AttributeError:
    """A thickness derivative of a result solved without derivatives=True."""
    return missing(owner, name, "was not computed", "solve with derivatives=True to get the thickness derivatives")


def not_defined_with_incoherent_layers(owner: object, name: str) -> AttributeError:
    """An amplitude, or what comes from amplitudes, of a stack with incoherent layers."""
    return missing(owner, name,
                   "is not defined for a stack with incoherent layers: light adds by power in them, with no "
                   "phase across the stack",
                   "R_s, R_p, T_s, T_p, absorbed, their thickness derivatives, the Mueller matrices and the "
                   "pseudo psi and delta are defined; solve with every layer coherent for amplitudes")
