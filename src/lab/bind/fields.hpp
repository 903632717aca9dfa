// Registers the per-medium waves and the complex fields of quilmo_lab._engine.
#pragma once

#include <nanobind/nanobind.h>

void bind_fields(nanobind::module_& m);
