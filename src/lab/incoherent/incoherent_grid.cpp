#include "lab/incoherent/incoherent_grid.hpp"

#include <span>
#include <stdexcept>
#include <vector>

#include "lab/core/grid_loop.hpp"
#include "lab/core/output_planes.hpp"
#include "lab/core/point_builder.hpp"
#include "lab/incoherent/fields_point.hpp"
#include "lab/incoherent/mixed_point.hpp"

namespace quilmo::lab {
namespace {

// Points per piece of work below which waking a worker costs more than it
// saves (a mixed point costs about as much as a coherent one).
constexpr std::size_t grain = 128;

void write_powers(const PointPlanes<double>& powers, std::size_t p, const PerPolarisation<Powers<>>& got) {
    for (const int pol : {pol_s, pol_p}) {
        powers(pol, p) = got[pol].R;
        powers(2 + pol, p) = got[pol].T;
    }
}

}  // namespace

void solve_incoherent(const Grid& grid, const bool* coherent, double* powers, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<double> out{powers, grid.points()};
    const std::span<const bool> mask(coherent, grid.layers());
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = RunsWorkspace()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            write_powers(out, p, mixed_powers(builder.media(mask), builder.interfaces(), work));
        };
    });
}

void solve_cross(const Grid& grid, const bool* coherent, Complex* cross, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<Complex> out{cross, grid.points()};
    const std::span<const bool> mask(coherent, grid.layers());
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = RunsWorkspace(),
                fractions = std::vector<RunFractions<Complex>>(), passes = std::vector<Complex>(),
                behind = std::vector<Complex>()](std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const Powers<Complex> got =
                mixed_cross(builder.media(mask), builder.interfaces(), work, fractions, passes, behind);
            out(0, p) = got.R;
            out(1, p) = got.T;
        };
    });
}

void solve_absorbed(const Grid& grid, const bool* coherent, double* powers, double* absorbed,
                    std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<double> out{powers, grid.points()};
    const LayerPlanes<double> layers_out(absorbed, grid);
    const std::size_t layers = grid.layers();
    const std::span<const bool> mask(coherent, layers);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace(),
                lost = PerPolarisation<std::vector<double>>{std::vector<double>(layers), std::vector<double>(layers)}](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            write_powers(out, p, absorption(builder.media(mask), work, {lost.s, lost.p}));
            const LayerPlanes<double>::Row row = layers_out.row(p);
            for (const int pol : {pol_s, pol_p}) {
                for (std::size_t j = 0; j < layers; ++j) {
                    row(pol, j) = lost[pol][j];
                }
            }
        };
    });
}

void solve_profile(const Grid& grid, const bool* coherent, const double* depths, std::size_t depth_count,
                   double* out, std::size_t threads) {
    if (grid.stacks != 1 || grid.angle_count != 1) {
        throw std::invalid_argument("profile: one stack at one angle is needed");
    }
    std::vector<DepthPlace> places(depth_count);
    place_depths(std::span<const double>(grid.thicknesses, grid.layers()),
                 std::span<const double>(depths, depth_count), places);
    const std::vector<Complex> sines = angle_sines(grid);
    const std::size_t plane = grid.wavelength_count * depth_count;
    const std::span<const bool> mask(coherent, grid.layers());
    // A point (one wavelength's row) costs about as much as `depth_count`
    // points of a solve.
    const std::size_t row_grain = depth_count >= grain ? 1 : grain / (depth_count + 1) + 1;
    for_each_point(grid, threads, row_grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace()](
                   std::size_t w, const Grid::Place& at) mutable {
            builder.move_to(at);
            double* row = out + w * depth_count;
            const ProfileRow target{{{row, depth_count}, {row + plane, depth_count}},
                                    {{row + 2 * plane, depth_count}, {row + 3 * plane, depth_count}}};
            profile_row(builder.media(mask), places, work, target);
        };
    });
}

}  // namespace quilmo::lab
