"""The media a Stack accepts: a Material, a library name, a number, indices over the wavelengths or a
callable n(λ)."""

from __future__ import annotations

import abc
import numbers
from collections.abc import Callable
from typing import Any, TypeAlias

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import shape_text, type_name
from quilmo_lab.materials.base import Material
from quilmo_lab.materials.constant import Constant
from quilmo_lab.materials.function import Function
from quilmo_lab.materials.library import library



class TensorMaterial(abc.ABC):
    """An anisotropic material: its permittivity tensor in the lab frame at any wavelength.

    The base of `quilmo_lab.Uniaxial` and `quilmo_lab.Biaxial`; a Layer and a Stack take
    one in place of an isotropic material, and `Stack.solve` then returns an
    `AnisotropicResult`.
    """

    name: str

    @abc.abstractmethod
    def permittivity(self, wavelengths: npt.ArrayLike) -> npt.NDArray[np.complex128]:
        """The (3, 3, W) relative permittivity in the lab frame at `wavelengths` (nm)."""

    def __repr__(self) -> str:
        return self.name


class SampledIndices:
    """Indices given as an array over the wavelengths of the solve (no model, no derivative)."""

    def __init__(self, values: npt.NDArray[np.complex128]) -> None:
        self.values = values
        self.values.setflags(write=False)
        self.name = "[array]"

    def __call__(self, wavelengths: npt.NDArray[np.float64]) -> npt.NDArray[np.complex128]:
        if self.values.shape != wavelengths.shape:
            raise ValueError(f"a medium given as an array must have one index per wavelength "
                             f"({wavelengths.size}); received {self.values.size} indices")
        return self.values

    def permittivity(self, wavelengths: npt.NDArray[np.float64]) -> npt.NDArray[np.complex128]:
        """The relative permittivity ε = (n + ik)² at the wavelengths of the solve."""
        values = self(wavelengths)
        return values * values


Medium: TypeAlias = Material | SampledIndices | TensorMaterial
# What users may give wherever a Stack takes a medium.
MediumLike: TypeAlias = Medium | str | complex | npt.ArrayLike | Callable[..., Any]


def medium(value: object, what: str) -> Medium:
    """The medium `value` stands for; `what` names it in errors ("exit", "layers[2].material")."""
    if isinstance(value, (Material, SampledIndices, TensorMaterial)):
        return value
    if isinstance(value, str):
        try:
            return library[value]
        except KeyError as error:
            raise ValueError(f"{what} must be a Material, a library name, a number, an array of indices or a "
                             f"callable n(λ); received the name {value!r}, which is not in the library "
                             f"({error.args[0]})") from None
    if isinstance(value, numbers.Complex) and not isinstance(value, bool):
        return Constant(complex(value))
    if callable(value) and not isinstance(value, type):
        return Function(value)  # an n(λ) of the wavelength in nm, e.g. a SciPy interpolator
    if isinstance(value, (np.ndarray, list, tuple)):
        try:
            array = np.asarray(value)
        except (TypeError, ValueError) as error:  # ragged nested lists, among others
            raise ValueError(f"{what} as an array must be a 1-D array of indices over the wavelengths; received a "
                             f"{type_name(value)} NumPy cannot read as one ({error})") from None
        if array.dtype.kind not in "iufc" or array.ndim != 1:
            raise TypeError(f"{what} as an array must be a 1-D array of indices over the wavelengths; "
                            f"received dtype {array.dtype}, shape {shape_text(array.shape)}")
        return SampledIndices(array.astype(np.complex128))
    if isinstance(value, type):
        raise TypeError(f"{what} must be a Material, a library name, a number, an array of indices or a callable "
                        f"n(λ); received the class {value.__name__} (call it to build the material first)")
    raise TypeError(f"{what} must be a Material, a library name, a number, an array of indices or a callable "
                    f"n(λ); received {type_name(value)}")
