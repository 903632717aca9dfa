"""quilmo_lab: thin-film optics beyond R and T, on the kernel of quilmo.

Three fronts solve stacks of thin films over wavelengths and angles of incidence, in
the conventions of `tmm` (n + ik with k > 0 absorbing):

- `solve`: amplitudes r, t, powers R, T, ellipsometric angles psi, delta, the
  fraction absorbed in each layer and, with ``derivatives=True``, the derivatives of
  all of them by every layer thickness, for batches of stacks (a `Result`);
- `profile`: the absorbed power density and |E|^2 in depth (a `Profile`);
- `dispersion`: the phase, group delay, GDD and TOD of r or t (a `Dispersion`);
- `solve_anisotropic`: Jones and Mueller matrices of stacks of anisotropic media
  (permittivity tensors, `Uniaxial`, `Biaxial`, `TwistedLayer`; an `AnisotropicResult`).

Each takes either the arrays (``indices, thicknesses, wavelengths, ...``) or a
`Stack` of `Layer` objects and wavelengths (``stack, wavelengths, ...``); a Stack has
the same fronts as methods. Layers treated by intensity (``coherent=``) model thick
substrates. Where powers are weighted, ``polarisation`` is "s", "p", "unpolarized"
(the mean of s and p) or an angle in radians.

Materials (dispersion models, refractiveindex.info files, the built-in `library`, any
callable n(λ)) live in `quilmo_lab.materials`. Every medium is a refractive index n + ik,
never a permittivity: `quilmo_lab.materials.from_permittivity` converts ε, as PyMoosh
users give it, and `magnetic_t_p` gives t_p as PyMoosh reports it. The subpackage `quilmo_lab.design` (targets, refine,
needle, tolerance; needs SciPy) and the modules `quilmo_lab.fit` (thicknesses and
dispersion parameters from measurements; SciPy) and `quilmo_lab.colour` (CIE colour;
colour-science) build on these. `quilmo_lab.distributed` runs grids, tolerance runs,
map fits and training sets on Dask (the "distributed" extra), imported on first use.

The examples of the documentation assume ``import numpy as np`` and
``import quilmo_lab as ql``.

Examples
--------
>>> res = ql.solve([1.0, 1.38, 1.52], [99.6], [550.0])
>>> print(np.round(res.R()[0, 0], 4))
[0.0126]
"""

import importlib
from typing import TYPE_CHECKING

from quilmo_lab import materials
from quilmo_lab.amplitude_conventions import electric_t_p, magnetic_t_p
from quilmo_lab.anisotropic import AnisotropicResult, solve_anisotropic
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
from quilmo_lab.cone import Cone
from quilmo_lab.measurement import AveragedResult
from quilmo_lab.profile import Profile, profile
from quilmo_lab.result import Result, ellipsometry_convention
from quilmo_lab.solve import solve
from quilmo_lab.slit import Slit
from quilmo_lab.stack import Layer, Stack
from quilmo_lab.tensors import Biaxial, TwistedLayer, Uniaxial, euler_matrix, rotate_tensor


if TYPE_CHECKING:
    from quilmo_lab import distributed
else:
    def __getattr__(name: str) -> object:
        # the Dask fronts load on first use, so that importing quilmo_lab stays light
        if name == "distributed":
            return importlib.import_module("quilmo_lab.distributed")
        raise AttributeError(f"module 'quilmo_lab' has no attribute {name!r}")


__all__ = [
    "AnisotropicResult",
    "Biaxial",
    "TwistedLayer",
    "Uniaxial",
    "euler_matrix",
    "rotate_tensor",
    "solve_anisotropic",
    "AveragedResult",
    "Bruggeman",
    "Cauchy",
    "Cone",
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
    "Slit",
    "Stack",
    "Tabulated",
    "TaucLorentz",
    "dispersion",
    "electric_t_p",
    "ellipsometry_convention",
    "library",
    "load_from_database",
    "magnetic_t_p",
    "profile",
    "materials",
    "read_refractiveindex_info",
    "solve",
]
