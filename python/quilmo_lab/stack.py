"""Layers and stacks of materials: the object-level face of `quilmo_lab.solve`.

Thicknesses are in nanometres, like the wavelengths materials take.  A medium may be a
`Material`, a library name ("N-BK7"), a number (a constant index) or an array of indices over the
wavelengths of the solve.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from .materials import Constant, Material, library
from .materials.base import wavelength_array


class _Sampled:
    """Indices given as an array over the wavelengths of the solve."""

    def __init__(self, values: npt.NDArray[np.complex128]) -> None:
        self.values = values
        self.name = "[array]"

    def __call__(self, wavelengths: npt.NDArray[np.float64]) -> npt.NDArray[np.complex128]:
        if self.values.shape != wavelengths.shape:
            raise ValueError(f"a medium given as an array has {self.values.size} indices; "
                             f"expected one per wavelength ({wavelengths.size})")
        return self.values


Medium = Material | _Sampled


def _medium(value: Any, what: str) -> Medium:
    if isinstance(value, Material):
        return value
    if isinstance(value, str):
        return library[value]
    if isinstance(value, numbers.Complex) and not isinstance(value, bool):
        return Constant(complex(value))
    if isinstance(value, (np.ndarray, list, tuple)):
        array = np.asarray(value)
        if array.dtype.kind not in "iufc" or array.ndim != 1:
            raise TypeError(f"{what} as an array must be a 1-D array of indices over the wavelengths; "
                            f"got dtype {array.dtype}, shape {array.shape}")
        return _Sampled(array.astype(np.complex128))
    raise TypeError(f"{what} must be a Material, a library name, a number or an array of indices; "
                    f"got {type(value).__name__}")


class Layer:
    """A film of `material` `thickness` nm thick; `coherent=False` treats it as a thick, incoherent slab."""

    def __init__(self, material: Any, thickness: float, coherent: bool = True) -> None:
        self.material = _medium(material, "material")
        if isinstance(thickness, bool) or not isinstance(thickness, numbers.Real):
            raise TypeError(f"thickness must be a real number of nm; got {type(thickness).__name__}")
        value = float(thickness)
        if not (math.isfinite(value) and value >= 0.0):
            raise ValueError(f"thickness must be finite and non-negative (nm); got {value!r}")
        if not isinstance(coherent, bool):
            raise TypeError(f"coherent must be True or False; got {coherent!r}")
        self.thickness: float = value
        self.coherent: bool = coherent

    def __repr__(self) -> str:
        return f"{self.material.name} {self.thickness:g} nm" + ("" if self.coherent else " (incoherent)")


class Stack:
    """`incident` | layers | `exit`: a coating design, solved with `solve(wavelengths, angles)`."""

    def __init__(self, layers: Sequence[Layer] = (), incident: Any = 1.0, exit: Any = 1.0) -> None:
        if isinstance(layers, Layer) or not isinstance(layers, Sequence):
            raise TypeError(f"layers must be a sequence of Layer; got {type(layers).__name__}")
        for position, layer in enumerate(layers):
            if not isinstance(layer, Layer):
                raise TypeError(f"layers[{position}] must be a Layer; got {type(layer).__name__}")
        self.layers = tuple(layers)
        self.incident = _medium(incident, "incident")
        self.exit = _medium(exit, "exit")

    @property
    def thicknesses(self) -> np.ndarray:
        """The layer thicknesses in nm, in order from the incidence side."""
        return np.array([layer.thickness for layer in self.layers], dtype=np.float64)

    @property
    def coherent(self) -> npt.NDArray[np.bool_]:
        """Per layer: whether each is treated coherently (solve's `coherent` mask)."""
        return np.array([layer.coherent for layer in self.layers], dtype=bool)

    def indices(self, wavelengths: npt.ArrayLike) -> npt.NDArray[np.complex128]:
        """The (media, W) complex indices of every medium at `wavelengths` (nm)."""
        wl = wavelength_array(wavelengths)
        if wl.ndim != 1:
            raise ValueError(f"wavelengths must be one-dimensional; got shape {wl.shape}")
        media = (self.incident, *(layer.material for layer in self.layers), self.exit)
        result = np.empty((len(media), wl.size), np.complex128)
        for row, medium in enumerate(media):
            result[row] = medium(wl)
        return result

    def solve(self, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
              thicknesses: npt.ArrayLike | None = None, threads: int | None = None) -> Any:
        """R, T and amplitudes through `quilmo_lab.solve` at `wavelengths` (nm) and `angles` (rad).

        `thicknesses` of shape (B, layers) solves a batch of B variants of this design at once.
        """
        from quilmo_lab import solve as engine_solve

        wl = wavelength_array(wavelengths)
        if thicknesses is None:
            thicknesses = self.thicknesses
        # A fully coherent design keeps solve's default, the exact coherent path.
        coherent = None if all(layer.coherent for layer in self.layers) else self.coherent
        return engine_solve(self.indices(wl), thicknesses, wl, angles, threads=threads, coherent=coherent)

    def __repr__(self) -> str:
        return " | ".join([self.incident.name, *map(repr, self.layers), self.exit.name])
