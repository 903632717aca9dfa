#include "lab/thickness_jacobian.hpp"

#include <cmath>
#include <vector>

#include "lab/coherent_run.hpp"
#include "lab/mixed_gradient.hpp"
#include "lab/pools.hpp"
#include "lab/thickness_gradient.hpp"

namespace quilmo::lab {

namespace {

// A point costs about as much as a few of solve_coherent's.
constexpr std::size_t grain = 64;

}  // namespace

void thickness_jacobian(const Grid& grid, const JacobianOutputs& out, std::size_t threads) {
    const std::size_t points = grid.points();
    const std::size_t layers = grid.media - 2;
    if (points == 0 || layers == 0) {
        return;
    }
    const std::size_t W = grid.wavelength_count;
    const std::size_t A = grid.angle_count;
    const std::vector<double> sines = angle_sines(grid);
    auto body = [&](std::size_t begin, std::size_t end) {
        GradientWorkspace ws;
        // media and interfaces are computed again only where the indices or
        // the angle change from one point to the next
        const Complex* last_n = nullptr;
        std::size_t last_a = A;
        for (std::size_t p = begin; p < end; ++p) {
            const Grid::Place at = grid.place(p);
            const std::size_t w = at.wavelength;
            const std::size_t a = at.angle;
            const std::size_t b = at.stack;
            const Complex* n = grid.indices_at(at);
            bool same = last_n != nullptr && a == last_a;
            for (std::size_t j = 0; same && j < grid.media; ++j) {
                const Complex x = n[j * grid.index_columns], y = last_n[j * grid.index_columns];
                same = x.re == y.re && x.im == y.im && !std::signbit(x.im) == !std::signbit(y.im);
            }
            last_n = n;
            last_a = a;
            const std::size_t base = (b * A + a) * layers * W + w;
            PointPowers powers[2];
            thickness_gradient(
                grid.media, [&](std::size_t j) { return n[j * grid.index_columns]; },
                grid.thicknesses_at(at), grid.wavelengths[w], sines[a], ws, powers,
                [&](std::size_t j, const ThicknessDerivative& s, const ThicknessDerivative& pp) {
                    const std::size_t at = base + (j - 1) * W;
                    const ThicknessDerivative* both[2] = {&s, &pp};
                    for (int pol = 0; pol < 2; ++pol) {
                        out.dr[pol][at] = both[pol]->dr;
                        out.dt[pol][at] = both[pol]->dt;
                        out.dR[pol][at] = both[pol]->dR;
                        out.dT[pol][at] = both[pol]->dT;
                    }
                },
                same);
        }
    };
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain, body);
}

void mixed_thickness_jacobian(const Grid& grid, const bool* coherent, double* const (&dR)[2],
                              double* const (&dT)[2], std::size_t threads) {
    const std::size_t points = grid.points();
    const std::size_t layers = grid.media - 2;
    if (points == 0 || layers == 0) {
        return;
    }
    const std::size_t W = grid.wavelength_count;
    const std::size_t A = grid.angle_count;
    const std::vector<double> sines = angle_sines(grid);
    auto body = [&](std::size_t begin, std::size_t end) {
        MixedWorkspace ws;
        ws.media.resize(grid.media);
        for (std::size_t p = begin; p < end; ++p) {
            const Grid::Place at = grid.place(p);
            const std::size_t w = at.wavelength;
            const std::size_t a = at.angle;
            const std::size_t b = at.stack;
            const Complex* n = grid.indices_at(at);
            const Complex tangential = optics::square(sines[a] * n[0]);
            for (std::size_t j = 0; j < grid.media; ++j) {
                ws.media[j] = optics::detail::medium(n[j * grid.index_columns], tangential);
            }
            const StackMedia stack{ws.media, {grid.thicknesses_at(at), layers}, {coherent, layers},
                                   grid.wavelengths[w], tangential};
            interface_matrices(stack, ws.interfaces);
            const std::size_t base = (b * A + a) * layers * W + w;
            mixed_gradient(stack, ws, [&](int pol, std::size_t j, double dr, double dt) {
                dR[pol][base + (j - 1) * W] = dr;
                dT[pol][base + (j - 1) * W] = dt;
            });
        }
    };
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain, body);
}

}  // namespace quilmo::lab
