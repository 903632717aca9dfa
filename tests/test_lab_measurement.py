"""Averages over what an instrument sees (cone, slit, thickness spread) against dense brute-force
integrations written here, and the behaviour of AveragedResult."""

import pickle
import warnings

import numpy as np
import pytest

import quilmo_lab as ql
from lab_helpers import assert_same_bits, central_difference

def filter_stack(centre=550.0):
    """A Fabry-Perot band-pass: two quarter-wave mirrors around a half-wave spacer."""
    n = np.array([1.0] + [2.35, 1.46] * 4 + [2.35, 1.46, 1.46, 2.35] + [1.46, 2.35] * 3 + [1.52], dtype=complex)
    d = centre / (4 * n[1:-1].real)
    return n, d


def brute_cone(n, d, wavelengths, chief, half_angle, weight):
    """R and T for s light in the chief frame and unpolarised, by a dense midpoint rule over
    the cone: each ray's share of the chief s field from a parallel transport of the field."""
    alpha = (np.arange(1500) + 0.5) * half_angle / 1500
    beta = (np.arange(64) + 0.5) * 2 * np.pi / 64
    a, b = [x.ravel() for x in np.meshgrid(alpha, beta, indexing="ij")]
    w = np.sin(a) * weight(a)
    w /= w.sum()
    k0 = np.array([np.sin(chief), 0.0, np.cos(chief)])
    # ray directions: rotate the chief ray by alpha about an axis perpendicular to it at angle beta
    e1, e2 = np.array([np.cos(chief), 0.0, -np.sin(chief)]), np.array([0.0, 1.0, 0.0])
    axis = np.outer(np.sin(b), e1) - np.outer(np.cos(b), e2)
    k = np.cos(a)[:, None] * k0 + np.sin(a)[:, None] * np.cross(axis, k0)
    field = np.cos(a)[:, None] * e2 + np.sin(a)[:, None] * np.cross(axis, e2) + \
        (1 - np.cos(a))[:, None] * axis * (axis @ e2)[:, None]
    s_ray = np.cross([0, 0, 1.0], k)
    s_ray /= np.linalg.norm(s_ray, axis=1)[:, None]
    share_s = np.einsum("ij,ij->i", field, s_ray) ** 2
    theta = np.arccos(k[:, 2])
    res = ql.solve(n, d, wavelengths, theta)
    out = {}
    for kind in "RT":
        s, p = getattr(res, f"{kind}_s")[0], getattr(res, f"{kind}_p")[0]
        out[kind + "_s"] = np.einsum("a,aw->w", w * share_s, s) + np.einsum("a,aw->w", w * (1 - share_s), p)
        out[kind] = np.einsum("a,aw->w", w, (s + p) / 2)
    return out


@pytest.mark.parametrize(("chief", "weighting"),
                         [(0.0, "uniform"), (0.1, "uniform"), (0.6, "uniform"), (0.6, "lambertian")])
def test_cone_against_a_dense_sum_of_rays(chief, weighting):
    n, d = filter_stack()
    wl = np.array([530.0, 550.0, 575.0])
    res = ql.solve(n, d, wl, chief, cone=ql.Cone(0.15, weighting=weighting))
    weight = (lambda a: np.ones_like(a)) if weighting == "uniform" else np.cos
    expected = brute_cone(n, d, wl, chief, 0.15, weight)
    for name in ("R", "T"):
        np.testing.assert_allclose(getattr(res, name)()[0, 0], expected[name], rtol=0, atol=1e-6)
        np.testing.assert_allclose(getattr(res, name + "_s")[0, 0], expected[name + "_s"], rtol=0, atol=1e-6)


@pytest.mark.parametrize("chief", [0.05, 0.1, 0.149])
def test_a_cone_holding_the_normal_off_its_axis_reaches_a_tight_tolerance(chief):
    # its arcs of azimuth start as whole circles: a rule blind to that converges as 1/rays^2
    n, d = filter_stack()
    wl = np.array([530.0, 550.0, 575.0])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        res = ql.solve(n, d, wl, chief, cone=ql.Cone(0.15, tolerance=1e-10))
    assert res.quadrature["points"] < 150 * wl.size


