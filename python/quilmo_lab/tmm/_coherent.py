"""Coherent stacks in tmm's keys: coh_tmm and what is built on it, from one engine pass."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab.tmm._inputs import _engine_angles, _incidence, _stack_lists
from quilmo_lab.tmm._interface import ArrayLike, _pol, snell


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
