"""Mueller matrices of plain results: the closed form of coherent stacks, incoherent sums of
the backside reflections of a slab written out path by path, and the depolarisation index."""

import numpy as np
import pytest

import quilmo_lab as ql


def closed_form(a_s, a_p):
    """The Mueller matrix of diag(a_s, a_p) in power units, written out."""
    x = a_s * np.conj(a_p)
    s, p = abs(a_s) ** 2, abs(a_p) ** 2
    return np.array([[(s + p) / 2, (s - p) / 2, 0, 0], [(s - p) / 2, (s + p) / 2, 0, 0],
                     [0, 0, x.real, x.imag], [0, 0, -x.imag, x.real]])


@pytest.mark.parametrize("seed", range(3))
def test_coherent_mueller_is_the_closed_form_of_r_and_t(seed):
    rng = np.random.default_rng(seed)
    n = np.concatenate([[1.0], rng.uniform(1.3, 2.5, 4) + 1j * rng.uniform(0, 0.2, 4), [1.52 + 0.01j]])
    d = rng.uniform(20, 200, 4)
    res = ql.solve(n, d, [450.0, 800.0], [0.0, 0.5, 1.2], roughness=rng.uniform(0, 3, 5))
    for index in np.ndindex(res.shape):
        t_scale = np.sqrt([res.T_s[index] / abs(res.t_s[index]) ** 2, res.T_p[index] / abs(res.t_p[index]) ** 2])
        np.testing.assert_allclose(res.mueller_r[index], closed_form(res.r_s[index], res.r_p[index]),
                                   rtol=0, atol=1e-14)
        np.testing.assert_allclose(res.mueller_t[index],
                                   closed_form(res.t_s[index] * t_scale[0], res.t_p[index] * t_scale[1]),
                                   rtol=0, atol=1e-14)
    assert (res.depolarisation_index_r < 1e-7).all() and (res.depolarisation_index_t < 1e-7).all()
    np.testing.assert_allclose(res.mueller_r[..., 0, 0], res.R(), rtol=0, atol=1e-15)


def fresnel_s_p(n0, n1, sin0):
    """r and t of an interface for s and p in tmm's convention, t in power units (times the
    square root of each polarisation's flux ratio), and the sine in the second medium."""
    c0 = np.sqrt(1 - sin0**2 + 0j)
    sin1 = n0 * sin0 / n1
    c1 = np.sqrt(1 - sin1**2 + 0j)
    r_s = (n0 * c0 - n1 * c1) / (n0 * c0 + n1 * c1)
    t_s = 2 * n0 * c0 / (n0 * c0 + n1 * c1)
    r_p = (n1 * c0 - n0 * c1) / (n1 * c0 + n0 * c1)
    t_p = 2 * n0 * c0 / (n1 * c0 + n0 * c1)
    flux = [(n1 * c1).real / (n0 * c0).real, (n1 * np.conj(c1)).real / (n0 * np.conj(c0)).real]
    return np.array([r_s, r_p]), np.array([t_s, t_p]) * np.sqrt(flux), sin1


@pytest.mark.parametrize("theta", [0.3, 0.9, 1.3])
def test_backside_of_a_glass_slab_against_a_sum_over_paths(theta):
    n_glass, wavelength, d = 1.5 + 2e-7j, 600.0, 2e6
    res = ql.solve([1.0, n_glass, 1.0], [d], [wavelength], theta, coherent=[False])
    r01, t01, sin1 = fresnel_s_p(1.0, n_glass, np.sin(theta))
    r10, t10, _ = fresnel_s_p(n_glass, 1.0, sin1)
    c1 = np.sqrt(1 - sin1**2)
    one_pass = np.exp(-4 * np.pi * (n_glass * c1).imag * d / wavelength)  # in power
    reflected = closed_form(*r01)
    transmitted = np.zeros((4, 4))
    for k in range(200):  # k round trips inside the slab before leaving; phases average out
        inside = r10 ** (2 * k)
        power = one_pass ** (2 * k + 1)
        transmitted += power * closed_form(*(t01 * inside * t10))
        reflected += power * one_pass * closed_form(*(t01 * inside * r10 * t10))
    np.testing.assert_allclose(res.mueller_r[0, 0, 0], reflected, rtol=0, atol=1e-13)
    np.testing.assert_allclose(res.mueller_t[0, 0, 0], transmitted, rtol=0, atol=1e-13)
    assert res.depolarisation_index_r[0, 0, 0] > 1e-5
    # the pseudo angles of the summed matrix, as an ellipsometer reports them
    n, c, s = reflected[0, 1] / reflected[0, 0], -reflected[2, 2] / reflected[0, 0], reflected[2, 3] / reflected[0, 0]
    assert abs(res.psi[0, 0, 0] - np.arctan2(np.hypot(c, s), n) / 2) <= 1e-12
    assert abs(res.delta[0, 0, 0] - np.arctan2(s, c)) <= 1e-12


def test_pseudo_angles_of_a_front_coating_without_backside_equal_the_coherent_ones():
    # An opaque slab hides the back face: the pseudo angles are the coherent coating's.
    coated = ql.solve([1.0, 1.38, 1.52 + 0.01j, 1.0], [99.6, 1e6], [550.0], 1.1, coherent=[True, False])
    front = ql.solve([1.0, 1.38, 1.52 + 0.01j], [99.6], [550.0], 1.1)
    np.testing.assert_allclose(coated.psi, front.psi, rtol=0, atol=1e-12)
    np.testing.assert_allclose(coated.delta, front.delta, rtol=0, atol=1e-12)
    assert coated.depolarisation_index_r[0, 0, 0] < 1e-7
