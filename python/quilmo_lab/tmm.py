"""Coming from ``tmm``: the functions of ``tmm`` 0.2.0's core under their names.

Change one import and keep the script::

    import quilmo_lab.tmm as tmm      # was: import tmm
    from quilmo_lab.tmm import coh_tmm, inc_tmm

The functions take ``tmm``'s arguments (``pol`` "s" or "p", ``n_list`` incidence medium
first, ``d_list`` with ``inf`` at both ends, ``th_0`` in radians in the incidence medium,
``lam_vac`` in the unit of ``d_list``) and return dictionaries with ``tmm``'s keys. The
amplitudes and powers come from the engine of `quilmo_lab.solve`; the per-layer fields
are carried from them with the plain interface and layer relations, as ``tmm`` does.

Beyond ``tmm``: ``lam_vac`` and ``th_0`` of `coh_tmm`, `unpolarized_RT`, `ellips` and
`inc_tmm` may be arrays (of one shape, or broadcast together): one engine call, and every
returned value an array of that shape (per-layer lists become lists of arrays).

Conventions are ``tmm``'s: n + ik with k > 0 absorbing, time dependence exp(-i omega t),
the p amplitude of the electric field along the reflected-ray frame of ``tmm``
(r_p = r_s at normal incidence with opposite sign), ellipsometric Delta of -r_p/r_s.
An absorbing incidence medium takes a complex angle ``th_0`` such that n_0 sin(th_0) is
real; angles follow the forward-angle rule (`is_forward_angle`).

Examples
--------
>>> import quilmo_lab.tmm as tmm
>>> data = tmm.coh_tmm("s", [1, 1.38, 1.52], [np.inf, 99.6, np.inf], 0, 550)
>>> print(round(data["R"], 5), round(data["T"], 5))
0.01262 0.98738
>>> sorted(data)[:5]
['R', 'T', 'd_list', 'kz_list', 'lam_vac']
"""

from __future__ import annotations

import sys
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine

