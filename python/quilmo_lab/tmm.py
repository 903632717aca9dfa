"""Coming from ``tmm``: the functions of ``tmm`` 0.2.0's core under their names.

Change one import and keep the script::

    import quilmo_lab.tmm as tmm      # was: import tmm
    from quilmo_lab.tmm import coh_tmm, inc_tmm

The functions take ``tmm``'s arguments (``pol`` "s" or "p", ``n_list`` incidence medium
first, ``d_list`` with ``inf`` at both ends, ``th_0`` in radians in the incidence medium,
``lam_vac`` in the unit of ``d_list``) and return dictionaries with ``tmm``'s keys. Every
number comes from the engine of `quilmo_lab.solve`: `coh_tmm` is one engine call for the
amplitudes, powers, and each medium's k_z, angle and forward and backward amplitudes
(`Result.kz`, `Result.layer_angles`, `Result.waves_s`); `position_resolved` asks the engine
for the fields at its place (`Profile.E_s`, `Profile.poynting_s`); `inc_tmm` takes its powers,
absorbed fractions and the intensities between the coherent stacks (``VW_list``,
``stackFB_list``, ``power_entering_list``) from the engine's incoherent solver.
`inc_position_resolved`, absent from ``tmm`` 0.2.0, gives the absorbed density at a place of a
partly incoherent stack.

Beyond ``tmm``: ``lam_vac`` and ``th_0`` of `coh_tmm`, `coh_tmm_reverse`, `unpolarized_RT`,
`ellips` and `inc_tmm` may be arrays that broadcast together: every returned value then has their
shape, per-medium values (``vw_list``, ``kz_list``, ``th_list``) after the medium axis; one
engine call where either is a single value, one per point otherwise. `position_resolved`
takes such data and an array of distances.

What differs from ``tmm``: errors are ``ValueError``/``TypeError`` in our words where ``tmm``
asserts. Conventions are ``tmm``'s: n + ik with k > 0 absorbing, time dependence exp(-i omega t),
the p amplitude of the electric field along the reflected-ray frame of ``tmm``
(r_p = r_s at normal incidence with opposite sign), ellipsometric Delta of -r_p/r_s.
An absorbing incidence medium takes a complex angle ``th_0`` such that n_0 sin(th_0) is
real; angles follow the forward-angle rule (`is_forward_angle`).

Examples
--------
>>> import quilmo_lab.tmm as tmm
>>> data = tmm.coh_tmm("s", [1, 1.38, 1.52], [np.inf, 99.6, np.inf], 0, 550)
>>> print(round(data["R"], 4), round(data["T"], 4))
0.0126 0.9874
>>> sorted(data)[:5]
['R', 'T', 'd_list', 'kz_list', 'lam_vac']
"""

from __future__ import annotations

import cmath
import math
import sys
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine

__all__ = [
    "R_from_r", "T_from_t", "absorp_analytic_fn", "absorp_in_each_layer",
    "coh_tmm", "coh_tmm_reverse", "ellips", "find_in_structure", "find_in_structure_with_inf",
    "inc_absorp_in_each_layer", "inc_find_absorp_analytic_fn", "inc_group_layers", "inc_position_resolved",
    "inc_tmm", "interface_R", "interface_T", "interface_r", "interface_t", "is_forward_angle", "layer_starts",
    "list_snell", "make_2x2_array", "position_resolved", "power_entering_from_r", "snell",
    "unpolarized_RT",
]

EPSILON = sys.float_info.epsilon
ArrayLike = npt.ArrayLike


def _pol(pol: object) -> str:
    if pol not in ("s", "p"):
        raise ValueError(f"pol must be 's' or 'p'; received {pol!r}")
    return str(pol)


def make_2x2_array(a: Any, b: Any, c: Any, d: Any, dtype: Any = float) -> npt.NDArray[Any]:
    """The 2x2 array [[a, b], [c, d]] of `dtype`.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.make_2x2_array(1, 2, 3, 4)
    array([[1., 2.],
           [3., 4.]])
    """
    out = np.empty((2, 2), dtype=dtype)
    out[0, 0], out[0, 1], out[1, 0], out[1, 1] = a, b, c, d
    return out


def is_forward_angle(n: complex, theta: complex) -> bool:
    """Whether a wave at angle `theta` in a medium of index `n` travels or decays towards +z.

    The rule: where Im(n cos theta) exceeds 100 machine epsilons in size, the wave is
    forward when it decays along +z (Im(n cos theta) > 0); otherwise when it propagates
    along +z (Re(n cos theta) > 0). An index with gain (Re n Im n < 0) is refused.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.is_forward_angle(1.5, 0.3), tmm.is_forward_angle(1.5, np.pi - 0.3)
    (True, False)
    """
    n = complex(n)
    if n.real * n.imag < 0:
        raise ValueError(f"n must be a passive index (Re n and Im n of one sign); received {n}")
    kz = n * np.cos(complex(theta))
    answer = kz.imag > 0 if abs(kz.imag) > 100 * EPSILON else kz.real > 0
    return bool(answer)


def snell(n_1: complex, n_2: complex, th_1: complex) -> complex:
    """The angle in medium `n_2` of a wave at `th_1` in medium `n_1`, taken forward.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> round(float(np.real(tmm.snell(1.0, 1.5, np.pi / 6))), 6)
    0.339837
    """
    th_2 = np.arcsin(n_1 * np.sin(th_1) / n_2 + 0j)
    return complex(th_2 if is_forward_angle(n_2, th_2) else np.pi - th_2)


def list_snell(n_list: ArrayLike, th_0: complex) -> npt.NDArray[np.complex128]:
    """The angle in every medium of `n_list` of a wave at `th_0` in the first; the outer
    media's taken forward (inner layers carry both directions).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> np.round(tmm.list_snell([1.0, 2.0, 1.0], np.pi / 6).real, 6)
    array([0.523599, 0.25268 , 0.523599])
    """
    n = np.asarray(n_list, dtype=np.complex128)
    angles: npt.NDArray[np.complex128] = np.arcsin(n[0] * np.sin(th_0) / n)
    for j in (0, -1):
        if not is_forward_angle(n[j], angles[j]):
            angles[j] = np.pi - angles[j]
    return angles


