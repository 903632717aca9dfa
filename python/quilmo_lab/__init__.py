"""quilmo_lab: thin-film optics beyond R and T, on the kernel of quilmo.

solve(indices, thicknesses, wavelengths, angles=0.0, *, threads=None) computes the
amplitudes r_s, r_p, t_s, t_p, the powers R_s, R_p, T_s, T_p and the ellipsometric
angles psi, delta of batches of coherent stacks over wavelengths and angles of
incidence, in the conventions of `tmm` (n + ik with k > 0 absorbing); with
derivatives=True also their derivatives by every layer thickness.

Materials (quilmo_lab.materials, the built-in `library`) and the object-level
Layer and Stack build the index arrays; dispersion(stack, ...) gives phase, group
delay, GDD and TOD. The subpackages design (targets, refine, needle, tolerance),
fit (thicknesses and dispersion parameters from measurements) and colour (CIE
colour of spectra, needs colour-science) build on these.
"""

from quilmo_lab.dispersion import Dispersion, dispersion
from quilmo_lab.materials import library
from quilmo_lab.result import Result, ellipsometry_convention
from quilmo_lab.solve import solve
from quilmo_lab.stack import Layer, Stack

__all__ = ["Dispersion", "Layer", "Result", "Stack", "dispersion", "ellipsometry_convention", "library", "solve"]
