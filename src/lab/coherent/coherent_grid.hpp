// Amplitudes and powers of coherent stacks over the whole grid.
#pragma once

#include <cstddef>

#include "lab/core/grid.hpp"

namespace quilmo::lab {

// Four arrays of shape (B, A, W) each, one after the other: r_s, r_p, t_s,
// t_p in `amplitudes`, R_s, R_p, T_s, T_p in `powers`.
struct CoherentOutputs {
    Complex* amplitudes;
    double* powers;
};

// Fills the outputs for every point on `threads` threads (0: default_threads()).
// The grid must have passed check_grid.
void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
