"""ql.dispersion: group delay, GDD and TOD against closed forms and against
differences of the phase, and the materials' higher wavelength derivatives."""

import math

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab.index_series import index_series
from quilmo_lab.materials import Cauchy, Constant

C_NM_PER_FS = 299.792458


def test_index_matched_dispersive_slab():
    # no interfaces: t = exp(i n(w) w d / c), so GD = n_g d / c and so on
    glass = Cauchy(1.45, 3600.0)
    slab = ql.Stack([ql.Layer(glass, 1000.0)], incident=glass, exit=glass)
    d = ql.dispersion(slab, [800.0], side="t")
    assert d.gd[0] == pytest.approx(4.89296832143789, rel=1e-13)
    assert d.gdd[0] == pytest.approx(0.0478126142151501, rel=1e-8)
    assert d.tod[0] == pytest.approx(0.0203063517881746, rel=1e-7)


@pytest.mark.parametrize("pol", ["s", "p"])
def test_quarter_wave_mirror_has_no_gdd_at_its_centre(pol):
    high, low = Constant(2.35), Constant(1.46)
    layers = [ql.Layer(m, 1000.0 / (4 * m.index.real)) for _ in range(10) for m in (high, low)]
    mirror = ql.Stack(layers + [ql.Layer(high, 1000.0 / 9.4)], incident=1.0, exit=1.52)
    centre = ql.dispersion(mirror, [1000.0], side="r", polarisation=pol)
    aside = mirror.dispersion([1080.0], side="r", polarisation=pol)
    assert abs(centre.gdd[0]) < 1e-9
    assert abs(aside.gdd[0]) > 1.0


@pytest.mark.parametrize("side", ["r", "t"])
@pytest.mark.parametrize("pol", ["s", "p"])
def test_derivatives_match_differences_of_the_phase(side, pol):
    # library materials (Sellmeier glass, DeVore's rutile) and an absorbing film, oblique
    stack = ql.Stack([ql.Layer("TiO2", 120.0), ql.Layer(Cauchy(1.46, 3500.0, urbach_amplitude=0.02), 180.0),
                      ql.Layer("TiO2", 60.0)], incident=1.0, exit="N-BK7")
    angle = 0.6
    w0 = 2 * math.pi * C_NM_PER_FS / 700.0
    h = 2e-5  # rad/fs
    wl = 2 * math.pi * C_NM_PER_FS / np.array([w0 - 2 * h, w0 - h, w0, w0 + h, w0 + 2 * h])
    d = ql.dispersion(stack, wl, angle, side, pol)

    def slope(f):  # fourth-order central difference at w0
        return (8 * (f[3] - f[1]) - (f[4] - f[0])) / (12 * h)

    phase = np.unwrap(d.phase)
    assert d.gd[2] == pytest.approx(slope(phase), rel=1e-7)
    assert d.gdd[2] == pytest.approx(slope(d.gd), rel=1e-6)
    assert d.tod[2] == pytest.approx(slope(d.gdd), rel=1e-5)
    # and the phase is that of solve's amplitude
    amplitude = getattr(stack.solve(wl[2:3], angle), f"{side}_{pol}")[0, 0, 0]
    assert d.phase[2] == pytest.approx(np.angle(amplitude), abs=1e-12)


def test_index_series_of_a_cauchy_film():
    film = Cauchy(1.6, 8000.0, 2.0e8)
    wl = np.array([400.0, 633.0, 1500.0])
    series = index_series(film, wl)
    b, c = 8000.0, 2.0e8
    exact = [1.6 + b / wl**2 + c / wl**4, -2 * b / wl**3 - 4 * c / wl**5, 6 * b / wl**4 + 20 * c / wl**6,
             -24 * b / wl**5 - 120 * c / wl**7]
    for k in range(4):
        np.testing.assert_allclose(series[k].real, exact[k], rtol=1e-9, atol=0)
        np.testing.assert_array_equal(series[k].imag, 0.0)


def test_batches_of_thicknesses():
    stack = ql.Stack([ql.Layer(2.1, 100.0), ql.Layer(1.45, 150.0)], incident=1.0, exit=1.52)
    wl = np.linspace(500.0, 900.0, 7)
    batch = np.array([[100.0, 150.0], [90.0, 170.0]])
    together = ql.dispersion(stack, wl, thicknesses=batch)
    assert together.gd.shape == (2, 7)
    alone = ql.dispersion(stack, wl, thicknesses=batch[1])
    np.testing.assert_array_equal(together.gdd[1], alone.gdd)


