"""quilmo_lab.solve against tmm, against quilmo.DataPy bit for bit, and on opaque layers."""

import math
import warnings

import numpy as np
import pytest

import quilmo
import quilmo_lab as ql
from conftest import random_stack, uniform_stack
from lab_helpers import FIELDS

tmm = pytest.importorskip("tmm")

AMPLITUDE_TOLERANCE = 1e-12


def assert_matches_tmm(result, n, d, wl, angles):
    d_list = [math.inf, *d, math.inf]
    for a, theta in enumerate(angles):
        for w, wavelength in enumerate(wl):
            expected = {}
            for pol in "sp":
                data = tmm.coh_tmm(pol, n[:, w], d_list, theta, wavelength)
                expected |= {f"{q}_{pol}": data[q] for q in ("r", "t", "R", "T")}
            ellips = tmm.ellips(n[:, w], d_list, theta, wavelength)
            expected |= {"psi": ellips["psi"], "delta": ellips["Delta"]}
            for name in FIELDS:
                got = getattr(result, name)[0, a, w]
                assert abs(got - expected[name]) <= AMPLITUDE_TOLERANCE, (name, theta, wavelength, got, expected[name])


@pytest.mark.parametrize("absorbing", [False, True], ids=["lossless", "absorbing"])
@pytest.mark.parametrize("seed", range(4))
def test_random_stacks_match_tmm(seed, absorbing):
    rng = np.random.default_rng(seed)
    d, n, wl = random_stack(rng, media=int(rng.integers(2, 9)), count=6, absorbing=absorbing)
    angles = np.array([0.0, 0.3, 1.0, 1.55])  # normal to near grazing
    assert_matches_tmm(ql.solve(n, d, wl, angles), n, d, wl, angles)


def test_past_the_critical_angle_matches_tmm():
    # Glass into air through a thin film: total reflection from about 41.8 degrees.
    d, n, wl = uniform_stack([1.52, 1.38, 1.0], [450.0, 633.0], [80.0])
    angles = np.radians([30.0, 45.0, 60.0, 89.0])
    result = ql.solve(n, d, wl, angles)
    assert_matches_tmm(result, n, d, wl, angles)
    np.testing.assert_allclose(result.R_s[0, 1:], 1.0, rtol=0, atol=1e-14)
    assert (result.T_p[0, 1:] == 0.0).all()


def test_published_basic_values_of_tmm():
    # tmm's own reference point, checked there against an independent Mathematica program.
    result = ql.solve([1, 2 + 4j, 3 + 0.3j, 1 + 0.1j], [2, 3], [100.0], 0.1)
    expected = {
        "r_s": -0.60331226568845775 - 0.093522181653632019j, "t_s": 0.44429533471192989 + 0.16921936169383078j,
        "R_s": 0.37273208839139516, "T_s": 0.22604491247079261,
        "r_p": 0.60102654255772481 + 0.094489146845323682j, "t_p": 0.4461816467503148 + 0.17061408427088917j,
        "R_p": 0.37016110373044969, "T_p": 0.22824374314132009,
        "psi": 0.78366777347038352, "delta": 0.0021460774404193292,
    }
    for name, value in expected.items():
        assert abs(getattr(result, name)[0, 0, 0] - value) <= AMPLITUDE_TOLERANCE, name


@pytest.mark.parametrize("theta, phi", [(0.0, 0.0), (0.5, 0.7), (1.2, math.pi / 2), (0.3, 2.0)])
@pytest.mark.parametrize("absorbing", [False, True], ids=["lossless", "absorbing"])
def test_reflectance_is_datapy_bit_for_bit(theta, phi, absorbing):
    rng = np.random.default_rng(int(10 * theta + 100 * phi))
    d, n, wl = random_stack(rng, media=12, count=300, absorbing=absorbing)  # above DataPy's pool threshold
    batch = np.stack([d, rng.uniform(5.0, 400.0, d.size)])  # every stack of a batch, too
    result = ql.solve(n, batch, wl, [0.1, theta])
    for b in range(2):
        simulated = quilmo.DataPy(batch[b], n, wl, theta, phi).simulate()
        assert result.R(phi)[b, 1].tobytes() == simulated.r.tobytes()
        if not absorbing:  # lossless exit medium: DataPy's t is the Poynting flux too
            np.testing.assert_allclose(result.T(phi)[b, 1], simulated.t, rtol=1e-13, atol=1e-15)