def test_a_narrow_band_filter_lowers_widens_and_shifts_in_an_f2_cone():
    n, d = filter_stack()
    wl = np.linspace(530.0, 560.0, 601)
    plain = ql.solve(n, d, wl).T()[0, 0]
    cone = ql.Cone(f_number=2.0)
    coned = ql.solve(n, d, wl, cone=cone).T()[0, 0]
    assert coned.max() < plain.max()
    width = [np.ptp(wl[t > t.max() / 2]) for t in (plain, coned)]
    assert width[1] > width[0]
    # the peak moves to shorter wavelengths, less than the edge ray's shift lambda0 sqrt(1 - sin^2/n_eff^2)
    n_eff = 1.46 * np.sqrt(2.35 / 1.46)  # between the spacer's index and the mirror's mean
    edge = wl[plain.argmax()] * np.sqrt(1 - np.sin(cone.half_angle) ** 2 / n_eff**2)
    assert edge < wl[coned.argmax()] < wl[plain.argmax()]


@pytest.mark.parametrize(("shape", "domain"), [("gaussian", "wavelength"), ("triangle", "wavelength"),
                                               ("rectangle", "wavelength"), ("gaussian", "wavenumber")])
def test_slit_against_a_dense_convolution(shape, domain):
    stack = ql.Stack([ql.Layer(ql.Cauchy(2.2, 2e4), 60.0), ql.Layer(1.46, 95.0)] * 3, exit="N-BK7")
    wl = np.array([500.0, 612.0])
    fwhm = 2.0 if domain == "wavelength" else 2.0 / 550.0**2
    res = ql.solve(stack, wl, 0.3, bandwidth=ql.Slit(fwhm, shape, domain))
    for w, centre in enumerate(wl):
        if shape == "gaussian":
            sigma = fwhm / (2 * np.sqrt(2 * np.log(2)))
            x = np.linspace(-9 * sigma, 9 * sigma, 6001)
            g = np.exp(-x**2 / (2 * sigma**2))
        else:
            half = fwhm if shape == "triangle" else fwhm / 2
            x = np.linspace(-half, half, 6001)
            g = 1 - np.abs(x) / fwhm if shape == "triangle" else np.ones_like(x)
        g[[0, -1]] *= 0.5  # trapezoid rule
        around = centre + x if domain == "wavelength" else 1 / (1 / centre + x)
        dense = ql.solve(stack, around, 0.3)
        for name in ("R", "T"):
            expected = (g * getattr(dense, name)()[0, 0]).sum() / g.sum()
            assert abs(getattr(res, name)()[0, 0, w] - expected) <= 1e-6


def dense_slit(solve_at, centre, fwhm, shape):
    """The convolution of solve_at(wavelengths) -> (..., K) with the slit around `centre` by a dense
    trapezoid rule."""
    if shape == "gaussian":
        sigma = fwhm / (2 * np.sqrt(2 * np.log(2)))
        x = np.linspace(-9 * sigma, 9 * sigma, 4001)
        g = np.exp(-x**2 / (2 * sigma**2))
    else:
        half = fwhm if shape == "triangle" else fwhm / 2
        x = np.linspace(-half, half, 4001)
        g = 1 - np.abs(x) / fwhm if shape == "triangle" else np.ones_like(x)
    g[[0, -1]] *= 0.5
    return solve_at(centre + x) @ g / g.sum()


@pytest.mark.parametrize("shape", ["gaussian", "triangle", "rectangle"])
def test_slits_over_a_band_edge_refine_each_wavelength_to_the_tolerance(shape):
    # wavelengths closer than the slit, some on the filter's steep edge, others where it is flat:
    # they converge at different levels and share nodes
    n, d = filter_stack()
    wl = np.linspace(516.0, 600.0, 17)
    res = ql.solve(n, d, wl, 0.2, bandwidth=ql.Slit(3.0, shape))
    for w, centre in enumerate(wl):
        expected = dense_slit(lambda at: ql.solve(n, d, at, 0.2).T()[0, 0], centre, 3.0, shape)
        assert abs(res.T()[0, 0, w] - expected) <= 1e-6
    assert res.quadrature["points"] < res.quadrature["wavelengths"] * wl.size


