"""quilmo_lab with incoherent layers, absorption per layer and depth profiles, against tmm
(inc_tmm, inc_absorp_in_each_layer, absorp_in_each_layer, position_resolved) and on the
physics tmm has no answer for (profiles of mixed stacks, opaque slabs)."""

import math

import numpy as np
import pytest

import quilmo_lab as ql

tmm = pytest.importorskip("tmm")

TOLERANCE = 1e-12
ANGLES = [0.0, 0.45, 1.1]


def random_mixed_stack(rng, media):
    """Coherent films and incoherent slabs in random order; slabs pass more than 1e-30 of
    the power, where tmm clamps its pass fraction."""
    coherent = rng.random(media - 2) < 0.6
    n = rng.uniform(1.2, 2.8, media) + 1j * np.where(rng.random(media) < 0.5, rng.uniform(0, 0.3, media), 0)
    n[1:-1][~coherent] = n[1:-1][~coherent].real + 1j * rng.uniform(0, 1e-4, (~coherent).sum())
    n[0] = rng.uniform(1.0, 1.6)
    d = np.where(coherent, rng.uniform(5, 300, media - 2), rng.uniform(1e3, 1e5, media - 2))
    return n, d, coherent


def random_coherent_stack(rng, media):
    n = rng.uniform(1.0, 3.5, media) + 1j * rng.uniform(0.0, 0.5, media)
    n[0] = 1.0
    return n, rng.uniform(5.0, 250.0, media - 2), None


@pytest.mark.parametrize("seed", range(10), ids=[f"mixed{s}" for s in range(6)] + [f"coherent{s}" for s in range(4)])
def test_matches_tmm_inc_tmm_and_absorp_in_each_layer(seed):
    rng = np.random.default_rng(seed if seed < 6 else 94 + seed)
    n, d, coherent = random_mixed_stack(rng, 4 + seed) if seed < 6 else random_coherent_stack(rng, 2 * seed - 9)
    wl = np.array([420.0, 633.0, 905.0]) if seed < 6 else np.array([380.0, 550.0, 1000.0])
    res = ql.solve(n, d, wl, ANGLES, coherent=coherent)
    d_list = [math.inf, *d, math.inf]
    for a, theta in enumerate(ANGLES):
        for w, wavelength in enumerate(wl):
            for pol in "sp":
                if coherent is None:
                    data = tmm.coh_tmm(pol, n, d_list, theta, wavelength)
                    layers = tmm.absorp_in_each_layer(data)[1:-1]
                else:
                    data = tmm.inc_tmm(pol, n, d_list, ["i", *("c" if c else "i" for c in coherent), "i"], theta,
                                       wavelength)
                    layers = tmm.inc_absorp_in_each_layer(data)[1:-1]
                assert abs(getattr(res, f"R_{pol}")[0, a, w] - data["R"]) <= TOLERANCE
                assert abs(getattr(res, f"T_{pol}")[0, a, w] - data["T"]) <= TOLERANCE
                np.testing.assert_allclose(getattr(res, f"absorbed_{pol}")[0, a, :, w], layers, rtol=0, atol=TOLERANCE)
    for pol in "sp":
        total = getattr(res, f"R_{pol}") + getattr(res, f"T_{pol}") + getattr(res, f"absorbed_{pol}").sum(axis=2)
        np.testing.assert_allclose(total, 1.0, rtol=0, atol=TOLERANCE)


def test_position_resolved_matches_tmm():
    n = [1, 2.2 + 0.2j, 3.3 + 0.3j, 1]
    d = [100.0, 300.0]
    prof = ql.profile(n, d, [400.0], math.pi / 4, [37.0])
    assert abs(prof.density_p[0, 0] - 0.005135049118053356) <= TOLERANCE
    assert abs(prof.density_s[0, 0] - 0.004041912286816303) <= TOLERANCE
    # every layer, both ends of the stack included, at another angle and wavelength
    depths = np.array([-40.0, 0.0, 12.5, 99.0, 100.0, 250.0, 399.0, 400.0, 460.0])
    prof = ql.profile(n, d, [400.0, 610.0], 0.3, depths)
    d_list = [math.inf, *d, math.inf]
    for w, wavelength in enumerate([400.0, 610.0]):
        for pol in "sp":
            data = tmm.coh_tmm(pol, n, d_list, 0.3, wavelength)
            for i, depth in enumerate(depths):
                layer, z = tmm.find_in_structure_with_inf(d_list, depth)
                point = tmm.position_resolved(layer, z, data)
                e2 = abs(point["Ex"]) ** 2 + abs(point["Ey"]) ** 2 + abs(point["Ez"]) ** 2
                assert abs(getattr(prof, f"density_{pol}")[w, i] - point["absor"]) <= TOLERANCE, (pol, depth)
                assert abs(getattr(prof, f"E2_{pol}")[w, i] - e2) <= TOLERANCE * max(1.0, e2), (pol, depth)


