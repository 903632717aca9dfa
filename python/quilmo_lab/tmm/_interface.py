"""Snell's law, the Fresnel coefficients of one interface and the power formulas of tmm's core."""

from __future__ import annotations

import sys
from typing import Any

import numpy as np
import numpy.typing as npt


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