def mirror_edge():
    """A 20-pair quarter-wave mirror and wavelengths across its short band edge, which a cone
    of 10 degrees sweeps through its angles."""
    n = np.array([1.0] + [2.35, 1.46] * 20 + [1.52], dtype=complex)
    return n, 550.0 / (4 * n[1:-1].real), np.linspace(410.0, 470.0, 61)


def dense_average(kind, n, d, wl, chief):
    """R and T (unpolarised) of the cone by its own rule at 2,049 angles of incidence, or of a
    2 nm Gaussian slit by a dense trapezoid rule."""
    if kind == "cone":
        _, _, theta, weight, _ = ql.Cone(0.17).rays(np.array([chief]), 9)
        res, w = ql.solve(n, d, wl, theta), weight.sum(axis=1)
        return w @ res.R()[0], w @ res.T()[0]
    sigma = 2.0 / (2 * np.sqrt(2 * np.log(2)))
    x = np.linspace(-9 * sigma, 9 * sigma, 2001)
    g = np.exp(-x**2 / (2 * sigma**2))
    res = ql.solve(n, d, (wl[:, None] + x).ravel(), chief)
    return tuple(q()[0, 0].reshape(wl.size, -1) @ (g / g.sum()) for q in (res.R, res.T))


def averaged(kind, n, d, wl, chief, tolerance):
    option = dict(cone=ql.Cone(0.17, tolerance=tolerance)) if kind == "cone" else \
        dict(bandwidth=ql.Slit(2.0, tolerance=tolerance))
    return ql.solve(n, d, wl, chief, **option)


@pytest.mark.parametrize("kind", ["cone", "slit"])
def test_averages_are_within_their_tolerance_and_a_looser_one_costs_less(kind):
    # coarse rules of a cone over a band edge can agree by chance while both are far off
    n, d, wl = mirror_edge()
    expected = dense_average(kind, n, d, wl, 0.5)
    points = []
    for tolerance in (1e-2, 1e-3, 1e-4, 1e-5, 1e-6):
        res = averaged(kind, n, d, wl, 0.5, tolerance)
        for got, want in zip((res.R(), res.T()), expected):
            assert np.abs(got[0, 0] - want).max() <= tolerance, tolerance
        points.append(res.quadrature["points"])
    assert points == sorted(points) and points[0] < points[-1]


def test_a_tight_tolerance_takes_the_gaussian_further_into_its_tails():
    # on a band edge the slit's far tails see R very different from the centre's: cut where
    # the default tolerance allows, they would miss by about 1e-10
    n, d, wl = mirror_edge()
    wl = wl[20:40:4]
    res = ql.solve(n, d, wl, 0.5, bandwidth=ql.Slit(2.0, tolerance=1e-12))
    sigma = 2.0 / (2 * np.sqrt(2 * np.log(2)))
    x = np.linspace(-12 * sigma, 12 * sigma, 24001)
    g = np.exp(-x**2 / (2 * sigma**2))
    dense = ql.solve(n, d, (wl[:, None] + x).ravel(), 0.5).R()[0, 0].reshape(wl.size, -1) @ g / g.sum()
    np.testing.assert_allclose(res.R()[0, 0], dense, rtol=0, atol=2e-12)


def test_a_cone_solves_alike_fresh_reused_and_shipped():
    # a cone keeps its rays for the next solve, but never ships them with it
    n, d, wl = mirror_edge()
    cone = ql.Cone(0.17)
    first = ql.solve(n, d, wl[::10], [0.1, 0.5], cone=cone)
    again = ql.solve(n, d, wl[::5], [0.5, 0.1], cone=cone)
    shipped = pickle.dumps(cone)
    assert len(shipped) < 1000
    fresh = ql.solve(n, d, wl[::10], [0.1, 0.5], cone=pickle.loads(shipped))
    assert first.R().tobytes() == fresh.R().tobytes()
    np.testing.assert_allclose(again.R()[:, ::-1, ::2], first.R(), rtol=0, atol=1e-15)


