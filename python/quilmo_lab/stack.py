"""Layers and stacks of materials: the object-level face of the fronts.

Thicknesses are in nanometres, like the wavelengths materials take. A medium may be a
`Material`, a library name ("N-BK7"), a number (a constant index) or an array of indices over the
wavelengths of the solve.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence
from typing import TYPE_CHECKING, Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import flag, shape_text, type_name, wavelength_array
from quilmo_lab._media import Medium, MediumLike, medium

if TYPE_CHECKING:
    from quilmo_lab.dispersion import Dispersion, Side
    from quilmo_lab.profile import Profile
    from quilmo_lab.result import Result


class Layer:
    """A film of `material` `thickness` nm thick; `coherent=False` treats it as a thick, incoherent slab."""

    def __init__(self, material: MediumLike, thickness: float, coherent: bool = True) -> None:
        self._material = medium(material, "material")
        if isinstance(thickness, bool) or not isinstance(thickness, numbers.Real):
            raise TypeError(f"thickness must be a real number of nm; received {type_name(thickness)}")
        value = float(thickness)
        if not (math.isfinite(value) and value >= 0.0):
            raise ValueError(f"thickness must be finite and non-negative (nm); received {value!r}")
        self._thickness: float = value
        self._coherent: bool = flag("coherent", coherent)

    @property
    def material(self) -> Medium:
        """The layer's material (a library name or a number given is its Material)."""
        return self._material

    @property
    def thickness(self) -> float:
        """The thickness in nm."""
        return self._thickness

    @property
    def coherent(self) -> bool:
        """False for a layer treated by intensity, without phase."""
        return self._coherent

    def __repr__(self) -> str:
        return f"{self.material.name} {self.thickness:g} nm" + ("" if self.coherent else " (incoherent)")


class Stack:
    """`incident` | layers | `exit`: a coating design, solved with `solve(wavelengths, angles)`."""

    def __init__(self, layers: Sequence[Layer] = (), incident: MediumLike = 1.0, exit: MediumLike = 1.0) -> None:
        if isinstance(layers, Layer) or not isinstance(layers, Sequence):
            raise TypeError(f"layers must be a sequence of Layer; received {type_name(layers)}")
        for position, layer in enumerate(layers):
            if not isinstance(layer, Layer):
                raise TypeError(f"layers[{position}] must be a Layer; received {type_name(layer)}")
        self._layers = tuple(layers)
        self._incident = medium(incident, "incident")
        self._exit = medium(exit, "exit")

    @property
    def layers(self) -> tuple[Layer, ...]:
        """The layers, from the incidence side."""
        return self._layers

    @property
    def incident(self) -> Medium:
        """The incidence medium."""
        return self._incident

    @property
    def exit(self) -> Medium:
        """The exit medium (the substrate)."""
        return self._exit

    @property
    def thicknesses(self) -> npt.NDArray[np.float64]:
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
            raise ValueError(f"wavelengths must be one-dimensional; received shape {shape_text(wl.shape)}")
        media = (self.incident, *(layer.material for layer in self.layers), self.exit)
        result = np.empty((len(media), wl.size), np.complex128)
        for row, part in enumerate(media):
            result[row] = part(wl)
        return result

    def solve(self, wavelengths: npt.ArrayLike, angles: npt.ArrayLike = 0.0, *,
              thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
              threads: int | None = None, derivatives: bool = False) -> Result:
        """quilmo_lab.solve of this stack at `wavelengths` (nm) and `angles` (rad).

        `thicknesses` of shape (B, layers) solves a batch of B variants of this design at once.
        """
        from quilmo_lab.solve import solve

        return solve(self, wavelengths, angles, thicknesses=thicknesses, coherent=coherent, threads=threads,
                     derivatives=derivatives)

    def profile(self, wavelengths: npt.ArrayLike, angle: float, depths: npt.ArrayLike, *,
                thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
                threads: int | None = None) -> Profile:
        """quilmo_lab.profile of this stack."""
        from quilmo_lab.profile import profile

        return profile(self, wavelengths, angle, depths, thicknesses=thicknesses, coherent=coherent,
                       threads=threads)

    def dispersion(self, wavelengths: npt.ArrayLike, angle: float = 0.0, side: Side = "r",
                   polarisation: Literal["s", "p"] = "s", *, thicknesses: npt.ArrayLike | None = None,
                   threads: int | None = None) -> Dispersion:
        """quilmo_lab.dispersion of this stack."""
        from quilmo_lab.dispersion import dispersion

        return dispersion(self, wavelengths, angle, side, polarisation, thicknesses=thicknesses, threads=threads)

    def __repr__(self) -> str:
        return " | ".join([self.incident.name, *map(repr, self.layers), self.exit.name])