def interface_r(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Fresnel reflection amplitude from medium i into medium f.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(tmm.interface_r("s", 1.0, 1.5, 0.0, 0.0))
    -0.2
    """
    if _pol(polarization) == "s":
        a, b = n_i * np.cos(th_i), n_f * np.cos(th_f)
    else:
        a, b = n_f * np.cos(th_i), n_i * np.cos(th_f)
    return (a - b) / (a + b)


def interface_t(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Fresnel transmission amplitude from medium i into medium f.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(tmm.interface_t("s", 1.0, 1.5, 0.0, 0.0))
    0.8
    """
    if _pol(polarization) == "s":
        total = n_i * np.cos(th_i) + n_f * np.cos(th_f)
    else:
        total = n_f * np.cos(th_i) + n_i * np.cos(th_f)
    return 2 * n_i * np.cos(th_i) / total


def R_from_r(r: Any) -> Any:
    """Reflected power |r|^2.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.R_from_r(0.6j)
    0.36
    """
    return abs(r) ** 2


def _flux(pol: str, n: Any, th: Any) -> Any:
    """Re of the admittance whose ratio weighs transmitted powers: n cos for s, n conj(cos) for p."""
    return np.real(n * np.cos(th)) if pol == "s" else np.real(n * np.conj(np.cos(th)))


def T_from_t(pol: str, t: Any, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Transmitted power from the amplitude t, for a lossless (or normal-incidence) incidence
    medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(round(tmm.T_from_t("s", 0.8, 1.0, 1.5, 0.0, 0.0), 12))
    0.96
    """
    return abs(t) ** 2 * _flux(_pol(pol), n_f, th_f) / _flux(pol, n_i, th_i)


def power_entering_from_r(pol: str, r: Any, n_i: Any, th_i: Any) -> Any:
    """The power entering the first interface, 1 - R for a lossless incidence medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(round(tmm.power_entering_from_r("s", 0.2, 1.0, 0.0), 12))
    0.96
    """
    pol = _pol(pol)
    cos_i = np.cos(th_i)
    admittance = n_i * (cos_i if pol == "s" else np.conj(cos_i))
    r = np.asarray(r)
    # the net flux of the incident (1) and reflected (r) waves: Re(Y conj(1 + r) (1 - r)) for s,
    # Re(Y (1 + r) conj(1 - r)) for p
    net = (admittance * np.conj(1 + r) * (1 - r) if pol == "s" else admittance * (1 + r) * np.conj(1 - r))
    return np.real(net) / np.real(admittance)


def interface_R(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Reflected power at one interface.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(round(tmm.interface_R("s", 1.0, 1.5, 0.0, 0.0), 12))
    0.04
    """
    return R_from_r(interface_r(polarization, n_i, n_f, th_i, th_f))


def interface_T(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Transmitted power at one interface.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(round(tmm.interface_T("s", 1.0, 1.5, 0.0, 0.0), 12))
    0.96
    """
    return T_from_t(polarization, interface_t(polarization, n_i, n_f, th_i, th_f), n_i, n_f, th_i, th_f)


def _stack_lists(n_list: ArrayLike, d_list: ArrayLike) -> tuple[npt.NDArray[np.complex128], npt.NDArray[np.float64]]:
    n = np.ascontiguousarray(n_list, dtype=np.complex128)
    d = np.ascontiguousarray(d_list, dtype=np.float64)
    if n.ndim != 1 or n.shape != d.shape or n.size < 2:
        raise ValueError("n_list and d_list must be one-dimensional lists of the same length, at least 2 "
                         f"(incidence and exit medium); received {n.size} indices and {d.size} thicknesses")
    if d[0] != math.inf or d[-1] != math.inf:
        raise ValueError(f"d_list must start and end with inf (the outer media); received {d[0]!r} and {d[-1]!r}")
    return n, d


def _incidence(n0: complex, th_0: Any) -> Any:
    """th_0 checked: n_0 sin(th_0) real and the angle forward in the incidence medium."""
    th: Any
    if isinstance(th_0, float):  # the commonest call, valid where the checks below would pass
        real, imag = n0.real, n0.imag  # numpy's scalar attributes once: Python's arithmetic after
        if imag == 0 and math.isfinite(th_0) and math.isfinite(real) and real * math.cos(th_0) > 0:
            return complex(th_0)
    if isinstance(th_0, (int, float, complex, np.number)) and not isinstance(th_0, bool):
        th = complex(th_0)
        tangential, cosine = complex(n0) * cmath.sin(th), complex(n0) * cmath.cos(th)
        real_tangential = abs(tangential.imag) < 100 * EPSILON
        forward = cosine.imag > 0 if abs(cosine.imag) > 100 * EPSILON else cosine.real > 0
    else:
        th = np.asarray(th_0)
        if th.dtype.kind not in "iufc":
            raise TypeError(f"th_0 must be angles in radians; received dtype {th.dtype}")
        tangential, cosine = n0 * np.sin(th), n0 * np.cos(th)
        real_tangential = not np.any(np.abs(tangential.imag) >= 100 * EPSILON)
        forward = bool(np.all(np.where(np.abs(cosine.imag) > 100 * EPSILON, cosine.imag > 0, cosine.real > 0)))
    if not real_tangential:
        raise ValueError("n_list[0] * sin(th_0) must be real: an absorbing incidence medium takes the complex "
                         f"angle whose n_0 sin(th_0) is real; received {np.ravel(tangential)[0]!r}")
    if not forward:
        raise ValueError(f"th_0 must be a forward angle in the incidence medium; received {np.ravel(th_0)[0]!r}")
    return th


def _engine_angles(th: npt.NDArray[Any]) -> npt.NDArray[Any]:
    """The engine's angles: float64, or complex128 where any has an imaginary part."""
    if th.dtype.kind == "c" and th.imag.any():
        return np.ascontiguousarray(th, dtype=np.complex128)
    return np.ascontiguousarray(th.real, dtype=np.float64)


Outputs = tuple[npt.NDArray[np.complex128], npt.NDArray[np.float64], npt.NDArray[np.complex128],
                npt.NDArray[np.complex128]]


def _solve_points(n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th: Any, lam: Any) -> Outputs:
    """The engine's outputs at every point of th and lam broadcast together, from one pass:
    amplitudes (r_s, r_p, t_s, t_p), (4, *shape); powers (R_s, R_p, T_s, T_p and the power
    entering the stack, s and p), (6, *shape); k_z and the angle of every medium,
    (2, media, *shape); the amplitudes v_s, w_s, v_p, w_p at each medium's front,
    (4, media, *shape), in tmm's roots (_tmm_roots). One engine call where th or lam is one value."""
    media, inner = n.size, d[1:-1]
    if isinstance(th, complex) and isinstance(lam, (int, float, np.number)) or np.ndim(th) == np.ndim(lam) == 0:
        amplitudes, powers = np.empty(4, dtype=np.complex128), np.empty(6)
        normal, waves = np.empty((2, media), dtype=np.complex128), np.empty((4, media), dtype=np.complex128)
        if _engine.coherent_point(n, inner, float(lam), complex(th), amplitudes, powers, normal, waves):
            _tmm_roots(n, th, normal, waves)
        return amplitudes, powers, normal, waves
    th_b, lam_b = np.broadcast_arrays(np.asarray(th), np.asarray(lam, dtype=np.float64))
    shape, th_flat, lam_flat = th_b.shape, th_b.reshape(-1), np.ascontiguousarray(lam_b.reshape(-1))
    points = th_flat.size
    indices, thicknesses = n.reshape(1, -1, 1), np.ascontiguousarray(inner.reshape(1, -1))
    smooth = np.zeros((1, media - 1))
    if points and (np.all(th_flat == th_flat[0]) or np.all(lam_flat == lam_flat[0])):
        by_wavelength = bool(np.all(th_flat == th_flat[0]))
        angles = _engine_angles(th_flat[:1] if by_wavelength else th_flat)
        wavelengths = lam_flat if by_wavelength else lam_flat[:1].copy()
        a, w = angles.size, wavelengths.size
        amplitudes, powers = np.empty((4, 1, a, w), dtype=np.complex128), np.empty((6, 1, a, w))
        normal, waves = np.empty((2, 1, a, media, w), dtype=np.complex128), np.empty((4, 1, a, media, w),
                                                                                     dtype=np.complex128)
        _engine.coherent_waves(indices, thicknesses, wavelengths, angles, 1, smooth, 0, amplitudes, powers[:4],
                               powers[4:], normal, waves, 1)
        # (planes, 1, A, media, W) with A or W 1: media first, then the points
        normal_p = np.moveaxis(normal[:, 0], 2, 1).reshape(2, media, *shape)
        waves_p = np.moveaxis(waves[:, 0], 2, 1).reshape(4, media, *shape)
        if not normal_p[0, 1:-1].real.all():  # only an evanescent lossless layer can need tmm's other root
            _tmm_roots(n, th_flat.reshape(shape), normal_p, waves_p)
        return amplitudes.reshape(4, *shape), powers.reshape(6, *shape), normal_p, waves_p
    outputs = [_solve_points(n, d, th_flat[i], lam_flat[i]) for i in range(points)]
    planes = (4, 6, 2, 4)
    stacked: list[Any] = [np.stack([o[k] for o in outputs], axis=-1) if points else np.empty(
        (planes[k], *(() if k < 2 else (media,)), 0)) for k in range(4)]
    return (stacked[0].reshape(4, *shape), stacked[1].reshape(6, *shape), stacked[2].reshape(2, media, *shape),
            stacked[3].reshape(4, media, *shape))


def _scalar(x: Any) -> Any:
    return x[()] if isinstance(x, np.ndarray) and x.ndim == 0 else x


def _tmm_roots(n: npt.NDArray[np.complex128], th: Any, normal: npt.NDArray[np.complex128],
               waves: npt.NDArray[np.complex128]) -> None:
    """Turns the engine's per-medium values into tmm's where they differ: tmm takes an inner
    layer's angle as the principal arcsin of n_0 sin(th_0) / n, which for a lossless layer
    beyond its critical angle can be the backward root (k_z decaying towards -z); there k_z
    and the angle turn (theta -> pi - theta) and the forward and backward waves swap."""
    kz = normal[0, 1:-1]
    evanescent = (kz.real == 0) & (n[1:-1].imag == 0).reshape((-1,) + (1,) * (kz.ndim - 1))
    if not evanescent.any():
        return
    tmm_angles = np.arcsin(np.multiply.outer(1 / n[1:-1], n[0] * np.sin(th)))
    turned = evanescent & ((np.cos(tmm_angles) * np.reshape(n[1:-1], (-1,) + (1,) * (kz.ndim - 1))).imag
                           * kz.imag < 0)
    if not turned.any():
        return
    inner = slice(1, -1)
    normal[0, inner] = np.where(turned, -normal[0, inner], normal[0, inner])
    normal[1, inner] = np.where(turned, np.pi - normal[1, inner], normal[1, inner])
    for pol in (0, 2):
        v, w = waves[pol, inner].copy(), waves[pol + 1, inner].copy()
        waves[pol, inner], waves[pol + 1, inner] = np.where(turned, w, v), np.where(turned, v, w)


def _coh_data(pol: str, n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th_0: Any, lam_vac: Any,
              th: Any, outputs: Outputs) -> dict[str, Any]:
    amplitudes, powers, normal, waves = outputs
    side = 0 if pol == "s" else 1
    kz_list, th_list = normal[0], normal[1]
    r, t = amplitudes[side], amplitudes[side + 2]
    if waves.ndim == 2:  # one point
        vw = waves[2 * side:2 * side + 2].T
    else:
        vw = np.moveaxis(waves[2 * side:2 * side + 2], 0, 1)  # (media, 2, *shape)
        r, t = _scalar(r), _scalar(t)
    vw[0] = 0
    vw[-1, 0], vw[-1, 1] = t, 0
    return {"r": r, "t": t, "R": _scalar(powers[side]), "T": _scalar(powers[side + 2]),
            "power_entering": _scalar(powers[side + 4]), "vw_list": vw, "kz_list": kz_list, "th_list": th_list,
            "pol": pol, "n_list": n, "d_list": d, "th_0": th_0, "lam_vac": lam_vac}


def _coh_point(pol: str, n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th_0: Any, lam_vac: Any,
               th: complex) -> dict[str, Any]:
    """_coh_data of one point, the call tmm-style loops make, in the fewest steps."""
    media = n.size
    vw, normal = np.empty((media, 2), dtype=np.complex128), np.empty((2, media), dtype=np.complex128)
    r, t, R, T, entering, evanescent = _engine.tmm_point(n, d, float(lam_vac), th, 1 if pol == "p" else 0, vw, normal)
    if evanescent:  # tmm may take the other root in a lossless layer
        return _coh_data(pol, n, d, th_0, lam_vac, th, _solve_points(n, d, th, lam_vac))
    # Python's numbers: numpy's scalars (as tmm's arithmetic gives) would cost a fifth of the call
    return {"r": r, "t": t, "R": R, "T": T, "power_entering": entering, "vw_list": vw, "kz_list": normal[0],
            "th_list": normal[1],
            "pol": pol, "n_list": n, "d_list": d, "th_0": th_0, "lam_vac": lam_vac}


def coh_tmm(pol: str, n_list: ArrayLike, d_list: ArrayLike, th_0: Any, lam_vac: Any) -> dict[str, Any]:
    """Reflection and transmission of a coherent stack, and its fields, in ``tmm``'s keys.

    Parameters
    ----------
    pol : {"s", "p"}
    n_list : array_like
        Complex indices, incidence medium first, exit medium last.
    d_list : array_like
        Thicknesses, ``inf`` for the two outer media.
    th_0 : complex or array_like
        Angle of incidence in the incidence medium, radians; complex for an absorbing
        incidence medium (n_0 sin th_0 real), forward.
    lam_vac : float or array_like
        Vacuum wavelength, in the unit of `d_list`. `th_0` and `lam_vac` may be arrays
        that broadcast together: every value then has their shape, per-layer values a
        leading axis of media.

    Returns
    -------
    dict
        ``r``, ``t``, ``R``, ``T``, ``power_entering``, ``vw_list`` (media, 2: forward and
        backward amplitudes at each medium's start, zeros for the incidence medium),
        ``kz_list``, ``th_list``, and the inputs ``pol``, ``n_list``, ``d_list``, ``th_0``,
        ``lam_vac``. All come from one engine pass (`Result.waves_s`, `Result.kz`,
        `Result.layer_angles` of `quilmo_lab.solve`). At one point ``r`` and ``t`` are
        Python complex numbers and ``R``, ``T`` and ``power_entering`` Python floats, where
        ``tmm`` gives NumPy's scalars (subclasses of those): ``float(x)`` and ``complex(x)``
        read both.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("p", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.3, 500)
    >>> print(round(data["R"], 6), round(data["T"], 6))
    0.092229 0.707047
    >>> tmm.coh_tmm("s", [1, 1.5], [np.inf, np.inf], 0.0, [400.0, 500.0])["R"].round(3)
    array([0.04, 0.04])
    """
    pol = _pol(pol)
    n, d = _stack_lists(n_list, d_list)
    th = _incidence(n[0], th_0)
    if isinstance(th, complex) and isinstance(lam_vac, (int, float, np.number)):
        return _coh_point(pol, n, d, th_0, lam_vac, th)
    return _coh_data(pol, n, d, th_0, lam_vac, th, _solve_points(n, d, th, lam_vac))


def coh_tmm_reverse(pol: str, n_list: ArrayLike, d_list: ArrayLike, th_0: Any, lam_vac: Any) -> dict[str, Any]:
    """`coh_tmm` for light coming from the exit side: the stack reversed, the angle of
    incidence `th_0` still the one in the front medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> float(round(tmm.coh_tmm_reverse("s", [1, 1.5], [np.inf, np.inf], 0.0, 500)["R"], 6))
    0.04
    """
    n, d = _stack_lists(n_list, d_list)
    th_f = snell(n[0], n[-1], th_0) if np.ndim(th_0) == 0 else np.vectorize(lambda t: snell(n[0], n[-1], t))(th_0)
    return coh_tmm(pol, n[::-1], d[::-1], th_f, lam_vac)


def ellips(n_list: ArrayLike, d_list: ArrayLike, th_0: Any, lam_vac: Any) -> dict[str, Any]:
    """Ellipsometric angles ``psi`` = arctan|r_p / r_s| and ``Delta`` = arg(-r_p / r_s), radians.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.ellips([1, 1.5], [np.inf, np.inf], 0.5, 500)
    >>> print(round(data["psi"], 6), round(data["Delta"], 6))
    0.603169 0.0
    """
    n, d = _stack_lists(n_list, d_list)
    amplitudes = _solve_points(n, d, _incidence(n[0], th_0), lam_vac)[0]
    ratio = amplitudes[1] / amplitudes[0]
    return {"psi": _scalar(np.arctan(np.abs(ratio))), "Delta": _scalar(np.angle(-ratio))}


def unpolarized_RT(n_list: ArrayLike, d_list: ArrayLike, th_0: Any, lam_vac: Any) -> dict[str, Any]:
    """R and T of unpolarised light: the means of s and p, from one engine call.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.unpolarized_RT([1, 1.5], [np.inf, np.inf], 0.0, 500)
    >>> print(round(data["R"], 6), round(data["T"], 6))
    0.04 0.96
    """
    n, d = _stack_lists(n_list, d_list)
    powers = _solve_points(n, d, _incidence(n[0], th_0), lam_vac)[1]
    return {"R": _scalar((powers[0] + powers[1]) / 2), "T": _scalar((powers[2] + powers[3]) / 2)}


def position_resolved(layer: int, distance: Any, coh_tmm_data: dict[str, Any]) -> dict[str, Any]:
    """Fields, Poynting flux and absorbed power density at `distance` from the start of `layer`.

    Returns ``poyn`` (the normal Poynting flux as a fraction of the incident), ``absor``
    (the absorbed power per unit length, in the inverse unit of `d_list`), and the
    complex field components ``Ex``, ``Ey``, ``Ez`` (amplitude 1 for the incident wave).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 1.5 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> bool(np.isclose(tmm.position_resolved(2, 0.0, data)["poyn"], data["T"]))
    True
    """
    pol = coh_tmm_data["pol"]
    n, d = coh_tmm_data["n_list"], coh_tmm_data["d_list"]
    th = _incidence(n[0], coh_tmm_data["th_0"])
    lam = coh_tmm_data["lam_vac"]
    if not 0 <= layer < n.size:
        raise ValueError(f"layer must be a medium of the stack, 0 to {n.size - 1}; received {layer!r}")
    z = np.asarray(distance, dtype=np.float64)
    th_b, lam_b = np.broadcast_arrays(np.asarray(th), np.asarray(lam, dtype=np.float64))
    fields = np.empty((6, *th_b.shape, *z.shape), dtype=np.complex128)
    powers = np.empty((6, *th_b.shape, *z.shape))
    media = np.full(z.size, layer, dtype=np.uint64)
    smooth = np.zeros((1, n.size - 1))
    grid = (n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1)))
    for at in np.ndindex(th_b.shape):
        e, p = np.empty((6, 1, z.size), dtype=np.complex128), np.empty((6, 1, z.size))
        _engine.fields(*grid, np.array([lam_b[at]]), _engine_angles(np.atleast_1d(th_b[at])), smooth, 0, media,
                       np.ascontiguousarray(z.reshape(-1)), e, p, 1)
        index = (slice(None), *at)
        fields[index] = e.reshape(6, *z.shape)
        powers[index] = p.reshape(6, *z.shape)
    side = 0 if pol == "s" else 1
    e_x, e_y, e_z = (_scalar(fields[3 * side + c]) for c in range(3))
    out = {"poyn": _scalar(powers[side]), "absor": _scalar(powers[2 + side])}
    if pol == "s":
        return out | {"Ex": 0, "Ey": e_y, "Ez": 0}
    return out | {"Ex": e_x, "Ey": 0, "Ez": e_z}


def find_in_structure(d_list: ArrayLike, distance: Any) -> Any:
    """[layer, distance within it] of a depth `distance` into finite layers `d_list`; a depth
    on an interface belongs to the layer behind it, and past the end to the last layer.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.find_in_structure([100, 50], 100)
    [1, 0.0]
    """
    d = np.asarray(d_list, dtype=float)
    if np.any(np.isinf(d)):
        raise ValueError("d_list must hold finite thicknesses (use find_in_structure_with_inf for a stack "
                         "with its outer media)")
    if np.any(np.asarray(distance) < 0):
        raise ValueError(f"distance must be at least 0; received {distance!r}")
    starts = np.concatenate(([0.0], np.cumsum(d)))[:-1]
    layer = np.searchsorted(starts, distance, side="right") - 1
    inside = np.asarray(distance) - starts[layer]
    if np.ndim(distance) == 0:
        return [int(layer), float(inside)]
    return [layer, inside]


def layer_starts(d_list: ArrayLike) -> npt.NDArray[np.float64]:
    """The depth where each layer of a stack starts, -inf for the incidence medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.layer_starts([np.inf, 100, 20, np.inf])
    array([-inf,   0., 100., 120.])
    """
    d = np.asarray(d_list, dtype=float)
    starts = np.empty(d.size)
    starts[0] = -np.inf
    starts[1] = 0.0
    starts[2:] = np.cumsum(d[1:-1])
    return starts


def find_in_structure_with_inf(d_list: ArrayLike, distance: Any) -> Any:
    """[layer, distance within it] of a depth `distance` from the first interface of a stack with
    its outer media (``inf`` at both ends); negative depths are in the incidence medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.find_in_structure_with_inf([np.inf, 100, np.inf], 100)
    [2, 0.0]
    >>> tmm.find_in_structure_with_inf([np.inf, 100, np.inf], -5)
    [0, -5]
    """
    if np.ndim(distance) == 0 and distance < 0:
        return [0, distance]
    d = np.asarray(d_list, dtype=float)
    layer, inside = find_in_structure(d[1:-1], distance) if d.size > 2 else ([0, distance])
    if d.size > 2 and layer == d.size - 3 and inside >= d[-2]:
        return [d.size - 1, float(inside - d[-2])]
    return [layer + 1, inside]


def absorp_in_each_layer(coh_tmm_data: dict[str, Any]) -> npt.NDArray[np.float64]:
    """The fraction of the incident power absorbed in each medium: what does not enter the
    stack for the incidence medium (R where it is lossless), T for the exit medium, between
    them each layer's share; they sum to 1.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> round(float(sum(tmm.absorp_in_each_layer(data))), 12)
    1.0
    """
    media = len(coh_tmm_data["d_list"])
    entering = [1.0, coh_tmm_data["power_entering"]]
    entering += [position_resolved(j, 0, coh_tmm_data)["poyn"] for j in range(2, media)]
    absorbed = -np.diff(np.asarray(entering, dtype=float), axis=0)
    return np.concatenate((absorbed, [coh_tmm_data["T"]]))


class absorp_analytic_fn:  # noqa: N801 - tmm's name
    """The absorbed power density in one layer as a function of depth z within it,
    A1 exp(a1 z) + A2 exp(-a1 z) + A3 exp(i a3 z) + conj(A3) exp(-i a3 z).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
    >>> bool(np.isclose(fn.run(30.0), tmm.position_resolved(1, 30.0, data)["absor"]))
    True
    """

    A1: Any
    A2: Any
    A3: Any
    a1: Any
    a3: Any
    d: Any

    def fill_in(self, coh_tmm_data: dict[str, Any], layer: int) -> absorp_analytic_fn:
        """Sets the coefficients of `layer` of a `coh_tmm` result; returns self.

        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> round(float(tmm.absorp_analytic_fn().fill_in(data, 1).a1), 6)
        0.002513
        """
        pol = coh_tmm_data["pol"]
        v, w = coh_tmm_data["vw_list"][layer]
        kz = coh_tmm_data["kz_list"][layer]
        n = coh_tmm_data["n_list"][layer]
        th = coh_tmm_data["th_list"][layer]
        n0, th0 = coh_tmm_data["n_list"][0], coh_tmm_data["th_0"]
        self.d = coh_tmm_data["d_list"][layer]
        self.a1, self.a3 = 2 * np.imag(kz), 2 * np.real(kz)
        if pol == "s":
            weight = np.imag(n * np.cos(th) * kz) / np.real(n0 * np.cos(th0))
            self.A1, self.A2, self.A3 = weight * abs(w) ** 2, weight * abs(v) ** 2, weight * v * np.conj(w)
        else:
            admittance = n * np.conj(np.cos(th))
            norm = np.real(n0 * np.conj(np.cos(th0)))
            weight = 2 * np.imag(kz) * np.real(admittance) / norm
            self.A1, self.A2 = weight * abs(w) ** 2, weight * abs(v) ** 2
            self.A3 = -2 * np.real(kz) * np.imag(admittance) * v * np.conj(w) / norm
        return self

    def copy(self) -> absorp_analytic_fn:
        """An independent copy.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().scale(2).run(10.0), 2 * fn.run(10.0)))
        True
        """
        other = absorp_analytic_fn()
        other.A1, other.A2, other.A3, other.a1, other.a3, other.d = self.A1, self.A2, self.A3, self.a1, self.a3, self.d
        return other

    def run(self, z: Any) -> Any:
        """The absorbed power density at depth `z` (scalar or array) within the layer.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.run(10.0), tmm.position_resolved(1, 10.0, data)['absor']))
        True
        """
        return (self.A1 * np.exp(self.a1 * z) + self.A2 * np.exp(-self.a1 * z)
                + self.A3 * np.exp(1j * self.a3 * z) + np.conj(self.A3) * np.exp(-1j * self.a3 * z))

    def flip(self) -> absorp_analytic_fn:
        """The same density with z measured from the layer's back; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().flip().run(90.0), fn.run(10.0)))
        True
        """
        self.A1, self.A2 = self.A2 * np.exp(-self.a1 * self.d), self.A1 * np.exp(self.a1 * self.d)
        self.A3 = np.conj(self.A3 * np.exp(1j * self.a3 * self.d))
        return self

    def scale(self, factor: Any) -> absorp_analytic_fn:
        """Multiplies the density by `factor`; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().scale(0.5).run(10.0), fn.run(10.0) / 2))
        True
        """
        self.A1, self.A2, self.A3 = self.A1 * factor, self.A2 * factor, self.A3 * factor
        return self

    def add(self, b: absorp_analytic_fn) -> absorp_analytic_fn:
        """Adds the density `b` of the same layer and wave numbers; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().add(fn).run(10.0), 2 * fn.run(10.0)))
        True
        """
        if b.a1 != self.a1 or b.a3 != self.a3:
            raise ValueError("b must describe the same layer (equal a1 and a3)")
        self.A1, self.A2, self.A3 = self.A1 + b.A1, self.A2 + b.A2, self.A3 + b.A3
        return self


def inc_group_layers(n_list: ArrayLike, d_list: ArrayLike, c_list: Any) -> dict[str, Any]:
    """How the layers of a partly incoherent stack group: coherent runs ("stacks") between
    incoherent media, and the indices that map between the numberings (``tmm``'s keys).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> group = tmm.inc_group_layers([1, 2, 3, 1], [np.inf, 10, 20, np.inf], ["i", "c", "c", "i"])
    >>> group["num_stacks"], group["all_from_stack"]
    (1, [[0, 1, 2, 3]])
    """
    n, d = _stack_lists(n_list, d_list)
    c = list(c_list)
    if len(c) != n.size or any(x not in ("i", "c") for x in c):
        raise ValueError(f"c_list must hold 'i' or 'c' for each of the {n.size} layers; received {c_list!r}")
    if c[0] != "i" or c[-1] != "i":
        raise ValueError("c_list must start and end with 'i' (the outer media are incoherent)")
    stack_d_list: list[list[float]] = []
    stack_n_list: list[list[complex]] = []
    all_from_inc: list[int] = []
    inc_from_all: list[float] = []
    all_from_stack: list[list[int]] = []
    stack_from_all: list[Any] = []
    inc_from_stack: list[int] = []
    stack_from_inc: list[float] = []
    within = False
    inc_index = stack_index = 0
    for j in range(n.size):
        if c[j] == "c":
            inc_from_all.append(np.nan)
            if not within:
                within = True
                stack_d_list.append([np.inf, float(d[j])])
                stack_n_list.append([n[j - 1], n[j]])
                all_from_stack.append([j - 1, j])
                inc_from_stack.append(inc_index - 1)
                within_index = 1
            else:
                stack_d_list[-1].append(float(d[j]))
                stack_n_list[-1].append(n[j])
                all_from_stack[-1].append(j)
                within_index += 1
            stack_from_all.append([stack_index, within_index])
            continue
        stack_from_all.append(np.nan)
        inc_from_all.append(inc_index)
        all_from_inc.append(j)
        if within:
            within = False
            stack_d_list[-1].append(np.inf)
            stack_n_list[-1].append(n[j])
            all_from_stack[-1].append(j)
            stack_from_inc.append(stack_index)
            stack_index += 1
        else:
            stack_from_inc.append(np.nan)
        inc_index += 1
    return {"stack_d_list": stack_d_list, "stack_n_list": stack_n_list, "all_from_inc": all_from_inc,
            "inc_from_all": inc_from_all, "all_from_stack": all_from_stack, "stack_from_all": stack_from_all,
            "inc_from_stack": inc_from_stack, "stack_from_inc": stack_from_inc, "num_stacks": len(all_from_stack),
            "num_inc_layers": len(all_from_inc), "num_layers": n.size}


def inc_tmm(pol: str, n_list: ArrayLike, d_list: ArrayLike, c_list: Any, th_0: Any, lam_vac: Any
            ) -> dict[str, Any]:
    """Reflection and transmission of a stack whose layers flagged "i" are taken by intensity.

    Returns ``R``, ``T``, ``absorbed`` (the fraction absorbed in each inner layer), the keys
    of `inc_group_layers`, the inputs, and the powers between the coherent stacks, per unit
    incident power: ``VW_list`` (incoherent media, 2: the forward and backward flux at each
    incoherent medium's front; NaN for the incidence medium, [T, 0] for the exit medium),
    ``stackFB_list`` (per coherent stack, the power arriving at it from its front and from its
    back) and ``power_entering_list`` (the net flux into each incoherent medium across the
    interface or stack before it; 1 for the incidence medium). For one `th_0` and `lam_vac`
    also ``coh_tmm_data_list`` and ``coh_tmm_bdata_list`` (`coh_tmm` and `coh_tmm_reverse`
    of each coherent stack, lit at its first medium's angle). `th_0` and `lam_vac` may be
    arrays that broadcast together: ``R``, ``T`` then have their shape, and ``absorbed``,
    ``VW_list``, ``stackFB_list`` and ``power_entering_list`` are arrays with that shape
    after their own axes.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.inc_tmm("s", [1, 1.5, 1], [np.inf, 1e6, np.inf], ["i", "i", "i"], 0.0, 500)
    >>> round(data["R"], 6)
    0.076923
    >>> tmm.inc_tmm("p", [1, 1.5, 1], [np.inf, 1e6, np.inf], ["i", "i", "i"], [0.0, 0.5], 500)["R"].round(4)
    array([0.0769, 0.0517])
    >>> data["VW_list"].round(6)
    array([[     nan,      nan],
           [0.961538, 0.038462],
           [0.923077, 0.      ]])
    """
    pol = _pol(pol)
    n, d = _stack_lists(n_list, d_list)
    group = inc_group_layers(n, d, c_list)
    th = _incidence(n[0], th_0)
    coherent = np.array([x == "c" for x in list(c_list)[1:-1]], dtype=np.bool_)
    th_b, lam_b = np.broadcast_arrays(np.asarray(th), np.asarray(lam_vac, dtype=np.float64))
    shape, th_flat, lam_flat = th_b.shape, th_b.reshape(-1), np.ascontiguousarray(lam_b.reshape(-1))
    indices, thicknesses = n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1))
    smooth, layers_count, runs = np.zeros((1, n.size - 1)), n.size - 2, group["num_inc_layers"] - 1

    def solved(angles: npt.NDArray[Any], wavelengths: npt.NDArray[np.float64]) -> tuple[Any, Any, Any]:
        a, w = angles.size, wavelengths.size
        powers, layers = np.empty((4, 1, a, w)), np.empty((2, 1, a, layers_count, w))
        light = np.empty((8, 1, a, runs, w))
        _engine.absorbed(indices, thicknesses, wavelengths, angles, 1, smooth, 0, coherent, powers, layers, 1)
        _engine.run_light(indices, thicknesses, wavelengths, angles, 1, smooth, 0, coherent, powers, light, 1)
        return (powers.reshape(4, -1), np.moveaxis(layers[:, 0], 2, 1).reshape(2, layers_count, -1),
                np.moveaxis(light[:, 0], 2, 1).reshape(8, runs, -1))

    if th_flat.size and bool(np.all(th_flat == th_flat[0])):
        powers, layers, light = solved(_engine_angles(th_flat[:1]), lam_flat)
    elif th_flat.size and bool(np.all(lam_flat == lam_flat[0])):
        powers, layers, light = solved(_engine_angles(th_flat), lam_flat[:1].copy())
    else:
        parts = [solved(_engine_angles(th_flat[i:i + 1]), lam_flat[i:i + 1].copy()) for i in range(th_flat.size)]
        powers = np.concatenate([p[0] for p in parts], axis=1) if parts else np.empty((4, 0))
        layers = np.concatenate([p[1] for p in parts], axis=2) if parts else np.empty((2, layers_count, 0))
        light = np.concatenate([p[2] for p in parts], axis=2) if parts else np.empty((8, runs, 0))
    side = 0 if pol == "s" else 1
    R, T = powers[side].reshape(shape), powers[side + 2].reshape(shape)
    out = {"R": float(R) if not shape else R, "T": float(T) if not shape else T,
           "absorbed": layers[side].reshape(layers_count, *shape), "pol": pol, "n_list": n, "d_list": d,
           "th_0": th_0, "lam_vac": lam_vac, "c_list": list(c_list)} | group
    out |= _intensities(light[4 * side:4 * side + 4].reshape(4, runs, *shape), group, shape)
    if not shape:
        th_list = list_snell(n, th)
        starts = [media[0] for media in group["all_from_stack"]]
        out["coh_tmm_data_list"] = [coh_tmm(pol, sn, sd, th_list[j], lam_vac)
                                    for sn, sd, j in zip(group["stack_n_list"], group["stack_d_list"], starts)]
        out["coh_tmm_bdata_list"] = [coh_tmm_reverse(pol, sn, sd, th_list[j], lam_vac)
                                     for sn, sd, j in zip(group["stack_n_list"], group["stack_d_list"], starts)]
    return out