def test_the_smallest_tolerance_of_the_averages_given_governs():
    n, d, wl = mirror_edge()
    loose, tight = dict(cone=ql.Cone(0.17, tolerance=1e-2)), dict(bandwidth=ql.Slit(2.0, tolerance=1e-6))
    mixed = ql.solve(n, d, wl[::6], 0.5, **loose, bandwidth=ql.Slit(2.0, tolerance=1e-6))
    both = ql.solve(n, d, wl[::6], 0.5, cone=ql.Cone(0.17, tolerance=1e-6), **tight)
    assert mixed.R().tobytes() == both.R().tobytes()
    # the spread's own 1e-6 holds whatever the cone's
    spread = np.r_[2.0, np.zeros(d.size - 1)]
    mixed = ql.solve(n, d, wl[::6], 0.5, **loose, thickness_spread=spread)
    both = ql.solve(n, d, wl[::6], 0.5, cone=ql.Cone(0.17, tolerance=1e-6), thickness_spread=spread)
    assert mixed.T().tobytes() == both.T().tobytes()


def test_levels_solved_with_the_next_one_keep_the_tolerance():
    # many wavelengths across a band-pass: few of them refine past level 1, so a level's new
    # nodes are solved together with the next level's
    n, d = filter_stack()
    wl = np.linspace(500.0, 600.0, 201)
    res = ql.solve(n, d, wl, 0.2, bandwidth=ql.Slit(3.0))
    assert res._quadrature._ahead > 1
    refined = np.flatnonzero(res._quadrature.converged_at > 1)
    for w in np.union1d(refined[::3], np.arange(0, wl.size, 25)):
        expected = dense_slit(lambda at: ql.solve(n, d, at, 0.2).T()[0, 0], wl[w], 3.0, "gaussian")
        assert abs(res.T()[0, 0, w] - expected) <= 1e-6


def test_cone_and_slit_together_are_the_slit_of_the_cone():
    n, d = filter_stack()
    wl = np.array([535.0, 541.0, 550.0])
    cone = ql.Cone(0.12)
    res = ql.solve(n, d, wl, 0.3, cone=cone, bandwidth=ql.Slit(2.0))
    for w, centre in enumerate(wl):
        expected = dense_slit(lambda at: ql.solve(n, d, at, 0.3, cone=cone).R_s[0, 0], centre, 2.0, "gaussian")
        assert abs(res.R_s[0, 0, w] - expected) <= 2e-6


def test_a_cone_refines_only_the_wavelengths_not_yet_converged():
    n, d = filter_stack()
    wl = np.linspace(500.0, 600.0, 41)
    res = ql.solve(n, d, wl, 0.3, cone=ql.Cone(0.15))
    assert res.quadrature["points"] < 0.6 * res.quadrature["rays"] * wl.size
    expected = brute_cone(n, d, wl[::8], 0.3, 0.15, np.ones_like)
    np.testing.assert_allclose(res.R()[0, 0, ::8], expected["R"], rtol=0, atol=1e-6)


def test_slit_interpolates_indices_given_over_the_wavelengths():
    wl = np.linspace(500.0, 600.0, 11)
    n = np.stack([np.ones(11), 2.0 + 0.001 * (wl - 500), np.full(11, 1.5)]).astype(complex)
    res = ql.solve(n, [120.0], wl, bandwidth=ql.Slit(4.0, "rectangle"))
    x = np.linspace(-2.0, 2.0, 4001)
    centre = 550.0
    dense = ql.solve(np.stack([np.ones_like(x), 2.0 + 0.001 * (centre + x - 500), np.full_like(x, 1.5)]),
                     [120.0], centre + x)
    expected = (dense.R()[0, 0, 1:] + dense.R()[0, 0, :-1]).sum() / 2 / (x.size - 1)
    assert abs(res.R()[0, 0, 5] - expected) <= 1e-6


@pytest.mark.parametrize("option", [dict(bandwidth=ql.Slit(2.0)), dict(cone=ql.Cone(0.1))], ids=["slit", "cone"])
def test_indices_constant_over_the_wavelengths_are_not_interpolated(option):
    # an index array that repeats one value per medium is the stack of scalar indices: the same
    # bits, and one column for the engine (never a rounding of a(1 - f) + a f)
    n, d = filter_stack()
    wl = np.linspace(520.0, 560.0, 9)
    scalar = ql.solve(n, d, wl, 0.2, **option)
    repeated = ql.solve(np.repeat(n[:, None], wl.size, axis=1), d, wl, 0.2, **option)
    for name in ("R_s", "R_p", "T_s", "T_p"):
        assert getattr(repeated, name).tobytes() == getattr(scalar, name).tobytes(), name


