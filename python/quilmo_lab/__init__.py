"""quilmo_lab: thin-film optics beyond R and T, on the kernel of quilmo.

solve(indices, thicknesses, wavelengths, angles=0.0, *, threads=None) computes the
amplitudes r_s, r_p, t_s, t_p, the powers R_s, R_p, T_s, T_p and the ellipsometric
angles psi, delta of batches of coherent stacks over wavelengths and angles of
incidence, in the conventions of `tmm` (n + ik with k > 0 absorbing); with
coherent=mask, thick layers treated by intensity, and the fraction absorbed in each
layer; with derivatives=True, the derivatives of amplitudes and powers by every
layer thickness. profile(indices, thicknesses, wavelengths, angle, depths) gives the
absorbed power density and |E|^2 in depth; dispersion(stack, ...) the phase, group
delay, GDD and TOD of r or t.

Materials (dispersion models, refractiveindex.info files, the built-in `library`)
live in `quilmo_lab.materials`; `Layer` and `Stack` describe a design by its
materials and solve it over any wavelengths. The subpackages design (targets,
refine, needle, tolerance; needs SciPy), fit (thicknesses and dispersion parameters
from measurements; SciPy) and colour (CIE colour of spectra; colour-science) build on
these.
"""

from quilmo_lab import materials
from quilmo_lab.dispersion import Dispersion, dispersion
from quilmo_lab.materials import (
    Bruggeman,
    Cauchy,
    Constant,
    Drude,
    DrudeLorentz,
    Material,
    MaxwellGarnett,
    RefractiveIndexFormula,
    Sellmeier,
    SeparateNK,
    Tabulated,
    TaucLorentz,
    library,
    load_from_database,
    read_refractiveindex_info,
)
from quilmo_lab.profile import Profile, profile
from quilmo_lab.result import Result, ellipsometry_convention
from quilmo_lab.solve import solve
from quilmo_lab.stack import Layer, Stack

__all__ = [
    "Bruggeman",
    "Cauchy",
    "Constant",
    "Drude",
    "Dispersion",
    "DrudeLorentz",
    "Layer",
    "Material",
    "MaxwellGarnett",
    "Profile",
    "RefractiveIndexFormula",
    "Result",
    "Sellmeier",
    "SeparateNK",
    "Stack",
    "Tabulated",
    "TaucLorentz",
    "dispersion",
    "ellipsometry_convention",
    "library",
    "load_from_database",
    "profile",
    "materials",
    "read_refractiveindex_info",
    "solve",
]
