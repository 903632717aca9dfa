// The grid drivers for what needs more than the coherent pass: stacks with
// incoherent layers, the absorbed fraction of each inner layer, and depth
// profiles. They take the same Grid as solve_coherent (checked by
// check_grid) and run the same grid loop, so results do not depend on the
// thread count.
#pragma once

#include <cstddef>

#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"

namespace quilmo::lab {

// `coherent` holds one flag per inner layer (media - 2), shared by every
// stack of the batch; false marks a layer treated by intensity.

// R_s, R_p, T_s, T_p, each (B, A, W), one after the other in `powers`.
void solve_incoherent(const Grid& grid, const bool* coherent, double* powers, std::size_t threads);

// The s-p cross terms of R and of T (incoherent/run_point.hpp), each (B, A, W),
// one after the other in `cross`: with the powers, the point's Mueller matrices.
void solve_cross(const Grid& grid, const bool* coherent, Complex* cross, std::size_t threads);

// The same powers from the fields, and in `absorbed` the fraction of incident
// power absorbed in each inner layer: s then p, each (B, A, media - 2, W).
void solve_absorbed(const Grid& grid, const bool* coherent, double* powers, double* absorbed,
                    std::size_t threads);

// The same powers, and in `light` the light between the runs of every point
// (incoherent/fields_point.hpp, RunIllumination): front, back, forward and
// entering for s then for p, 8 planes each (B, A, runs, W), with one run more
// than the inner layers flagged incoherent.
void solve_run_light(const Grid& grid, const bool* coherent, double* powers, double* light, std::size_t threads);

// The runs solve_run_light reports per point: the coherent runs between the
// inner layers flagged incoherent, one more than those layers.
std::size_t run_count(const bool* coherent, std::size_t layers);

// Absorbed power density and |E|^2 for s and p, one after the other in `out`,
// each (W, depth_count) over the grid's wavelengths, for a grid of one stack
// and one angle. Depths are measured from the first interface.
void solve_profile(const Grid& grid, const bool* coherent, const double* depths, std::size_t depth_count,
                   double* out, std::size_t threads);

// Per medium of every point of a grid of coherent stacks, each plane
// (B, A, media, W) one after the other: k_z and the complex angle in `normal`
// (2 planes), and, unless `waves` is null, the forward and backward amplitudes
// at each medium's front, v_s, w_s, v_p, w_p (4 planes; incoherent/layer_fields.hpp).
void solve_layer_waves(const Grid& grid, Complex* normal, Complex* waves, std::size_t threads);

// One pass over a grid of coherent stacks giving what solve_coherent gives
// (the same bits) and what solve_layer_waves gives, each point's media built
// once; and in `entering` (2 planes, s then p, each (B, A, W)) the fraction
// of the incident flux that enters the stack (power_entering, layer_fields.hpp).
void solve_coherent_waves(const Grid& grid, const CoherentOutputs& out, double* entering, Complex* normal,
                          Complex* waves, std::size_t threads);

// The complex fields of one coherent stack at one angle at `count` places
// (medium, distance from its front): E_x, E_y, E_z for s then p in `fields`,
// (6, W, count); the Poynting flux s, p, the absorbed power density s, p and
// |E|^2 s, p in `powers`, (6, W, count).
void solve_fields(const Grid& grid, const std::size_t* media, const double* z, std::size_t count, Complex* fields,
                  double* powers, std::size_t threads);

// Places of depths measured from the first interface (fields_point.hpp).
void depth_places(const Grid& grid, const double* depths, std::size_t count, std::size_t* media, double* z);

}  // namespace quilmo::lab
