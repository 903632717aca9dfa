"""fit: thicknesses and dispersion parameters of a stack from measured spectra.

A model is a function of named parameters that returns a Stack; the measurement is
one or more of R, T (unpolarised), R_s, R_p, T_s, T_p, psi and delta on a grid of
angles and wavelengths. fit minimises the chi-square of the residuals (divided by
the measurement's standard deviation) with scipy.optimize.least_squares. Columns of
the Jacobian for parameters that are layer thicknesses come from the engine's
analytic thickness derivatives; the others from central differences. Standard
errors and correlations come from the Jacobian at the solution.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping
from dataclasses import dataclass

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import axis, choice, incidence_angles, on_grid, real_number, thread_count, type_name, whole_number
from quilmo_lab._optional import scipy_least_squares
from quilmo_lab._polarisation import wrapped_phase
from quilmo_lab.anisotropic import AnisotropicResult
from quilmo_lab.cone import Cone
from quilmo_lab.result import Result
from quilmo_lab.slit import Slit
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]

QUANTITIES = ("R", "T", "R_s", "R_p", "T_s", "T_p", "psi", "delta", "psi_ps", "delta_ps", "psi_sp", "delta_sp")
# Generalised ellipsometry: only the 4x4 solve computes these.
CROSS_POLARISATION = ("psi_ps", "delta_ps", "psi_sp", "delta_sp")

# Relative step of the central differences for parameters that are not thicknesses:
# near the cube root of the double precision, the best balance of truncation and rounding.
DIFFERENCE_STEP = 6e-6


@dataclass(frozen=True)
class FitResult:
    """The outcome of `fit`.

    Attributes
    ----------
    values, stderr : dict of str to float
        The best values and their standard errors by parameter name.
    names : list of str
        The parameters' order in `covariance` and `correlation`.
    covariance, correlation : ndarray
        (P, P) at the solution.
    chi2 : float
        The sum of the squared normalised residuals.
    dof : int
        Degrees of freedom: measured points less parameters.
    reduced_chi2 : float
        chi2 / dof.
    residuals : ndarray
        The normalised residuals at the solution.
    stack : Stack
        The fitted model.
    success : bool
        The optimiser's verdict, with its `message`.
    message : str

    Notes
    -----
    With `sigma` given, the standard errors take it as the true noise level; without
    it they are scaled by the reduced chi-square (the noise estimated from the fit).

    Examples
    --------
    >>> from quilmo_lab.fit import fit
    >>> wl = np.linspace(400.0, 800.0, 41)
    >>> def film(d, A):
    ...     return ql.Stack([ql.Layer(ql.Cauchy(A, 4000.0), d)], exit=1.52)
    >>> truth = film(250.0, 1.46).solve(wl, 1.2)
    >>> measured = {"psi": truth.psi[0], "delta": truth.delta[0]}
    >>> result = fit(film, {"d": 240.0, "A": 1.5}, wl, measured, angles=1.2, thickness={"d": 0})
    >>> result.names, result.dof, result.success
    (['d', 'A'], 80, True)
    """

    values: dict[str, float]
    stderr: dict[str, float]
    names: list[str]
    covariance: FloatArray
    correlation: FloatArray
    chi2: float
    dof: int
    reduced_chi2: float
    residuals: FloatArray
    stack: Stack
    success: bool
    message: str


# Unpolarised light: the angle pi/4 weights s and p by cos^2 and sin^2 of it, as the
# fit always has (not quite 0.5 each in the last bit).
UNPOLARISED = math.pi / 4


def _quantity(result: Result | AnisotropicResult, name: str, derivative: bool) -> FloatArray:
    """(A, W) values or (A, layers, W) thickness derivatives of one measured quantity."""
    if isinstance(result, AnisotropicResult):
        if name in ("R", "T", "R_s", "R_p", "T_s", "T_p"):
            polarisation = "unpolarized" if len(name) == 1 else name[-1]
            value = result.R(polarisation) if name[0] == "R" else result.T(polarisation)
        else:
            value = getattr(result, name)
        values: FloatArray = np.asarray(value, dtype=np.float64)[0]
        return values
    if name in ("psi", "delta"):
        value = (result.dpsi if name == "psi" else result.ddelta) if derivative else getattr(result, name)
    elif name in ("R", "T"):
        value = (result.dR(UNPOLARISED) if name == "R" else result.dT(UNPOLARISED)) if derivative else \
            (result.R(UNPOLARISED) if name == "R" else result.T(UNPOLARISED))
    else:
        value = getattr(result, ("d" if derivative else "") + name)
    first: FloatArray = np.asarray(value, dtype=np.float64)[0]
    return first


class _Problem:
    def __init__(self, model: Callable[..., Stack], names: list[str], wavelengths: FloatArray, angles: FloatArray,
                 measured: dict[str, FloatArray], sigma: dict[str, FloatArray], thickness: dict[str, int],
                 threads: int | None, start: FloatArray) -> None:
        self.model, self.names = model, names
        self.wavelengths, self.angles = wavelengths, angles
        self.measured, self.sigma, self.thickness = measured, sigma, thickness
        self.threads = threads
        # the 4x4 solve where the model is anisotropic or cross-polarisation is measured;
        # its Jacobian is by central differences
        self.anisotropic = (model(**dict(zip(names, (float(v) for v in start)))).anisotropic
                            or any(name in CROSS_POLARISATION for name in measured))
        self.measurement: dict[str, Any] = {}

    def stack(self, p: FloatArray) -> Stack:
        return self.model(**dict(zip(self.names, (float(v) for v in p))))

    def _solve(self, p: FloatArray, derivatives: bool) -> Result | AnisotropicResult:
        stack = self.stack(p)
        if self.anisotropic:
            return stack.solve(self.wavelengths, self.angles, threads=self.threads, azimuths=[0.0],
                               **self.measurement)
        for name, layer in self.thickness.items():
            value = p[self.names.index(name)]
            if not math.isclose(stack.layers[layer].thickness, value, rel_tol=1e-12, abs_tol=1e-12):
                raise ValueError(f"thickness[{name!r}] must be the layer whose thickness {name} is; received layer "
                                 f"{layer}, which the model makes {stack.layers[layer].thickness:g} nm thick for "
                                 f"{name} = {value:g}")
        return stack.solve(self.wavelengths, self.angles, threads=self.threads, derivatives=derivatives,
                           **self.measurement)

    def residuals(self, p: FloatArray) -> FloatArray:
        return self._residuals(self._solve(p, False))

    def _residuals(self, result: Result | AnisotropicResult) -> FloatArray:
        parts = []
        for name, data in self.measured.items():
            difference = _quantity(result, name, False) - data
            if name.startswith("delta"):
                difference = wrapped_phase(difference)
            parts.append((difference / self.sigma[name]).ravel())
        return np.concatenate(parts)

    def jacobian(self, p: FloatArray) -> FloatArray:
        columns: list[FloatArray | None] = [None] * len(self.names)
        # an average has no derivatives of psi and delta: those columns by differences too
        averaged = self.measurement.get("cone") is not None or self.measurement.get("bandwidth") is not None \
            or bool(np.any(np.asarray(self.measurement.get("thickness_spread", 0.0)) != 0))
        if self.thickness and not self.anisotropic and not (
                averaged and ("psi" in self.measured or "delta" in self.measured)):
            result = self._solve(p, True)
            for name, layer in self.thickness.items():
                parts = [(_quantity(result, q, True)[:, layer, :] / self.sigma[q]).ravel() for q in self.measured]
                columns[self.names.index(name)] = np.concatenate(parts)
        for i, name in enumerate(self.names):
            if columns[i] is not None:
                continue
            h = DIFFERENCE_STEP * max(abs(p[i]), 1e-3)
            up, down = p.copy(), p.copy()
            up[i] += h
            down[i] -= h
            difference = self.residuals(up) - self.residuals(down)
            columns[i] = self._rewrap(difference) / (2 * h)
        return np.stack(columns, axis=1)  # type: ignore[arg-type]

    def _rewrap(self, difference: FloatArray) -> FloatArray:
        # a delta residual that crossed ±π between the two steps
        start = 0
        out = difference.copy()
        for name, data in self.measured.items():
            size = data.size
            if name.startswith("delta"):
                scale = np.broadcast_to(self.sigma[name], data.shape).ravel()
                out[start:start + size] = wrapped_phase(difference[start:start + size] * scale) / scale
            start += size
        return out


def fit(model: Callable[..., Stack], parameters: Mapping[str, float], wavelengths: npt.ArrayLike,
        measured: Mapping[str, npt.ArrayLike], *, angles: npt.ArrayLike = 0.0,
        sigma: Mapping[str, npt.ArrayLike] | None = None, thickness: Mapping[str, int] | None = None,
        bounds: Mapping[str, tuple[float, float]] | None = None, threads: int | None = None,
        max_evaluations: int = 200, cone: Cone | None = None, bandwidth: Slit | None = None,
        thickness_spread: npt.ArrayLike = 0.0, roughness_model: str = "nevot-croce") -> FitResult:
    """Fit parameters of a model stack to measured spectra or ellipsometry.

    Parameters
    ----------
    model : callable
        ``model(**parameters)`` returns a Stack (thicknesses in nm).
    parameters : mapping of str to float
        The starting values by name.
    wavelengths : array_like
        The measurement's wavelengths in nm, (W,).
    measured : mapping of str to array_like
        Data by quantity: "R" and "T" (unpolarised light), "R_s", "R_p", "T_s", "T_p",
        "psi" and "delta" (radians, `tmm`'s convention), and the generalised
        ellipsometry angles "psi_ps", "delta_ps", "psi_sp", "delta_sp" (as
        `AnisotropicResult` defines them), each (A, W), or (W,) for one angle.
    angles : float or array_like, optional
        The angles of incidence in radians, (A,).
    sigma : mapping of str to float or array_like, optional
        The standard deviation of each quantity, a number or one per point (default 1).
    thickness : mapping of str to int, optional
        Parameter name to the index of the layer (from 0, incidence side) whose
        thickness it is: those columns of the Jacobian are analytic.
    bounds : mapping of str to (float, float), optional
        Parameter name to (low, high).
    threads : int, optional
        Worker threads of the solves.
    max_evaluations : int, optional
        The most evaluations of the model.
    cone, bandwidth, thickness_spread, roughness_model : optional
        What the instrument sees, as for `quilmo_lab.solve`; the model's layers give the
        roughness, which may be a parameter (its column of the Jacobian by differences).

    Returns
    -------
    FitResult

    Raises
    ------
    ImportError
        Without SciPy (``pip install "quilmo[design]"``).
    TypeError, ValueError
        For a model that is not callable, unknown quantities or parameters, data of the
        wrong shape, a sigma that is not positive, or a thickness map the model
        contradicts.

    Notes
    -----
    The chi-square of the residuals divided by `sigma` is minimised with
    ``scipy.optimize.least_squares``. Columns of the Jacobian for parameters that are
    thicknesses come from the engine's analytic derivatives (also with incoherent
    layers, for R and T), the others from central differences. A model with
    anisotropic media, or a measurement of cross-polarisation, is solved by
    `solve_anisotropic`, and every column then comes from central differences: two
    solves per parameter for each Jacobian. Standard errors and
    correlations come from the Jacobian at the solution.

    Examples
    --------
    A film's thickness and index recovered from its psi and delta at 69 degrees:

    >>> from quilmo_lab.fit import fit
    >>> wl = np.linspace(400.0, 800.0, 41)
    >>> def film(d, A):
    ...     return ql.Stack([ql.Layer(ql.Cauchy(A, 4000.0), d)], exit=1.52)
    >>> truth = film(250.0, 1.46).solve(wl, 1.2)
    >>> measured = {"psi": truth.psi[0], "delta": truth.delta[0]}
    >>> result = fit(film, {"d": 240.0, "A": 1.5}, wl, measured, angles=1.2, thickness={"d": 0})
    >>> {name: round(value, 6) for name, value in result.values.items()}
    {'d': 250.0, 'A': 1.46}
    """
    if not callable(model):
        raise TypeError(f"model must be callable (parameters -> Stack); received {type_name(model)}")
    names = list(parameters)
    if not names:
        raise ValueError("parameters must name at least one parameter to fit; received none")
    p0 = np.array([real_number(f"parameters[{name!r}]", parameters[name]) for name in names], dtype=np.float64)
    wl = axis("wavelengths", wavelengths, "W")
    theta = incidence_angles("angles", angles, "A")
    shape = (theta.size, wl.size)
    if not measured:
        raise ValueError(f"measured must hold at least one of {', '.join(QUANTITIES)}; received none")
    data = {choice("each quantity in measured", name, QUANTITIES): on_grid(f"measured[{name!r}]", spectrum, shape)
            for name, spectrum in measured.items()}
    noise_given = bool(sigma)
    sigma = dict(sigma or {})
    for name in sigma:
        choice("each quantity in sigma", name, tuple(data))
    noise = {name: on_grid(f"sigma[{name!r}]", sigma.get(name, 1.0), shape) for name in data}
    for name, spread in noise.items():
        if np.any(~(spread > 0)):
            raise ValueError(f"sigma[{name!r}] must be positive; received {spread[~(spread > 0)][0]!r}")
    layers = {choice("each parameter in thickness", name, names): whole_number(f"thickness[{name!r}]", layer, minimum=0)
              for name, layer in (thickness or {}).items()}
    lo = np.full(len(names), -np.inf)
    hi = np.full(len(names), np.inf)
    for name, (low, high) in (bounds or {}).items():
        index = names.index(choice("each parameter in bounds", name, names))
        lo[index] = real_number(f"bounds[{name!r}][0]", low) if low != -math.inf else low
        hi[index] = real_number(f"bounds[{name!r}][1]", high) if high != math.inf else high
    thread_count(threads)  # a bad count is reported before the fit starts
    least_squares = scipy_least_squares("quilmo_lab.fit")
    problem = _Problem(model, names, wl, theta, data, noise, layers, threads, p0)
    problem.measurement = dict(cone=cone, bandwidth=bandwidth, thickness_spread=thickness_spread,
                               roughness_model=roughness_model)
    result = least_squares(problem.residuals, np.clip(p0, lo, hi), jac=problem.jacobian, bounds=(lo, hi),
                           method="trf", x_scale="jac", max_nfev=max_evaluations)
    jac = problem.jacobian(result.x)
    chi2 = float(np.sum(np.square(result.fun)))
    dof = max(result.fun.size - len(names), 1)
    covariance = np.linalg.pinv(jac.T @ jac)
    if not noise_given:
        covariance = covariance * (chi2 / dof)
    stderr = np.sqrt(np.diag(covariance))
    with np.errstate(invalid="ignore", divide="ignore"):
        correlation = covariance / np.outer(stderr, stderr)
    values = {name: float(v) for name, v in zip(names, result.x)}
    return FitResult(values, {name: float(e) for name, e in zip(names, stderr)}, names, covariance, correlation,
                     chi2, dof, chi2 / dof, result.fun, problem.stack(result.x), bool(result.success),
                     str(result.message))
