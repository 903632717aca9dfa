// The kernel's names (optics/kernel.hpp) as the engine spells them, and the
// kernel's templated complex and matrix operations made visible for the
// complex-shaped types the engine defines or borrows (vector lanes, Taylor
// jets): those types live outside namespace optics, where argument-dependent
// lookup alone would not find the operators.
#pragma once

#include "optics/kernel.hpp"

namespace quilmo::lab {

using optics::Complex;
using optics::TransferMatrix;
using optics::kernel::ComplexLanes;
using optics::kernel::MatrixLanes;
using optics::kernel::Medium;

using optics::operator+;
using optics::operator-;
using optics::operator*;
using optics::operator/;

}  // namespace quilmo::lab