def _intensities(light: npt.NDArray[np.float64], group: dict[str, Any], shape: tuple[int, ...]) -> dict[str, Any]:
    """tmm's intensity keys from the engine's light between runs (front, back, forward,
    entering; each (runs, *shape)): run k goes from incoherent medium k to k + 1."""
    front, back, forward, entering = light
    vw = np.full((group["num_inc_layers"], 2, *shape), np.nan)
    vw[1:, 0], vw[1:, 1] = forward, back
    stacks = group["inc_from_stack"]
    if not shape:
        return {"VW_list": vw, "stackFB_list": [[float(front[k]), float(back[k])] for k in stacks],
                "power_entering_list": [1.0, *(float(x) for x in entering)]}
    return {"VW_list": vw, "stackFB_list": np.stack([front[stacks], back[stacks]], axis=1),
            "power_entering_list": np.concatenate([np.ones((1, *shape)), entering])}


def inc_absorp_in_each_layer(inc_data: dict[str, Any]) -> list[float]:
    """The fraction of the incident power absorbed in each layer of an `inc_tmm` result: what
    does not enter the stack for the incidence medium (R where it is lossless), T for the exit
    medium; they sum to 1.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.inc_tmm("s", [1, 1.5 + 0.01j, 1], [np.inf, 1e3, np.inf], ["i", "c", "i"], 0.0, 500)
    >>> round(sum(tmm.inc_absorp_in_each_layer(data)), 12)
    1.0
    """
    inner = [float(x) if np.ndim(x) == 0 else x for x in inc_data["absorbed"]]
    return [1.0 - sum(inner) - inc_data["T"], *inner, inc_data["T"]]


