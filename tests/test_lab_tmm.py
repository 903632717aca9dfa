"""quilmo_lab.tmm against tmm itself: tmm's own tests and random stacks."""

import contextlib
import importlib.util
import io
import re
import types
import warnings

import numpy as np
import pytest

import quilmo_lab.tmm as qtmm

tmm = pytest.importorskip("tmm")

# a real or complex number as Python or NumPy prints it (NumPy pads "0.        +0.j")
NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?(?:\s*[-+](?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?j)?")


def tmm_module_on(core, name):
    """tmm's module `name` (tests or examples) as shipped, its core import pointed at `core`."""
    spec = importlib.util.find_spec(f"tmm.{name}")
    source = spec.loader.get_source(spec.name).replace("from .tmm_core import", f"from {core} import")
    module = types.ModuleType(f"{name}_on_{core.replace('.', '_')}")
    module.__dict__["__package__"] = "tmm"
    with warnings.catch_warnings():  # tmm's LaTeX titles hold invalid escapes
        warnings.simplefilter("ignore", SyntaxWarning)
        warnings.simplefilter("ignore", DeprecationWarning)  # the same on Python 3.11
        code = compile(source, spec.origin, "exec")
    exec(code, module.__dict__)
    return module


def printed_numbers(function):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), np.errstate(all="ignore"):
        function()
    # tmm's own warnings (about opaque layers it alters) are not results
    text = "\n".join(line for line in out.getvalue().splitlines() if not line.startswith("Warning"))
    text = re.sub(r"np\.(?:float|complex)\d+\(", "(", text)  # NumPy 2 prints scalars as np.float64(x)
    return text, [complex(re.sub(r"\s", "", x)) for x in NUMBER.findall(text)]


TESTS = ["basic_test", "position_resolved_test", "position_resolved_test2", "absorp_analytic_fn_test",
         "incoherent_test", "RT_test", "coh_overflow_test", "inc_overflow_test"]


@pytest.mark.parametrize("name", TESTS)
def test_tmm_own_tests_print_tmm_numbers(name):
    expected_text, expected = printed_numbers(getattr(tmm_module_on("tmm.tmm_core", "tests"), name))
    text, got = printed_numbers(getattr(tmm_module_on("quilmo_lab.tmm", "tests"), name))
    assert len(got) == len(expected), (text, expected_text)
    # NumPy prints the arrays of coh_overflow_test with 8 digits, rounded where the two differ
    tolerance = 5e-9 if name == "coh_overflow_test" else 1e-9
    np.testing.assert_allclose(np.array(got), np.array(expected), rtol=tolerance, atol=tolerance, err_msg=text)


def random_stack(rng, media, lossy_incidence):
    n = rng.uniform(1.0, 3.0, media) + 1j * rng.uniform(0.0, 0.3, media) * (rng.random(media) < 0.6)
    n[0] = rng.uniform(1.0, 2.0) + (0.1j * rng.random() if lossy_incidence else 0)
    d = np.concatenate(([np.inf], rng.uniform(5.0, 400.0, media - 2), [np.inf]))
    return n, d


def incidence_angle(rng, n0):
    """A forward angle in the incidence medium with n0 sin(th0) real, beyond the critical
    angle of the exit side at times (total internal reflection)."""
    return tmm.snell(1.0, n0, rng.uniform(0.0, 1.5)) if n0.imag else rng.uniform(0.0, 1.5)