def test_arrays_with_index_derivatives_are_the_stack_bit_for_bit():
    stack = ql.Stack([ql.Layer("TiO2", 120.0), ql.Layer(Cauchy(1.46, 3500.0), 180.0)], incident=1.0, exit="N-BK7")
    wl = np.linspace(600.0, 900.0, 7)
    series = np.array([index_series(m, wl) for m in (stack.incident, *(l.material for l in stack.layers), stack.exit)])
    batch = stack.thicknesses * np.array([[1.0], [1.02]])
    for side in ("r", "t"):
        by_stack = stack.dispersion(wl, 0.3, side, "p", thicknesses=batch)
        by_arrays = ql.dispersion(series[:, 0], batch, wl, 0.3, side, "p", index_derivatives=series[:, 1:].transpose(1, 0, 2))
        for name in ("phase", "gd", "gdd", "tod"):
            assert getattr(by_arrays, name).tobytes() == getattr(by_stack, name).tobytes(), (side, name)
    # without index_derivatives the media do not disperse: constant materials give the same
    constant = ql.Stack([ql.Layer(Constant(2.1), 100.0)], incident=1.0, exit=1.52)
    plain = ql.dispersion([1.0, 2.1, 1.52], [100.0], wl, index_derivatives=None)
    np.testing.assert_array_equal(plain.gdd, constant.dispersion(wl).gdd)
    zero = ql.dispersion([1.0, 2.1, 1.52], [100.0], wl, index_derivatives=np.zeros((3, 3, 1)))
    np.testing.assert_array_equal(zero.gd, plain.gd)


def test_bad_arguments_name_themselves():
    stack = ql.Stack([ql.Layer(2.1, 100.0)], incident=1.0, exit=1.52)
    with pytest.raises(ValueError, match="side must be 'r' or 't'"):
        ql.dispersion(stack, [600.0], side="x")
    with pytest.raises(ValueError, match="polarisation must be 's' or 'p'; received 'unpolarized'"):
        ql.dispersion(stack, [600.0], polarisation="unpolarized")
    with pytest.raises(ValueError, match="thicknesses must have 1 entries or shape"):
        ql.dispersion(stack, [600.0], thicknesses=[1.0, 2.0])
    with pytest.raises(TypeError, match="derivative dn/d"):
        ql.dispersion(ql.Stack([ql.Layer(np.array([2.1 + 0j]), 100.0)], incident=1.0, exit=1.52), [600.0])
    incoherent = ql.Stack([ql.Layer(1.52, 1e6, coherent=False)], incident=1.0, exit=1.0)
    with pytest.raises(ValueError, match="only coherent layers"):
        ql.dispersion(incoherent, [600.0])
    with pytest.raises(ValueError, match=r"index_derivatives must have shape \(3, media, W\) = \(3, 3, 2\)"):
        ql.dispersion([1.0, 2.1, 1.52], [100.0], [600.0, 700.0], index_derivatives=np.zeros((3, 4, 2)))
    with pytest.raises(TypeError, match="unknown keyword argument 'index_derivatives'"):
        ql.dispersion(stack, [600.0], index_derivatives=np.zeros((3, 3, 1)))
    with pytest.raises(ValueError, match="indices must be one stack's"):
        ql.dispersion(np.ones((2, 3, 1)), [100.0], [600.0])


@pytest.mark.parametrize("thickness, gdd_rtol, tod_rtol", [(2e4, 1e-8, 1e-5), (1e5, 1e-7, 1e-4), (1e7, 1e-4, None)])
@pytest.mark.parametrize("pol", ["s", "p"])
def test_opaque_layer_reflects_as_the_stack_cut_after_it(thickness, gdd_rtol, tod_rtol, pol):
    # Before, the jet of an opaque layer's matrix was 0 x infinity: NaN from 2e4 nm of silver. The
    # higher orders lose digits to the thickness (a jet's k-th term grows as d^k and cancels in r).
    wl = [500.0, 600.0, 700.0]
    thick = ql.dispersion(ql.Stack([ql.Layer("Ag", thickness)], exit="N-BK7"), wl, 0.3, "r", pol)
    cut = ql.dispersion(ql.Stack([], exit="Ag"), wl, 0.3, "r", pol)
    for quantity, rtol in [("phase", 1e-12), ("gd", 1e-10), ("gdd", gdd_rtol), ("tod", tod_rtol)]:
        assert np.isfinite(getattr(thick, quantity)).all(), quantity
        if rtol is not None:
            np.testing.assert_allclose(getattr(thick, quantity), getattr(cut, quantity), rtol=rtol,
                                       err_msg=quantity)
