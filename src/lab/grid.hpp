// The (stack, angle, wavelength) grid of one solve, spread over threads.
//
// Inputs are C-contiguous arrays: indices (index_stacks, media,
// index_columns), thicknesses (thickness_stacks, media - 2), wavelengths (W),
// angles (A). A batch of B stacks may share one row of indices or of
// thicknesses (index_stacks or thickness_stacks 1), and the indices may be the
// same for every wavelength (index_columns 1). Every (stack, angle,
// wavelength) point is independent of the others and computed the same way
// wherever it runs, so the results do not depend on the number of threads or
// on how the grid is cut.
#pragma once

#include <cstddef>
#include <vector>

#include "lab/stack_point.hpp"

namespace quilmo::lab {

struct Grid {
    const Complex* indices;
    std::size_t index_stacks;
    std::size_t media;
    std::size_t index_columns;
    const double* thicknesses;
    std::size_t thickness_stacks;
    const double* wavelengths;
    std::size_t wavelength_count;
    const double* angles;
    std::size_t angle_count;
    std::size_t stacks;

    std::size_t points() const noexcept { return stacks * angle_count * wavelength_count; }

    // Point p's place: points run wavelength fastest, then angle, then stack.
    struct Place {
        std::size_t stack;
        std::size_t angle;
        std::size_t wavelength;
    };
    Place place(std::size_t p) const noexcept {
        return {p / (wavelength_count * angle_count), (p / wavelength_count) % angle_count, p % wavelength_count};
    }
    // Index of medium 0 of a point; medium j is `index_columns` further on per j.
    const Complex* indices_at(const Place& at) const noexcept {
        const std::size_t row = index_stacks == 1 ? 0 : at.stack;
        return indices + row * media * index_columns + (index_columns == 1 ? 0 : at.wavelength);
    }
    const double* thicknesses_at(const Place& at) const noexcept {
        return thicknesses + (thickness_stacks == 1 ? 0 : at.stack) * (media - 2);
    }
};

// Four arrays of shape (B, A, W) each, one after the other: r_s, r_p, t_s,
// t_p in `amplitudes`, R_s, R_p, T_s, T_p in `powers`.
struct CoherentOutputs {
    Complex* amplitudes;
    double* powers;
};

// sin(theta) of every angle of the grid, as the kernel takes it once per call
// with std::sin.
std::vector<double> angle_sines(const Grid& grid);

// Throws std::invalid_argument naming the first inconsistency of the shapes
// (fewer than two media, a batch size other than 1 or B, a column count other
// than 1 or W, or a point count beyond the address space).
void check_grid(const Grid& grid);

// Fills the outputs for every point on `threads` threads (0: default_threads()).
// The grid must have passed check_grid.
void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads);

}  // namespace quilmo::lab
