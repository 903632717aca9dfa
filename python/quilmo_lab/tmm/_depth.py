"""Places and fields in depth of a coherent stack: position_resolved, absorbed fractions and the
analytic absorption function."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab.tmm._coherent import _scalar
from quilmo_lab.tmm._inputs import _engine_angles, _incidence
from quilmo_lab.tmm._interface import ArrayLike


def position_resolved(layer: int, distance: Any, coh_tmm_data: dict[str, Any]) -> dict[str, Any]:
    """Fields, Poynting flux and absorbed power density at `distance` from the start of `layer`.

    Returns ``poyn`` (the normal Poynting flux as a fraction of the incident), ``absor``
    (the absorbed power per unit length, in the inverse unit of `d_list`), and the
    complex field components ``Ex``, ``Ey``, ``Ez`` (amplitude 1 for the incident wave).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 1.5 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> bool(np.isclose(tmm.position_resolved(2, 0.0, data)["poyn"], data["T"]))
    True
    """
    pol = coh_tmm_data["pol"]
    n, d = coh_tmm_data["n_list"], coh_tmm_data["d_list"]
    th = _incidence(n[0], coh_tmm_data["th_0"])
    lam = coh_tmm_data["lam_vac"]
    if not 0 <= layer < n.size:
        raise ValueError(f"layer must be a medium of the stack, 0 to {n.size - 1}; received {layer!r}")
    z = np.asarray(distance, dtype=np.float64)
    th_b, lam_b = np.broadcast_arrays(np.asarray(th), np.asarray(lam, dtype=np.float64))
    fields = np.empty((6, *th_b.shape, *z.shape), dtype=np.complex128)
    powers = np.empty((6, *th_b.shape, *z.shape))
    media = np.full(z.size, layer, dtype=np.uint64)
    smooth = np.zeros((1, n.size - 1))
    grid = (n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1)))
    for at in np.ndindex(th_b.shape):
        e, p = np.empty((6, 1, z.size), dtype=np.complex128), np.empty((6, 1, z.size))
        _engine.fields(*grid, np.array([lam_b[at]]), _engine_angles(np.atleast_1d(th_b[at])), smooth, 0, media,
                       np.ascontiguousarray(z.reshape(-1)), e, p, 1)
        index = (slice(None), *at)
        fields[index] = e.reshape(6, *z.shape)
        powers[index] = p.reshape(6, *z.shape)
    side = 0 if pol == "s" else 1
    e_x, e_y, e_z = (_scalar(fields[3 * side + c]) for c in range(3))
    out = {"poyn": _scalar(powers[side]), "absor": _scalar(powers[2 + side])}
    if pol == "s":
        return out | {"Ex": 0, "Ey": e_y, "Ez": 0}
    return out | {"Ex": e_x, "Ey": 0, "Ez": e_z}


def find_in_structure(d_list: ArrayLike, distance: Any) -> Any:
    """[layer, distance within it] of a depth `distance` into finite layers `d_list`; a depth
    on an interface belongs to the layer behind it, and past the end to the last layer.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.find_in_structure([100, 50], 100)
    [1, 0.0]
    """
    d = np.asarray(d_list, dtype=float)
    if np.any(np.isinf(d)):
        raise ValueError("d_list must hold finite thicknesses (use find_in_structure_with_inf for a stack "
                         "with its outer media)")
    if np.any(np.asarray(distance) < 0):
        raise ValueError(f"distance must be at least 0; received {distance!r}")
    starts = np.concatenate(([0.0], np.cumsum(d)))[:-1]
    layer = np.searchsorted(starts, distance, side="right") - 1
    inside = np.asarray(distance) - starts[layer]
    if np.ndim(distance) == 0:
        return [int(layer), float(inside)]
    return [layer, inside]


def layer_starts(d_list: ArrayLike) -> npt.NDArray[np.float64]:
    """The depth where each layer of a stack starts, -inf for the incidence medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.layer_starts([np.inf, 100, 20, np.inf])
    array([-inf,   0., 100., 120.])
    """
    d = np.asarray(d_list, dtype=float)
    starts = np.empty(d.size)
    starts[0] = -np.inf
    starts[1] = 0.0
    starts[2:] = np.cumsum(d[1:-1])
    return starts


def find_in_structure_with_inf(d_list: ArrayLike, distance: Any) -> Any:
    """[layer, distance within it] of a depth `distance` from the first interface of a stack with
    its outer media (``inf`` at both ends); negative depths are in the incidence medium.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> tmm.find_in_structure_with_inf([np.inf, 100, np.inf], 100)
    [2, 0.0]
    >>> tmm.find_in_structure_with_inf([np.inf, 100, np.inf], -5)
    [0, -5]
    """
    if np.ndim(distance) == 0 and distance < 0:
        return [0, distance]
    d = np.asarray(d_list, dtype=float)
    layer, inside = find_in_structure(d[1:-1], distance) if d.size > 2 else ([0, distance])
    if d.size > 2 and layer == d.size - 3 and inside >= d[-2]:
        return [d.size - 1, float(inside - d[-2])]
    return [layer + 1, inside]


def absorp_in_each_layer(coh_tmm_data: dict[str, Any]) -> npt.NDArray[np.float64]:
    """The fraction of the incident power absorbed in each medium: what does not enter the
    stack for the incidence medium (R where it is lossless), T for the exit medium, between
    them each layer's share; they sum to 1.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> round(float(sum(tmm.absorp_in_each_layer(data))), 12)
    1.0
    """
    media = len(coh_tmm_data["d_list"])
    entering = [1.0, coh_tmm_data["power_entering"]]
    entering += [position_resolved(j, 0, coh_tmm_data)["poyn"] for j in range(2, media)]
    absorbed = -np.diff(np.asarray(entering, dtype=float), axis=0)
    return np.concatenate((absorbed, [coh_tmm_data["T"]]))


class absorp_analytic_fn:  # noqa: N801 - tmm's name
    """The absorbed power density in one layer as a function of depth z within it,
    A1 exp(a1 z) + A2 exp(-a1 z) + A3 exp(i a3 z) + conj(A3) exp(-i a3 z).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
    >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
    >>> bool(np.isclose(fn.run(30.0), tmm.position_resolved(1, 30.0, data)["absor"]))
    True
    """

    A1: Any
    A2: Any
    A3: Any
    a1: Any
    a3: Any
    d: Any

    def fill_in(self, coh_tmm_data: dict[str, Any], layer: int) -> absorp_analytic_fn:
        """Sets the coefficients of `layer` of a `coh_tmm` result; returns self.

        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> round(float(tmm.absorp_analytic_fn().fill_in(data, 1).a1), 6)
        0.002513
        """
        pol = coh_tmm_data["pol"]
        v, w = coh_tmm_data["vw_list"][layer]
        kz = coh_tmm_data["kz_list"][layer]
        n = coh_tmm_data["n_list"][layer]
        th = coh_tmm_data["th_list"][layer]
        n0, th0 = coh_tmm_data["n_list"][0], coh_tmm_data["th_0"]
        self.d = coh_tmm_data["d_list"][layer]
        self.a1, self.a3 = 2 * np.imag(kz), 2 * np.real(kz)
        if pol == "s":
            weight = np.imag(n * np.cos(th) * kz) / np.real(n0 * np.cos(th0))
            self.A1, self.A2, self.A3 = weight * abs(w) ** 2, weight * abs(v) ** 2, weight * v * np.conj(w)
        else:
            admittance = n * np.conj(np.cos(th))
            norm = np.real(n0 * np.conj(np.cos(th0)))
            weight = 2 * np.imag(kz) * np.real(admittance) / norm
            self.A1, self.A2 = weight * abs(w) ** 2, weight * abs(v) ** 2
            self.A3 = -2 * np.real(kz) * np.imag(admittance) * v * np.conj(w) / norm
        return self

    def copy(self) -> absorp_analytic_fn:
        """An independent copy.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().scale(2).run(10.0), 2 * fn.run(10.0)))
        True
        """
        other = absorp_analytic_fn()
        other.A1, other.A2, other.A3, other.a1, other.a3, other.d = self.A1, self.A2, self.A3, self.a1, self.a3, self.d
        return other

    def run(self, z: Any) -> Any:
        """The absorbed power density at depth `z` (scalar or array) within the layer.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.run(10.0), tmm.position_resolved(1, 10.0, data)['absor']))
        True
        """
        return (self.A1 * np.exp(self.a1 * z) + self.A2 * np.exp(-self.a1 * z)
                + self.A3 * np.exp(1j * self.a3 * z) + np.conj(self.A3) * np.exp(-1j * self.a3 * z))

    def flip(self) -> absorp_analytic_fn:
        """The same density with z measured from the layer's back; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().flip().run(90.0), fn.run(10.0)))
        True
        """
        self.A1, self.A2 = self.A2 * np.exp(-self.a1 * self.d), self.A1 * np.exp(self.a1 * self.d)
        self.A3 = np.conj(self.A3 * np.exp(1j * self.a3 * self.d))
        return self

    def scale(self, factor: Any) -> absorp_analytic_fn:
        """Multiplies the density by `factor`; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().scale(0.5).run(10.0), fn.run(10.0) / 2))
        True
        """
        self.A1, self.A2, self.A3 = self.A1 * factor, self.A2 * factor, self.A3 * factor
        return self

    def add(self, b: absorp_analytic_fn) -> absorp_analytic_fn:
        """Adds the density `b` of the same layer and wave numbers; returns self.
        Examples
        --------
        >>> from quilmo_lab import tmm
        >>> data = tmm.coh_tmm("s", [1, 2 + 0.1j, 1.5], [np.inf, 100, np.inf], 0.0, 500)
        >>> fn = tmm.absorp_analytic_fn().fill_in(data, 1)
        >>> bool(np.isclose(fn.copy().add(fn).run(10.0), 2 * fn.run(10.0)))
        True
        """
        if b.a1 != self.a1 or b.a3 != self.a3:
            raise ValueError("b must describe the same layer (equal a1 and a3)")
        self.A1, self.A2, self.A3 = self.A1 + b.A1, self.A2 + b.A2, self.A3 + b.A3
        return self
