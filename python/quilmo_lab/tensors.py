"""Anisotropic materials: permittivity tensors in the lab frame, their rotation, twisted layers.

Lab frame (as in `solve_anisotropic`): z is the stack normal pointing into the stack,
x lies in the plane of incidence, y = z × x. Every angle is in radians.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import shape_text, type_name, wavelength_array
from quilmo_lab._media import Medium, MediumLike, TensorMaterial, medium
from quilmo_lab.stack import Layer

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]


def _angles(name: str, value: object, count: int) -> tuple[float, ...]:
    """`count` real angles, or an error naming `name`."""
    try:
        angles = tuple(float(x) for x in value)  # type: ignore[attr-defined]
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a sequence of {count} angles in radians; received "
                        f"{type_name(value)}") from None
    if len(angles) != count or not all(math.isfinite(x) for x in angles):
        raise ValueError(f"{name} must be {count} finite angles in radians; received {value!r}")
    return angles


def euler_matrix(euler: Sequence[float]) -> FloatArray:
    """The rotation R = Rz(alpha) Rx(beta) Rz(gamma) of the Euler angles (alpha, beta, gamma).

    Parameters
    ----------
    euler : sequence of 3 floats
        (alpha, beta, gamma) in radians: the z-x-z convention, applied to the crystal
        (first gamma about z, then beta about x, then alpha about z, all about lab axes
        read from right to left).

    Returns
    -------
    numpy.ndarray
        (3, 3), mapping crystal coordinates to lab coordinates.

    Examples
    --------
    >>> print(np.round(ql.euler_matrix((np.pi / 2, 0.0, 0.0)) @ [1.0, 0.0, 0.0], 6))
    [0. 1. 0.]
    """
    alpha, beta, gamma = _angles("euler", euler, 3)

    def about_z(t: float) -> FloatArray:
        c, s = math.cos(t), math.sin(t)
        return np.array([[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]])

    c, s = math.cos(beta), math.sin(beta)
    about_x = np.array([[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]])
    return np.asarray(about_z(alpha) @ about_x @ about_z(gamma), dtype=np.float64)


def rotate_tensor(tensor: npt.ArrayLike, euler: Sequence[float]) -> ComplexArray:
    """A tensor of the crystal frame in the lab frame: R ε Rᵀ with R = `euler_matrix(euler)`.

    Parameters
    ----------
    tensor : array_like
        (3, 3, ...): the tensor components first, any further axes (wavelengths) after.
    euler : sequence of 3 floats
        (alpha, beta, gamma), radians, z-x-z (see `euler_matrix`).

    Returns
    -------
    numpy.ndarray
        Complex, of the shape of `tensor`.

    Examples
    --------
    >>> print(np.round(ql.rotate_tensor(np.diag([2.0, 3.0, 4.0]), (np.pi / 2, 0.0, 0.0)).real, 6) + 0.0)
    [[3. 0. 0.]
     [0. 2. 0.]
     [0. 0. 4.]]
    """
    eps = np.asarray(tensor, dtype=np.complex128)
    if eps.shape[:2] != (3, 3):
        raise ValueError(f"tensor must have shape (3, 3, ...); received shape {shape_text(eps.shape)}")
    r = euler_matrix(euler)
    return np.asarray(np.einsum("ij,jk...,lk->il...", r, eps, r), dtype=np.complex128)


def _square(part: MediumLike, what: str, wavelengths: npt.ArrayLike) -> ComplexArray:
    wl = wavelength_array(wavelengths).reshape(-1)
    index = medium(part, what)
    if isinstance(index, TensorMaterial):
        raise TypeError(f"{what} must be an isotropic material (a principal index); received {index!r}")
    n = np.asarray(index(wl), dtype=np.complex128)
    return np.asarray(n * n, dtype=np.complex128)


class Uniaxial(TensorMaterial):
    """A uniaxial crystal: ordinary index across its optic axis, extraordinary along it.

    Parameters
    ----------
    ordinary, extraordinary : Material, str, complex or array_like
        The two principal indices, each anything a `Layer` takes as a material.
    axis : (float, float), optional
        The optic axis in the lab frame as (polar, azimuth), radians: the angle from the
        lab z axis (the stack normal) and the angle of its projection from x towards y.
        Default (0, 0): along the normal.

    Examples
    --------
    >>> eps = ql.Uniaxial(1.5, 1.6, axis=(np.pi / 2, 0.0)).permittivity([500.0])
    >>> print(np.round(np.diag(eps[:, :, 0].real), 4))
    [2.56 2.25 2.25]
    """

    def __init__(self, ordinary: MediumLike, extraordinary: MediumLike, axis: Sequence[float] = (0.0, 0.0)) -> None:
        self.ordinary = medium(ordinary, "ordinary")
        self.extraordinary = medium(extraordinary, "extraordinary")
        self.axis = _angles("axis", axis, 2)
        self.name = f"Uniaxial({self.ordinary.name}, {self.extraordinary.name}, axis={self.axis})"

    def permittivity(self, wavelengths: npt.ArrayLike) -> ComplexArray:
        """The (3, 3, W) relative permittivity in the lab frame at `wavelengths` (nm).

        Examples
        --------
        >>> ql.Uniaxial(1.5, 1.6).permittivity([400.0, 500.0]).shape
        (3, 3, 2)
        """
        o = _square(self.ordinary, "ordinary", wavelengths)
        e = _square(self.extraordinary, "extraordinary", wavelengths)
        polar, azimuth = self.axis
        a = np.array([math.sin(polar) * math.cos(azimuth), math.sin(polar) * math.sin(azimuth), math.cos(polar)])
        return np.asarray(np.eye(3)[:, :, None] * o + np.outer(a, a)[:, :, None] * (e - o), dtype=np.complex128)


class Biaxial(TensorMaterial):
    """A biaxial crystal: three principal indices along its own axes, rotated into the lab frame.

    Parameters
    ----------
    x, y, z : Material, str, complex or array_like
        The principal indices along the crystal's axes, each anything a `Layer` takes.
    euler : (float, float, float), optional
        The crystal's orientation as z-x-z Euler angles, radians (see `euler_matrix`).

    Examples
    --------
    >>> eps = ql.Biaxial(1.5, 1.6, 1.7).permittivity([500.0])
    >>> print(np.round(np.diag(eps[:, :, 0].real), 4))
    [2.25 2.56 2.89]
    """

    def __init__(self, x: MediumLike, y: MediumLike, z: MediumLike,
                 euler: Sequence[float] = (0.0, 0.0, 0.0)) -> None:
        self.principal = (medium(x, "x"), medium(y, "y"), medium(z, "z"))
        self.euler = _angles("euler", euler, 3)
        names = ", ".join(part.name for part in self.principal)
        self.name = f"Biaxial({names}, euler={self.euler})"

    def permittivity(self, wavelengths: npt.ArrayLike) -> ComplexArray:
        """The (3, 3, W) relative permittivity in the lab frame at `wavelengths` (nm).

        Examples
        --------
        >>> ql.Biaxial(1.5, 1.6, 1.7, euler=(0.1, 0.2, 0.3)).permittivity([500.0]).shape
        (3, 3, 1)
        """
        parts = [_square(part, what, wavelengths) for part, what in zip(self.principal, "xyz")]
        diagonal = np.zeros((3, 3, parts[0].shape[0]), dtype=np.complex128)
        for i, part in enumerate(parts):
            diagonal[i, i] = part
        return rotate_tensor(diagonal, self.euler)


def _about_normal(tensor: ComplexArray, angle: float) -> ComplexArray:
    """`tensor` (3, 3, ...) turned by `angle` about the lab z axis."""
    return rotate_tensor(tensor, (angle, 0.0, 0.0))


def _permittivity_of(material: Medium, wavelengths: npt.ArrayLike) -> ComplexArray:
    """The (3, 3, W) tensor of any medium a Stack holds: n² times the identity where isotropic."""
    if isinstance(material, TensorMaterial):
        return material.permittivity(wavelengths)
    wl = wavelength_array(wavelengths).reshape(-1)
    n = np.asarray(material(wl), dtype=np.complex128)
    return np.asarray(np.eye(3)[:, :, None] * (n * n), dtype=np.complex128)


def _whole_slices(value: object) -> int | None:
    """A TwistedLayer's slice count: None (chosen by convergence) or a positive integer."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or int(value) < 1:
        raise ValueError(f"slices must be None or a positive integer; received {value!r}")
    return int(value)


