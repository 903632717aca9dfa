"""Rough interfaces: refnx's Abeles recursion as an independent oracle for s polarisation,
closed forms on one interface, incoherent slabs with rough faces, derivatives, and the
bits of smooth stacks."""

import numpy as np
import pytest

import quilmo_lab as ql
from lab_helpers import FIELDS, assert_same_bits, central_difference


def random_rough_stack(rng, media, lossy):
    n = rng.uniform(1.2, 2.6, media) + 1j * (rng.uniform(0.0, 0.3, media) if lossy else 0.0)
    n[0] = rng.uniform(1.0, 1.5)
    return n, rng.uniform(10.0, 200.0, media - 2), rng.uniform(0.0, 8.0, media - 1)


def refnx_reflectance(n, d, sigma, wavelength, theta):
    """R_s from refnx: the optical s problem is its Abeles recursion with an SLD
    -pi n^2 / wavelength^2 (lengths read as angstroms, SLD in 1e-6 / angstrom^2) and
    q = 2 K_0, K the normal wave number."""
    from refnx.reflect import abeles

    layers = np.zeros((n.size, 4))
    layers[1:-1, 0] = d
    sld = -np.pi * n**2 / wavelength**2 * 1e6
    layers[:, 1], layers[:, 2] = sld.real, sld.imag
    layers[1:, 3] = sigma
    q = 2 * (2 * np.pi / wavelength) * n[0].real * np.cos(theta)
    return abeles(np.array([q]), layers)[0]


@pytest.mark.parametrize("lossy", [False, True], ids=["lossless", "absorbing"])
@pytest.mark.parametrize("seed", range(4))
def test_s_reflectance_matches_refnx(seed, lossy):
    pytest.importorskip("refnx", reason="refnx (the test extra) is the oracle of rough interfaces")
    rng = np.random.default_rng(seed)
    n, d, sigma = random_rough_stack(rng, 3 + 4 * seed, lossy)
    wl = np.array([350.0, 600.0, 1100.0])
    angles = np.array([0.0, 0.4, 1.0])
    res = ql.solve(n, d, wl, angles, roughness=sigma)
    for a, theta in enumerate(angles):
        for w, wavelength in enumerate(wl):
            assert abs(res.R_s[0, a, w] - refnx_reflectance(n, d, sigma, wavelength, theta)) <= 1e-10


def single_interface(n0, n1, theta, wavelength, sigma, model):
    """r and T of one rough interface for s, from the closed forms."""
    k0, k1 = (2 * np.pi / wavelength) * np.sqrt(np.array([n0, n1], complex) ** 2 - (n0 * np.sin(theta)) ** 2)
    r = (k0 - k1) / (k0 + k1)
    t = 2 * k0 / (k0 + k1)
    reflect = np.exp(-2 * k0 * k1 * sigma**2) if model == "nevot-croce" else np.exp(-2 * k0**2 * sigma**2)
    t = t * np.exp((k0 - k1) ** 2 * sigma**2 / 2)
    return r * reflect, abs(t) ** 2 * (k1.real / k0.real)


@pytest.mark.parametrize("model", ["nevot-croce", "debye-waller"])
@pytest.mark.parametrize("n1", [1.52, 2.0 + 0.3j])
def test_single_interface_closed_form(model, n1):
    wl, theta, sigma = np.array([400.0, 700.0]), 0.5, 6.0
    res = ql.solve([1.0, n1], [], wl, theta, roughness=sigma, roughness_model=model)
    for w, wavelength in enumerate(wl):
        r, T = single_interface(1.0, n1, theta, wavelength, sigma, model)
        assert abs(res.r_s[0, 0, w] - r) <= 1e-14
        assert abs(res.T_s[0, 0, w] - T) <= 1e-14
    smooth = ql.solve([1.0, n1], [], wl, theta)
    assert (res.R_s < smooth.R_s).all()


