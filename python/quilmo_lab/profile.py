"""profile: where in depth a stack absorbs, and |E|^2 there."""

from __future__ import annotations

from typing import overload

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab._checks import axis
from quilmo_lab._polarisation import Polarisation, polarised
from quilmo_lab._problem import REQUIRED, Form, read_problem
from quilmo_lab._values import frozen, plane
from quilmo_lab.stack import Stack

FloatArray = npt.NDArray[np.float64]

FORM = Form("profile", parameters=(("angle", REQUIRED), ("depths", REQUIRED)),
            options=(("coherent", None), ("threads", None)), one_angle=True)


class Profile:
    """Absorbed power density and |E|^2 of one stack over wavelengths and depths.

    Every array has shape (W, D): wavelengths, depths. density_s, density_p: power
    absorbed per unit length (the unit of the wavelengths) per unit incident power, so
    that its integral over a coherent layer is that layer's `Result.absorbed_s`/`_p`.
    E2_s, E2_p: |E|^2 relative to the incident plane wave; for p the sum of the two
    components in the plane of incidence.

    Depths are measured from the first interface: negative ones lie in the incidence
    medium, those past the last interface in the exit medium, and a depth on an
    interface belongs to the medium behind it. Inside a coherent run of a stack with
    incoherent layers, the fields lit from the run's two sides add by power. Inside an
    incoherent layer, the forward and backward intensities decay as e^(-alpha z); there
    the interference of incident and reflected waves at the layer's faces has no phase
    to be computed from, so its integral differs from `absorbed` where the layer absorbs.
    """

    def __init__(self, values: FloatArray, wavelengths: FloatArray, depths: FloatArray) -> None:
        # values: (4, W, D) density_s, density_p, E2_s, E2_p
        self._values = frozen(values)
        self._wavelengths = frozen(wavelengths)
        self._depths = frozen(depths)

    @property
    def density_s(self) -> FloatArray:
        """Absorbed power per unit length per unit incident power, s polarisation, (W, D)."""
        return plane(self._values, 0)

    @property
    def density_p(self) -> FloatArray:
        """As density_s, for p polarisation."""
        return plane(self._values, 1)

    @property
    def E2_s(self) -> FloatArray:
        """|E|^2 relative to the incident plane wave, s polarisation, (W, D)."""
        return plane(self._values, 2)

    @property
    def E2_p(self) -> FloatArray:
        """As E2_s, for p polarisation (both components in the plane of incidence)."""
        return plane(self._values, 3)

    @property
    def wavelengths(self) -> FloatArray:
        """The wavelengths, (W,)."""
        return self._wavelengths

    @property
    def depths(self) -> FloatArray:
        """The depths from the first interface, (D,)."""
        return self._depths

    def density(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """Absorbed power density of `polarisation`, (W, D)."""
        return polarised(self.density_s, self.density_p, polarisation)

    def E2(self, polarisation: Polarisation = "unpolarized") -> FloatArray:
        """|E|^2 of `polarisation`, (W, D)."""
        return polarised(self.E2_s, self.E2_p, polarisation)

    def __repr__(self) -> str:
        w, d = self.density_s.shape
        return f"<quilmo_lab.Profile: {w} wavelengths x {d} depths>"


@overload
def profile(stack: Stack, wavelengths: npt.ArrayLike, angle: float, depths: npt.ArrayLike, *,
            thicknesses: npt.ArrayLike | None = None, coherent: npt.ArrayLike | None = None,
            threads: int | None = None) -> Profile: ...


@overload
def profile(indices: npt.ArrayLike, thicknesses: npt.ArrayLike, wavelengths: npt.ArrayLike, angle: float,
            depths: npt.ArrayLike, *, coherent: npt.ArrayLike | None = None, threads: int | None = None
            ) -> Profile: ...


def profile(*args: object, **kwargs: object) -> Profile:
    """Absorbed power density and |E|^2 for s and p at the given depths of one stack.

    profile(stack, wavelengths, angle, depths, *, thicknesses=None, coherent=None,
    threads=None) or profile(indices, thicknesses, wavelengths, angle, depths, *,
    coherent=None, threads=None): indices of shape (media,) or (media, W); thicknesses
    (media - 2,); wavelengths (W,); angle: the angle of incidence in radians; depths:
    (D,), from the first interface, in the unit of the wavelengths. coherent and threads
    as in `solve`; unlike `tmm`, stacks with incoherent layers have profiles too.
    """
    problem, values = read_problem(FORM, args, kwargs)
    if problem.stacks != 1:
        raise ValueError(f"indices and thicknesses must describe one stack for a profile; "
                         f"received {problem.stacks}")
    depths = axis("depths", values["depths"], "D")
    out = np.empty((4, problem.wavelengths.shape[0], depths.shape[0]), dtype=np.float64)
    _engine.profile(problem.indices, problem.thicknesses, problem.wavelengths, problem.angles, problem.flags,
                    depths, out, problem.threads)
    return Profile(out, problem.wavelengths, depths)
