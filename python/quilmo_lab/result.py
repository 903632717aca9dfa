"""The result of `solve`: amplitudes and powers on the (stack, angle, wavelength) grid."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Literal

import numpy as np
import numpy.typing as npt

from quilmo_lab._checks import choice
from quilmo_lab._optional import xarray_module
from quilmo_lab._polarisation import Polarisation, polarised
from quilmo_lab._values import frozen, not_computed, not_defined_with_incoherent_layers, plane

if TYPE_CHECKING:
    import xarray

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# The delta conventions ellipsometry_convention converts to.
Convention = Literal["tmm", "pyelli", "openfilters"]
CONVENTIONS: tuple[Convention, ...] = ("tmm", "pyelli", "openfilters")

_AMPLITUDES = ("r_s", "r_p", "t_s", "t_p")
_POWERS = ("R_s", "R_p", "T_s", "T_p")


class Result:
    """Amplitudes, powers and ellipsometric angles of every (stack, angle, wavelength) point.

    Every array has shape (B, A, W): stacks, angles of incidence, wavelengths, with
    B = 1 and A = 1 kept. Conventions are those of `tmm`'s coh_tmm and ellips: n + ik
    with k > 0 absorbing; r = M10 / M00 and t = 1 / M00 of the transfer matrix, so that
    r_p = -r_s at normal incidence; T_s = |t_s|^2 Re(n_out cos_out) / Re(n_in cos_in),
    T_p = |t_p|^2 Re(n_out conj(cos_out)) / Re(n_in conj(cos_in)) (the Poynting flux,
    so that R + T + A = 1 also for an absorbing exit medium); psi = arctan|r_p / r_s|,
    delta = arg(-r_p / r_s) in (-pi, pi].

    A Result is a value: built once by solve, never changed, and its arrays are
    read-only. It keeps its own copy of every input it still computes from
    (absorbed_s and absorbed_p on first use). A quantity the call did not compute, or
    that the stack does not define, raises AttributeError saying why and how to get it.
    """

    def __init__(self, powers: FloatArray, wavelengths: FloatArray, angles: FloatArray, *,
                 absorb: Callable[[], FloatArray], amplitudes: ComplexArray | None = None,
                 power_derivatives: FloatArray | None = None,
                 amplitude_derivatives: ComplexArray | None = None) -> None:
        # powers and amplitudes: (4, B, A, W); their derivatives (4, B, A, layers, W), with
        # amplitudes None for a stack with incoherent layers and derivatives None where
        # not asked for. absorb computes the (2, B, A, layers, W) absorbed fractions from
        # inputs the result owns.
        self._powers = frozen(powers)
        self._wavelengths = frozen(wavelengths)
        self._angles = frozen(angles)
        self._absorb = absorb
        self._amplitudes = None if amplitudes is None else frozen(amplitudes)
        self._power_derivatives = None if power_derivatives is None else frozen(power_derivatives)
        self._amplitude_derivatives = None if amplitude_derivatives is None else frozen(amplitude_derivatives)
        self._absorbed: FloatArray | None = None
        self._ellipsometry: tuple[FloatArray, FloatArray] | None = None
        self._ellipsometry_derivatives: tuple[FloatArray, FloatArray] | None = None

    # the grid ---------------------------------------------------------------------------------
    @property
    def wavelengths(self) -> FloatArray:
        """The wavelengths, (W,)."""
        return self._wavelengths

    @property
    def angles(self) -> FloatArray:
        """The angles of incidence in the incidence medium, radians, (A,)."""
        return self._angles

    @property
    def shape(self) -> tuple[int, int, int]:
        """(B, A, W)."""
        b, a, w = self._powers.shape[1:]
        return b, a, w

    @property
    def coherent(self) -> bool:
        """False for a stack solved with incoherent layers (no amplitudes, no psi and delta)."""
        return self._amplitudes is not None

    # amplitudes -------------------------------------------------------------------------------
    def _amplitude(self, name: str) -> ComplexArray:
        if self._amplitudes is None:
            raise not_defined_with_incoherent_layers(self, name)
        return plane(self._amplitudes, _AMPLITUDES.index(name))

    @property
    def r_s(self) -> ComplexArray:
        """Amplitude reflection coefficient, s polarisation."""
        return self._amplitude("r_s")

    @property
    def r_p(self) -> ComplexArray:
        """Amplitude reflection coefficient, p polarisation."""
        return self._amplitude("r_p")

    @property
    def t_s(self) -> ComplexArray:
        """Amplitude transmission coefficient, s polarisation."""
        return self._amplitude("t_s")

    @property
    def t_p(self) -> ComplexArray:
        """Amplitude transmission coefficient, p polarisation."""
        return self._amplitude("t_p")

    # powers -----------------------------------------------------------------------------------
    @property
    def R_s(self) -> FloatArray:
        """Reflectance, s polarisation: the fraction of the incident power reflected."""
        return plane(self._powers, 0)

    @property
    def R_p(self) -> FloatArray:
        """Reflectance, p polarisation."""
        return plane(self._powers, 1)

    @property
    def T_s(self) -> FloatArray:
        """Transmittance, s polarisation: the fraction of the incident power transmitted."""
        return plane(self._powers, 2)

    @property
    def T_p(self) -> FloatArray:
        """Transmittance, p polarisation."""
        return plane(self._powers, 3)

    def R(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Reflectance of `polarisation`: "s", "p", "unpolarized" or an angle phi (radians),
        R_s cos^2(phi) + R_p sin^2(phi), bit for bit quilmo.DataPy(...).simulate().r of the
        same stack, angle and phi wherever no layer is opaque."""
        return polarised(self.R_s, self.R_p, polarisation)

    def T(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Transmittance of `polarisation`. Differs from DataPy's t for p-polarised light
        at oblique incidence on an absorbing exit medium, where DataPy weights |t_p|^2
        with Re(n_out cos_out) instead of the Poynting flux."""
        return polarised(self.T_s, self.T_p, polarisation)

    def A(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """1 - R - T of `polarisation`: the fraction absorbed in the inner layers."""
        return np.asarray((1.0 - self.R(polarisation)) - self.T(polarisation), dtype=np.float64)

    # absorption per layer ---------------------------------------------------------------------
    def _layers(self) -> FloatArray:
        if self._absorbed is None:
            self._absorbed = frozen(self._absorb())
        return self._absorbed

    @property
    def absorbed_s(self) -> FloatArray:
        """Fraction of the incident power absorbed in each inner layer, s polarisation,
        shape (B, A, media - 2, W); with R_s and T_s it sums to 1. Computed on first use."""
        return plane(self._layers(), 0)

    @property
    def absorbed_p(self) -> FloatArray:
        """As absorbed_s, for p polarisation."""
        return plane(self._layers(), 1)

    def absorbed(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Fraction absorbed in each inner layer for `polarisation`, (B, A, media - 2, W)."""
        return polarised(self.absorbed_s, self.absorbed_p, polarisation, layer_axis=True)

    # ellipsometry -----------------------------------------------------------------------------
    def _psi_delta(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._ellipsometry is None:
            if self._amplitudes is None:
                raise not_defined_with_incoherent_layers(self, name)
            with np.errstate(divide="ignore", invalid="ignore"):
                rho = self.r_p / self.r_s
            self._ellipsometry = (frozen(np.arctan(np.abs(rho))), frozen(np.angle(-rho)))
        return self._ellipsometry

    @property
    def psi(self) -> FloatArray:
        """arctan|r_p / r_s|, radians."""
        return self._psi_delta("psi")[0]

    @property
    def delta(self) -> FloatArray:
        """arg(-r_p / r_s) in (-pi, pi], radians (tmm's convention; see
        ellipsometry_convention for pyElli's)."""
        return self._psi_delta("delta")[1]

    # thickness derivatives --------------------------------------------------------------------
    def _amplitude_derivatives_for(self, name: str) -> ComplexArray:
        """The (4, B, A, layers, W) amplitude derivatives, or why `name` cannot be read."""
        if self._amplitudes is None:
            raise not_defined_with_incoherent_layers(self, name)
        if self._amplitude_derivatives is None:
            raise not_computed(self, name)
        return self._amplitude_derivatives

    def _amplitude_derivative(self, name: str) -> ComplexArray:
        return plane(self._amplitude_derivatives_for(name), _AMPLITUDES.index(name[1:]))

    def _power_derivative(self, name: str) -> FloatArray:
        if self._power_derivatives is None:
            raise not_computed(self, name)
        return plane(self._power_derivatives, _POWERS.index(name[1:]))

    @property
    def dr_s(self) -> ComplexArray:
        """d r_s / d thickness of each inner layer, (B, A, layers, W), per unit of thickness."""
        return self._amplitude_derivative("dr_s")

    @property
    def dr_p(self) -> ComplexArray:
        """d r_p / d thickness, (B, A, layers, W)."""
        return self._amplitude_derivative("dr_p")

    @property
    def dt_s(self) -> ComplexArray:
        """d t_s / d thickness, (B, A, layers, W)."""
        return self._amplitude_derivative("dt_s")

    @property
    def dt_p(self) -> ComplexArray:
        """d t_p / d thickness, (B, A, layers, W)."""
        return self._amplitude_derivative("dt_p")

    @property
    def dR_s(self) -> FloatArray:
        """d R_s / d thickness of each inner layer, (B, A, layers, W), per unit of thickness."""
        return self._power_derivative("dR_s")

    @property
    def dR_p(self) -> FloatArray:
        """d R_p / d thickness, (B, A, layers, W)."""
        return self._power_derivative("dR_p")

    @property
    def dT_s(self) -> FloatArray:
        """d T_s / d thickness, (B, A, layers, W)."""
        return self._power_derivative("dT_s")

    @property
    def dT_p(self) -> FloatArray:
        """d T_p / d thickness, (B, A, layers, W)."""
        return self._power_derivative("dT_p")

    def dR(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d R / d thickness of `polarisation`, (B, A, layers, W)."""
        return polarised(self.dR_s, self.dR_p, polarisation, layer_axis=True)

    def dT(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d T / d thickness of `polarisation`, (B, A, layers, W)."""
        return polarised(self.dT_s, self.dT_p, polarisation, layer_axis=True)

    def dA(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """d A / d thickness = -(dR + dT) of `polarisation`, (B, A, layers, W)."""
        return np.asarray(-(self.dR(polarisation) + self.dT(polarisation)), dtype=np.float64)

    def _psi_delta_derivatives(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._ellipsometry_derivatives is None:
            dr_s, dr_p = self._amplitude_derivatives_for(name)[:2]
            r_s, r_p = self.r_s[:, :, None, :], self.r_p[:, :, None, :]
            with np.errstate(divide="ignore", invalid="ignore"):
                rho = np.abs(r_p / r_s)
                # d ln(rho) = dr_p / r_p - dr_s / r_s; psi = arctan|rho|, delta = arg(-rho)
                log_change = dr_p / r_p - dr_s / r_s
                dpsi = rho / (1.0 + rho * rho) * log_change.real
            self._ellipsometry_derivatives = (frozen(np.asarray(dpsi, dtype=np.float64)),
                                              frozen(np.asarray(log_change.imag, dtype=np.float64)))
        return self._ellipsometry_derivatives

    @property
    def dpsi(self) -> FloatArray:
        """d psi / d thickness, (B, A, layers, W), radians per unit of thickness."""
        return self._psi_delta_derivatives("dpsi")[0]

    @property
    def ddelta(self) -> FloatArray:
        """d delta / d thickness, (B, A, layers, W), radians per unit of thickness."""
        return self._psi_delta_derivatives("ddelta")[1]

    # other faces ------------------------------------------------------------------------------
    def to_xarray(self) -> xarray.Dataset:
        """An xarray.Dataset with dimensions stack, angle and wavelength (needs xarray)."""
        xr = xarray_module("Result.to_xarray")
        dims = ("stack", "angle", "wavelength")
        names: tuple[str, ...] = _POWERS
        if self.coherent:
            names = (*_AMPLITUDES, *names, "psi", "delta")
        dataset: xarray.Dataset = xr.Dataset(
            {name: (dims, getattr(self, name)) for name in names},
            coords={"stack": np.arange(self.shape[0]), "angle": self.angles, "wavelength": self.wavelengths},
        )
        return dataset

    def __repr__(self) -> str:
        b, a, w = self.shape
        return f"<quilmo_lab.Result: {b} stacks x {a} angles x {w} wavelengths>"


def ellipsometry_convention(delta: npt.ArrayLike, convention: Convention) -> FloatArray:
    """delta of `tmm` (what Result.delta holds) in another convention.

    "tmm": unchanged; "pyelli" and "openfilters": pi - delta, the convention of pyElli
    and OpenFilters (the sign of r_p differs, and Delta is measured the other way).
    """
    choice("convention", convention, CONVENTIONS)
    values = np.array(delta, dtype=np.float64)
    if convention == "tmm":
        return values
    return np.asarray(np.pi - values, dtype=np.float64)
