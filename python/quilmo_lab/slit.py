"""Slit: the bandwidth of a spectrometer, as an instrument function around each wavelength."""

from __future__ import annotations

import math
from typing import Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, real_number
from quilmo_lab._quadrature import gauss_hermite, gauss_legendre

FloatArray = npt.NDArray[np.float64]
Shape = Literal["gaussian", "triangle", "rectangle"]
Domain = Literal["wavelength", "wavenumber"]


class Slit:
    """The instrument function of a spectrometer: R, T and A are convolved with it.

    Parameters
    ----------
    fwhm : float
        Full width at half maximum, in the unit of the wavelengths (domain "wavelength")
        or of their inverse (domain "wavenumber").
    shape : {"gaussian", "triangle", "rectangle"}, optional
        The instrument function: a Gaussian, the triangle of a grating monochromator
        with equal slits, or a rectangle.
    domain : {"wavelength", "wavenumber"}, optional
        Whether the function is symmetric in wavelength or in wavenumber (Fourier
        spectrometers).
    tolerance : float, optional
        The quadrature is refined until R and T change by less than this.

    Raises
    ------
    TypeError, ValueError
        For values that are not numbers, out of range, or not among the choices.

    See Also
    --------
    Cone : A convergent beam.
    solve : Takes ``bandwidth=``.

    Notes
    -----
    Around each requested wavelength the engine evaluates the stack at the nodes of a
    Gauss quadrature of the normalised instrument function: Gauss-Hermite for the
    Gaussian (never truncated; beyond 65 nodes Gauss-Legendre over +-9 standard deviations,
    whose tails weigh less than 1e-18), Gauss-Legendre on each half of the triangle (its kink at
    the centre) and over the rectangle; the node count doubles until R and T change by
    less than `tolerance`. Materials are evaluated at those wavelengths; indices given
    as arrays over the requested wavelengths are interpolated linearly between them (and
    held constant beyond the first and last).

    Examples
    --------
    >>> ql.Slit(2.0)
    Slit(fwhm=2, shape='gaussian', domain='wavelength', tolerance=1e-06)
    >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], bandwidth=ql.Slit(2.0))
    >>> print(np.round(res.R()[0, 0], 5))
    [0.0126]
    """

    def __init__(self, fwhm: float, shape: Shape = "gaussian", domain: Domain = "wavelength", *,
                 tolerance: float = 1e-6) -> None:
        self._fwhm = real_number("fwhm", fwhm, minimum=0.0)
        self._shape: Shape = choice("shape", shape, ("gaussian", "triangle", "rectangle"))
        self._domain: Domain = choice("domain", domain, ("wavelength", "wavenumber"))
        self._tolerance = real_number("tolerance", tolerance, minimum=0.0, strictly=True)

    @property
    def fwhm(self) -> float:
        """The full width at half maximum.

        Examples
        --------
        >>> ql.Slit(2.0).fwhm
        2.0
        """
        return self._fwhm

    @property
    def tolerance(self) -> float:
        """The tolerance of the quadrature in R and T.

        Examples
        --------
        >>> ql.Slit(2.0).tolerance
        1e-06
        """
        return self._tolerance

    def nodes(self, level: int) -> tuple[FloatArray, FloatArray]:
        """Offsets from the centre (in the domain's unit) and weights (summing to 1) of the
        quadrature of `level` (0, 1, ...).

        Examples
        --------
        >>> offsets, weights = ql.Slit(2.0, "rectangle").nodes(0)
        >>> print(np.round(offsets, 4), weights)
        [-0.5774  0.5774] [0.5 0.5]
        """
        count = 2 ** (level + 1)
        if self._shape == "gaussian":
            sigma = self._fwhm / (2 * math.sqrt(2 * math.log(2)))
            if count <= 64:
                x, w = gauss_hermite(count + 1)
                return x * sigma, w / w.sum()
            # beyond the node counts where Gauss-Hermite's weights stay finite: Gauss-Legendre
            # over +-9 sigma, where the Gaussian's tails hold less than 1e-18 of its weight
            x, w = gauss_legendre(count)
            w = w * np.exp(-(9.0 * x) ** 2 / 2)
            return x * (9.0 * sigma), w / w.sum()
        x, w = gauss_legendre(count)
        if self._shape == "rectangle":
            return x * (self._fwhm / 2), w / w.sum()
        # triangle of base 2 fwhm: Gauss-Legendre on each half, weighted by the hat
        half = (x + 1) / 2 * self._fwhm
        weight = w * (1 - half / self._fwhm) if self._fwhm > 0 else w
        offsets = np.concatenate([-half[::-1], half])
        weights = np.concatenate([weight[::-1], weight])
        return offsets, weights / weights.sum()

    def wavelengths(self, centres: FloatArray, level: int) -> tuple[FloatArray, FloatArray]:
        """The wavelengths (W, K) at which to evaluate around each centre, and their weights
        (W, K) summing to 1 per centre.

        Examples
        --------
        >>> wl, w = ql.Slit(1e-4, domain="wavenumber").wavelengths(np.array([500.0]), 0)
        >>> wl.shape
        (1, 3)
        """
        offsets, weights = self.nodes(level)
        if self._domain == "wavelength":
            around = centres[:, None] + offsets[None, :]
        else:
            around = 1.0 / (1.0 / centres[:, None] + offsets[None, :])
        if not (np.isfinite(around) & (around > 0)).all():
            raise ValueError("the slit reaches wavelengths at or below 0: its fwhm is too wide for the wavelengths")
        return np.asarray(around, dtype=np.float64), np.broadcast_to(weights, around.shape).copy()

    def __repr__(self) -> str:
        return (f"Slit(fwhm={self._fwhm:g}, shape={self._shape!r}, domain={self._domain!r}, "
                f"tolerance={self._tolerance:g})")