@pytest.mark.parametrize("mask", [None, [False, True, True, True, True], [True, True, False, True, False]])
def test_density_integrates_to_absorbed_in_each_coherent_layer(mask):
    n = [1.0, 1.52 + 2e-6j, 1.9 + 0.01j, 4.2 + 0.3j, 2.0 + 0.0j, 1.5 + 1e-3j, 0.3 + 4.0j]
    d = np.array([2e3, 80.0, 250.0, 60.0, 3e3])
    wl = [450.0, 700.0]
    res = ql.solve(n, d, wl, 0.35, coherent=mask)
    x, weights = np.polynomial.legendre.leggauss(16)
    starts = np.concatenate([[0.0], np.cumsum(d)])
    for j in range(len(d)):
        if mask is not None and not mask[j]:
            continue  # an incoherent layer's profile has no phase for the interference at its faces
        edges = np.linspace(starts[j], starts[j + 1], 201)
        mids, halves = (edges[1:] + edges[:-1]) / 2, (edges[1:] - edges[:-1]) / 2
        depths = (mids[:, None] + halves[:, None] * x).ravel()
        prof = ql.profile(n, d, wl, 0.35, depths, coherent=mask)
        w = (halves[:, None] * weights).ravel()
        for pol in "sp":
            integral = getattr(prof, f"density_{pol}") @ w
            np.testing.assert_allclose(integral, getattr(res, f"absorbed_{pol}")[0, 0, j], rtol=0, atol=1e-9)


def test_lossless_slab_closed_form_and_coherent_limit():
    wl = np.linspace(400.0, 800.0, 5)
    slab = ql.solve([1.0, 1.5, 1.33], [2e6], wl, 0.6, coherent=[False])
    front = ql.solve([1.0, 1.5], [], wl, 0.6)
    theta_glass = math.asin(math.sin(0.6) / 1.5)
    back = ql.solve([1.5, 1.33], [], wl, theta_glass)
    for pol in "sp":
        r01, r12 = getattr(front, f"R_{pol}"), getattr(back, f"R_{pol}")
        expected = r01 + r12 * (1 - r01) ** 2 / (1 - r01 * r12)
        np.testing.assert_allclose(getattr(slab, f"R_{pol}"), expected, rtol=0, atol=1e-15)
    # a coherent film between the (incoherent) outer media is the coherent result
    film = [1.0, 2.1 + 0.05j, 1.4, 1.52]
    coherent = ql.solve(film, [70.0, 110.0], wl, [0.0, 0.8])
    flagged = ql.solve(film, [70.0, 110.0], wl, [0.0, 0.8], coherent=[True, True])
    assert flagged.coherent and flagged.R_s.tobytes() == coherent.R_s.tobytes()
    np.testing.assert_allclose(flagged.absorbed(0.3).sum(axis=2), coherent.A(0.3), rtol=0, atol=1e-14)


def test_shapes_batches_and_threads():
    rng = np.random.default_rng(7)
    n = rng.uniform(1.3, 2.5, (2, 5, 40)) + 0.01j
    n[:, 0] = 1.0
    d = [[50.0, 2e4, 90.0], [60.0, 3e4, 80.0]]
    mask = [True, False, True]
    wl = np.linspace(400.0, 900.0, 40)
    one = ql.solve(n, d, wl, [0.0, 0.5, 1.0], coherent=mask, threads=1)
    two = ql.solve(n, d, wl, [0.0, 0.5, 1.0], coherent=mask, threads=2)
    assert one.absorbed_s.shape == (2, 3, 3, 40) and one.R_p.shape == (2, 3, 40)
    for name in ("R_s", "R_p", "T_s", "T_p", "absorbed_s", "absorbed_p"):
        assert getattr(one, name).tobytes() == getattr(two, name).tobytes(), name
    assert set(one.to_xarray().data_vars) == {"R_s", "R_p", "T_s", "T_p"}
    single = ql.solve(n[1], d[1], wl, 0.5, coherent=mask)
    assert single.absorbed_p[0, 0].tobytes() == one.absorbed_p[1, 1].tobytes()
    depths = np.linspace(-10.0, 2e4 + 200.0, 300)
    p1 = ql.profile(n[0], d[0], wl, 0.5, depths, coherent=mask, threads=1)
    p2 = ql.profile(n[0], d[0], wl, 0.5, depths, coherent=mask, threads=2)
    assert p1.E2_s.shape == (40, 300) and p1.density(0.2).shape == (40, 300)
    assert p1.density_p.tobytes() == p2.density_p.tobytes() and p1.E2_s.tobytes() == p2.E2_s.tobytes()


@pytest.mark.parametrize("call, error, message", [
    (lambda: ql.solve([1, 2, 3, 1], [1, 2], [500.0], coherent=[1, 0]), TypeError,
     "coherent must hold booleans (True: coherent, False: incoherent); received an array of dtype int64"),
    (lambda: ql.solve([1, 2, 3, 1], [1, 2], [500.0], coherent=[True]), ValueError,
     "coherent must have shape (2,), one flag per inner layer of 4 media; received shape (1,)"),
    (lambda: ql.solve([1, 2, 3, 1], [1, 2], [500.0], coherent=[True, False]).r_s, AttributeError,
     "r_s is not defined for a stack with incoherent layers"),
    (lambda: ql.profile([1, 2, 1], [[1.0], [2.0]], [500.0], 0.0, [0.5]), ValueError,
     "indices and thicknesses must describe one stack for a profile; received 2"),
    (lambda: ql.profile([1, 2, 1], [1.0], [500.0], [0.0, 0.1], [0.5]), ValueError,
     "angle must be one angle of incidence in radians; received 2"),
    (lambda: ql.profile([1, 2, 1], [1.0], [500.0], 0.0, ["a"]), TypeError,
     "depths must hold real numbers"),
])
def test_bad_input(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert message in str(info.value)