def test_energy_is_not_conserved_by_the_factors_as_documented():
    # Nevot-Croce on air | glass at 500 nm, 5 nm: R + T exceeds 1 by about 1e-3 at most.
    res = ql.solve([1.0, 1.52], [], [500.0], roughness=5.0)
    excess = res.R_s + res.T_s - 1
    assert 0 < excess[0, 0, 0] < 2e-3


def test_incoherent_slab_with_rough_faces_sums_rough_power_coefficients():
    n_glass, d, sigma, wavelength, theta = 1.5, 1e6, np.array([4.0, 9.0]), 500.0, 0.3
    res = ql.solve([1.0, n_glass, 1.0], [d], [wavelength], theta, roughness=sigma, coherent=[False])
    # the faces' power coefficients from either side (t' from reciprocity)
    r1, T1 = single_interface(1.0, n_glass, theta, wavelength, sigma[0], "nevot-croce")
    back = ql.solve([n_glass, 1.0], [], [wavelength], np.arcsin(np.sin(theta) / n_glass), roughness=[sigma[1]])
    R1, R2 = abs(r1) ** 2, back.R_s[0, 0, 0]
    R1_back = ql.solve([n_glass, 1.0], [], [wavelength], np.arcsin(np.sin(theta) / n_glass),
                       roughness=[sigma[0]]).R_s[0, 0, 0]
    T2 = back.T_s[0, 0, 0]
    R = R1 + T1 * R2 * T1 / (1 - R1_back * R2)
    T = T1 * T2 / (1 - R1_back * R2)
    assert abs(res.R_s[0, 0, 0] - R) <= 1e-13
    assert abs(res.T_s[0, 0, 0] - T) <= 1e-13


@pytest.mark.parametrize("coherent", [None, [True, False, True]], ids=["coherent", "mixed"])
def test_zero_roughness_gives_the_smooth_bits(coherent):
    rng = np.random.default_rng(7)
    n, d, _ = random_rough_stack(rng, 5, True)
    d[1] = 1e5
    kwargs = dict(coherent=coherent, derivatives=True)
    smooth = ql.solve(n, d, [450.0, 800.0], [0.0, 0.7], **kwargs)
    zero = ql.solve(n, d, [450.0, 800.0], [0.0, 0.7], roughness=np.zeros(4), roughness_model="debye-waller",
                    **kwargs)
    names = [f for f in FIELDS if coherent is None or f in ("R_s", "R_p", "T_s", "T_p")]
    assert_same_bits(zero, smooth, names + ["dR_s", "dT_p"])
    assert zero.absorbed_s.tobytes() == smooth.absorbed_s.tobytes()


def test_rough_interfaces_of_a_periodic_stack_are_their_own():
    # Repeated media, interfaces and layers are computed once, and constant media once per
    # angle: a rough interface among smooth repeats must be computed at every point.
    pytest.importorskip("refnx", reason="refnx (the test extra) is the oracle of rough interfaces")
    n = np.array([1.0] + [2.3, 1.45] * 4 + [1.52], dtype=complex)
    d = np.array([60.0, 95.0] * 4)
    sigma = np.zeros(9)
    sigma[4] = 3.0
    wl, angles = np.array([500.0, 600.0]), np.array([0.0, 0.8])
    rough = ql.solve(n, d, wl, angles, roughness=sigma)
    for a, theta in enumerate(angles):
        for w, wavelength in enumerate(wl):
            assert abs(rough.R_s[0, a, w] - refnx_reflectance(n, d, sigma, wavelength, theta)) <= 1e-10
    stack = ql.Stack([ql.Layer(complex(m), t, roughness=s) for m, t, s in zip(n[1:-1], d, sigma[:-1])], exit=1.52)
    assert_same_bits(stack.solve(wl, angles), rough)


def test_a_batch_of_roughness_rows_solves_each_stack():
    n = [1.0, 2.1, 1.46, 1.52]
    d = [70.0, 110.0]
    rows = np.array([[0.0, 2.0, 4.0], [5.0, 0.0, 1.0]])
    batch = ql.solve(n, d, [500.0, 700.0], [0.0, 0.5], roughness=rows)
    for b, row in enumerate(rows):
        one = ql.solve(n, d, [500.0, 700.0], [0.0, 0.5], roughness=row)
        assert batch.r_p[b].tobytes() == one.r_p[0].tobytes()


