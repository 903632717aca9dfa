"""Partly incoherent stacks in tmm's keys, from the engine's incoherent solver."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from quilmo_lab import _engine
from quilmo_lab.tmm._coherent import _scalar, coh_tmm, coh_tmm_reverse
from quilmo_lab.tmm._depth import absorp_analytic_fn
from quilmo_lab.tmm._inputs import _engine_angles, _incidence, _stack_lists
from quilmo_lab.tmm._interface import ArrayLike, _pol, list_snell


def inc_group_layers(n_list: ArrayLike, d_list: ArrayLike, c_list: Any) -> dict[str, Any]:
    """How the layers of a partly incoherent stack group: coherent runs ("stacks") between
    incoherent media, and the indices that map between the numberings (``tmm``'s keys).

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> group = tmm.inc_group_layers([1, 2, 3, 1], [np.inf, 10, 20, np.inf], ["i", "c", "c", "i"])
    >>> group["num_stacks"], group["all_from_stack"]
    (1, [[0, 1, 2, 3]])
    """
    n, d = _stack_lists(n_list, d_list)
    c = list(c_list)
    if len(c) != n.size or any(x not in ("i", "c") for x in c):
        raise ValueError(f"c_list must hold 'i' or 'c' for each of the {n.size} layers; received {c_list!r}")
    if c[0] != "i" or c[-1] != "i":
        raise ValueError("c_list must start and end with 'i' (the outer media are incoherent)")
    stack_d_list: list[list[float]] = []
    stack_n_list: list[list[complex]] = []
    all_from_inc: list[int] = []
    inc_from_all: list[float] = []
    all_from_stack: list[list[int]] = []
    stack_from_all: list[Any] = []
    inc_from_stack: list[int] = []
    stack_from_inc: list[float] = []
    within = False
    inc_index = stack_index = 0
    for j in range(n.size):
        if c[j] == "c":
            inc_from_all.append(np.nan)
            if not within:
                within = True
                stack_d_list.append([np.inf, float(d[j])])
                stack_n_list.append([n[j - 1], n[j]])
                all_from_stack.append([j - 1, j])
                inc_from_stack.append(inc_index - 1)
                within_index = 1
            else:
                stack_d_list[-1].append(float(d[j]))
                stack_n_list[-1].append(n[j])
                all_from_stack[-1].append(j)
                within_index += 1
            stack_from_all.append([stack_index, within_index])
            continue
        stack_from_all.append(np.nan)
        inc_from_all.append(inc_index)
        all_from_inc.append(j)
        if within:
            within = False
            stack_d_list[-1].append(np.inf)
            stack_n_list[-1].append(n[j])
            all_from_stack[-1].append(j)
            stack_from_inc.append(stack_index)
            stack_index += 1
        else:
            stack_from_inc.append(np.nan)
        inc_index += 1
    return {"stack_d_list": stack_d_list, "stack_n_list": stack_n_list, "all_from_inc": all_from_inc,
            "inc_from_all": inc_from_all, "all_from_stack": all_from_stack, "stack_from_all": stack_from_all,
            "inc_from_stack": inc_from_stack, "stack_from_inc": stack_from_inc, "num_stacks": len(all_from_stack),
            "num_inc_layers": len(all_from_inc), "num_layers": n.size}


def inc_tmm(pol: str, n_list: ArrayLike, d_list: ArrayLike, c_list: Any, th_0: Any, lam_vac: Any
            ) -> dict[str, Any]:
    """Reflection and transmission of a stack whose layers flagged "i" are taken by intensity.

    Returns ``R``, ``T``, ``absorbed`` (the fraction absorbed in each inner layer), the keys
    of `inc_group_layers`, the inputs, and the powers between the coherent stacks, per unit
    incident power: ``VW_list`` (incoherent media, 2: the forward and backward flux at each
    incoherent medium's front; NaN for the incidence medium, [T, 0] for the exit medium),
    ``stackFB_list`` (per coherent stack, the power arriving at it from its front and from its
    back) and ``power_entering_list`` (the net flux into each incoherent medium across the
    interface or stack before it; 1 for the incidence medium). For one `th_0` and `lam_vac`
    also ``coh_tmm_data_list`` and ``coh_tmm_bdata_list`` (`coh_tmm` and `coh_tmm_reverse`
    of each coherent stack, lit at its first medium's angle). `th_0` and `lam_vac` may be
    arrays that broadcast together: ``R``, ``T`` then have their shape, and ``absorbed``,
    ``VW_list``, ``stackFB_list`` and ``power_entering_list`` are arrays with that shape
    after their own axes.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.inc_tmm("s", [1, 1.5, 1], [np.inf, 1e6, np.inf], ["i", "i", "i"], 0.0, 500)
    >>> round(data["R"], 6)
    0.076923
    >>> tmm.inc_tmm("p", [1, 1.5, 1], [np.inf, 1e6, np.inf], ["i", "i", "i"], [0.0, 0.5], 500)["R"].round(4)
    array([0.0769, 0.0517])
    >>> data["VW_list"].round(6)
    array([[     nan,      nan],
           [0.961538, 0.038462],
           [0.923077, 0.      ]])
    """
    pol = _pol(pol)
    n, d = _stack_lists(n_list, d_list)
    group = inc_group_layers(n, d, c_list)
    th = _incidence(n[0], th_0)
    coherent = np.array([x == "c" for x in list(c_list)[1:-1]], dtype=np.bool_)
    th_b, lam_b = np.broadcast_arrays(np.asarray(th), np.asarray(lam_vac, dtype=np.float64))
    shape, th_flat, lam_flat = th_b.shape, th_b.reshape(-1), np.ascontiguousarray(lam_b.reshape(-1))
    indices, thicknesses = n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1))
    smooth, layers_count, runs = np.zeros((1, n.size - 1)), n.size - 2, group["num_inc_layers"] - 1

    def solved(angles: npt.NDArray[Any], wavelengths: npt.NDArray[np.float64]) -> tuple[Any, Any, Any]:
        a, w = angles.size, wavelengths.size
        powers, layers = np.empty((4, 1, a, w)), np.empty((2, 1, a, layers_count, w))
        light = np.empty((8, 1, a, runs, w))
        _engine.absorbed(indices, thicknesses, wavelengths, angles, 1, smooth, 0, coherent, powers, layers, 1)
        _engine.run_light(indices, thicknesses, wavelengths, angles, 1, smooth, 0, coherent, powers, light, 1)
        return (powers.reshape(4, -1), np.moveaxis(layers[:, 0], 2, 1).reshape(2, layers_count, -1),
                np.moveaxis(light[:, 0], 2, 1).reshape(8, runs, -1))

    if th_flat.size and bool(np.all(th_flat == th_flat[0])):
        powers, layers, light = solved(_engine_angles(th_flat[:1]), lam_flat)
    elif th_flat.size and bool(np.all(lam_flat == lam_flat[0])):
        powers, layers, light = solved(_engine_angles(th_flat), lam_flat[:1].copy())
    else:
        parts = [solved(_engine_angles(th_flat[i:i + 1]), lam_flat[i:i + 1].copy()) for i in range(th_flat.size)]
        powers = np.concatenate([p[0] for p in parts], axis=1) if parts else np.empty((4, 0))
        layers = np.concatenate([p[1] for p in parts], axis=2) if parts else np.empty((2, layers_count, 0))
        light = np.concatenate([p[2] for p in parts], axis=2) if parts else np.empty((8, runs, 0))
    side = 0 if pol == "s" else 1
    R, T = powers[side].reshape(shape), powers[side + 2].reshape(shape)
    out = {"R": float(R) if not shape else R, "T": float(T) if not shape else T,
           "absorbed": layers[side].reshape(layers_count, *shape), "pol": pol, "n_list": n, "d_list": d,
           "th_0": th_0, "lam_vac": lam_vac, "c_list": list(c_list)} | group
    out |= _intensities(light[4 * side:4 * side + 4].reshape(4, runs, *shape), group, shape)
    if not shape:
        th_list = list_snell(n, th)
        starts = [media[0] for media in group["all_from_stack"]]
        out["coh_tmm_data_list"] = [coh_tmm(pol, sn, sd, th_list[j], lam_vac)
                                    for sn, sd, j in zip(group["stack_n_list"], group["stack_d_list"], starts)]
        out["coh_tmm_bdata_list"] = [coh_tmm_reverse(pol, sn, sd, th_list[j], lam_vac)
                                     for sn, sd, j in zip(group["stack_n_list"], group["stack_d_list"], starts)]
    return out


def _intensities(light: npt.NDArray[np.float64], group: dict[str, Any], shape: tuple[int, ...]) -> dict[str, Any]:
    """tmm's intensity keys from the engine's light between runs (front, back, forward,
    entering; each (runs, *shape)): run k goes from incoherent medium k to k + 1."""
    front, back, forward, entering = light
    vw = np.full((group["num_inc_layers"], 2, *shape), np.nan)
    vw[1:, 0], vw[1:, 1] = forward, back
    stacks = group["inc_from_stack"]
    if not shape:
        return {"VW_list": vw, "stackFB_list": [[float(front[k]), float(back[k])] for k in stacks],
                "power_entering_list": [1.0, *(float(x) for x in entering)]}
    return {"VW_list": vw, "stackFB_list": np.stack([front[stacks], back[stacks]], axis=1),
            "power_entering_list": np.concatenate([np.ones((1, *shape)), entering])}


def inc_absorp_in_each_layer(inc_data: dict[str, Any]) -> list[float]:
    """The fraction of the incident power absorbed in each layer of an `inc_tmm` result: what
    does not enter the stack for the incidence medium (R where it is lossless), T for the exit
    medium; they sum to 1.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> data = tmm.inc_tmm("s", [1, 1.5 + 0.01j, 1], [np.inf, 1e3, np.inf], ["i", "c", "i"], 0.0, 500)
    >>> round(sum(tmm.inc_absorp_in_each_layer(data)), 12)
    1.0
    """
    inner = [float(x) if np.ndim(x) == 0 else x for x in inc_data["absorbed"]]
    return [1.0 - sum(inner) - inc_data["T"], *inner, inc_data["T"]]


def inc_find_absorp_analytic_fn(layer: int, inc_data: dict[str, Any]) -> absorp_analytic_fn:
    """The absorbed power density in depth of coherent `layer` (numbered in the whole stack)
    of a one-point `inc_tmm` result, as an `absorp_analytic_fn` with z from the layer's front:
    its stack lit from the front and from the back by the powers of ``stackFB_list``.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> n, d = [1, 1.5, 2 + 0.1j, 1.3, 1], [np.inf, 1e4, 50, 1e5, np.inf]
    >>> data = tmm.inc_tmm("s", n, d, ["i", "i", "c", "i", "i"], 0.3, 500)
    >>> fn = tmm.inc_find_absorp_analytic_fn(2, data)
    >>> z = (np.arange(4000) + 0.5) * 50 / 4000  # midpoints of 4000 slices
    >>> bool(np.isclose(fn.run(z).real.mean() * 50, tmm.inc_absorp_in_each_layer(data)[2], rtol=1e-6))
    True
    """
    if "coh_tmm_data_list" not in inc_data:
        raise ValueError("inc_data must be an inc_tmm result for one th_0 and one lam_vac")
    where = inc_data["stack_from_all"][layer]
    if np.ndim(where) == 0:
        raise ValueError(f"layer must be a coherent layer (flagged 'c'); layer {layer} is incoherent")
    stack, within = where
    from_front, from_back = inc_data["stackFB_list"][stack]
    front = absorp_analytic_fn().fill_in(inc_data["coh_tmm_data_list"][stack], within).scale(from_front)
    # the reversed stack holds the same layer counted from its other end
    back = absorp_analytic_fn().fill_in(inc_data["coh_tmm_bdata_list"][stack], -1 - within).scale(from_back)
    # the same layer's k_z, up to the rounding of the other way through the stack (and the
    # zero-width imaginary part an absorbing incidence medium leaves in a lossless layer)
    scale = abs(front.a1) + abs(front.a3)
    if abs(back.a1 - front.a1) > 1e-9 * scale or abs(back.a3 - front.a3) > 1e-9 * scale:
        raise ValueError(f"the two ways through the stack disagree on layer {layer}'s k_z")
    back.a1, back.a3 = front.a1, front.a3
    return front.add(back.flip())


def inc_position_resolved(layer: int, distance: Any, inc_data: dict[str, Any]) -> dict[str, Any]:
    """The absorbed power density ``absor`` at `distance` (scalar or array) from the front of
    `layer` (numbered in the whole stack) of a one-point `inc_tmm` result, per unit incident
    power and unit length, from the engine's depth profile (`quilmo_lab.profile`).

    Not in ``tmm`` 0.2.0. A coherent layer gives `inc_find_absorp_analytic_fn`'s density; an
    incoherent one the decay of its forward and backward fluxes V, W (``VW_list``),
    alpha (V e^(-alpha z) + W e^(alpha z)) with alpha = 4 pi Im(n cos(theta)) / lam_vac,
    where the interference of the waves at its faces, which the intensity treatment has no
    phase for, is left out. In the exit medium z counts from its front; the incidence
    medium gives 0 at negative distances where it is lossless.

    Examples
    --------
    >>> from quilmo_lab import tmm
    >>> n, d = [1, 1.5, 2 + 0.1j, 1.3 + 1e-4j, 1], [np.inf, 1e4, 50, 1e5, np.inf]
    >>> data = tmm.inc_tmm("s", n, d, ["i", "i", "c", "i", "i"], 0.3, 500)
    >>> fn = tmm.inc_find_absorp_analytic_fn(2, data)
    >>> bool(np.isclose(tmm.inc_position_resolved(2, 20.0, data)["absor"], fn.run(20.0).real))
    True
    >>> tmm.inc_position_resolved(3, [0.0, 5e4], data)["absor"].round(8)
    array([1.95e-06, 1.72e-06])
    """
    if "coh_tmm_data_list" not in inc_data:
        raise ValueError("inc_data must be an inc_tmm result for one th_0 and one lam_vac")
    n, d = inc_data["n_list"], inc_data["d_list"]
    if not 0 <= layer < n.size:
        raise ValueError(f"layer must be between 0 and {n.size - 1}; received {layer}")
    z = np.asarray(distance, dtype=np.float64)
    depths = z + float(np.sum(d[1:layer])) if layer > 0 else z.copy()
    if 0 < layer < n.size - 1:  # the layer's back face belongs to it, not to the medium behind
        depths = np.where(z == d[layer], np.nextafter(depths, -np.inf), depths)
    depths = np.ascontiguousarray(depths.reshape(-1))
    th = _engine_angles(np.atleast_1d(np.asarray(inc_data["th_0"])))
    coherent = np.array([x == "c" for x in inc_data["c_list"][1:-1]], dtype=np.bool_)
    out = np.empty((4, 1, depths.size))
    _engine.profile(n.reshape(1, -1, 1), np.ascontiguousarray(d[1:-1].reshape(1, -1)),
                    np.array([float(inc_data["lam_vac"])]), th, np.zeros((1, n.size - 1)), 0, coherent, depths, out, 1)
    absor = out[0 if inc_data["pol"] == "s" else 1, 0].reshape(z.shape)
    return {"absor": _scalar(absor)}