@pytest.mark.parametrize("seed", range(12))
@pytest.mark.parametrize("pol", ["s", "p"])
def test_random_stacks_agree_with_tmm(seed, pol):
    rng = np.random.default_rng(seed)
    n, d = random_stack(rng, 3 + seed % 5, lossy_incidence=seed % 2 == 1)
    th0 = incidence_angle(rng, n[0])
    lam = rng.uniform(300.0, 900.0)
    expected, got = tmm.coh_tmm(pol, n, d, th0, lam), qtmm.coh_tmm(pol, n, d, th0, lam)
    for key in ["r", "t", "R", "T", "power_entering", "vw_list", "kz_list", "th_list"]:
        np.testing.assert_allclose(got[key], expected[key], rtol=1e-10, atol=1e-10, err_msg=key)
    np.testing.assert_allclose(qtmm.absorp_in_each_layer(got), tmm.absorp_in_each_layer(expected), atol=1e-10)
    for layer in range(len(n)):
        distance = rng.uniform(-50.0, 0.0) if layer == 0 else rng.uniform(0.0, min(d[layer], 400.0))
        a, b = qtmm.position_resolved(layer, distance, got), tmm.position_resolved(layer, distance, expected)
        for key in ["poyn", "absor", "Ex", "Ey", "Ez"]:
            np.testing.assert_allclose(a[key], b[key], rtol=1e-10, atol=1e-10, err_msg=f"{key} in {layer}")
    np.testing.assert_allclose(qtmm.coh_tmm_reverse(pol, n, d, th0, lam)["r"],
                               tmm.coh_tmm_reverse(pol, n, d, th0, lam)["r"], rtol=1e-10, atol=1e-10)
    e, f = qtmm.ellips(n, d, th0, lam), tmm.ellips(n, d, th0, lam)
    np.testing.assert_allclose([e["psi"], e["Delta"]], [f["psi"], f["Delta"]], rtol=1e-10, atol=1e-10)
    c = ["i", *rng.choice(["i", "c"], len(n) - 2), "i"]
    try:
        inc_expected = tmm.inc_tmm(pol, n, d, c, th0, lam)
    except AssertionError:  # tmm's rounding check behind an absorbing incoherent layer
        return
    inc_got = qtmm.inc_tmm(pol, n, d, c, th0, lam)
    np.testing.assert_allclose([inc_got["R"], inc_got["T"]], [inc_expected["R"], inc_expected["T"]], atol=1e-10)
    np.testing.assert_allclose(qtmm.inc_absorp_in_each_layer(inc_got),
                               tmm.inc_absorp_in_each_layer(inc_expected), atol=1e-10)


INC_KEYS = ["R", "T", "VW_list", "stackFB_list", "power_entering_list", "num_layers", "num_stacks",
            "num_inc_layers", "stack_from_inc", "inc_from_stack", "all_from_inc"]
COH_KEYS = ["r", "t", "R", "T", "power_entering", "vw_list", "kz_list", "th_list", "th_0"]


def assert_same_entries(got, expected, err_msg):
    if isinstance(expected, list):  # nan marks a missing index in tmm's lists
        expected = np.array(expected, dtype=float)
    np.testing.assert_allclose(np.array(got, dtype=np.asarray(expected).dtype), expected, rtol=1e-10, atol=1e-10,
                               err_msg=err_msg)


def decaying_roots(data):
    """coh_tmm data with every lossless evanescent inner layer on its decaying root. Lit from
    an absorbing medium, tmm's root there follows the sign of the rounding error in the
    imaginary part of n_0 sin(th_0), which differs between NumPy versions."""
    kz, th, vw = data["kz_list"].copy(), data["th_list"].copy(), data["vw_list"].copy()
    inner = np.arange(1, kz.size - 1)
    turn = inner[(data["n_list"][inner].imag == 0) & (np.abs(kz[inner].real) < 1e-12 * np.abs(kz[inner]))
                 & (kz[inner].imag < 0)]
    kz[turn], th[turn], vw[turn] = -kz[turn], np.pi - th[turn], vw[turn][:, ::-1]
    return data | {"kz_list": kz, "th_list": th, "vw_list": vw}


