// Registers the thickness-derivative and dispersion functions of
// quilmo_lab._engine.
#pragma once

#include <nanobind/nanobind.h>

void bind_derivatives(nanobind::module_& m);