@pytest.mark.parametrize("layout", ["run", "every other", "gaps"])
def test_node_sums_take_each_wavelengths_nodes_whatever_their_layout(layout):
    from quilmo_lab._averaging import _NodeSums
    from quilmo_lab._quadrature import unique_keys

    rng = np.random.default_rng(3)
    first = np.array([0, 4, 5, 11]) * 8
    wanted = first[:, None] + np.arange(5) * 8  # four wavelengths of five nodes each, on a grid of 8
    if layout == "run":
        keys = np.arange(0, 15 * 8 + 1, 8)
    elif layout == "every other":
        keys = np.arange(0, 15 * 8 + 1, 4)
    else:
        keys = np.setdiff1d(np.arange(0, 15 * 8 + 1, 8), [6 * 8, 13 * 8])  # two nodes never solved
    weights = rng.uniform(0.1, 1.0, wanted.shape)
    weights[0, -1] = 0.0  # a padded node
    values = rng.normal(size=(2, 3, keys.size))
    lookup = {int(k): i for i, k in enumerate(keys)}
    expected = np.zeros((2, 3, wanted.shape[0]))
    for w, row in enumerate(wanted):
        for k, key in enumerate(row):
            if int(key) in lookup:
                expected[..., w] += weights[w, k] * values[..., lookup[int(key)]]
    np.testing.assert_allclose(_NodeSums(keys, wanted, weights)(values), expected, rtol=1e-14, atol=1e-14)
    distinct, where = unique_keys(wanted, 8)
    np.testing.assert_array_equal(distinct, np.unique(wanted))
    np.testing.assert_array_equal(wanted.ravel()[where], distinct)


def test_unique_keys_of_a_sparse_range_sort():
    from quilmo_lab._quadrature import unique_keys

    keys = np.array([[7 << 40, 3], [3, 5 << 20]], dtype=np.int64)
    distinct, where = unique_keys(keys, 1)
    np.testing.assert_array_equal(distinct, [3, 5 << 20, 7 << 40])
    np.testing.assert_array_equal(keys.ravel()[where], distinct)


@pytest.mark.parametrize("spread", [[3.0, 0.0], [2.0, 4.0]], ids=["one layer", "two layers"])
def test_thickness_spread_against_a_dense_grid(spread):
    n = np.array([1.0, 2.1 + 0.01j, 1.46, 1.52])
    d = np.array([130.0, 210.0])
    wl = np.array([450.0, 600.0])
    res = ql.solve(n, d, wl, 0.2, thickness_spread=spread)
    count = 2001 if spread[1] == 0 else 301
    x = np.linspace(-8, 8, count)
    g = np.exp(-x**2 / 2)
    grids = np.meshgrid(*([x] * 2), indexing="ij") if spread[1] else [x, np.zeros_like(x)]
    thick = np.stack([d[i] + spread[i] * grids[i].ravel() for i in range(2)], axis=1)
    weights = (np.outer(g, g).ravel() if spread[1] else g)
    dense = ql.solve(n, thick, wl, 0.2)
    for name in ("R", "T", "A"):
        expected = np.einsum("b,bw->w", weights, getattr(dense, name)()[:, 0]) / weights.sum()
        np.testing.assert_allclose(getattr(res, name)()[0, 0], expected, rtol=0, atol=1e-6)


def test_zero_sized_options_give_the_bits_of_solve():
    n, d = filter_stack()
    plain = ql.solve(n, d, [540.0, 550.0], [0.0, 0.4])
    zero = ql.solve(n, d, [540.0, 550.0], [0.0, 0.4], cone=ql.Cone(0.0), bandwidth=ql.Slit(0.0),
                    thickness_spread=0.0)
    assert type(zero) is ql.Result
    assert_same_bits(zero, plain)


def test_averaged_results_have_no_amplitudes_and_depolarise():
    n, d = filter_stack()
    res = ql.solve(n, d, [545.0], 0.5, cone=ql.Cone(0.1), derivatives=True)
    for name in ("r_s", "t_p", "dr_s", "dpsi"):
        with pytest.raises(AttributeError, match="not defined for an averaged result"):
            getattr(res, name)
    assert res.depolarisation_index_r[0, 0, 0] > 1e-5
    np.testing.assert_allclose(res.mueller_r[..., 0, 0], res.R(), rtol=0, atol=1e-12)
    np.testing.assert_allclose(res.mueller_t[..., 0, 1], (res.T_s - res.T_p) / 2, rtol=0, atol=1e-12)
    assert np.isfinite(res.psi).all() and np.isfinite(res.delta).all()