@pytest.mark.parametrize("seed", range(24))
@pytest.mark.parametrize("pol", ["s", "p"])
def test_random_incoherent_stacks_agree_with_tmm(seed, pol):
    """Every key and inc_* function on partly incoherent stacks: lossy incidence media at
    complex angles (odd seeds), total internal reflection at times, opaque and thin
    incoherent layers, runs of coherent layers and incoherent layers side by side."""
    rng = np.random.default_rng(100 + seed)
    n, d = random_stack(rng, 4 + seed % 6, lossy_incidence=seed % 2 == 1)
    c = ["i", *rng.choice(["i", "c"], len(n) - 2), "i"]
    # thick incoherent layers, opaque at times (tmm alters opaque coherent ones)
    d[1:-1] *= np.where(np.array(c[1:-1]) == "i", rng.choice([1.0, 1e3], len(n) - 2), 1.0)
    th0, lam = incidence_angle(rng, n[0]), rng.uniform(300.0, 900.0)
    try:
        expected = tmm.inc_tmm(pol, n, d, c, th0, lam)
    except AssertionError:  # tmm's rounding check behind an absorbing incoherent layer
        pytest.skip("tmm refuses this stack")
    got = qtmm.inc_tmm(pol, n, d, c, th0, lam)
    assert got["all_from_stack"] == expected["all_from_stack"]
    for key in INC_KEYS:
        assert_same_entries(got[key], expected[key], key)
    for key in ["coh_tmm_data_list", "coh_tmm_bdata_list"]:
        assert len(got[key]) == len(expected[key])
        for i, (a, b) in enumerate(zip(got[key], expected[key])):
            kz0 = b["kz_list"][0]
            # lit from an evanescent medium (beyond its critical angle), T and the power
            # entering divide by a flux that is rounding noise, in tmm as here
            noise = abs(kz0.real) < 1e-12 * abs(kz0)
            a, b = decaying_roots(a), decaying_roots(b)
            for field in [f for f in COH_KEYS if not (noise and f in ("T", "power_entering"))]:
                assert_same_entries(a[field], b[field], f"{key}[{i}][{field}]")
    assert_same_entries(qtmm.inc_absorp_in_each_layer(got), tmm.inc_absorp_in_each_layer(expected), "absorbed")
    for layer in np.flatnonzero(np.array(c) == "c"):
        # tmm's two halves summed by value: tmm's own add refuses their k_z at times,
        # unequal in the last bit
        stack, within = expected["stack_from_all"][layer]
        (front, back), z = expected["stackFB_list"][stack], rng.uniform(0.0, d[layer], 5)
        want = (front * tmm.absorp_analytic_fn().fill_in(expected["coh_tmm_data_list"][stack], within).run(z)
                + back * tmm.absorp_analytic_fn().fill_in(expected["coh_tmm_bdata_list"][stack], -1 - within)
                .flip().run(z))
        assert_same_entries(qtmm.inc_find_absorp_analytic_fn(layer, got).run(z), want, f"density in {layer}")
        assert_same_entries(qtmm.inc_position_resolved(layer, z, got)["absor"], want.real, f"profile in {layer}")
    # an incoherent medium's flux decays both ways from tmm's intensities at its front
    # (where it lets light through: behind an opaque one tmm's W is rounding noise)
    angles = tmm.list_snell(n, th0)
    for layer in [j for j in range(1, len(n)) if c[j] == "i"]:
        alpha = 4 * np.pi * abs((n[layer] * np.cos(angles[layer])).imag) / lam
        v, w = expected["VW_list"][expected["inc_from_all"][layer]]
        if layer < len(n) - 1 and alpha * d[layer] > 30:
            continue
        z = np.append(rng.uniform(0.0, min(d[layer], 1e5), 4), 0.0 if np.isinf(d[layer]) else d[layer])
        want = alpha * (v * np.exp(-alpha * z) + (w * np.exp(alpha * z) if w else 0.0))
        assert_same_entries(qtmm.inc_position_resolved(layer, z, got)["absor"], want, f"profile in {layer}")


