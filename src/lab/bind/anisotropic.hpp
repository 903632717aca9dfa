// Registers the anisotropic (4x4) solve of quilmo_lab._engine.
#pragma once

#include <nanobind/nanobind.h>

void bind_anisotropic(nanobind::module_& m);
