"""quilmo_lab: thin-film optics beyond R and T, on the kernel of quilmo.

solve(indices, thicknesses, wavelengths, angles=0.0, *, threads=None) computes the
amplitudes r_s, r_p, t_s, t_p, the powers R_s, R_p, T_s, T_p and the ellipsometric
angles psi, delta of batches of coherent stacks over wavelengths and angles of
incidence, in the conventions of `tmm` (n + ik with k > 0 absorbing).
"""

from quilmo_lab.result import Result, ellipsometry_convention
from quilmo_lab.solve import solve

__all__ = ["Result", "ellipsometry_convention", "solve"]
