"""Cone: a convergent beam, as a set of rays around each chief angle of incidence."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, real_number, type_name
from quilmo_lab._quadrature import KEY_BITS, clenshaw_curtis, gauss_legendre, key_stride

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
Weighting = Literal["uniform", "lambertian"]

# The most numbers a cone keeps in its rules (chief angle, level): 32 MB.
_KEPT_NUMBERS = 1 << 22


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
        The accuracy promised for the averaged R and T (absolute, at every wavelength).
        A wavelength's quadrature is refined until a level changes its R and T by less than
        this and the level before changed them by less than 0.1 * sqrt(tolerance) (a sign
        that the rule resolves the integrand), or until a level changes them by less than a
        hundredth of it. Given together with a `Slit`, the averages are refined together to the
        smallest of their tolerances; a ``thickness_spread`` brings its own, 1e-6.

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
    over the angle of incidence theta, the only one a ray's R and T depend on. Where the
    cone holds whole circles of azimuth, Clenshaw-Curtis in theta; where it holds arcs, a
    rule in t, theta = middle + width cos t (which turns the square-root ends of the arcs
    into smooth ones): the trapezoid rule when the arcs shrink to nothing at both ends,
    Clenshaw-Curtis when the cone holds the normal off its axis and the arcs grow into
    whole circles at one end (where the trapezoid rule would converge only as the inverse
    square of the count). All converge exponentially on smooth integrands and
    all keep every node when the node count doubles, so each level solves only its new
    angles of incidence, and only at the wavelengths not yet within `tolerance`: a
    wavelength on a steep band edge
    refines alone while the flat stretches of the spectrum stop after a few levels. For
    each theta, Gauss-Legendre over the arc of azimuths inside the cone gives its weight
    and the turns of polarisation, without rays of its own (the rays at azimuths phi and
    -phi share their R and T).

    The cost is the engine's, one point per angle of incidence and wavelength: the first two
    levels solve 9 angles of incidence together around a chief angle beyond the half angle
    (18 within it), and each further level doubles them at the wavelengths still refining;
    a level is accepted once the one before it changed R and T by less than about the
    square root of the tolerance, so the rule accepted has typically twice the angles of
    the first one within the tolerance. At the default tolerance a 10 degree cone on a
    42-media quarter-wave mirror (400 to 800 nm, 30 degrees) solves 104 angles per
    wavelength on average: 9 where R is flat in angle, up to 513 on the band edges, where
    a narrow resonance sweeps through the cone; around chief angles of 0, 4 and 8 degrees,
    16, 54 and 82. A cone keeps the rays of every chief angle and level
    it has solved (not with a callable weighting), so that the next solve with it, in a fit
    or a sweep, reuses them.

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
        # The rays around a chief angle at a level depend on nothing else: kept for the next
        # solve with this cone (a fit or a sweep solves many), unless a callable weighs them.
        self._kept: dict[tuple[float, int], tuple[IntArray, FloatArray, FloatArray, FloatArray]] = {}
        self._kept_numbers = 0

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

    def rays(self, chief: FloatArray, level: int) -> tuple[IntArray, IntArray, FloatArray, FloatArray, FloatArray]:
        """The quadrature of `level` (0, 1, ...) around every chief angle.

        A ray's R and T depend only on its angle of incidence theta, so the cone is
        integrated over theta (the engine's rays) and, for each theta, over the arc of
        azimuths the cone holds (weights and polarisation turns only). Every level holds the
        previous level's angles of incidence, with the same keys, and about as many new ones.
        Returns, for the R angles of incidence of every chief angle: the chief angle's index
        (R,), the node's key (R,) (equal keys for equal nodes of any level), the angle of
        incidence (R,), the weights (R, M) summing to 1 over each chief angle, and the angle
        psi (R, M) of each ray's s direction from the chief ray's s direction carried onto it
        (towards the carried p direction).

        Examples
        --------
        >>> chief, key, theta, weight, psi = ql.Cone(0.1).rays(np.array([0.3]), 0)
        >>> theta.shape, weight.shape, round(float(weight.sum()), 12)
        ((5,), (5, 24), 1.0)
        >>> finer = ql.Cone(0.1).rays(np.array([0.3]), 1)
        >>> bool(np.isin(key, finer[1]).all())
        True
        """
        parts = [self._kept_rays_around(float(theta_c), level) for theta_c in chief]
        index = np.concatenate([np.full(part[0].size, a, dtype=np.int64) for a, part in enumerate(parts)])
        key, theta, weight, psi = (np.concatenate([part[i] for part in parts]) for i in range(4))
        return index, key, theta, weight, psi

    def _kept_rays_around(self, theta_c: float, level: int) -> tuple[IntArray, FloatArray, FloatArray, FloatArray]:
        if callable(self._weighting):
            return self._rays_around(theta_c, level)
        found = self._kept.get((theta_c, level))
        if found is None:
            found = self._rays_around(theta_c, level)
            numbers = sum(part.size for part in found)
            if self._kept_numbers + numbers > _KEPT_NUMBERS:
                self._kept.clear()
                self._kept_numbers = 0
            self._kept[theta_c, level] = found
            self._kept_numbers += numbers
            for array in found:
                array.flags.writeable = False
        return found

    def __getstate__(self) -> dict[str, object]:
        # the kept rays are rebuilt where the cone is used (a worker process), not shipped to it
        return {**self.__dict__, "_kept": {}, "_kept_numbers": 0}

    def _rays_around(self, theta_c: float, level: int) -> tuple[IntArray, FloatArray, FloatArray, FloatArray]:
        half = self._half_angle
        # Where the cone holds whole circles of azimuth (theta below half - theta_c) the
        # weight is smooth in theta: Clenshaw-Curtis. Where it holds arcs, their lengths have
        # square-root ends; theta = middle + width cos t makes them analytic in t in [0, pi].
        # When the arcs shrink to nothing at both ends, the weight times dtheta/dt is even
        # about both ends, and the trapezoid rule in t converges fastest; when the cone holds
        # the normal, the arcs start as whole circles and that product has a kink in its even
        # extension at t = pi (the trapezoid rule would converge as 1/count^2): Clenshaw-Curtis
        # in t then. Every rule takes the nodes j pi / count of its variable, so doubling count
        # keeps every node: a node's key is j scaled to the finest level.
        count = 2 ** (level + 2)
        scale = key_stride(level)
        parts_key, parts_theta, parts_weight = [], [], []
        whole = half - theta_c
        if whole > 0:
            x, w = clenshaw_curtis(count)
            parts_key.append(np.arange(count + 1, dtype=np.int64) * scale)
            parts_theta.append((x + 1) * (whole / 2))
            parts_weight.append(w * (whole / 2))
        if theta_c > 0:
            low = abs(theta_c - half)
            middle, width = (low + theta_c + half) / 2, (theta_c + half - low) / 2
            if whole > 0:
                x, w = clenshaw_curtis(count)
                t, dt = (x + 1) * (np.pi / 2), w * (np.pi / 2)
            else:
                t = np.arange(count + 1) * (np.pi / count)
                dt = np.full(count + 1, np.pi / count)
                dt[[0, -1]] /= 2
            parts_key.append(np.arange(count + 1, dtype=np.int64) * scale + 2 ** (KEY_BITS + 3))
            parts_theta.append(middle + width * np.cos(t))
            parts_weight.append(dt * width * np.sin(t))
        key = np.concatenate(parts_key)
        theta, d_theta = np.concatenate(parts_theta), np.concatenate(parts_weight)
        x, w = gauss_legendre(24)
        sin_c, cos_c = math.sin(theta_c), math.cos(theta_c)
        with np.errstate(divide="ignore", invalid="ignore"):
            cos_arc = (math.cos(half) - np.cos(theta) * cos_c) / (np.sin(theta) * sin_c)
        arc = np.where(np.sin(theta) * sin_c > 0, np.arccos(np.clip(cos_arc, -1.0, 1.0)), np.pi)
        phi = arc[:, None] * x[None, :]
        k = np.stack([np.sin(theta)[:, None] * np.cos(phi), np.sin(theta)[:, None] * np.sin(phi),
                      np.broadcast_to(np.cos(theta)[:, None], phi.shape)], axis=-1).reshape(-1, 3)
        alpha = np.arccos(np.clip(k @ np.array([sin_c, 0.0, cos_c]), -1.0, 1.0))
        weight = (d_theta * np.sin(theta) * arc)[:, None] * w[None, :] * \
            self.weights(alpha).reshape(phi.shape)
        total = weight.sum()
        weight = weight / total if total > 0 else np.full_like(weight, 1 / weight.size)
        return key, theta, weight, _polarisation_turn(theta_c, k).reshape(phi.shape)

    def __repr__(self) -> str:
        weighting = repr(self._weighting) if isinstance(self._weighting, str) else "<callable>"
        return f"Cone(half_angle={self._half_angle:.5g}, weighting={weighting}, tolerance={self._tolerance:g})"


def _polarisation_turn(theta_c: float, k: FloatArray) -> FloatArray:
    """The angle psi of the s direction of rays `k` (N, 3) from the chief ray's s direction
    carried onto them by the rotation about chief x k (the surface normal along z, the chief
    ray at theta_c in the x-z plane)."""
    sin_c, cos_c = math.sin(theta_c), math.cos(theta_c)
    chief = np.array([sin_c, 0.0, cos_c])
    s_chief = np.array([0.0, 1.0, 0.0])
    p_chief = np.cross(s_chief, chief)
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
    return np.asarray(np.arctan2(np.einsum("ij,ij->i", s_ray, p_carried), np.einsum("ij,ij->i", s_ray, s_carried)),
                      dtype=np.float64)