class TwistedLayer(Layer):
    """A layer whose material turns linearly about the stack normal through its thickness.

    Cholesteric liquid crystals and twisted-nematic cells: at depth z in a layer of
    thickness d the material is `material` turned about z by ``twist * z / d``, starting
    from its own orientation at the front face.

    Parameters
    ----------
    material : Uniaxial, Biaxial or any material a Layer takes
        The material at the front face.
    thickness : float
        The thickness in nm.
    twist : float
        The total turn about z across the layer, radians (positive from x towards y).
    slices : int, optional
        Homogeneous slices the layer is solved as, each turned to its mid-depth. Default:
        chosen by `Stack.solve` by doubling, from one slice per 5 degrees of twist (at
        least 8) up to 4096, until R and T (every polarisation pair) change by less than
        1e-6 on doubling: the midpoint error falls as 1/slices².

    Examples
    --------
    >>> cell = ql.TwistedLayer(ql.Uniaxial(1.5, 1.6, axis=(np.pi / 2, 0.0)), 5000.0, twist=np.pi / 2)
    >>> cell
    TwistedLayer(Uniaxial(1.5, 1.6, axis=(1.5707963267948966, 0.0)), 5000 nm, twist=1.5708)
    """

    def __init__(self, material: MediumLike, thickness: float, twist: float, slices: int | None = None) -> None:
        super().__init__(material, thickness)
        if isinstance(twist, bool) or not isinstance(twist, numbers.Real) or not math.isfinite(float(twist)):
            raise TypeError(f"twist must be a finite angle in radians; received {twist!r}")
        self.twist: float = float(twist)
        self.slices: int | None = _whole_slices(slices)

    def _first_slices(self) -> int:
        """The slice count the convergence search starts from."""
        if self.slices is not None:
            return self.slices
        return max(8, math.ceil(abs(self.twist) / math.radians(5.0)))

    def _sliced(self, wavelengths: npt.ArrayLike, slices: int) -> tuple[list[ComplexArray], list[float]]:
        """The (3, 3, W) tensors and thicknesses of `slices` homogeneous slices."""
        eps = _permittivity_of(self.material, wavelengths)
        angles = [self.twist * (k + 0.5) / slices for k in range(slices)]
        return [_about_normal(eps, angle) for angle in angles], [self.thickness / slices] * slices

    def __repr__(self) -> str:
        return f"TwistedLayer({self.material!r}, {self.thickness:g} nm, twist={self.twist:.5g})"
