// Registers quilmo_lab._engine.coherent_point: one point of one coherent stack
// for callers that make many single calls (quilmo_lab.tmm).
#pragma once

#include <nanobind/nanobind.h>

void bind_point(nanobind::module_& m);
