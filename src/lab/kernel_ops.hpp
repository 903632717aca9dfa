// The kernel's templated complex and matrix operations, visible in the
// engine's namespace for the complex-shaped types it defines or borrows (the
// kernel's vector lanes, complex jets).
#pragma once

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

using optics::operator+;
using optics::operator-;
using optics::operator*;
using optics::operator/;

}  // namespace quilmo::lab
