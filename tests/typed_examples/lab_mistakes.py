"""Wrong uses of quilmo_lab, one per line: mypy must report exactly the marked errors.

Each line marked `# E: <code>` must give an error of that code, and no other
line may give one. Never run.
"""

import numpy as np

import quilmo_lab as ql

wl = np.linspace(400.0, 700.0, 4)
result = ql.solve([1.0, 1.5], [], wl)

ql.solve([1.0, 1.5], [], wl, 0.0, 2)  # E: call-overload
ql.solve([1.0, 1.5], [], wl, threads=2.0)  # E: call-overload
ql.ellipsometry_convention(result.delta, "woollam")  # E: arg-type
result.R("mean")  # E: arg-type
result.r_s = np.zeros(3, dtype=np.complex128)  # E: misc
result.R_s = result.R_p  # E: misc
mask: np.ndarray[tuple[int], np.dtype[np.bool_]] = result.R_s  # E: assignment
ql.Result()  # E: call-arg
ql.solve([1.0, 1.5, 1.0], [10.0], wl, coherent=[True], threads=None, phi=0.0)  # E: call-overload
ql.profile([1.0, 1.5], [], wl, 0.0)  # E: call-overload
ql.profile([1.0, 1.5], [], wl, 0.0, [1.0]).density_s.append(1.0)  # E: attr-defined
ql.solve([1.0, 1.5], [], wl, derivatives=1.0)  # E: call-overload
ql.dispersion(ql.Stack([]), wl, angle="0")  # E: call-overload
ql.dispersion(ql.Stack([]), wl, polarisation="unpolarized")  # E: call-overload
ql.Stack([]).solve(wl, pol="s")  # E: call-overload
