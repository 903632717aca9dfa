"""The result of `solve`: amplitudes and powers on the (stack, angle, wavelength) grid."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

FloatArray = npt.NDArray[np.float64]
ComplexArray = npt.NDArray[np.complex128]

# The delta conventions ellipsometry_convention converts to.
Convention = Literal["tmm", "pyelli", "openfilters"]


def _weights(phi: float | npt.ArrayLike) -> tuple[Any, Any]:
    """cos^2(phi) and sin^2(phi) from the C library's cos and sin, as quilmo.DataPy takes
    them (NumPy's own vectorised sine may round differently in the last bit)."""
    if np.ndim(phi) == 0:
        angle = float(phi)  # type: ignore[arg-type]
        c, s = math.cos(angle), math.sin(angle)
        return c * c, s * s
    angles = np.asarray(phi, dtype=np.float64)
    cosines = np.asarray(np.frompyfunc(math.cos, 1, 1)(angles), dtype=np.float64)
    sines = np.asarray(np.frompyfunc(math.sin, 1, 1)(angles), dtype=np.float64)
    return cosines * cosines, sines * sines


def _layer_axis(weight: Any) -> Any:
    """A weight broadcast over (B, A, W) put onto (B, A, layers, W)."""
    return np.expand_dims(weight, -2) if np.ndim(weight) >= 1 else weight


class Result:
    """Amplitudes, powers and ellipsometric angles of every (stack, angle, wavelength) point.

    Every array has shape (B, A, W): stacks, angles of incidence, wavelengths, with
    B = 1 and A = 1 kept. Conventions are those of `tmm`'s coh_tmm and ellips: n + ik
    with k > 0 absorbing; r = M10 / M00 and t = 1 / M00 of the transfer matrix, so that
    r_p = -r_s at normal incidence; T_s = |t_s|^2 Re(n_out cos_out) / Re(n_in cos_in),
    T_p = |t_p|^2 Re(n_out conj(cos_out)) / Re(n_in conj(cos_in)) (the Poynting flux,
    so that R + T + A = 1 also for an absorbing exit medium); psi = arctan|r_p / r_s|,
    delta = arg(-r_p / r_s) in (-pi, pi].

    Attributes: r_s, r_p, t_s, t_p (complex amplitudes), R_s, R_p, T_s, T_p (fractions of
    the incident power), psi, delta (radians), wavelengths (W,), angles (A,);
    absorbed_s, absorbed_p (B, A, media - 2, W): the fraction of the incident power absorbed
    in each inner layer, computed on first use.

    For stacks solved with incoherent layers (solve's `coherent`), light adds by power
    in those layers and has no phase across the stack: the amplitudes and psi, delta are
    not defined and reading them raises AttributeError; R, T and absorbed are.

    After solve(..., derivatives=True): dr_s, dr_p, dt_s, dt_p, dR_s, dR_p, dT_s, dT_p,
    the derivatives by each inner-layer thickness, of shape (B, A, layers, W), with
    dpsi, ddelta and the weighted dR(phi), dT(phi), dA(phi); None otherwise. With
    incoherent layers only the power derivatives are defined (dr_s ... dt_p stay None).
    """

    R_s: FloatArray
    R_p: FloatArray
    T_s: FloatArray
    T_p: FloatArray
    wavelengths: FloatArray
    angles: FloatArray
    dr_s: ComplexArray | None
    dr_p: ComplexArray | None
    dt_s: ComplexArray | None
    dt_p: ComplexArray | None
    dR_s: FloatArray | None
    dR_p: FloatArray | None
    dT_s: FloatArray | None
    dT_p: FloatArray | None

    def __init__(self, amplitudes: ComplexArray | None, powers: FloatArray, wavelengths: FloatArray,
                 angles: FloatArray, absorb: Callable[[], FloatArray] | None = None) -> None:
        # amplitudes None: a stack with incoherent layers. absorb: computes the
        # (2, B, A, media - 2, W) absorbed fractions of the same grid.
        self._amplitudes: tuple[ComplexArray, ComplexArray, ComplexArray, ComplexArray] | None = None
        if amplitudes is not None:
            r_s, r_p, t_s, t_p = amplitudes
            self._amplitudes = (r_s, r_p, t_s, t_p)
        self.R_s, self.R_p, self.T_s, self.T_p = powers
        self.wavelengths = wavelengths
        self.angles = angles
        self._ellipsometry: tuple[FloatArray, FloatArray] | None = None
        self._absorb = absorb
        self._absorbed: tuple[FloatArray, FloatArray] | None = None
        self.dr_s = self.dr_p = self.dt_s = self.dt_p = None
        self.dR_s = self.dR_p = self.dT_s = self.dT_p = None

    def set_thickness_derivatives(self, amplitudes: ComplexArray | None, powers: FloatArray) -> None:
        """Attaches the engine's thickness derivatives, each block of shape (4, B, A, layers, W);
        amplitudes None for a stack with incoherent layers."""
        if amplitudes is not None:
            self.dr_s, self.dr_p, self.dt_s, self.dt_p = amplitudes
        self.dR_s, self.dR_p, self.dT_s, self.dT_p = powers

    def _derivatives(self) -> tuple[Any, ...]:
        if self.dR_s is None:
            raise ValueError("this Result has no thickness derivatives; call solve(..., derivatives=True)")
        return (self.dr_s, self.dr_p, self.dR_s, self.dR_p, self.dT_s, self.dT_p)

    def _ellipsometry_derivatives(self) -> tuple[FloatArray, FloatArray]:
        dr_s, dr_p = self._derivatives()[:2]
        if dr_s is None:
            self._amplitude(0, "dpsi (and ddelta)")
        r_s, r_p = self.r_s[:, :, None, :], self.r_p[:, :, None, :]
        with np.errstate(divide="ignore", invalid="ignore"):
            rho = np.abs(r_p / r_s)
            # d ln(rho) = dr_p / r_p - dr_s / r_s; psi = arctan|rho|, delta = arg(-rho)
            log_change = dr_p / r_p - dr_s / r_s
            dpsi = rho / (1.0 + rho * rho) * log_change.real
        return np.asarray(dpsi, dtype=np.float64), np.asarray(log_change.imag, dtype=np.float64)

    @property
    def dpsi(self) -> FloatArray:
        """d psi / d thickness, (B, A, layers, W), radians per unit of thickness."""
        return self._ellipsometry_derivatives()[0]

    @property
    def ddelta(self) -> FloatArray:
        """d delta / d thickness, (B, A, layers, W), radians per unit of thickness."""
        return self._ellipsometry_derivatives()[1]

    def dR(self, phi: float | npt.ArrayLike) -> FloatArray:
        """d R(phi) / d thickness, (B, A, layers, W)."""
        cc, ss = _weights(phi)
        d = self._derivatives()
        return np.asarray(d[2] * _layer_axis(cc) + d[3] * _layer_axis(ss), dtype=np.float64)

    def dT(self, phi: float | npt.ArrayLike) -> FloatArray:
        """d T(phi) / d thickness, (B, A, layers, W)."""
        cc, ss = _weights(phi)
        d = self._derivatives()
        return np.asarray(d[4] * _layer_axis(cc) + d[5] * _layer_axis(ss), dtype=np.float64)

    def dA(self, phi: float | npt.ArrayLike) -> FloatArray:
        """d A(phi) / d thickness = -(dR + dT), (B, A, layers, W)."""
        return np.asarray(-(self.dR(phi) + self.dT(phi)), dtype=np.float64)

    def _amplitude(self, index: int, name: str) -> ComplexArray:
        if self._amplitudes is None:
            raise AttributeError(
                f"{name} is not defined for a stack with incoherent layers: light adds by power in "
                "them, with no phase across the stack. R_s, R_p, T_s, T_p and absorbed are defined; "
                "solve with every layer coherent for amplitudes.")
        return self._amplitudes[index]

    @property
    def r_s(self) -> ComplexArray:
        """Amplitude reflection coefficient, s polarisation."""
        return self._amplitude(0, "r_s")

    @property
    def r_p(self) -> ComplexArray:
        """Amplitude reflection coefficient, p polarisation."""
        return self._amplitude(1, "r_p")

    @property
    def t_s(self) -> ComplexArray:
        """Amplitude transmission coefficient, s polarisation."""
        return self._amplitude(2, "t_s")

    @property
    def t_p(self) -> ComplexArray:
        """Amplitude transmission coefficient, p polarisation."""
        return self._amplitude(3, "t_p")

    @property
    def coherent(self) -> bool:
        """False for a stack solved with incoherent layers (no amplitudes, no psi and delta)."""
        return self._amplitudes is not None

    def _layers(self) -> tuple[FloatArray, FloatArray]:
        if self._absorbed is None:
            if self._absorb is None:
                raise AttributeError("absorbed is only known for results of quilmo_lab.solve")
            s, p = self._absorb()
            self._absorbed = (s, p)
        return self._absorbed

    @property
    def absorbed_s(self) -> FloatArray:
        """Fraction of the incident power absorbed in each inner layer, s polarisation,
        shape (B, A, media - 2, W); with R_s and T_s it sums to 1."""
        return self._layers()[0]

    @property
    def absorbed_p(self) -> FloatArray:
        """As absorbed_s, for p polarisation."""
        return self._layers()[1]

    def absorbed(self, phi: float | npt.ArrayLike) -> FloatArray:
        """absorbed_s cos^2(phi) + absorbed_p sin^2(phi), shape (B, A, media - 2, W)."""
        cc, ss = _weights(phi)
        return np.asarray(self.absorbed_s * cc + self.absorbed_p * ss, dtype=np.float64)

    @property
    def shape(self) -> tuple[int, int, int]:
        """(B, A, W)."""
        b, a, w = self.R_s.shape
        return b, a, w

    def _psi_delta(self, name: str) -> tuple[FloatArray, FloatArray]:
        if self._amplitudes is None:
            self._amplitude(0, name)
        if self._ellipsometry is None:
            with np.errstate(divide="ignore", invalid="ignore"):
                rho = self.r_p / self.r_s
            self._ellipsometry = (np.arctan(np.abs(rho)), np.angle(-rho))
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

    def R(self, phi: float | npt.ArrayLike) -> FloatArray:
        """R_s cos^2(phi) + R_p sin^2(phi): phi = 0 is s (TE), pi/2 p (TM), pi/4 unpolarised.

        Bit for bit quilmo.DataPy(...).simulate().r of the same stack, angle and phi
        wherever no layer is opaque.
        """
        cc, ss = _weights(phi)
        return np.asarray(self.R_s * cc + self.R_p * ss, dtype=np.float64)

    def T(self, phi: float | npt.ArrayLike) -> FloatArray:
        """T_s cos^2(phi) + T_p sin^2(phi). Differs from DataPy's t for p-polarised light
        at oblique incidence on an absorbing exit medium, where DataPy weights |t_p|^2
        with Re(n_out cos_out) instead of the Poynting flux."""
        cc, ss = _weights(phi)
        return np.asarray(self.T_s * cc + self.T_p * ss, dtype=np.float64)

    def A(self, phi: float | npt.ArrayLike) -> FloatArray:
        """1 - R(phi) - T(phi): the fraction absorbed in the inner layers."""
        return np.asarray((1.0 - self.R(phi)) - self.T(phi), dtype=np.float64)

    def to_xarray(self) -> Any:
        """An xarray.Dataset with dimensions stack, angle and wavelength (needs xarray)."""
        try:
            import xarray
        except ImportError:
            raise ImportError("Result.to_xarray needs xarray: pip install xarray") from None
        dims = ("stack", "angle", "wavelength")
        names: tuple[str, ...] = ("R_s", "R_p", "T_s", "T_p")
        if self.coherent:
            names = ("r_s", "r_p", "t_s", "t_p", *names, "psi", "delta")
        return xarray.Dataset(
            {name: (dims, getattr(self, name)) for name in names},
            coords={"stack": np.arange(self.shape[0]), "angle": self.angles,
                    "wavelength": self.wavelengths},
        )

    def __repr__(self) -> str:
        b, a, w = self.shape
        return f"<quilmo_lab.Result: {b} stacks x {a} angles x {w} wavelengths>"


def ellipsometry_convention(delta: npt.ArrayLike, convention: Convention) -> FloatArray:
    """delta of `tmm` (what Result.delta holds) in another convention.

    "tmm": unchanged; "pyelli" and "openfilters": pi - delta, the convention of pyElli
    and OpenFilters (the sign of r_p differs, and Delta is measured the other way).
    """
    values = np.array(delta, dtype=np.float64)
    if convention == "tmm":
        return values
    if convention in ("pyelli", "openfilters"):
        return np.asarray(np.pi - values, dtype=np.float64)
    raise ValueError(f"convention must be 'tmm', 'pyelli' or 'openfilters'; received {convention!r}")
