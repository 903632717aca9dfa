"""AveragedResult: what an instrument sees, averaged over a cone of rays, a slit's bandwidth
and a spread of thicknesses (built by `solve` given ``cone=``, ``bandwidth=`` or
``thickness_spread=``)."""

from __future__ import annotations

from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from quilmo_lab._values import frozen, missing
from quilmo_lab.result import Result

if TYPE_CHECKING:
    from quilmo_lab._averaging import Quadrature
    from quilmo_lab._problem import GridProblem

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]


class AveragedResult(Result):
    """R, T, A, absorbed fractions, Mueller matrices and their derivatives averaged over what an
    instrument sees: a cone of rays, a slit's bandwidth, a spread of thicknesses.

    Built by `solve` given ``cone=``, ``bandwidth=`` or ``thickness_spread=``. Its powers
    are those of light polarised s or p in the chief ray's plane of incidence (R_s, R_p, R(),
    ...), shapes as `Result`'s. Amplitudes, the thickness derivatives of amplitudes and the
    ellipsometric derivatives are not defined for an average (AttributeError); psi and delta
    are the pseudo angles an ellipsometer reports, from `mueller_r`.

    Examples
    --------
    >>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [550.0], cone=ql.Cone(0.2), thickness_spread=2.0)
    >>> print(np.round(res.R()[0, 0], 5), res.depolarisation_index_r[0, 0, 0] > 0)
    [0.01264] True
    >>> res.r_s
    Traceback (most recent call last):
    ...
    AttributeError: r_s is not defined for an averaged result: it adds rays, wavelengths or thicknesses by power, without a common phase; R, T, A, absorbed, their derivatives, the Mueller matrices and the pseudo psi and delta are defined
    """

    def __init__(self, powers: FloatArray, problem: GridProblem, quadrature: Quadrature) -> None:
        layers = problem.layers

        def absorb() -> FloatArray:
            return np.stack(quadrature.contract(lambda ray: (ray.absorbed_s, ray.absorbed_p), layers))

        derivatives = None
        roughness_derivatives = None
        ray = quadrature.pieces[0].result
        if ray._power_derivatives is not None:
            derivatives = np.concatenate([_contracted(quadrature, "_power_derivatives", 0, layers),
                                          _contracted(quadrature, "_power_derivatives", 2, layers)])
            if ray._roughness_derivatives is not None:
                interfaces = ray._roughness_derivatives.shape[3]
                roughness_derivatives = np.concatenate([
                    _contracted(quadrature, "_roughness_derivatives", 0, interfaces),
                    _contracted(quadrature, "_roughness_derivatives", 2, interfaces)])
        super().__init__(powers, problem.wavelengths, problem.angles, absorb=absorb,
                         power_derivatives=derivatives, roughness_derivatives=roughness_derivatives)
        self._quadrature = quadrature

    def _amplitude(self, name: str) -> ComplexArray:
        raise _not_for_averages(self, name)

    def _amplitude_derivatives_for(self, name: str) -> ComplexArray:
        raise _not_for_averages(self, name)

    def _psi_delta_derivatives(self, name: str) -> tuple[FloatArray, FloatArray]:
        raise _not_for_averages(self, name)

    def _mueller_pair(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._mueller is None:
            self._mueller = (frozen(self._quadrature.contract_mueller(True)),
                             frozen(self._quadrature.contract_mueller(False)))
        return self._mueller

    def _roughness_derivative(self, name: str, index: int) -> FloatArray:
        if self._roughness_derivatives is None and self._power_derivatives is not None:
            raise missing(self, name, "is not computed for a stack with incoherent layers",
                          "the thickness derivatives are; solve with every layer coherent for these")
        return super()._roughness_derivative(name, index)

    @property
    def coherent(self) -> bool:
        """False: an average adds by power.

        Examples
        --------
        >>> ql.solve([1.0, 1.5], [], [500.0], bandwidth=ql.Slit(1.0)).coherent
        False
        """
        return False

    @property
    def quadrature(self) -> dict[str, int]:
        """The finest converged rule's rays per chief angle, wavelengths per requested one and
        stacks per thickness, and the (stack, angle, wavelength) points solved in all
        ("points"; the rules are nested and only wavelengths not yet converged are refined,
        so most wavelengths stop at coarser rules).

        Examples
        --------
        >>> ql.solve([1.0, 1.5], [], [500.0], cone=ql.Cone(0.1)).quadrature["rays"] > 1
        True
        """
        return self._quadrature.counts

    def __repr__(self) -> str:
        b, a, w = self.shape
        return f"<quilmo_lab.AveragedResult: {b} stacks x {a} angles x {w} wavelengths>"


def _contracted(quadrature: Quadrature, name: str, first: int, layers: int) -> FloatArray:
    """The averages (2, B, A, layers, W) of the s and p derivatives `name`[first], [first + 1]."""
    return np.stack(quadrature.contract(lambda ray: (getattr(ray, name)[first], getattr(ray, name)[first + 1]),
                                        layers))


def _not_for_averages(owner: object, name: str) -> AttributeError:
    return missing(owner, name, "is not defined for an averaged result: it adds rays, wavelengths or thicknesses "
                   "by power, without a common phase",
                   "R, T, A, absorbed, their derivatives, the Mueller matrices and the pseudo psi and delta are "
                   "defined")
