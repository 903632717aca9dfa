// Anisotropic stacks over the whole (stack, angle, wavelength) grid.
//
// The grid's shape is the core's Grid (its `indices` unused): the
// permittivity tensors are a C-contiguous (index_stacks, media, 3, 3,
// index_columns) array of the lab frame's components, batched and broadcast
// as the indices of an isotropic solve.
#pragma once

#include <cstddef>

#include "lab/core/grid.hpp"

namespace quilmo::lab {

struct TensorGrid {
    Grid shape;
    const Complex* permittivity;
};

// Per point, in the grid's point order: jones_r, jones_t and transmitted
// (2, 2) complex each, exit_flux (2) real (anisotropic/scattering_point.hpp).
struct AnisotropicOutputs {
    Complex* jones_r;
    Complex* jones_t;
    Complex* transmitted;
    double* exit_flux;
};

// Fills the outputs for every point on `threads` threads (0: default_threads()).
// The shape must have passed check_grid.
void solve_anisotropic(const TensorGrid& grid, const AnisotropicOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
