// Thickness derivatives over the (stack, angle, wavelength) grid of a solve.
//
// The grid is that of solve_coherent (core/grid.hpp), checked with
// check_grid. Each output plane has shape (B, A, media - 2, W): the
// derivative of the quantity at point (b, a, w) by the thickness of inner
// layer l. Points are independent and computed the same way on any thread,
// so the results do not depend on the thread count.
#pragma once

#include <cstddef>

#include "lab/core/grid.hpp"

namespace quilmo::lab {

// Four planes each: dr_s, dr_p, dt_s, dt_p in `amplitudes`; dR_s, dR_p, dT_s,
// dT_p in `powers`.
struct JacobianOutputs {
    Complex* amplitudes;
    double* powers;
};

// Fills the outputs for every point on `threads` threads (0: default_threads()).
void thickness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads);

// The same planes by the roughness of every interface instead, each of shape
// (B, A, media - 1, W), for coherent stacks
// (derivatives/roughness_gradient_point.hpp).
void roughness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads);

// dR_s, dR_p, dT_s, dT_p in `powers` of stacks whose inner layer j - 1 is
// treated by intensity where coherent[j - 1] is false
// (derivatives/mixed_gradient_point.hpp).
void mixed_thickness_jacobian(const Grid& grid, const bool* coherent, double* powers, std::size_t threads);

}  // namespace quilmo::lab
