"""Wrong uses of quilmo, one per line: mypy must report exactly the marked errors.

Each line marked `# E: <code>` must give an error of that code, and no other
line may give one. Never run.
"""

import numpy as np
from numpy.typing import NDArray

import quilmo

d = np.array([100.0])
n = np.ones((3, 4), dtype=np.complex128)
wl = np.linspace(400.0, 700.0, 4)

quilmo.DataPy(d, n.real, wl, 0.0, 0.0)  # E: arg-type
layer_count = np.arange(1)
quilmo.DataPy(layer_count, n, wl, 0.0, 0.0)  # E: arg-type
quilmo.DataPy([100.0], n, wl, 0.0, 0.0)  # E: arg-type
quilmo.DataPy(d, n, wl, "0.1", 0.0)  # E: arg-type
quilmo.DataPy(d, n, wl, 0.0)  # E: call-arg
quilmo.DataPy(d, n, wavelengths=wl, theta=0.0, phi=0.0)  # E: call-arg
setup = quilmo.DataPy(d, n, wl, 0.0, 0.0)
setup.theta = 0.5  # E: misc
result = setup.simulate()
result.r = np.zeros(4)  # E: misc
count: int = setup.phi  # E: assignment
real_index: NDArray[np.float64] = setup.n  # E: assignment
quilmo.Simulation()  # E: call-arg
setup.simulate(1)  # E: call-arg
quilmo.simulate  # E: attr-defined
