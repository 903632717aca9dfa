"""Jones and Mueller calculus in the (s, p) basis: one set of Stokes conventions for every result.

Stokes vectors are (I, Q, U, V) of a field with complex amplitudes (E_s, E_p)::

    I = |E_s|^2 + |E_p|^2      Q = |E_s|^2 - |E_p|^2
    U = 2 Re(E_s conj(E_p))    V = 2 Im(conj(E_s) E_p)

so Q > 0 is s-like, U > 0 linear at +45 degrees from s towards p, and V > 0 the p
component leading the s component in phase (time dependence exp(-iωt)). The
coherency matrix C[i, j] = <E_i conj(E_j)> of a Stokes vector is
((I + Q, U - iV), (U + iV, I - Q)) / 2, and the power a 2x2 Hermitian power form P
passes is tr(P C).
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import shape_text, type_name

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# S = STOKES @ (E ⊗ conj(E)), the coherency vector in the order (ss, sp, ps, pp).
_STOKES = np.array([[1, 0, 0, 1], [1, 0, 0, -1], [0, 1, 1, 0], [0, 1j, -1j, 0]], dtype=np.complex128)
_STOKES_INVERSE = np.linalg.inv(_STOKES)

EXPECTED = ("'s', 'p', 'unpolarized', an angle in radians (or an array of them), a complex Jones vector "
            "of shape (2,) or a real Stokes vector of shape (4,)")


def mueller(jones: ComplexArray) -> FloatArray:
    """The (..., 4, 4) Mueller matrices of (..., 2, 2) Jones matrices, in the same power units."""
    kron = jones[..., :, None, :, None] * np.conj(jones)[..., None, :, None, :]
    kron = kron.reshape(*jones.shape[:-2], 4, 4)
    return np.ascontiguousarray((_STOKES @ kron @ _STOKES_INVERSE).real)


def stokes(jones_vector: npt.ArrayLike) -> FloatArray:
    """The Stokes vector (I, Q, U, V) of a Jones vector (E_s, E_p)."""
    e = np.asarray(jones_vector, dtype=np.complex128)
    coherency = (e[..., :, None] * np.conj(e)[..., None, :]).reshape(*e.shape[:-1], 4)
    return np.asarray((coherency @ _STOKES.T).real, dtype=np.float64)


def coherency(polarisation: object) -> ComplexArray:
    """The 2x2 coherency matrix, of unit trace, of one incident polarisation (see EXPECTED)."""
    if isinstance(polarisation, str):
        named = {"s": [[1, 0], [0, 0]], "p": [[0, 0], [0, 1]], "unpolarized": [[0.5, 0], [0, 0.5]]}
        if polarisation not in named:
            raise ValueError(f"polarisation must be {EXPECTED}; received {polarisation!r}")
        return np.array(named[polarisation], dtype=np.complex128)
    if isinstance(polarisation, bool):
        raise TypeError(f"polarisation must be {EXPECTED}; received bool")
    try:
        array: npt.NDArray[Any] = np.asarray(polarisation)
    except (TypeError, ValueError):
        raise TypeError(f"polarisation must be {EXPECTED}; received {type_name(polarisation)}") from None
    if array.dtype.kind not in "iufc":
        raise TypeError(f"polarisation must be {EXPECTED}; received {type_name(polarisation)}")
    if array.ndim == 0 and array.dtype.kind != "c":
        phi = float(array)
        e = np.array([math.cos(phi), math.sin(phi)], dtype=np.complex128)
        return np.outer(e, np.conj(e))
    if array.ndim >= 1 and array.shape != (4,) and array.dtype.kind != "c":
        return _linear_coherency(array.astype(np.float64))
    if array.shape == (2,) and array.dtype.kind == "c":
        e = array.astype(np.complex128)
        norm = float(np.vdot(e, e).real)
        if not norm > 0:
            raise ValueError(f"polarisation as a Jones vector must not be zero; received {array!r}")
        return np.asarray(np.outer(e, np.conj(e)) / norm, dtype=np.complex128)
    if array.shape == (4,) and array.dtype.kind != "c":
        i, q, u, v = (float(x) for x in array)
        if not i > 0 or q * q + u * u + v * v > i * i * (1 + 1e-12):
            raise ValueError("polarisation as a Stokes vector needs I > 0 and Q^2 + U^2 + V^2 <= I^2; "
                             f"received {array!r}")
        return np.array([[i + q, u - 1j * v], [u + 1j * v, i - q]], dtype=np.complex128) / (2 * i)
    raise ValueError(f"polarisation must be {EXPECTED}; received an array of shape {shape_text(array.shape)} "
                     f"and dtype {array.dtype}")


def _linear_coherency(angles: FloatArray) -> ComplexArray:
    """Coherency matrices (..., 2, 2) of linear polarisations at `angles` from s towards p, the
    cosines and sines from the C library as for a scalar angle (NumPy's may differ in the last bit)."""
    c = np.asarray(np.frompyfunc(math.cos, 1, 1)(angles), dtype=np.float64)
    s = np.asarray(np.frompyfunc(math.sin, 1, 1)(angles), dtype=np.float64)
    return np.asarray(np.stack([np.stack([c * c, c * s], -1), np.stack([s * c, s * s], -1)], -2),
                      dtype=np.complex128)


def passed_power(form: ComplexArray, polarisation: object) -> FloatArray:
    """tr(P C) of (..., 2, 2) power forms P for the incident `polarisation`'s coherency C; an
    array of angles gives a stack of C broadcast against the forms' leading axes."""
    c = coherency(polarisation)
    return np.asarray(np.einsum("...ij,...ji->...", form, c).real, dtype=np.float64)


def power_form(jones: ComplexArray) -> ComplexArray:
    """J^H J: the power form of amplitudes J in a basis where |amplitude|^2 is power."""
    return np.asarray(np.conj(np.swapaxes(jones, -1, -2)) @ jones, dtype=np.complex128)


def isotropic_mueller(power_s: FloatArray, power_p: FloatArray, cross: ComplexArray) -> FloatArray:
    """The (..., 4, 4) Mueller matrices of an isotropic stack from its s and p powers and the
    cross term X = a_s conj(a_p) of its (summed) amplitudes, in power units.

    For one pair of amplitudes this is ``mueller(diag(a_s, a_p))``; sums over incoherent paths
    of such matrices keep the form, with |X|^2 <= power_s power_p (equal without depolarisation).
    """
    m = np.zeros((*np.shape(power_s), 4, 4), dtype=np.float64)
    half_sum = (power_s + power_p) / 2
    half_difference = (power_s - power_p) / 2
    m[..., 0, 0] = m[..., 1, 1] = half_sum
    m[..., 0, 1] = m[..., 1, 0] = half_difference
    m[..., 2, 2] = m[..., 3, 3] = cross.real
    m[..., 2, 3] = cross.imag
    m[..., 3, 2] = -cross.imag
    return m


def depolarisation_index(m: FloatArray) -> FloatArray:
    """1 - P_Δ of (..., 4, 4) Mueller matrices, P_Δ Gil and Bernabeu's depolarisation index
    sqrt((tr(MᵀM) - m00²) / (3 m00²)): 0 for a non-depolarising matrix, 1 for an ideal
    depolariser; NaN where m00 is 0."""
    m00 = m[..., 0, 0]
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = (np.einsum("...ij,...ij->...", m, m) - m00**2) / (3 * m00**2)
        index = 1.0 - np.sqrt(np.clip(ratio, 0.0, 1.0))
    return np.asarray(np.where(m00 > 0, index, np.nan), dtype=np.float64)


def pseudo_psi_delta(m: FloatArray) -> tuple[FloatArray, FloatArray]:
    """The psi and delta (radians) an ellipsometer reports for (..., 4, 4) Mueller matrices of
    isotropic samples: from N = m01/m00, C = -m22/m00, S = m23/m00 as psi = atan2(sqrt(C² + S²), N) / 2
    and delta = atan2(S, C); for a non-depolarising matrix arctan|r_p/r_s| and arg(-r_p/r_s)."""
    n = m[..., 0, 1]
    c = -m[..., 2, 2]
    s = m[..., 2, 3]
    psi = np.arctan2(np.hypot(c, s), n) / 2
    return np.asarray(psi, dtype=np.float64), np.asarray(np.arctan2(s, c), dtype=np.float64)
