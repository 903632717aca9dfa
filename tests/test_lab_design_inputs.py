"""The design and colour helpers under mistaken arguments: each a ValueError or TypeError
naming the parameter, where before a layer was dropped silently, every layer fixed, or
ZeroDivisionError, MemoryError and colour-science's own errors escaped."""

import numpy as np
import pytest

import quilmo_lab as ql
import quilmo_lab.design as design
from quilmo_lab.colour import spectrum_colour, stack_colour

pytest.importorskip("scipy")

TWO_LAYERS = ql.Stack([ql.Layer(1.38, 90.0), ql.Layer(2.1, 60.0)], exit=1.52)
TARGET = design.Target("R", np.linspace(450.0, 650.0, 5), value=0.0, tolerance=0.01)


@pytest.mark.parametrize("call, error, text", [
    (lambda: design.with_thicknesses(TWO_LAYERS, [90.0]), ValueError, "thicknesses must have 2 entries; received 1"),
    (lambda: design.refine(TWO_LAYERS, [TARGET], fixed=[True]), ValueError, "one per layer"),
    (lambda: design.refine(TWO_LAYERS, [TARGET], fixed=[2]), ValueError, "indices of the 2 layers"),
    (lambda: design.refine(TWO_LAYERS, [TARGET], fixed=["a"]), TypeError, "fixed must be layer indices"),
    (lambda: design.needle(TWO_LAYERS, [TARGET], [ql.Constant(2.3)], spacing=0), ValueError, "spacing must be greater"),
    (lambda: design.needle(TWO_LAYERS, [TARGET], [ql.Constant(2.3)], spacing=-1), ValueError, "spacing must be greater"),
    (lambda: design.needle(TWO_LAYERS, [TARGET], [ql.Constant(2.3)], spacing=1e-7), ValueError,
     "at most 100000 needle positions"),
    (lambda: stack_colour(TWO_LAYERS, step=0), ValueError, "step must be at least 0.01"),
    (lambda: stack_colour(TWO_LAYERS, step=1e4), ValueError, "step must be at most"),
    (lambda: ql.TaucLorentz(100, 3, 1e-9, 3), ValueError, "closed form finite"),
    (lambda: spectrum_colour([360.0, np.nan, 830.0], [0.1, 0.2, 0.3]), ValueError, "wavelengths must be finite"),
    (lambda: spectrum_colour([360.0, 500.0, 830.0], [0.1, np.nan, 0.3]), ValueError, "values must be finite"),
    (lambda: spectrum_colour([360.0, 500.0, 500.0, 830.0], [0.1, 0.2, 0.9, 0.3]), ValueError, "must not repeat"),
    (lambda: spectrum_colour([360.0, 830.0], [0.1 + 1j, 0.3]), TypeError, "values must hold real numbers"),
])
def test_design_and_colour_mistakes_name_the_parameter(call, error, text):
    pytest.importorskip("colour")
    with pytest.raises(error, match=text):
        call()


def test_refine_takes_flags_as_well_as_indices():
    by_flags = design.refine(TWO_LAYERS, [TARGET], fixed=[True, False], bounds=(20.0, 200.0))
    by_index = design.refine(TWO_LAYERS, [TARGET], fixed=[0], bounds=(20.0, 200.0))
    assert by_flags.stack.thicknesses[0] == 90.0 and by_flags.stack.thicknesses[1] != 60.0
    assert np.array_equal(by_flags.stack.thicknesses, by_index.stack.thicknesses)
