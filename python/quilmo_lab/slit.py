"""Slit: the bandwidth of a spectrometer, as an instrument function around each wavelength."""

from __future__ import annotations

import math
from typing import Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice, real_number
from quilmo_lab._quadrature import KEY_BITS, clenshaw_curtis, key_stride

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
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
        The accuracy promised for the averaged R and T (absolute, at every wavelength).
        A wavelength's quadrature is refined until a level changes its R and T by less than
        this and the level before changed them by less than 0.1 * sqrt(tolerance) (a sign
        that the rule resolves the integrand), or until a level changes them by less than a
        hundredth of it. Given together with a `Cone`, the averages are refined together to the
        smallest of their tolerances; a ``thickness_spread`` brings its own, 1e-6.

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
    The Gaussian is integrated by the trapezoid rule on one grid uniform in the domain and
    shared by every requested wavelength, as far around each as the Gaussian weighs more
    than a thousandth of the tolerance of its peak (6.4 standard deviations at the default
    tolerance; its tails beyond weigh about 1e-10): wavelengths closer than the slit's width
    share their evaluations, and the trapezoid rule of a smooth function times a Gaussian
    converges faster than any power of the spacing. The triangle (on each half, where it
    is linear) and the rectangle take Clenshaw-Curtis nodes around each wavelength. Each
    level halves the spacing or doubles the nodes, keeping every node of the previous
    level, and solves only its new wavelengths around the requested wavelengths not yet
    within `tolerance`. Materials are evaluated at those
    wavelengths; indices given as arrays over the requested wavelengths are interpolated
    linearly between them (and held constant beyond the first and last).

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

    def wavelengths(self, centres: FloatArray, level: int, labels: IntArray | None = None,
                    tolerance: float | None = None) -> tuple[IntArray, FloatArray, FloatArray]:
        """The quadrature of `level` (0, 1, ...) around every centre: keys (W, K) of the
        nodes (equal keys for equal nodes, of any level and any centre), their wavelengths
        (W, K) and their weights (W, K), summing to 1 per centre (rows padded with weight 0).
        Nodes of one centre alone are told apart by the centre's label in `labels` (W,)
        (by default its position), so that subsets of the centres keep their keys.

        The Gaussian's nodes lie on one grid shared by every centre, uniform in the domain
        with spacing sigma / 2**level, as far from the centre as the Gaussian weighs more
        than a thousandth of `tolerance` (by default the slit's own) of its peak; the
        triangle's and the rectangle's are Clenshaw-Curtis nodes of their own around each
        centre (on each half of the triangle). Each level holds the previous level's nodes.

        Examples
        --------
        >>> key, wl, w = ql.Slit(2.0).wavelengths(np.array([500.0, 500.5]), 0)
        >>> wl.shape, np.unique(key).size, bool(np.allclose(w.sum(axis=1), 1.0))
        ((2, 13), 13, True)
        """
        u = centres if self._domain == "wavelength" else 1.0 / centres
        if self._shape == "gaussian":
            sigma = self._fwhm / (2 * math.sqrt(2 * math.log(2)))
            reach = _gaussian_reach(self._tolerance if tolerance is None else tolerance)
            key, around, weights = _shared_gaussian(u, sigma, reach, level)
        else:
            key, offsets, weights = self._own_nodes(np.arange(u.size) if labels is None else labels, level)
            around = u[:, None] + offsets
        wavelengths = around if self._domain == "wavelength" else 1.0 / around
        if not (np.isfinite(wavelengths) & (wavelengths > 0)).all():
            raise ValueError("the slit reaches wavelengths at or below 0: its fwhm is too wide for the wavelengths")
        return key, np.asarray(wavelengths, dtype=np.float64), weights

    def _own_nodes(self, labels: IntArray, level: int) -> tuple[IntArray, FloatArray, FloatArray]:
        """Keys, offsets and weights (W, K) of Clenshaw-Curtis rules around each labelled centre."""
        count = 2 ** (level + 1)
        x, w = clenshaw_curtis(count)
        j = np.arange(count + 1, dtype=np.int64) * key_stride(level)
        if self._shape == "rectangle":
            offsets, weights, local = x * (self._fwhm / 2), w, j
        else:
            # a hat of base 2 fwhm: the rule on each half, where the hat is linear
            half = (x + 1) / 2 * self._fwhm
            hat = w * (1 - (x + 1) / 2)
            offsets, weights = np.concatenate([-half, half]), np.concatenate([hat, hat])
            local = np.concatenate([j, j + 2 ** (KEY_BITS + 2)])
        key = np.asarray(labels, dtype=np.int64)[:, None] * 2 ** (KEY_BITS + 3) + local[None, :]
        shape = key.shape
        return key, np.broadcast_to(offsets, shape).copy(), np.broadcast_to(weights / weights.sum(), shape).copy()

    def __repr__(self) -> str:
        return (f"Slit(fwhm={self._fwhm:g}, shape={self._shape!r}, domain={self._domain!r}, "
                f"tolerance={self._tolerance:g})")


def _gaussian_reach(tolerance: float) -> float:
    """How many standard deviations from its centre the Gaussian is integrated for averages
    to `tolerance`: as far as it weighs more than tolerance / 1000 of its peak. The tails
    beyond hold about a ten-thousandth of the tolerance of its weight, and the cut,
    where the Gaussian is that small, keeps the trapezoid rule's fast convergence down to
    well below the hundredth of the tolerance that accepts a first level (at least 6
    standard deviations)."""
    return max(6.0, math.sqrt(2.0 * math.log(1e3 / min(tolerance, 1.0))))


def _shared_gaussian(u: FloatArray, sigma: float, reach: float,
                     level: int) -> tuple[IntArray, FloatArray, FloatArray]:
    """Keys, nodes and weights (W, K) of the trapezoid rule of the Gaussian of
    `sigma` around each centre `u`, on the grid of spacing sigma / 2**level through 0 within
    `reach` standard deviations: centres closer than its width share their nodes (one
    evaluation serves many), and on a uniform grid the trapezoid rule of a smooth function
    times a Gaussian converges faster than any power of the spacing. A node's key is its
    index on the finest grid."""
    unit = sigma / 2**KEY_BITS
    stride = key_stride(level)
    low = np.ceil((u - reach * sigma) / unit / stride).astype(np.int64)
    span = np.floor((u + reach * sigma) / unit / stride).astype(np.int64) - low
    step = np.arange(int(span.max()) + 1, dtype=np.int64)
    key = low[:, None] + step
    # rows with fewer nodes (by one, but for rounding) padded with their last node, weighing 0
    short = np.flatnonzero(span < step[-1])
    padding = step > span[short, None]
    key[short] = np.minimum(key[short], (low + span)[short, None])
    key *= stride
    nodes = key * unit
    weights = nodes - u[:, None]
    weights *= weights
    weights *= -0.5 / sigma**2
    np.exp(weights, out=weights)
    weights[short] = np.where(padding, 0.0, weights[short])
    weights *= (1.0 / (weights @ np.ones(step.size)))[:, None]
    return key, nodes, weights
