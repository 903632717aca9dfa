#include "lab/derivatives/jacobian_grid.hpp"

#include <span>
#include <vector>

#include "lab/core/grid_loop.hpp"
#include "lab/core/output_planes.hpp"
#include "lab/core/point_builder.hpp"
#include "lab/derivatives/coherent_gradient_point.hpp"
#include "lab/derivatives/mixed_gradient_point.hpp"
#include "lab/derivatives/roughness_gradient_point.hpp"

namespace quilmo::lab {

namespace {

// A point costs about as much as a few of solve_coherent's.
constexpr std::size_t grain = 64;

// Writes one derivative of both polarisations at entry `at` of a point's rows.
void write_derivatives(const LayerPlanes<Complex>::Row& amplitudes, const LayerPlanes<double>::Row& powers,
                       std::size_t at, const ThicknessDerivative& s, const ThicknessDerivative& p) noexcept {
    const ThicknessDerivative* both[2] = {&s, &p};
    for (const int pol : {pol_s, pol_p}) {
        amplitudes(pol, at) = both[pol]->dr;
        amplitudes(2 + pol, at) = both[pol]->dt;
        powers(pol, at) = both[pol]->dR;
        powers(2 + pol, at) = both[pol]->dT;
    }
}

}  // namespace

void thickness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads) {
    if (grid.layers() == 0) {
        return;
    }
    const std::vector<Complex> sines = angle_sines(grid);
    const LayerPlanes<Complex> amplitudes(out.amplitudes, grid);
    const LayerPlanes<double> powers(out.powers, grid);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), ws = GradientProducts()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const LayerPlanes<Complex>::Row amplitude_row = amplitudes.row(p);
            const LayerPlanes<double>::Row power_row = powers.row(p);
            coherent_gradient(builder.media({}), builder.interfaces(), ws,
                              [&](std::size_t j, const ThicknessDerivative& s, const ThicknessDerivative& pp) {
                                  write_derivatives(amplitude_row, power_row, j - 1, s, pp);
                              });
        };
    });
}

void roughness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const LayerPlanes<Complex> amplitudes(out.amplitudes, grid, grid.media - 1);
    const LayerPlanes<double> powers(out.powers, grid, grid.media - 1);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), ws = GradientProducts()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const LayerPlanes<Complex>::Row amplitude_row = amplitudes.row(p);
            const LayerPlanes<double>::Row power_row = powers.row(p);
            const std::span<const MatrixLanes> interfaces = builder.interfaces();
            coherent_roughness_gradient(
                builder.media({}), interfaces, [&](std::size_t i) { return builder.interface_slope(i); }, ws,
                [&](std::size_t i, const ThicknessDerivative& s, const ThicknessDerivative& pp) {
                    write_derivatives(amplitude_row, power_row, i, s, pp);
                });
        };
    });
}

void mixed_thickness_jacobian(const Grid& grid, const bool* coherent, double* powers, std::size_t threads) {
    if (grid.layers() == 0) {
        return;
    }
    const std::vector<Complex> sines = angle_sines(grid);
    const LayerPlanes<double> out(powers, grid);
    const std::span<const bool> mask(coherent, grid.layers());
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), ws = MixedGradientWorkspace()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const LayerPlanes<double>::Row row = out.row(p);
            mixed_gradient(builder.media(mask), builder.interfaces(), ws,
                           [&](int pol, std::size_t j, double dR, double dT) {
                               row(pol, j - 1) = dR;
                               row(2 + pol, j - 1) = dT;
                           });
        };
    });
}

}  // namespace quilmo::lab
