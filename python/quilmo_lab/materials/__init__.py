"""Dispersion models: a material maps vacuum wavelengths in nm to the complex index n + ik.

Every material is a refractive index n + ik (k > 0 absorbing), never a permittivity:
`from_permittivity` builds one from ε (a constant, an array or a callable ε(λ)), and
every material's `Material.permittivity` gives ε = (n + ik)² back. A callable n(λ) is a
material through `Function`.
"""

from quilmo_lab.materials.base import Material
from quilmo_lab.materials.cauchy import Cauchy
from quilmo_lab.materials.constant import Constant
from quilmo_lab.materials.effective_medium import Bruggeman, MaxwellGarnett
from quilmo_lab.materials.function import Function
from quilmo_lab.materials.library import MaterialLibrary, library
from quilmo_lab.materials.oscillators import Drude, DrudeLorentz
from quilmo_lab.materials.permittivity import from_permittivity
from quilmo_lab.materials.refractiveindex_formulas import RefractiveIndexFormula
from quilmo_lab.materials.refractiveindex_info import load_from_database, material_from_page, read_refractiveindex_info
from quilmo_lab.materials.sellmeier import Sellmeier
from quilmo_lab.materials.separate_nk import SeparateNK
from quilmo_lab.materials.tabulated import Tabulated
from quilmo_lab.materials.tauc_lorentz import TaucLorentz

__all__ = [
    "Bruggeman", "Cauchy", "Constant", "Drude", "DrudeLorentz", "Function", "Material", "MaterialLibrary",
    "MaxwellGarnett", "RefractiveIndexFormula", "Sellmeier", "SeparateNK", "Tabulated", "TaucLorentz",
    "from_permittivity", "library", "load_from_database", "material_from_page", "read_refractiveindex_info",
]
