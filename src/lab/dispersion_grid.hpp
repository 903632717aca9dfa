// Phase, GD, GDD and TOD over a batch of stacks and a wavelength grid.
//
// Layouts (C order, contiguous):
//   series       (4, media, C) complex: n, dn/dl, d2n/dl2, d3n/dl3 (l in nm),
//                C = 1 (the same at every wavelength) or W
//   thicknesses  (1 or B, media - 2) in nm
//   each output  (B, W)
// Points are independent, so the results do not depend on the thread count.
#pragma once

#include <cstddef>

#include "optics/complex.hpp"

namespace quilmo::lab {

struct DispersionGrid {
    const optics::Complex* series;
    std::size_t media;
    std::size_t series_columns;
    const double* thicknesses;
    std::size_t thickness_stacks;
    const double* wavelengths;
    std::size_t wavelength_count;
    std::size_t stacks;
    double angle;  // radians, in the incidence medium
    int side;      // side_reflection or side_transmission (lab/phase_jets.hpp)
    int pol;       // optics::pol_s or pol_p
};

struct DispersionOutputs {
    double* phase;
    double* gd;
    double* gdd;
    double* tod;
};

// Throws std::invalid_argument naming the first inconsistency of the shapes.
void check_dispersion_grid(const DispersionGrid& grid);

// Fills the outputs on `threads` threads (0: default_threads()).
void dispersion(const DispersionGrid& grid, const DispersionOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