def test_derivatives_of_averages_are_averages_of_derivatives():
    n = np.array([1.0, 2.1, 1.46, 1.52])
    d = np.array([130.0, 210.0])
    wl = [480.0, 620.0]
    options = dict(cone=ql.Cone(0.2), bandwidth=ql.Slit(3.0), thickness_spread=[1.5, 0.0], roughness=[2.0, 1.0, 0.5])
    res = ql.solve(n, d, wl, 0.3, derivatives=True, **options)
    for layer in range(2):
        def at(shift, layer=layer):
            moved = d.copy()
            moved[layer] += shift
            return ql.solve(n, moved, wl, 0.3, **options).R("s")
        np.testing.assert_allclose(res.dR("s")[:, :, layer], central_difference(at, 1e-2), rtol=0, atol=1e-7)

    def rough(shift):
        return ql.solve(n, d, wl, 0.3, **{**options, "roughness": [2.0 + shift, 1.0, 0.5]}).T()
    np.testing.assert_allclose(res.dT_droughness()[:, :, 0], central_difference(rough, 1e-3), rtol=0, atol=1e-7)


@pytest.mark.parametrize(("call", "error", "text"), [
    (lambda: ql.Cone(), TypeError, "exactly one of"),
    (lambda: ql.Cone(0.1, na=0.2), TypeError, "exactly one of"),
    (lambda: ql.Cone(2.0), ValueError, "below pi/2"),
    (lambda: ql.Slit(-1.0), ValueError, "fwhm must be at least 0"),
    (lambda: ql.Slit(1.0, "lorentzian"), ValueError, "shape must be"),
    (lambda: ql.solve([1.0, 1.5], [], [500.0], cone=0.1), TypeError, "cone must be a quilmo_lab.Cone"),
    (lambda: ql.solve([1.0, 1.4, 1.5], [10.0], [500.0], thickness_spread=[1.0, 2.0]), ValueError, "1 entries"),
    (lambda: ql.solve([1.0, 1.4, 1.5], [10.0], [500.0], thickness_spread=20.0), ValueError, "negative thicknesses"),
])
def test_bad_options_are_refused(call, error, text):
    with pytest.raises(error, match=text):
        call()


def test_fit_recovers_thickness_and_roughness_measured_in_a_cone():
    pytest.importorskip("scipy")
    wl = np.linspace(400.0, 800.0, 41)

    def film(d, sigma):
        return ql.Stack([ql.Layer(2.1, d, roughness=sigma)], exit=1.52, exit_roughness=1.0)

    cone = ql.Cone(0.1)
    measured = film(180.0, 6.0).solve(wl, 0.5, cone=cone)
    from quilmo_lab.fit import fit

    fitted = fit(film, {"d": 170.0, "sigma": 3.0}, wl, {"R_s": measured.R_s[0], "T_p": measured.T_p[0]},
                        angles=[0.5], thickness={"d": 0}, cone=cone)
    assert abs(fitted.values["d"] - 180.0) < 1e-3 and abs(fitted.values["sigma"] - 6.0) < 1e-2


def test_design_refines_the_average_it_is_given():
    pytest.importorskip("scipy")
    from quilmo_lab import design

    target = design.Target("R", np.linspace(450.0, 650.0, 9), value=0.0, tolerance=0.01)
    coating = ql.Stack([ql.Layer(1.38, 80.0)], exit=1.52)
    spread = design.refine(coating, [target], bounds=(50.0, 150.0), thickness_spread=5.0, cone=ql.Cone(0.3))
    evaluator = design.Evaluator(spread.stack, [target], thickness_spread=5.0, cone=ql.Cone(0.3))
    assert spread.merit == pytest.approx(evaluator.evaluate(spread.stack.thicknesses).merit, rel=1e-12)
    with pytest.raises(ValueError, match="an average has no phase"):
        design.Evaluator(coating, [design.Target("GD", [500.0], value=0.0, polarisation="s")], cone=ql.Cone(0.1))
