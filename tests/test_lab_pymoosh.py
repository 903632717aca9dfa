"""PyMoosh as the oracle: its classic computations (examples/pymoosh_examples.py) and its t_p."""

import pathlib
import sys

import numpy as np
import pytest

import quilmo_lab as ql

pm = pytest.importorskip("PyMoosh")

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import pymoosh_examples  # noqa: E402

TOLERANCE = 1e-10
# PyMoosh's own use of NumPy APIs that newer NumPy deprecates: not ours to report
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning:PyMoosh.*")


@pytest.mark.parametrize("case", pymoosh_examples.CASES)
def test_pymoosh_examples_agree(case):
    comparison = pymoosh_examples.CASES[case]()
    assert comparison.quilmo.keys() == comparison.pymoosh.keys()
    for name, ours in comparison.quilmo.items():
        theirs = np.asarray(comparison.pymoosh[name])
        assert ours.shape == theirs.shape, name  # no broadcasting between the two
        assert np.all(np.isfinite(ours)), name
    deviations = comparison.deviations()
    assert max(deviations.values()) <= TOLERANCE, deviations


@pytest.mark.parametrize("seed", range(6))
def test_magnetic_t_p_is_pymoosh_s_t_p_on_random_stacks(seed):
    rng = np.random.default_rng(seed)
    layers = int(rng.integers(0, 5))
    indices = [rng.uniform(1.0, 2.5)] + [complex(rng.uniform(1.2, 3.5), rng.uniform(0.0, 0.4) * (seed % 2))
                                         for _ in range(layers)] + [complex(rng.uniform(1.0, 4.0), rng.uniform(0, 2))]
    thicknesses = list(rng.uniform(10.0, 400.0, layers))
    wavelength, angle = rng.uniform(350.0, 1200.0), rng.uniform(0.0, 1.45)
    structure = pm.Structure([n * n for n in indices], list(range(len(indices))), [0.0, *thicknesses, 0.0],
                             verbose=False)
    result = ql.solve(indices, thicknesses, [wavelength], angle)
    for polarisation, number in (("s", 0), ("p", 1)):
        r, t, R, T = pm.coefficient(structure, wavelength, angle, number)
        ours_t = getattr(result, f"t_{polarisation}")
        if polarisation == "p":
            ours_t = ql.magnetic_t_p(ours_t, indices[0], indices[-1])
            assert ql.electric_t_p(t, indices[0], indices[-1]) == pytest.approx(result.t_p[0, 0, 0], abs=TOLERANCE)
        assert ours_t[0, 0, 0] == pytest.approx(t, abs=TOLERANCE)
        assert getattr(result, f"r_{polarisation}")[0, 0, 0] == pytest.approx(r, abs=TOLERANCE)
        assert getattr(result, f"R_{polarisation}")[0, 0, 0] == pytest.approx(R, abs=TOLERANCE)
        assert getattr(result, f"T_{polarisation}")[0, 0, 0] == pytest.approx(T, abs=TOLERANCE)


def test_the_example_script_writes_its_figure(tmp_path, monkeypatch, capsys):
    pytest.importorskip("matplotlib")
    monkeypatch.setattr(sys, "argv", ["pymoosh_examples.py", "--output-dir", str(tmp_path)])
    pymoosh_examples.main()
    assert (tmp_path / "pymoosh_examples.png").stat().st_size > 10_000
    printed = capsys.readouterr().out
    assert printed.count("largest deviation from PyMoosh") == len(pymoosh_examples.CASES)
