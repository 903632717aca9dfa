"""quilmo_lab.tmm against tmm itself: tmm's own tests and random stacks."""

import contextlib
import importlib.util
import io
import re
import types

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
    exec(compile(source, spec.origin, "exec"), module.__dict__)
    return module


def printed_numbers(function):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), np.errstate(all="ignore"):
        function()
    # tmm's own warnings (about opaque layers it alters) are not results
    text = "\n".join(line for line in out.getvalue().splitlines() if not line.startswith("Warning"))
    return text, [complex(re.sub(r"\s", "", x)) for x in NUMBER.findall(text)]


TESTS = ["basic_test", "position_resolved_test", "position_resolved_test2", "absorp_analytic_fn_test",
         "incoherent_test", "RT_test", "coh_overflow_test"]


@pytest.mark.parametrize("name", TESTS)
def test_tmm_own_tests_print_tmm_numbers(name):
    expected_text, expected = printed_numbers(getattr(tmm_module_on("tmm.tmm_core", "tests"), name))
    text, got = printed_numbers(getattr(tmm_module_on("quilmo_lab.tmm", "tests"), name))
    assert len(got) == len(expected), (text, expected_text)
    # NumPy prints the arrays of coh_overflow_test with 8 digits, rounded where the two differ
    tolerance = 5e-9 if name == "coh_overflow_test" else 1e-9
    np.testing.assert_allclose(np.array(got), np.array(expected), rtol=tolerance, atol=tolerance, err_msg=text)