def periodic_stack(rng, count, special):
    """A mirror-like stack whose media, interfaces and layers repeat: air, 6 pairs, glass;
    one material dispersive, the others constant, some thicknesses shared."""
    wl = np.linspace(400.0, 900.0, count)
    high = 2.3 + 2e4 / wl**2 + 0.01j
    n = np.empty((14, count), dtype=complex)
    n[0], n[-1] = 1.0, 1.52
    n[1:-1:2], n[2:-1:2] = high, 1.46
    d = np.tile([60.0, 95.0], 6)
    d[[3, 8]] = rng.uniform(50.0, 120.0, 2)  # two layers that break the period
    if special:
        n[2, 7] = complex(1.46, -0.0)   # differs from the other 1.46 rows in the sign of a zero only
        n[6, 3] = complex(np.nan, 0.0)  # one NaN in an otherwise constant row, and a NaN wavelength below
        n[4, 9] = np.inf
        wl[11] = np.nan
    return d, n, wl


@pytest.mark.parametrize("special", [False, True], ids=["plain", "signed-zero-nan-inf"])
@pytest.mark.parametrize("angles, threads", [([0.0], 1), ([0.2, 0.9], 4)])
def test_repeated_media_and_layers_keep_datapy_bits(special, angles, threads):
    # With 4 threads the pieces of the grid see stretches of wavelengths where the
    # special entries are absent and their rows constant.
    d, n, wl = periodic_stack(np.random.default_rng(5), 1200, special)
    result = ql.solve(n, d, wl, angles, threads=threads)
    with np.errstate(all="ignore"):
        for a, theta in enumerate(angles):
            for phi in (0.0, 0.8):
                r = quilmo.DataPy(d, n, wl, theta, phi).simulate().r
                assert np.array_equal(result.R(phi)[0, a], r, equal_nan=True)
                assert result.R(phi)[0, a][np.isfinite(r)].tobytes() == r[np.isfinite(r)].tobytes()
                assert np.isfinite(r[12:]).all()  # the NaN and infinity stay at their own wavelengths
    # Constant rows given once: the same bits as the full matrix.
    constant = np.repeat(np.array([1.0, 2.1, 1.46, 2.1, 1.46, 1.52], dtype=complex)[:, None], wl.size, axis=1)
    thicknesses = np.array([80.0, 90.0, 80.0, 90.0])
    once = ql.solve(constant[:, 0], thicknesses, wl, angles)
    assert once.R(0.3).tobytes() == ql.solve(constant, thicknesses, wl, angles).R(0.3).tobytes()
    # the NaN wavelength gives NaN in both, its sign left to NumPy's loops
    r = quilmo.DataPy(thicknesses, constant, wl, angles[-1], 0.3).simulate().r
    assert np.array_equal(once.R(0.3)[0, -1], r, equal_nan=True)
    assert once.R(0.3)[0, -1][np.isfinite(r)].tobytes() == r[np.isfinite(r)].tobytes()


# --- opaque layers ---

def airy_slab_transmittance(n_slab, thickness, wavelength, n_out=1.0):
    """T of a slab in air at normal incidence, with the slab's attenuation kept as a logarithm."""
    r01, r12 = (1 - n_slab) / (1 + n_slab), (n_slab - n_out) / (n_slab + n_out)
    t01, t12 = 2 / (1 + n_slab), 2 * n_slab / (n_slab + n_out)
    delta = 2 * math.pi * n_slab * thickness / wavelength
    log_round_trip = 2j * delta  # e^{2 i delta}; its modulus may be far below the smallest double
    round_trip = np.exp(log_round_trip) if log_round_trip.real > -700 else 0.0
    log_t = np.log(t01 * t12) + 1j * delta - np.log(1 + r01 * r12 * round_trip)
    return math.exp(2 * log_t.real) * n_out.real


