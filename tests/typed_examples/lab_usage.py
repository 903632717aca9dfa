"""Correct, fully annotated use of quilmo_lab: mypy --strict must accept it as it is.

It also runs: the assertions below hold at run time.
"""

from typing import assert_type

import numpy as np
from numpy.typing import NDArray

import quilmo_lab as ql
from quilmo_lab import Result

wl = np.linspace(400.0, 800.0, 5)
# Lists, scalars and arrays are all accepted.
result = ql.solve([1.0, 1.38, 1.52 + 0.0j], [99.6], wl, np.radians([0.0, 45.0]), threads=2)
assert_type(result, Result)
assert_type(result.r_p, NDArray[np.complex128])
assert_type(result.R(0.5), NDArray[np.float64])
assert_type(result.shape, tuple[int, int, int])
unpolarised: NDArray[np.float64] = result.A(np.pi / 4)
delta: NDArray[np.float64] = ql.ellipsometry_convention(result.delta, "pyelli")
assert result.shape == (1, 2, 5) and unpolarised.shape == (1, 2, 5) and delta.shape == (1, 2, 5)