__all__ = [
    "AbsorpAnalyticFn", "R_from_r", "T_from_t", "absorp_analytic_fn", "absorp_in_each_layer",
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
    >>> make_2x2_array(1, 2, 3, 4)
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
    >>> is_forward_angle(1.5, 0.3), is_forward_angle(1.5, np.pi - 0.3)
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
    >>> round(float(np.real(snell(1.0, 1.5, np.pi / 6))), 6)
    0.339837
    """
    th_2 = np.arcsin(n_1 * np.sin(th_1) / n_2 + 0j)
    return complex(th_2 if is_forward_angle(n_2, th_2) else np.pi - th_2)


def list_snell(n_list: ArrayLike, th_0: complex) -> npt.NDArray[np.complex128]:
    """The angle in every medium of `n_list` of a wave at `th_0` in the first; the outer
    media's taken forward (inner layers carry both directions).

    Examples
    --------
    >>> np.round(list_snell([1.0, 2.0, 1.0], np.pi / 6).real, 6)
    array([0.523599, 0.25268 , 0.523599])
    """
    n = np.asarray(n_list, dtype=np.complex128)
    angles = np.arcsin(n[0] * np.sin(th_0) / n)
    for j in (0, -1):
        if not is_forward_angle(n[j], angles[j]):
            angles[j] = np.pi - angles[j]
    return angles


def _kz(n: Any, th: Any) -> Any:
    return n * np.cos(th)


def interface_r(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Fresnel reflection amplitude from medium i into medium f.

    Examples
    --------
    >>> interface_r("s", 1.0, 1.5, 0.0, 0.0)
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
    >>> interface_t("s", 1.0, 1.5, 0.0, 0.0)
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
    >>> R_from_r(0.6j)
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
    >>> round(T_from_t("s", 0.8, 1.0, 1.5, 0.0, 0.0), 12)
    0.96
    """
    return abs(t) ** 2 * _flux(_pol(pol), n_f, th_f) / _flux(pol, n_i, th_i)


def power_entering_from_r(pol: str, r: Any, n_i: Any, th_i: Any) -> Any:
    """The power entering the first interface, 1 - R for a lossless incidence medium.

    Examples
    --------
    >>> round(power_entering_from_r("s", 0.2, 1.0, 0.0), 12)
    0.96
    """
    if _pol(pol) == "s":
        kz = n_i * np.cos(th_i)
        return np.real(kz * np.conj(1 + r) * (1 - r)) / np.real(kz)
    kz = n_i * np.conj(np.cos(th_i))
    return np.real(kz * (1 + r) * np.conj(1 - r)) / np.real(kz)


def interface_R(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Reflected power at one interface.

    Examples
    --------
    >>> round(interface_R("s", 1.0, 1.5, 0.0, 0.0), 12)
    0.04
    """
    return R_from_r(interface_r(polarization, n_i, n_f, th_i, th_f))


def interface_T(polarization: str, n_i: Any, n_f: Any, th_i: Any, th_f: Any) -> Any:
    """Transmitted power at one interface.

    Examples
    --------
    >>> round(interface_T("s", 1.0, 1.5, 0.0, 0.0), 12)
    0.96
    """
    return T_from_t(polarization, interface_t(polarization, n_i, n_f, th_i, th_f), n_i, n_f, th_i, th_f)


def _stack_lists(n_list: ArrayLike, d_list: ArrayLike) -> tuple[npt.NDArray[np.complex128], npt.NDArray[np.float64]]:
    n = np.asarray(n_list, dtype=np.complex128)
    d = np.asarray(d_list, dtype=np.float64)
    if n.ndim != 1 or d.ndim != 1 or n.shape != d.shape or n.size < 2:
        raise ValueError("n_list and d_list must be one-dimensional lists of the same length, at least 2 "
                         f"(incidence and exit medium); received {n.size} indices and {d.size} thicknesses")
    if d[0] != np.inf or d[-1] != np.inf:
        raise ValueError(f"d_list must start and end with inf (the outer media); received {d[0]!r} and {d[-1]!r}")
    return n, d


def _incidence(n0: complex, th_0: Any) -> npt.NDArray[Any]:
    th = np.asarray(th_0)
    if th.dtype.kind not in "iufc":
        raise TypeError(f"th_0 must be angles in radians; received dtype {th.dtype}")
    tangential = n0 * np.sin(th)
    if np.any(np.abs(tangential.imag) >= 100 * EPSILON):
        raise ValueError("n_list[0] * sin(th_0) must be real: an absorbing incidence medium takes the complex "
                         f"angle whose n_0 sin(th_0) is real; received {np.ravel(tangential)[0]!r}")
    cosine = n0 * np.cos(th)
    forward = np.where(np.abs(cosine.imag) > 100 * EPSILON, cosine.imag > 0, cosine.real > 0)
    if not np.all(forward):
        raise ValueError(f"th_0 must be a forward angle in the incidence medium; received {np.ravel(th)[0]!r}")
    return th


def _amplitudes(n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th: npt.NDArray[Any],
                lam: npt.NDArray[Any]) -> npt.NDArray[np.complex128]:
    """(r_s, r_p, t_s, t_p) of every point of th and lam broadcast together, from one engine call
    per distinct grid (angles x wavelengths where one of them is a scalar)."""
    th, lam = np.broadcast_arrays(th, lam)
    shape = th.shape
    indices = n.reshape(1, -1, 1)
    thicknesses = np.ascontiguousarray(d[1:-1].reshape(1, -1))
    angles_flat = th.reshape(-1)
    lam_flat = np.ascontiguousarray(lam.reshape(-1), dtype=np.float64)
    complex_angles = angles_flat.dtype.kind == "c" and bool(angles_flat.imag.any())
    angle_type = np.complex128 if complex_angles else np.float64
    single_angle = angles_flat.size == 0 or bool(np.all(angles_flat == angles_flat[0]))
    if single_angle:
        angles = np.ascontiguousarray(angles_flat[:1].real if not complex_angles else angles_flat[:1],
                                      dtype=angle_type)
        out = np.empty((4, 1, 1, lam_flat.size), dtype=np.complex128)
        powers = np.empty((4, 1, 1, lam_flat.size))
        _engine.coherent(indices, thicknesses, lam_flat, angles, 1, out, powers, 1)
        return out.reshape((4, *shape))
    angles = np.ascontiguousarray(angles_flat if complex_angles else angles_flat.real, dtype=angle_type)
    if bool(np.all(lam_flat == lam_flat[0])):
        out = np.empty((4, 1, angles.size, 1), dtype=np.complex128)
        powers = np.empty((4, 1, angles.size, 1))
        _engine.coherent(indices, thicknesses, lam_flat[:1].copy(), angles, 1, out, powers, 1)
        return out.reshape((4, *shape))
    out = np.empty((4, angles.size), dtype=np.complex128)
    for i in range(angles.size):
        point = np.empty((4, 1, 1, 1), dtype=np.complex128)
        _engine.coherent(indices, thicknesses, lam_flat[i:i + 1].copy(), angles[i:i + 1].copy(), 1, point,
                         np.empty((4, 1, 1, 1)), 1)
        out[:, i] = point.reshape(4)
    return out.reshape((4, *shape))


def _scalar(x: Any) -> Any:
    return x[()] if isinstance(x, np.ndarray) and x.ndim == 0 else x


def _layer_angles(n: npt.NDArray[np.complex128], th: npt.NDArray[Any]) -> npt.NDArray[np.complex128]:
    """(media, *shape) angles of list_snell for every point."""
    sine = n[0] * np.sin(th)
    angles = np.arcsin(np.multiply.outer(1 / n, sine))
    for j in (0, -1):
        kz = n[j] * np.cos(angles[j])
        forward = np.where(np.abs(kz.imag) > 100 * EPSILON, kz.imag > 0, kz.real > 0)
        angles[j] = np.where(forward, angles[j], np.pi - angles[j])
    return angles


def _fields(pol: str, n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th_list: Any, kz_list: Any,
            t: Any) -> npt.NDArray[np.complex128]:
    """(media, 2, *shape) forward and backward amplitudes at the start of each medium, carried
    back from [t, 0] in the exit medium through each interface and layer; medium 0's are 0."""
    media = n.size
    vw = np.zeros((media, 2, *np.shape(t)), dtype=np.complex128)
    vw[-1, 0] = t
    for j in range(media - 2, 0, -1):
        r_j = interface_r(pol, n[j], n[j + 1], th_list[j], th_list[j + 1])
        t_j = interface_t(pol, n[j], n[j + 1], th_list[j], th_list[j + 1])
        v_end = (vw[j + 1, 0] + r_j * vw[j + 1, 1]) / t_j
        w_end = (r_j * vw[j + 1, 0] + vw[j + 1, 1]) / t_j
        delta = kz_list[j] * d[j]
        vw[j, 0] = v_end * np.exp(-1j * delta)
        vw[j, 1] = w_end * np.exp(1j * delta)
    return vw


def _coh_data(pol: str, n: npt.NDArray[np.complex128], d: npt.NDArray[np.float64], th_0: Any, lam_vac: Any,
              r: Any, t: Any) -> dict[str, Any]:
    th_list = _layer_angles(n, np.asarray(th_0))
    kz_list = 2 * np.pi * np.multiply.outer(n, np.ones(np.shape(th_list[0]))) * np.cos(th_list) / lam_vac
    th_list = th_list if th_list.ndim > 1 else th_list
    n0, th0 = n[0], th_list[0]
    R = R_from_r(r)
    T = np.abs(t) ** 2 * _flux(pol, n[-1], th_list[-1]) / _flux(pol, n0, th0)
    return {"r": _scalar(r), "t": _scalar(t), "R": _scalar(R), "T": _scalar(T),
            "power_entering": _scalar(power_entering_from_r(pol, r, n0, th0)),
            "vw_list": _fields(pol, n, d, th_list, kz_list, t), "kz_list": kz_list, "th_list": th_list,
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
        ``lam_vac``.

    Examples
    --------
    >>> data = coh_tmm("p", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.3, 500)
    >>> print(round(data["R"], 6), round(data["T"], 6))
    0.092229 0.707047
    >>> coh_tmm("s", [1, 1.5], [np.inf, np.inf], 0.0, [400.0, 500.0])["R"].round(3)
    array([0.04, 0.04])
    """
    pol = _pol(pol)
    n, d = _stack_lists(n_list, d_list)
    th = _incidence(n[0], th_0)
    lam = np.asarray(lam_vac, dtype=np.float64)
    amplitudes = _amplitudes(n, d, th, lam)
    side = 0 if pol == "s" else 1
    return _coh_data(pol, n, d, th_0, lam_vac, amplitudes[side], amplitudes[side + 2])
