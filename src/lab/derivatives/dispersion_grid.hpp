// Phase, GD, GDD and TOD over a batch of stacks and a wavelength grid, at one
// angle of incidence.
//
// `grid.indices` points at a stack's index series (4, media, C), C = 1 (the
// same at every wavelength) or W: n, dn/dl, d2n/dl2, d3n/dl3 (l in nm), plane
// after plane; its first plane is the grid's indices (index_stacks 1),
// thicknesses (1 or B, media - 2) in nm, one angle. Each output is (B, W).
// Points are independent, so the results do not depend on the thread count.
#pragma once

#include <cstddef>

#include "lab/core/grid.hpp"

namespace quilmo::lab {

struct DispersionOutputs {
    double* phase;
    double* gd;
    double* gdd;
    double* tod;
};

// side: side_reflection or side_transmission (derivatives/phase_point.hpp);
// pol: pol_s or pol_p. Throws std::invalid_argument for any other value.
void check_dispersion(const Grid& grid, int side, int pol);

// Fills the outputs on `threads` threads (0: default_threads()); the grid and
// choices must have passed check_grid and check_dispersion.
void dispersion(const Grid& grid, int side, int pol, const DispersionOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
