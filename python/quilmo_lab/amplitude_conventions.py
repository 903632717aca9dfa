"""The p-polarised transmission amplitude as a ratio of magnetic fields, as PyMoosh reports it.

quilmo_lab, like `tmm`, gives t_p as the ratio of the transmitted to the incident
electric field. PyMoosh solves for the magnetic field in p polarisation (the field
that is transverse there) and reports t_p as the ratio of magnetic fields. In a plane
wave H is proportional to n·E, so the two differ by the ratio of the indices of the
exit and incidence media; r_p, t_s, r_s and every power (R, T, absorption) are the
same in both.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import number_array, shape_text

ComplexArray = npt.NDArray[np.complex128]


def magnetic_t_p(t_p: npt.ArrayLike, incident: npt.ArrayLike, exit: npt.ArrayLike) -> ComplexArray:
    """PyMoosh's t_p (a ratio of magnetic fields) from the electric-field t_p of `Result.t_p`.

    Parameters
    ----------
    t_p : array_like
        Electric-field transmission amplitudes for p polarisation, such as
        ``Result.t_p`` of shape (B, A, W).
    incident, exit : complex or array_like
        The indices n + ik of the incidence and exit media, each a number or one per
        wavelength (W,), broadcast against the last axis of `t_p`.

    Returns
    -------
    ndarray
        t_p · n_exit / n_incident, a new complex array of the broadcast shape (a
        NumPy scalar where every argument is a number).

    Raises
    ------
    TypeError, ValueError
        For values that are not numbers or do not broadcast against `t_p`.

    See Also
    --------
    electric_t_p : The inverse.

    Notes
    -----
    The magnetic field of a plane wave is H = n E / Z₀ (Z₀ the impedance of
    vacuum), whatever the angle, so t_p^H = (n_exit / n_incident) t_p^E. The
    transmittance is the same in both: each code divides by the matching power
    factor. At normal incidence the magnetic t_p differs from t_s, unlike the
    electric one.

    Examples
    --------
    >>> res = ql.solve([1.0, 1.5], [], [500.0])
    >>> print(res.t_p[0, 0], ql.magnetic_t_p(res.t_p, 1.0, 1.5)[0, 0])
    [0.8+0.j] [1.2+0.j]
    """
    amplitudes = number_array("t_p", t_p, complex_allowed=True)
    return _scaled(amplitudes, ("exit", exit), ("incident", incident))


def electric_t_p(t_p: npt.ArrayLike, incident: npt.ArrayLike, exit: npt.ArrayLike) -> ComplexArray:
    """The electric-field t_p of `Result.t_p` from PyMoosh's magnetic-field t_p.

    Parameters
    ----------
    t_p : array_like
        Magnetic-field transmission amplitudes for p polarisation, as PyMoosh's
        ``coefficient`` returns for polarisation 1.
    incident, exit : complex or array_like
        The indices n + ik (not the permittivities) of the incidence and exit media,
        each a number or one per wavelength (W,).

    Returns
    -------
    ndarray
        t_p · n_incident / n_exit, a new complex array of the broadcast shape (a
        NumPy scalar where every argument is a number).

    Raises
    ------
    TypeError, ValueError
        For values that are not numbers or do not broadcast against `t_p`.

    See Also
    --------
    magnetic_t_p : The inverse.

    Examples
    --------
    >>> print(np.round(ql.electric_t_p([1.2, 0.9 + 0.3j], 1.0, 1.5), 12))
    [0.8+0.j  0.6+0.2j]
    """
    amplitudes = number_array("t_p", t_p, complex_allowed=True)
    return _scaled(amplitudes, ("incident", incident), ("exit", exit))


def _scaled(amplitudes: npt.NDArray[np.generic], numerator: tuple[str, object],
            denominator: tuple[str, object]) -> ComplexArray:
    """amplitudes · numerator / denominator, each index checked and broadcast."""
    top = number_array(numerator[0], numerator[1], complex_allowed=True)
    bottom = number_array(denominator[0], denominator[1], complex_allowed=True)
    for name, index in (numerator[0], top), (denominator[0], bottom):
        try:
            np.broadcast_shapes(amplitudes.shape, index.shape)
        except ValueError:
            raise ValueError(f"{name} must be a number or one index per wavelength, broadcasting against t_p of "
                             f"shape {shape_text(amplitudes.shape)}; received shape {shape_text(index.shape)}") from None
    scaled: ComplexArray = amplitudes.astype(np.complex128) * top / bottom
    return scaled[()] if scaled.ndim == 0 else scaled