def inc_find_absorp_analytic_fn(layer: int, inc_data: dict[str, Any]) -> absorp_analytic_fn:
    """The absorbed power density in depth of coherent `layer` (numbered in the whole stack)
    of a one-point `inc_tmm` result, as an `absorp_analytic_fn` with z from the layer's front:
    its stack lit from the front and from the back by the powers of ``stackFB_list``.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> n, d = [1, 1.5, 2 + 0.1j, 1.3, 1], [np.inf, 1e4, 50, 1e5, np.inf]
    >>> data = tmm.inc_tmm("s", n, d, ["i", "i", "c", "i", "i"], 0.3, 500)
    >>> fn = tmm.inc_find_absorp_analytic_fn(2, data)
    >>> z = (np.arange(4000) + 0.5) * 50 / 4000  # midpoints of 4000 slices
    >>> bool(np.isclose(fn.run(z).real.mean() * 50, tmm.inc_absorp_in_each_layer(data)[2], rtol=1e-6))
    True
    """
    if "coh_tmm_data_list" not in inc_data:
        raise ValueError("inc_data must be an inc_tmm result for one th_0 and one lam_vac")
    where = inc_data["stack_from_all"][layer]
    if np.ndim(where) == 0:
        raise ValueError(f"layer must be a coherent layer (flagged 'c'); layer {layer} is incoherent")
    stack, within = where
    from_front, from_back = inc_data["stackFB_list"][stack]
    front = absorp_analytic_fn().fill_in(inc_data["coh_tmm_data_list"][stack], within).scale(from_front)
    # the reversed stack holds the same layer counted from its other end
    back = absorp_analytic_fn().fill_in(inc_data["coh_tmm_bdata_list"][stack], -1 - within).scale(from_back)
    # the same layer's k_z, up to the rounding of the other way through the stack (and the
    # zero-width imaginary part an absorbing incidence medium leaves in a lossless layer)
    scale = abs(front.a1) + abs(front.a3)
    if abs(back.a1 - front.a1) > 1e-9 * scale or abs(back.a3 - front.a3) > 1e-9 * scale:
        raise ValueError(f"the two ways through the stack disagree on layer {layer}'s k_z")
    back.a1, back.a3 = front.a1, front.a3
    return front.add(back.flip())


