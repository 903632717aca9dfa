// Thickness derivatives over the (stack, angle, wavelength) grid of a solve.
//
// The grid is that of solve_coherent (lab/grid.hpp), checked with check_grid.
// Each of the eight outputs has shape (B, A, media - 2, W): the derivative of
// the quantity at point (b, a, w) by the thickness of inner layer l. Points
// are independent and computed the same way on any thread, so the results do
// not depend on the thread count.
#pragma once

#include <cstddef>

#include "lab/grid.hpp"
#include "optics/complex.hpp"

namespace quilmo::lab {

// s then p in each pair: dr, dt complex; dR, dT real.
struct JacobianOutputs {
    optics::Complex* dr[2];
    optics::Complex* dt[2];
    double* dR[2];
    double* dT[2];
};

// Fills the outputs for every point on `threads` threads (0: default_threads()).
void thickness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads);

// dR, dT (s then p) of stacks whose inner layer j - 1 is treated by intensity
// where coherent[j - 1] is false (lab/mixed_gradient.hpp); the same grid and
// output layout.
void mixed_thickness_jacobian(const Grid& grid, const bool* coherent, double* const (&dR)[2],
                              double* const (&dT)[2], std::size_t threads);

}  // namespace quilmo::lab
