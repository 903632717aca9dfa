"""Dispersion models: a material maps vacuum wavelengths in nm to the complex index n + ik."""

from .base import Material
from .cauchy import Cauchy
from .constant import Constant
from .effective_medium import Bruggeman, MaxwellGarnett
from .library import MaterialLibrary, library
from .oscillators import Drude, DrudeLorentz
from .refractiveindex_formulas import RefractiveIndexFormula
from .refractiveindex_info import load_from_database, material_from_page, read_refractiveindex_info
from .sellmeier import Sellmeier
from .separate_nk import SeparateNK
from .tabulated import Tabulated
from .tauc_lorentz import TaucLorentz

__all__ = [
    "Bruggeman", "Cauchy", "Constant", "Drude", "DrudeLorentz", "Material", "MaterialLibrary", "MaxwellGarnett",
    "RefractiveIndexFormula", "Sellmeier", "SeparateNK", "Tabulated", "TaucLorentz", "library",
    "load_from_database", "material_from_page", "read_refractiveindex_info",
]
