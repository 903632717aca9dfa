"""Reflectance and transmittance of planar thin-film stacks by the 2x2 transfer-matrix method."""

from typing import Never, SupportsFloat, SupportsIndex, final

import numpy as np
from numpy.typing import NDArray

__all__ = ["DataPy", "Simulation"]

_Angle = SupportsFloat | SupportsIndex

@final
class DataPy:
    """A stack and its illumination.

    d: thicknesses of the inner layers (float64, 1-D); n: refractive indices, one row
    per medium from incidence to exit and one column per wavelength (complex128, 2-D);
    wl: wavelengths in the unit of d (float64, 1-D); theta: angle of incidence and
    phi: polarisation angle, both in radians. The arrays are copied, never cast.
    """

    def __new__(
        cls,
        d: NDArray[np.float64],
        n: NDArray[np.complex128],
        wl: NDArray[np.float64],
        theta: _Angle,
        phi: _Angle,
    ) -> DataPy: ...
    @property
    def d(self) -> NDArray[np.float64]: ...
    @property
    def n(self) -> NDArray[np.complex128]: ...
    @property
    def wl(self) -> NDArray[np.float64]: ...
    @property
    def theta(self) -> float: ...
    @property
    def phi(self) -> float: ...
    def simulate(self) -> Simulation:
        """Reflectance and transmittance of every wavelength."""

@final
class Simulation:
    """The result of DataPy.simulate(); made only by that method."""

    # No constructor: a parameter that no value can fill makes every call an
    # error for a type checker, as every call is a TypeError at run time.
    def __new__(cls, _no_constructor: Never, /) -> Simulation: ...
    @property
    def r(self) -> NDArray[np.float64]: ...
    @property
    def t(self) -> NDArray[np.float64]: ...