def test_inc_depth_functions_take_layers_of_one_point():
    n, d, c = [1, 1.5, 2 + 0.1j, 1], [np.inf, 1e4, 50, np.inf], ["i", "i", "c", "i"]
    one, two = qtmm.inc_tmm("s", n, d, c, 0.3, 500), qtmm.inc_tmm("s", n, d, c, [0.3, 0.4], 500)
    with pytest.raises(ValueError, match="layer 1 is incoherent"):
        qtmm.inc_find_absorp_analytic_fn(1, one)
    with pytest.raises(ValueError, match="one th_0 and one lam_vac"):
        qtmm.inc_find_absorp_analytic_fn(2, two)
    with pytest.raises(ValueError, match="one th_0 and one lam_vac"):
        qtmm.inc_position_resolved(2, 1.0, two)
    with pytest.raises(ValueError, match="between 0 and 3"):
        qtmm.inc_position_resolved(4, 1.0, one)
    # a layer's back face is its own: the density there is the layer's, not the exit medium's 0
    at_back = qtmm.inc_position_resolved(2, 50.0, one)["absor"]
    assert at_back == pytest.approx(qtmm.inc_find_absorp_analytic_fn(2, one).run(50.0).real, rel=1e-12)
    assert at_back > 0


def test_arrays_of_wavelengths_and_angles_are_one_call_each_point_as_tmm():
    n, d = [1.0, 1.38 + 0.01j, 2.1, 1.52], [np.inf, 120.0, 80.0, np.inf]
    lam = np.linspace(400.0, 800.0, 5)
    th = np.linspace(0.0, 1.2, 4)
    for pol in "sp":
        by_lam = qtmm.coh_tmm(pol, n, d, 0.4, lam)
        by_th = qtmm.coh_tmm(pol, n, d, th, 550.0)
        paired = qtmm.coh_tmm(pol, n, d, th, lam[:4])
        for i, x in enumerate(lam):
            data = tmm.coh_tmm(pol, n, d, 0.4, x)
            np.testing.assert_allclose(by_lam["r"][i], data["r"], atol=1e-12)
            np.testing.assert_allclose(by_lam["vw_list"][..., i], data["vw_list"], atol=1e-12)
        for i, x in enumerate(th):
            np.testing.assert_allclose(by_th["T"][i], tmm.coh_tmm(pol, n, d, x, 550.0)["T"], atol=1e-12)
            np.testing.assert_allclose(paired["R"][i], tmm.coh_tmm(pol, n, d, x, lam[i])["R"], atol=1e-12)


@pytest.mark.parametrize("call, error", [
    (lambda: qtmm.coh_tmm("x", [1, 1.5], [np.inf, np.inf], 0, 500), "pol must be 's' or 'p'"),
    (lambda: qtmm.coh_tmm("s", [1, 1.5], [np.inf, 3.0], 0, 500), "d_list must start and end with inf"),
    (lambda: qtmm.coh_tmm("s", [1 + 0.1j, 1.5], [np.inf, np.inf], 0.3, 500), "must be real"),
    (lambda: qtmm.coh_tmm("s", [1, 1.5], [np.inf, np.inf], np.pi - 0.3, 500), "forward angle"),
])
def test_tmm_inputs_refused_in_our_words(call, error):
    with pytest.raises(ValueError, match=error):
        call()


@pytest.mark.parametrize("coherent", [None, [True, False]])
def test_solve_takes_complex_angles_of_a_lossy_incidence_medium(coherent):
    import quilmo_lab as ql

    n = np.array([1.5 + 0.1j, 2.0 + 0.3j, 1.2 + 0.01j, 3.0])
    d = np.array([np.inf, 100.0, 300.0, np.inf])
    angles = np.array([tmm.snell(1.0, n[0], x) for x in (0.0, 0.7, 1.4)])
    res = ql.solve(n, d[1:-1], [400.0, 650.0], angles, coherent=coherent)
    assert np.iscomplexobj(res.angles)
    c = ["i", "c", "i", "i"] if coherent else ["i", "c", "c", "i"]
    for a, th in enumerate(angles):
        for w, lam in enumerate([400.0, 650.0]):
            for pol, R, T in (("s", res.R_s, res.T_s), ("p", res.R_p, res.T_p)):
                data = tmm.inc_tmm(pol, n, d, c, th, lam)
                np.testing.assert_allclose([R[0, a, w], T[0, a, w]], [data["R"], data["T"]], rtol=1e-12, atol=1e-14)


