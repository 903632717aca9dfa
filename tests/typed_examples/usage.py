"""Correct, fully annotated use of quilmo: mypy --strict must accept it as it is.

It also runs: the assertions below hold at run time.
"""

from typing import assert_type

import numpy as np
from numpy.typing import NDArray

import quilmo
from quilmo import DataPy, Simulation


def quarter_wave_coating(wl: NDArray[np.float64]) -> DataPy:
    n = np.empty((3, wl.size), dtype=np.complex128)
    n[0], n[1], n[2] = 1.0, 1.38, 1.52
    d = np.array([550.0 / (4 * 1.38)], dtype=np.float64)
    # Keywords, an int angle and a NumPy scalar angle are all fine.
    return DataPy(d=d, n=n, wl=wl, theta=0, phi=np.float64(0.25))


def reflectance(setup: DataPy) -> NDArray[np.float64]:
    result = setup.simulate()
    assert_type(result, Simulation)
    assert_type(result.t, NDArray[np.float64])
    return result.r


wl = np.linspace(450.0, 650.0, 5)
setup = quarter_wave_coating(wl)
assert_type(setup.d, NDArray[np.float64])
assert_type(setup.n, NDArray[np.complex128])
assert_type(setup.wl, NDArray[np.float64])
assert_type(setup.theta, float)
assert_type(setup.phi, float)
r = reflectance(setup)
positional = quilmo.DataPy(setup.d, setup.n, setup.wl, np.pi / 6, 0.0).simulate()
assert r.shape == positional.r.shape == (5,)
assert float(r.max()) < 0.04  # below bare glass, 0.0426
assert quilmo.__all__ == ["DataPy", "Simulation"]
