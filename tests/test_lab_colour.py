"""quilmo_lab.colour through colour-science: white points, a known coating, errors."""

import sys

import numpy as np
import pytest

import quilmo_lab as ql
from quilmo_lab.colour import spectrum_colour, stack_colour

colour = pytest.importorskip("colour")

WL = np.arange(360.0, 831.0, 5.0)


@pytest.mark.parametrize("illuminant, level", [("D65", 1.0), ("A", 1.0), ("D50", 1.0), ("D65", 0.18)])
def test_flat_spectra_sit_on_the_white_point(illuminant, level):
    c = spectrum_colour(WL, np.full(WL.size, level), illuminant)
    white = colour.CCS_ILLUMINANTS["CIE 1931 2 Degree Standard Observer"][illuminant]
    np.testing.assert_allclose(c.xyY[:2], white, atol=2e-4)
    assert c.XYZ[1] == pytest.approx(100.0 * level) and c.xyY[2] == pytest.approx(100.0 * level)
    np.testing.assert_allclose(c.Lab[1:], 0.0, atol=1e-9)
    assert level < 1.0 or c.Lab[0] == pytest.approx(100.0)


def test_stack_colour_of_a_quarter_wave_layer():
    # a MgF2-like quarter wave at 550 nm on glass reflects purple: a* > 0, b* < 0
    stack = ql.Stack([ql.Layer(1.38, 550.0 / (4 * 1.38))], incident=1.0, exit=1.52)
    reflected = stack_colour(stack, "r")
    assert reflected.Lab[1] > 0 and reflected.Lab[2] < 0
    transmitted = stack_colour(stack, "t", angle=0.3, polarisation="p")
    assert transmitted.Lab[0] > 95
    red = spectrum_colour(WL, (WL > 600).astype(float))
    assert red.Lab[1] > 40 and red.xyY[0] > 0.5


def test_errors_and_the_missing_extra(monkeypatch):
    with pytest.raises(ValueError, match="must cover the visible range"):
        spectrum_colour(np.linspace(420, 680, 10), np.ones(10))
    with pytest.raises(ValueError, match="illuminant must be one of colour-science's illuminants.*; received 'D99'"):
        spectrum_colour(WL, np.ones(WL.size), "D99")
    with pytest.raises(ValueError, match=r"values must have the shape \(W,\) of the wavelengths; received shape \(3,\)"):
        spectrum_colour(WL, np.ones(3))
    monkeypatch.setitem(sys.modules, "colour", None)
    with pytest.raises(ImportError, match=r'quilmo_lab.colour needs colour-science.*pip install "quilmo\[colour\]"'):
        spectrum_colour(WL, np.ones(WL.size))
