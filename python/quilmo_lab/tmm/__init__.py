"""Coming from ``tmm``: the functions of ``tmm`` 0.2.0's core under their names.

Change one import and keep the script::

    import quilmo_lab.tmm as tmm      # was: import tmm
    from quilmo_lab.tmm import coh_tmm, inc_tmm

The functions take ``tmm``'s arguments (``pol`` "s" or "p", ``n_list`` incidence medium
first, ``d_list`` with ``inf`` at both ends, ``th_0`` in radians in the incidence medium,
``lam_vac`` in the unit of ``d_list``) and return dictionaries with ``tmm``'s keys. Every
number comes from the engine of `quilmo_lab.solve`: `coh_tmm` is one engine call for the
amplitudes, powers, and each medium's k_z, angle and forward and backward amplitudes
(`Result.kz`, `Result.layer_angles`, `Result.waves_s`); `position_resolved` asks the engine
for the fields at its place (`Profile.E_s`, `Profile.poynting_s`); `inc_tmm` takes its powers,
absorbed fractions and the intensities between the coherent stacks (``VW_list``,
``stackFB_list``, ``power_entering_list``) from the engine's incoherent solver.
`inc_position_resolved`, absent from ``tmm`` 0.2.0, gives the absorbed density at a place of a
partly incoherent stack.

Beyond ``tmm``: ``lam_vac`` and ``th_0`` of `coh_tmm`, `coh_tmm_reverse`, `unpolarized_RT`,
`ellips` and `inc_tmm` may be arrays that broadcast together: every returned value then has their
shape, per-medium values (``vw_list``, ``kz_list``, ``th_list``) after the medium axis; one
engine call where either is a single value, one per point otherwise. `position_resolved`
takes such data and an array of distances.

What differs from ``tmm``: errors are ``ValueError``/``TypeError`` in our words where ``tmm``
asserts. At one point `coh_tmm` returns ``r``, ``t``, ``R``, ``T`` and ``power_entering`` as
Python numbers, not NumPy's scalars (which cost a fifth of the call): they compare and compute
alike, but ``R / T`` with ``T == 0`` raises ZeroDivisionError where NumPy gives ``inf``, and
NumPy-only methods such as ``.conj()`` are absent (``r.conjugate()`` is Python's). Conventions are ``tmm``'s: n + ik with k > 0 absorbing, time dependence exp(-i omega t),
the p amplitude of the electric field along the reflected-ray frame of ``tmm``
(r_p = r_s at normal incidence with opposite sign), ellipsometric Delta of -r_p/r_s.
An absorbing incidence medium takes a complex angle ``th_0`` such that n_0 sin(th_0) is
real; angles follow the forward-angle rule (`is_forward_angle`).

Examples
--------
>>> import quilmo_lab.tmm as tmm
>>> data = tmm.coh_tmm("s", [1, 1.38, 1.52], [np.inf, 99.6, np.inf], 0, 550)
>>> print(round(data["R"], 4), round(data["T"], 4))
0.0126 0.9874
>>> sorted(data)[:5]
['R', 'T', 'd_list', 'kz_list', 'lam_vac']
"""

from __future__ import annotations

from quilmo_lab.tmm._interface import (
    R_from_r, T_from_t, interface_R, interface_T, interface_r, interface_t, is_forward_angle, list_snell,
    make_2x2_array, power_entering_from_r, snell,
)
from quilmo_lab.tmm._coherent import coh_tmm, coh_tmm_reverse, ellips, unpolarized_RT
from quilmo_lab.tmm._depth import (
    absorp_analytic_fn, absorp_in_each_layer, find_in_structure, find_in_structure_with_inf, layer_starts,
    position_resolved,
)
from quilmo_lab.tmm._incoherent import (
    inc_absorp_in_each_layer, inc_find_absorp_analytic_fn, inc_group_layers, inc_position_resolved, inc_tmm,
)

__all__ = [
    "R_from_r", "T_from_t", "absorp_analytic_fn", "absorp_in_each_layer",
    "coh_tmm", "coh_tmm_reverse", "ellips", "find_in_structure", "find_in_structure_with_inf",
    "inc_absorp_in_each_layer", "inc_find_absorp_analytic_fn", "inc_group_layers", "inc_position_resolved",
    "inc_tmm", "interface_R", "interface_T", "interface_r", "interface_t", "is_forward_angle", "layer_starts",
    "list_snell", "make_2x2_array", "position_resolved", "power_entering_from_r", "snell",
    "unpolarized_RT",
]

# the names are this module's: tmm's scripts, the API pages and the help read them here
for _name in __all__:
    globals()[_name].__module__ = __name__
del _name
