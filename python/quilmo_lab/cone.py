"""Cone: a convergent beam, as a set of rays around each chief angle of incidence."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, real_number, type_name

FloatArray = npt.NDArray[np.float64]
Weighting = Literal["uniform", "lambertian"]


class Cone:
    """A convergent (or divergent) beam: every ray of a cone around each chief angle of incidence.

    Give exactly one of `half_angle`, `f_number` or `na`.

    Parameters
    ----------
    half_angle : float, optional
        The cone's half angle in radians, in the incidence medium, below pi/2.
    f_number : float, optional
        The focusing optics' f-number N: half angle arcsin(1 / (2 N)).
    na : float, optional
        The numerical aperture in the incidence medium, 0 to 1: half angle arcsin(na) (the
        incidence medium's index is not divided out).
    weighting : {"uniform", "lambertian"} or callable, optional
        The weight per solid angle of a ray at angle alpha from the chief ray: "uniform"
        equal, "lambertian" proportional to cos(alpha), or a callable taking alpha
        (radians, an array) and returning non-negative weights.
    tolerance : float, optional
        The quadrature is refined until R and T change by less than this.

    Raises
    ------
    TypeError, ValueError
        For none or several of the three sizes, or values out of range.

    See Also
    --------
    Slit : The bandwidth of the instrument.
    solve : Takes ``cone=``.

    Notes
    -----
    Each ray has its own angle of incidence and plane of incidence; its s and p are taken in
    its own plane. The beam's polarisation, defined in the chief ray's plane of incidence,
    is carried to each ray by the rotation that takes the chief ray onto it, and the
    reflected and transmitted light back the same way, so that the averaged Mueller
    matrices are those of the whole beam in the chief ray's s and p. The quadrature is
    Gauss-Legendre in alpha and the midpoint rule in the azimuth around the chief ray (over
    half the circle: the two halves mirror each other), both doubled until R and T agree
    with the previous level to `tolerance`.

    Examples
    --------
    >>> ql.Cone(f_number=2.0)
    Cone(half_angle=0.25268, weighting='uniform', tolerance=1e-06)
    >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], cone=ql.Cone(half_angle=0.2))
    >>> print(np.round(res.R()[0, 0], 5))
    [0.01261]
    """

    def __init__(self, half_angle: float | None = None, *, f_number: float | None = None, na: float | None = None,
                 weighting: Weighting | Callable[[FloatArray], npt.ArrayLike] = "uniform",
                 tolerance: float = 1e-6) -> None:
        given = [name for name, value in (("half_angle", half_angle), ("f_number", f_number), ("na", na))
                 if value is not None]
        if len(given) != 1:
            raise TypeError(f"Cone takes exactly one of half_angle, f_number and na; received "
                            f"{', '.join(given) if given else 'none'}")
        if half_angle is not None:
            angle = real_number("half_angle", half_angle, minimum=0.0)
        elif f_number is not None:
            angle = math.asin(1.0 / (2.0 * real_number("f_number", f_number, minimum=0.5)))
        else:
            angle = math.asin(real_number("na", na, minimum=0.0))
        if not angle < math.pi / 2:
            raise ValueError(f"the cone's half angle must be below pi/2 radians; received {angle!r}")
        self._half_angle = angle
        if callable(weighting):
            self._weighting: str | Callable[[FloatArray], npt.ArrayLike] = weighting
        elif isinstance(weighting, str):
            self._weighting = choice("weighting", weighting, ("uniform", "lambertian"))
        else:
            raise TypeError(f"weighting must be 'uniform', 'lambertian' or a callable; received "
                            f"{type_name(weighting)}")
        self._tolerance = real_number("tolerance", tolerance, minimum=0.0, strictly=True)

    @property
    def half_angle(self) -> float:
        """The half angle in radians.

        Examples
        --------
        >>> round(ql.Cone(na=0.1).half_angle, 6)
        0.100167
        """
        return self._half_angle

    @property
    def tolerance(self) -> float:
        """The tolerance of the quadrature in R and T.

        Examples
        --------
        >>> ql.Cone(0.1, tolerance=1e-4).tolerance
        0.0001
        """
        return self._tolerance

    def weights(self, alpha: FloatArray) -> FloatArray:
        """The weight per solid angle of rays at angles `alpha` (radians) from the chief ray.

        Examples
        --------
        >>> print(ql.Cone(0.1, weighting="lambertian").weights(np.array([0.0, np.pi / 3])))
        [1.  0.5]
        """
        if self._weighting == "uniform":
            return np.ones_like(alpha)
        if self._weighting == "lambertian":
            return np.cos(alpha)
        assert callable(self._weighting)
        values = np.asarray(self._weighting(alpha), dtype=np.float64)
        if values.shape != alpha.shape or not (np.isfinite(values) & (values >= 0)).all():
            raise ValueError("the cone's weighting must return one finite non-negative weight per angle")
        return values

    def rays(self, chief: FloatArray, level: int) -> tuple[FloatArray, FloatArray, FloatArray]:
        """The quadrature of `level` (0, 1, ...) around every chief angle.

        Returns the angles of incidence (A, N), the weights (A, N) summing to 1 over each
        chief angle, and the angle psi (A, N) of each ray's s direction from the chief
        ray's s direction carried onto it (towards the carried p direction).

        Examples
        --------
        >>> theta, weight, psi = ql.Cone(0.1).rays(np.array([0.0]), 0)
        >>> theta.shape, round(float(weight.sum()), 12)
        ((1, 4), 1.0)
        """
        count = 2 ** (level + 1)
        x, w = np.polynomial.legendre.leggauss(count)
        alpha = (x + 1) * (self._half_angle / 2)
        alpha_weight = w * np.sin(alpha) * self.weights(alpha)
        azimuth_count = 2 ** (level + 1)
        beta = (np.arange(azimuth_count) + 0.5) * (np.pi / azimuth_count)
        a, b = np.meshgrid(alpha, beta, indexing="ij")
        weight = np.broadcast_to(alpha_weight[:, None], a.shape).ravel()
        a, b = a.ravel(), b.ravel()
        thetas, psis = [], []
        for theta_c in chief:
            theta, psi = _ray_geometry(float(theta_c), a, b)
            thetas.append(theta)
            psis.append(psi)
        total = weight.sum()
        weights = np.broadcast_to(weight / total if total > 0 else np.full_like(weight, 1 / weight.size),
                                  (chief.size, weight.size))
        return np.array(thetas), np.array(weights), np.array(psis)

    def __repr__(self) -> str:
        weighting = repr(self._weighting) if isinstance(self._weighting, str) else "<callable>"
        return f"Cone(half_angle={self._half_angle:.5g}, weighting={weighting}, tolerance={self._tolerance:g})"


def _ray_geometry(theta_c: float, alpha: FloatArray, beta: FloatArray) -> tuple[FloatArray, FloatArray]:
    """Angle of incidence and polarisation rotation psi of rays at (alpha, beta) around a chief
    ray at theta_c in the x-z plane (the surface normal along z)."""
    sin_c, cos_c = math.sin(theta_c), math.cos(theta_c)
    local = np.stack([np.sin(alpha) * np.cos(beta), np.sin(alpha) * np.sin(beta), np.cos(alpha)], axis=-1)
    rotate = np.array([[cos_c, 0.0, sin_c], [0.0, 1.0, 0.0], [-sin_c, 0.0, cos_c]])
    k = local @ rotate.T
    theta = np.arccos(np.clip(k[:, 2], -1.0, 1.0))
    chief = np.array([sin_c, 0.0, cos_c])
    s_chief = np.array([0.0, 1.0, 0.0])
    p_chief = np.cross(s_chief, chief)
    # the chief basis carried onto each ray by the rotation about chief x k
    axis = np.cross(chief, k)
    sin_a = np.linalg.norm(axis, axis=-1)
    cos_a = k @ chief
    unit = np.divide(axis, sin_a[:, None], out=np.zeros_like(axis), where=sin_a[:, None] > 0)

    def carried(v: FloatArray) -> FloatArray:
        return np.asarray(v * cos_a[:, None] + np.cross(unit, v) * sin_a[:, None]
                          + unit * (unit @ v)[:, None] * (1 - cos_a[:, None]), dtype=np.float64)

    s_carried, p_carried = carried(s_chief), carried(p_chief)
    s_ray = np.cross([0.0, 0.0, 1.0], k)
    norm = np.linalg.norm(s_ray, axis=-1)
    s_ray = np.where(norm[:, None] > 1e-12, s_ray / np.where(norm > 0, norm, 1)[:, None], s_carried)
    psi = np.arctan2(np.einsum("ij,ij->i", s_ray, p_carried), np.einsum("ij,ij->i", s_ray, s_carried))
    return theta, np.asarray(psi, dtype=np.float64)