@pytest.mark.parametrize("coherent", [None, [True, False]], ids=["coherent", "mixed"])
def test_thickness_derivatives_with_roughness(coherent):
    n = np.array([1.0, 2.2 + 0.05j, 1.5, 1.46])
    d = np.array([80.0, 2e4 if coherent else 140.0])
    sigma = np.array([3.0, 6.0, 2.0])
    wl, angles = [480.0, 760.0], [0.0, 0.6]
    res = ql.solve(n, d, wl, angles, roughness=sigma, coherent=coherent, derivatives=True)
    for layer in range(2):
        def at(shift, layer=layer):
            moved = d.copy()
            moved[layer] += shift
            return ql.solve(n, moved, wl, angles, roughness=sigma, coherent=coherent).R_p
        np.testing.assert_allclose(res.dR_p[:, :, layer], central_difference(at, 1e-2), rtol=0, atol=1e-8)


@pytest.mark.parametrize(("value", "error", "text"), [
    (-1.0, ValueError, "at least 0"),
    ([1.0, 2.0], ValueError, "3 entries"),
    (np.ones((3, 3)), ValueError, "one per stack"),
    ([1.0, np.nan, 0.0], ValueError, "finite"),
])
def test_bad_roughness_is_refused(value, error, text):
    with pytest.raises(error, match=text):
        ql.solve([1.0, 1.5, 2.0, 1.52], [[10.0, 20.0], [30.0, 40.0]], [500.0], roughness=value)


def test_bad_model_and_layer_roughness_are_refused():
    with pytest.raises(ValueError, match="roughness_model must be"):
        ql.solve([1.0, 1.5], [], [500.0], roughness=1.0, roughness_model="gaussian")
    with pytest.raises(ValueError, match="roughness must be at least 0"):
        ql.Layer(1.5, 10.0, roughness=-2.0)
    with pytest.raises(ValueError, match="does not model rough interfaces"):
        ql.dispersion(ql.Stack([ql.Layer(1.5, 10.0, roughness=1.0)]), [500.0])


@pytest.mark.parametrize("model", ["nevot-croce", "debye-waller"])
def test_roughness_derivatives_match_differences(model):
    n = np.array([1.0, 2.2 + 0.05j, 1.5, 1.46 + 0.02j])
    d = np.array([80.0, 140.0])
    sigma = np.array([3.0, 0.0, 2.0])
    wl, angles = [480.0, 760.0], [0.0, 0.6]
    res = ql.solve(n, d, wl, angles, roughness=sigma, roughness_model=model, derivatives=True)
    for interface in range(3):
        def at(shift, interface=interface):
            moved = sigma.copy()
            moved[interface] = abs(moved[interface] + shift)  # even in sigma: |.| keeps it valid at 0
            return ql.solve(n, d, wl, angles, roughness=moved, roughness_model=model)
        for pol in "sp":
            for kind in "RT":
                got = getattr(res, f"d{kind}_droughness")(pol)[:, :, interface]
                expected = central_difference(lambda h: getattr(at(h), f"{kind}_{pol}"), 1e-3)
                np.testing.assert_allclose(got, expected, rtol=0, atol=1e-10)
    assert not res.dR_droughness()[:, :, 1].any()


def test_roughness_derivatives_of_smooth_and_mixed_stacks():
    smooth = ql.solve([1.0, 1.4, 1.5], [90.0], [500.0], derivatives=True)
    assert smooth.dT_droughness("s").shape == (1, 1, 2, 1) and not smooth.dT_droughness("s").any()
    mixed = ql.solve([1.0, 1.4, 1.5], [9e4], [500.0], coherent=[False], roughness=2.0, derivatives=True)
    with pytest.raises(AttributeError, match="incoherent layers"):
        mixed.dR_droughness()
    with pytest.raises(AttributeError, match="derivatives=True"):
        ql.solve([1.0, 1.4, 1.5], [90.0], [500.0], roughness=2.0).dR_droughness()