def test_solve_takes_the_exit_wave_forward_under_a_complex_tangential_term():
    # a real oblique angle in a lossy incidence medium makes n0 sin(theta) complex; in the
    # lossless exit medium the principal root then runs backward and must be turned
    import quilmo_lab as ql

    res = ql.solve([1.5 + 0.2j, 1.0], [], [500.0], [0.6])
    n0, n1 = 1.5 + 0.2j, 1.0
    u = (n0 * np.sin(0.6)) ** 2
    k0, k1 = np.sqrt(n0 ** 2 - u), np.sqrt(n1 ** 2 - u)
    assert k1.imag < 0  # the principal root: backward
    k1 = -k1
    np.testing.assert_allclose(res.r_s[0, 0, 0], (k0 - k1) / (k0 + k1), rtol=1e-13)
    np.testing.assert_allclose(res.T_s[0, 0, 0], abs(2 * k0 / (k0 + k1)) ** 2 * k1.real / k0.real, rtol=1e-13)


def test_one_point_reads_as_plain_numbers():
    import quilmo_lab as ql

    res = ql.solve([1.0, 1.38 + 0.01j, 1.52], [99.6], [450.0, 550.0], [0.0, 0.5])
    point = res.point(0, 1, -1)
    assert point["R_p"] == res.R_p[0, 1, 1] and point["t_s"] == res.t_s[0, 1, 1]
    assert point["T"] == res.T()[0, 1, 1]
    assert "r_s" not in ql.solve([1.0, 1.5, 1.0], [1e6], [500.0], coherent=[False]).point()
    with pytest.raises(ValueError, match="a must be an index below 2"):
        res.point(a=2)