def inc_position_resolved(layer: int, distance: Any, inc_data: dict[str, Any]) -> dict[str, Any]:
    """The absorbed power density ``absor`` at `distance` (scalar or array) from the front of
    `layer` (numbered in the whole stack) of a one-point `inc_tmm` result, per unit incident
    power and unit length, from the engine's depth profile (`quilmo_lab.profile`).

    Not in ``tmm`` 0.2.0. A coherent layer gives `inc_find_absorp_analytic_fn`'s density; an
    incoherent one the decay of its forward and backward fluxes V, W (``VW_list``),
    alpha (V e^(-alpha z) + W e^(alpha z)) with alpha = 4 pi Im(n cos(theta)) / lam_vac,
    where the interference of the waves at its faces, which the intensity treatment has no
    phase for, is left out. In the exit medium z counts from its front; the incidence
    medium gives 0 at negative distances where it is lossless.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> n, d = [1, 1.5, 2 + 0.1j, 1.3 + 1e-4j, 1], [np.inf, 1e4, 50, 1e5, np.inf]
    >>> data = tmm.inc_tmm("s", n, d, ["i", "i", "c", "i", "i"], 0.3, 500)
    >>> fn = tmm.inc_find_absorp_analytic_fn(2, data)
    >>> bool(np.isclose(tmm.inc_position_resolved(2, 20.0, data)["absor"], fn.run(20.0).real))
    True
    >>> tmm.inc_position_resolved(3, [0.0, 5e4], data)["absor"].round(8)
    array([1.95e-06, 1.72e-06])
    """
    if "coh_tmm_data_list" not in inc_data:
        raise ValueError("inc_data must be an inc_tmm result for one th_0 and one lam_vac")
    n, d = inc_data["n_list"], inc_data["d_list"]
    if not 0 <= layer < n.size:
        raise ValueError(f"layer must be between 0 and {n.size - 1}; received {layer}")
    z = np.asarray(distance, dtype=np.float64)
    depths = z + float(np.sum(d[1:layer])) if layer > 0 else z.copy()
    if 0 < layer < n.size - 1:  # the layer's back face belongs to it, not to the medium behind
        depths = np.where(z == d[layer], np.nextafter(depths, -np.inf), depths)
    depths = np.ascontiguousarray(depths.reshape(-1))
    th = _engine_angles(np.atleast_1d(np.asarray(inc_data["th_0"])))
    coherent = np.array([x == "c" for x in inc_data["c_list"][1:-1]], dtype=np.bool_)
    out = np.empty((4, 1, depths.size))
    _engine.profile(n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1)),
                    np.array([float(inc_data["lam_vac"])]), th, np.zeros((1, n.size - 1)), 0, coherent, depths, out, 1)
    absor = out[0 if inc_data["pol"] == "s" else 1, 0].reshape(z.shape)
    return {"absor": _scalar(absor)}