@pytest.mark.parametrize("n, d, mask", [
    ([1.0, 1.46, 2.3, 3 + 4j, 1.9, 1.52], [90.0, 60.0, 1e6, 120.0], None),
    ([1.0, 1.46, 2.3, 1 + 3j, 1.9, 1.52], [90.0, 60.0, 1e5, 120.0], None),
    # a millimetre of a strong absorber treated by intensity
    ([1.0, 1.8, 3.0 + 4.0j, 1.5, 1.0], [90.0, 1e6, 50.0], [True, False, True]),
    # 10^5 nm of 1 + 3i inside a coherent run, in front of a glass slab
    ([1.0, 1.45, 1.0 + 3.0j, 2.0, 1.5, 1.0], [90.0, 1e5, 40.0, 2e6], [True, True, True, False]),
], ids=["coherent-mm", "coherent-1e5", "incoherent", "coherent-run"])
def test_opaque_layer_stays_finite_and_cuts_the_stack(n, d, mask):
    opaque = int(np.argmax(np.imag(n)))
    wl, angles = np.linspace(400.0, 900.0, 6), [0.0, 0.7]
    names = FIELDS if mask is None else ("R_s", "R_p", "T_s", "T_p")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = ql.solve(n, d, wl, angles, coherent=mask)
        cut = ql.solve(n[:opaque + 1], d[:opaque - 1], wl, angles)  # the opaque layer as exit medium
        for name in names:
            assert np.isfinite(getattr(result, name)).all(), name
        assert (result.T_s == 0).all() and (result.T_p == 0).all()
        for name in names[:2]:
            np.testing.assert_allclose(getattr(result, name), getattr(cut, name), rtol=1e-14, atol=1e-15)
        total = result.R(0.4) + result.T(0.4) + result.absorbed(0.4).sum(axis=2)
        np.testing.assert_allclose(total, 1.0, rtol=0, atol=1e-13)
        profile = ql.profile(n, d, [500.0], 0.6, [10.0, 0.5 * sum(d[:opaque]), sum(d) + 100.0], coherent=mask)
        assert np.all(np.isfinite(profile.density_s)) and profile.E2_p[0, 2] == 0.0
    if mask is None:  # DataPy's exact product overflows here: that is what the scaled pass is for
        with np.errstate(all="ignore"):
            indices = np.repeat(np.asarray(n, dtype=complex)[:, None], wl.size, axis=1)
            assert not np.isfinite(quilmo.DataPy(np.array(d), indices, wl, 0.0, 0.0).simulate().r).all()


def test_thick_slab_follows_airy_down_to_underflow():
    n_slab, wavelength = 1.5 + 0.01j, 500.0
    # attenuation e^{-4 pi k d / wl}: from 1e-20 down to 1e-250, then beyond the smallest double
    for target in (1e-20, 1e-100, 1e-200, 1e-250, 1e-300):
        thickness = -math.log(target) * wavelength / (4 * math.pi * n_slab.imag)
        got = ql.solve([1.0, n_slab, 1.0], [thickness], [wavelength]).T_s[0, 0, 0]
        expected = airy_slab_transmittance(n_slab, thickness, wavelength)
        if expected >= 1e-300:
            assert abs(got / expected - 1) <= 1e-10, (target, got, expected)
    far = ql.solve([1.0, n_slab, 1.0], [1e9], [wavelength])
    assert far.T_s[0, 0, 0] == 0.0 and far.T_p[0, 0, 0] == 0.0
    assert np.isfinite(far.R_s).all()