def plotted_curves(function):
    """Every curve that one of tmm's examples draws, as (x, y) arrays."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    plt.close("all")
    with contextlib.redirect_stdout(io.StringIO()), np.errstate(all="ignore"), \
            pytest.MonkeyPatch.context() as patch:
        patch.setattr(plt, "show", lambda *args, **kwargs: None)
        function()
    curves = [(np.asarray(line.get_xdata(), dtype=float), np.asarray(line.get_ydata(), dtype=float))
              for number in plt.get_fignums() for line in plt.figure(number).axes[0].lines]
    plt.close("all")
    return curves


# sample5 draws colours through colorpy, which the examples need installed
@pytest.mark.parametrize("name", ["sample1", "sample2", "sample3", "sample4", "sample6"])
def test_tmm_own_examples_draw_tmm_curves(name):
    pytest.importorskip("matplotlib")
    expected = plotted_curves(getattr(tmm_module_on("tmm.tmm_core", "examples"), name))
    got = plotted_curves(getattr(tmm_module_on("quilmo_lab.tmm", "examples"), name))
    assert len(got) == len(expected) > 0
    for (x, y), (x_expected, y_expected) in zip(got, expected):
        np.testing.assert_array_equal(x, x_expected)
        np.testing.assert_allclose(y, y_expected, rtol=1e-9, atol=1e-9)


def test_an_evanescent_gap_keeps_tmm_roots():
    # Otto geometry: beyond the critical angle the lossless gap's wave is evanescent, where
    # tmm's arcsin may take the root that grows along +z; quilmo_lab.tmm reports tmm's
    n = [1.5, 1.0, 0.06 + 4.2j, 1.0]
    d = [np.inf, 600.0, 45.0, np.inf]
    for th in (0.85, -0.85, 1.2):
        for pol in "sp":
            expected, got = tmm.coh_tmm(pol, n, d, th, 633.0), qtmm.coh_tmm(pol, n, d, th, 633.0)
            for key in ["r", "R", "T", "vw_list", "kz_list", "th_list"]:
                np.testing.assert_allclose(got[key], expected[key], rtol=1e-10, atol=1e-12, err_msg=key)
            for distance in (0.0, 300.0, 600.0):
                a, b = qtmm.position_resolved(1, distance, got), tmm.position_resolved(1, distance, expected)
                np.testing.assert_allclose([a["poyn"], a["absor"]], [b["poyn"], b["absor"]], atol=1e-12)


@pytest.mark.parametrize("seed", range(4))
def test_result_per_medium_values_are_tmm_lists(seed):
    import quilmo_lab as ql

    rng = np.random.default_rng(100 + seed)
    n, d = random_stack(rng, 3 + seed, lossy_incidence=False)
    lam, angles = np.array([420.0, 733.0]), np.array([0.0, 0.6, -1.1])
    res = ql.solve(n, d[1:-1], lam, angles)
    for a, th in enumerate(angles):
        for w, x in enumerate(lam):
            for pol, waves in (("s", res.waves_s), ("p", res.waves_p)):
                data = tmm.coh_tmm(pol, n, d, th, x)
                np.testing.assert_allclose(res.kz[0, a, :, w], data["kz_list"], rtol=1e-12, atol=1e-15)
                np.testing.assert_allclose(res.layer_angles[0, a, :, w], data["th_list"], rtol=1e-12, atol=1e-15)
                # tmm leaves the incidence row 0; the result holds 1 and r there
                np.testing.assert_allclose(waves[0, a, 1:, :, w], data["vw_list"][1:], rtol=1e-10, atol=1e-12)
                np.testing.assert_allclose(waves[0, a, 0, :, w], [1.0, data["r"]], rtol=1e-12, atol=1e-14)
    mixed = ql.solve(n, d[1:-1], lam, angles, coherent=[False] + [True] * (len(n) - 3))
    np.testing.assert_array_equal(mixed.kz, res.kz)
    with pytest.raises(AttributeError, match="incoherent layers"):
        mixed.waves_p


def test_profile_fields_are_position_resolved_and_interfaces_belong_behind():
    import quilmo_lab as ql

    n = [1.0, 2.0 + 0.4j, 1.45, 3.6 + 0.02j]
    d = [np.inf, 60.0, 110.0, np.inf]
    depths = np.array([-40.0, 0.0, 25.0, 60.0, 100.0, 170.0, 400.0])  # 0, 60 and 170 on interfaces
    lam = np.array([450.0, 800.0])
    prof = ql.profile(n, d[1:-1], lam, 0.7, depths)
    for w, x in enumerate(lam):
        for pol, e, flux, density in (("s", prof.E_s, prof.poynting_s, prof.density_s),
                                      ("p", prof.E_p, prof.poynting_p, prof.density_p)):
            data = tmm.coh_tmm(pol, n, d, 0.7, x)
            for i, depth in enumerate(depths):
                layer, z = tmm.find_in_structure_with_inf(d, depth)
                want = tmm.position_resolved(layer, z, data)
                np.testing.assert_allclose(e[:, w, i], [want["Ex"], want["Ey"], want["Ez"]], rtol=1e-10,
                                           atol=1e-12)
                np.testing.assert_allclose([flux[w, i], density[w, i]], [want["poyn"], want["absor"]],
                                           rtol=1e-10, atol=1e-13)
    with pytest.raises(AttributeError, match="incoherent layers"):
        ql.profile(n, d[1:-1], lam, 0.7, depths, coherent=[True, False]).E_s


def test_grazing_fields_vanish():
    import quilmo_lab as ql

    prof = ql.profile([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], np.pi / 2, [-10.0, 50.0, 200.0])
    assert not prof.E_p.any() and not prof.poynting_s.any()
    res = ql.solve([1.0, 2.0 + 0.1j, 1.5], [100.0], [500.0], np.pi / 2)
    np.testing.assert_array_equal(res.waves_s[0, 0, :, :, 0], [[1, -1], [0, 0], [0, 0]])


@pytest.mark.parametrize("pol", ["s", "p"])
@pytest.mark.parametrize("n_list", [[1.0, 1.5], [1.0, 2.0 + 0.1j, 1.5], [1.5, 1.0]])
def test_coh_tmm_exactly_grazing_reflects_everything(pol, n_list):
    d_list = [np.inf] + [100.0] * (len(n_list) - 2) + [np.inf]
    one = qtmm.coh_tmm(pol, n_list, d_list, np.pi / 2, 500.0)
    assert (one["R"], one["T"], one["power_entering"]) == (1.0, 0.0, 0.0)
    scan = qtmm.coh_tmm(pol, n_list, d_list, np.array([0.3, np.pi / 2]), 500.0)
    assert scan["power_entering"][1] == 0.0 and np.isfinite(scan["power_entering"]).all()
    assert scan["power_entering"][0] == qtmm.coh_tmm(pol, n_list, d_list, 0.3, 500.0)["power_entering"]


@pytest.mark.parametrize("angle", [np.pi / 2, -np.pi / 2, complex(np.pi / 2, 0.0)])
def test_grazing_limit_in_an_absorbing_incidence_medium(angle):
    import quilmo_lab as ql

    res = ql.solve([1.5 + 0.1j, 2.0 + 0.5j, 1.0], [50.0], [500.0], angle)
    np.testing.assert_array_equal([res.R_s, res.R_p, res.T_s, res.T_p], [[[[1.0]]], [[[1.0]]], [[[0.0]]], [[[0.0]]]])
    np.testing.assert_array_equal(res.absorbed_s, 0.0)


def test_a_cone_takes_real_angles_only():
    import quilmo_lab as ql

    with pytest.raises(ValueError, match="angles must be real with a cone"):
        ql.solve([1.5 + 0.1j, 1.0], [], [500.0], [0.3 + 0.1j], cone=ql.Cone(0.05))


@pytest.mark.parametrize("seed", range(6))
def test_the_other_functions_agree_with_tmm(seed):
    rng = np.random.default_rng(200 + seed)
    n, d = random_stack(rng, 4 + seed % 3, lossy_incidence=seed % 2 == 1)
    th0, lam = incidence_angle(rng, n[0]), rng.uniform(300.0, 900.0)
    close = dict(rtol=1e-10, atol=1e-12)
    got, want = qtmm.unpolarized_RT(n, d, th0, lam), tmm.unpolarized_RT(n, d, th0, lam)
    np.testing.assert_allclose([got["R"], got["T"]], [want["R"], want["T"]], **close)
    th_list = tmm.list_snell(n, th0)
    np.testing.assert_allclose(qtmm.list_snell(n, th0), th_list, **close)
    for pol in "sp":
        for j in range(len(n) - 1):
            args = (pol, n[j], n[j + 1], th_list[j], th_list[j + 1])
            for name in ["interface_r", "interface_t", "interface_R", "interface_T"]:
                np.testing.assert_allclose(getattr(qtmm, name)(*args), getattr(tmm, name)(*args), **close)
        r = tmm.interface_r(pol, n[0], n[1], th_list[0], th_list[1])
        np.testing.assert_allclose(qtmm.power_entering_from_r(pol, r, n[0], th_list[0]),
                                   tmm.power_entering_from_r(pol, r, n[0], th_list[0]), **close)
        ours, theirs = qtmm.coh_tmm(pol, n, d, th0, lam), tmm.coh_tmm(pol, n, d, th0, lam)
        for layer in range(1, len(n) - 1):
            a = qtmm.absorp_analytic_fn().fill_in(ours, layer)
            b = tmm.absorp_analytic_fn().fill_in(theirs, layer)
            z = np.linspace(0.0, d[layer], 7)
            np.testing.assert_allclose(a.run(z), b.run(z), **close)
            np.testing.assert_allclose(a.copy().flip().scale(0.3).run(z), b.copy().flip().scale(0.3).run(z), **close)
    starts = tmm.layer_starts(d)
    np.testing.assert_array_equal(qtmm.layer_starts(d), starts)
    for depth in [-3.0, starts[-1] + 5.0, rng.uniform(0.0, starts[-1])]:
        (layer, z), (want_layer, want_z) = qtmm.find_in_structure_with_inf(d, depth), tmm.find_in_structure_with_inf(
            d, depth)
        assert layer == want_layer
        assert z == pytest.approx(want_z, abs=1e-9)  # tmm subtracts layer by layer
    for j, depth in enumerate(starts[1:], start=1):
        # on an interface: the medium behind it, at its front (tmm's subtraction may round to just
        # before the interface, the end of the medium in front)
        assert qtmm.find_in_structure_with_inf(d, depth) == [j, pytest.approx(0.0, abs=1e-9)]
        want_layer, want_z = tmm.find_in_structure_with_inf(d, depth)
        assert (want_layer, want_z) == (j, pytest.approx(0.0, abs=1e-9)) or (
            want_layer == j - 1 and want_z == pytest.approx(d[j - 1], abs=1e-9))


def test_inc_tmm_takes_arrays_and_keeps_each_stacks_data():
    n = [1.0, 1.46, 2.0 + 0.05j, 1.38, 1.52, 1.0]
    d = [np.inf, 2e5, 80.0, 120.0, 1e6, np.inf]
    c = ["i", "i", "c", "c", "i", "i"]
    lam, th = np.array([450.0, 600.0, 750.0]), np.array([0.0, 0.4, 0.9])
    for pol in "sp":
        by_lam, by_th = qtmm.inc_tmm(pol, n, d, c, 0.4, lam), qtmm.inc_tmm(pol, n, d, c, th, 600.0)
        paired = qtmm.inc_tmm(pol, n, d, c, th, lam)
        for i in range(3):
            for data, (angle, x) in ((by_lam, (0.4, lam[i])), (by_th, (th[i], 600.0)), (paired, (th[i], lam[i]))):
                want = tmm.inc_tmm(pol, n, d, c, angle, x)
                np.testing.assert_allclose([data["R"][i], data["T"][i]], [want["R"], want["T"]], atol=1e-12)
                np.testing.assert_allclose([x[i] for x in qtmm.inc_absorp_in_each_layer(data)],
                                           tmm.inc_absorp_in_each_layer(want), atol=1e-12)
                for key in ["VW_list", "stackFB_list", "power_entering_list"]:
                    np.testing.assert_allclose(np.asarray(data[key])[..., i], np.array(want[key], dtype=float),
                                               atol=1e-12, err_msg=key)
        one, want = qtmm.inc_tmm(pol, n, d, c, 0.4, 600.0), tmm.inc_tmm(pol, n, d, c, 0.4, 600.0)
        for key in ["coh_tmm_data_list", "coh_tmm_bdata_list"]:
            assert len(one[key]) == len(want[key]) == 1
            for field in ["r", "t", "R", "T", "power_entering", "vw_list"]:
                np.testing.assert_allclose(one[key][0][field], want[key][0][field], rtol=1e-10, atol=1e-12)


@pytest.mark.parametrize("pol", ["s", "p"])
@pytest.mark.parametrize("n, d, th", [
    ([1.0, 2.0 + 0.1j, 1.38, 1.5], [np.inf, 80.0, 120.0, np.inf], 0.4),
    ([1.5 + 0.1j, 2.0 + 0.5j, 1.0], [np.inf, 50.0, np.inf], np.arcsin(0.45 / (1.5 + 0.1j))),  # lossy incidence
    ([1.6, 1.0, 1.6], [np.inf, 100.0, np.inf], 1.0),  # an evanescent lossless gap: tmm's root
    ([1.0, 1.38, 1.52], [np.inf, 99.6, np.inf], np.pi / 2),  # grazing
])
def test_one_point_gives_the_values_of_a_scan_at_that_point(pol, n, d, th):
    one = qtmm.coh_tmm(pol, n, d, th, 550.0)
    scan = qtmm.coh_tmm(pol, n, d, th, np.array([550.0, 600.0]))
    for key in ["r", "t", "R", "T", "power_entering"]:
        assert one[key] == scan[key][0], key
    for key in ["vw_list", "kz_list", "th_list"]:
        np.testing.assert_array_equal(one[key], np.asarray(scan[key])[..., 0], err_msg=key)
