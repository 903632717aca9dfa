"""solve(..., derivatives=True): the analytic thickness derivatives against central
differences of solve itself, their shapes and batches, and their bad inputs."""

import numpy as np
import pytest

import quilmo_lab as ql
from conftest import random_stack
from lab_helpers import central_difference

# Fourth-order central differences keep the truncation error far below the 1e-6
# relative agreement asked of the derivatives.
STEP = 1e-3
NAMES = ("dr_s", "dr_p", "dt_s", "dt_p", "dR_s", "dR_p", "dT_s", "dT_p", "dpsi", "ddelta")


def differences(n, d, wl, angles, name, layer, coherent=None):
    step = STEP * max(1.0, d[layer] / 100.0)  # relative steps: an incoherent layer may be a millimetre thick
    base = getattr(ql.solve(n, d, wl, angles, coherent=coherent), name[1:])

    def at(shift):
        moved = d.copy()
        moved[layer] += shift
        change = getattr(ql.solve(n, moved, wl, angles, coherent=coherent), name[1:]) - base
        return np.angle(np.exp(1j * change)) if name == "ddelta" else change  # delta is an angle

    return central_difference(at, step)


def assert_matches_differences(result, n, d, wl, angles, names, coherent=None):
    for name in names:
        for layer in range(d.size):
            analytic = getattr(result, name)[:, :, layer, :]
            numeric = differences(n, d, wl, angles, name, layer, coherent)
            # relative 1e-6, with a floor of 1e-6 of the largest derivative of the same quantity
            floor = 1e-3 * max(np.max(np.abs(numeric)), 1e-300)
            bad = np.abs(analytic - numeric) > 1e-6 * np.maximum(np.abs(numeric), floor)
            assert not bad.any(), (name, layer, analytic[bad][:3], numeric[bad][:3])


@pytest.mark.parametrize("absorbing", [False, True], ids=["lossless", "absorbing"])
@pytest.mark.parametrize("seed", range(3))
def test_derivatives_match_differences(seed, absorbing):
    rng = np.random.default_rng(100 + seed)
    d, n, wl = random_stack(rng, media=int(rng.integers(3, 8)), count=5, absorbing=absorbing)
    angles = np.array([0.0, 0.5, 1.2])
    result = ql.solve(n, d, wl, angles, derivatives=True)
    assert result.dR_s.shape == (1, 3, d.size, 5)
    assert_matches_differences(result, n, d, wl, angles, NAMES)
    if not absorbing:  # lossless layers conserve energy to first order
        np.testing.assert_allclose(result.dR_s + result.dT_s, 0.0, atol=1e-12)
        np.testing.assert_allclose(result.dR_p + result.dT_p, 0.0, atol=1e-12)


def test_past_the_critical_angle_and_through_a_frustrated_gap():
    n = np.array([1.52, 1.0, 1.7, 1.45, 1.52], dtype=complex)
    d, wl, angles = np.array([120.0, 60.0, 90.0]), np.array([500.0, 633.0, 800.0]), np.radians([50.0, 70.0])
    result = ql.solve(n, d, wl, angles, derivatives=True)
    assert_matches_differences(result, n, d, wl, angles, ("dR_s", "dR_p", "dT_s", "dT_p", "dr_p"))


def test_batches_weighted_powers_and_an_all_true_mask():
    rng = np.random.default_rng(7)
    d, n, wl = random_stack(rng, media=5, count=4, absorbing=True)
    batch = d + rng.uniform(0.0, 30.0, (3, d.size))
    together = ql.solve(n, batch, wl, [0.2, 0.9], derivatives=True)
    for b in range(3):
        alone = ql.solve(n, batch[b], wl, [0.2, 0.9], derivatives=True)
        for name in NAMES:
            np.testing.assert_array_equal(getattr(together, name)[b], getattr(alone, name)[0])
    masked = ql.solve(n, batch, wl, [0.2, 0.9], coherent=[True, True, True], derivatives=True)
    np.testing.assert_array_equal(masked.dT_p, together.dT_p)
    c, s = np.cos(0.3) ** 2, np.sin(0.3) ** 2
    np.testing.assert_allclose(together.dR(0.3), together.dR_s * c + together.dR_p * s, rtol=1e-15, atol=0)


def test_opaque_layer_hides_what_lies_behind_it():
    n, wl = np.array([1.0, 1.46, 3 + 4j, 1.46, 1.52]), np.array([550.0])
    result = ql.solve(n, [95.0, 1e6, 50.0], wl, 0.4, derivatives=True)
    for name in NAMES:
        assert np.isfinite(getattr(result, name)).all(), name
    # behind the opaque layer: zero up to rounding; T is 0 and stays 0
    assert abs(result.dR_s[0, 0, 2, 0]) <= 1e-12 * abs(result.dR_s[0, 0, 0, 0])
    assert result.dT_s[0, 0, 0, 0] == 0.0
    front = ql.solve(n[:3], [95.0], wl, 0.4, derivatives=True)
    np.testing.assert_allclose(result.dR_s[..., :1, :], front.dR_s, rtol=1e-12)


def test_thread_count_does_not_change_the_bits():
    d, n, wl = random_stack(np.random.default_rng(11), media=7, count=300, absorbing=True)
    one = ql.solve(n, d, wl, [0.0, 0.6], derivatives=True, threads=1)
    two = ql.solve(n, d, wl, [0.0, 0.6], derivatives=True, threads=2)
    for name in NAMES[:8]:
        np.testing.assert_array_equal(getattr(one, name), getattr(two, name))


def test_without_derivatives_or_layers():
    plain = ql.solve([1.0, 1.5], [], [500.0])
    with pytest.raises(AttributeError, match="dR_s was not computed; solve with derivatives=True"):
        plain.dR_s
    with pytest.raises(AttributeError, match="derivatives=True"):
        plain.dR(0.0)
    assert ql.solve([1.0, 1.5], [], [500.0, 600.0], derivatives=True).dR_s.shape == (1, 1, 0, 2)
    with pytest.raises(TypeError, match="derivatives must be True or False"):
        ql.solve([1.0, 1.5], [], [500.0], derivatives="yes")


@pytest.mark.parametrize("absorbing", [False, True], ids=["lossless", "absorbing"])
@pytest.mark.parametrize("seed", range(3))
def test_mixed_stack_derivatives_match_differences(seed, absorbing):
    rng = np.random.default_rng(200 + seed)
    media = int(rng.integers(5, 9))
    d, n, wl = random_stack(rng, media=media, count=4, absorbing=absorbing)
    if absorbing:
        n = n.real + 1j * np.minimum(n.imag, 0.002)  # thick incoherent layers still pass some light
    coherent = rng.random(media - 2) < 0.6
    coherent[rng.integers(0, media - 2)] = False
    d = np.where(coherent, d, rng.uniform(2e3, 5e4, media - 2))
    angles = np.array([0.0, 0.4, 1.1])
    result = ql.solve(n, d, wl, angles, coherent=coherent, derivatives=True)
    with pytest.raises(AttributeError, match="dr_s is not defined for a stack with incoherent layers"):
        result.dr_s
    assert_matches_differences(result, n, d, wl, angles, ("dR_s", "dR_p", "dT_s", "dT_p"), coherent)
