#include "lab/grid.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "lab/coherent.hpp"
#include "lab/pools.hpp"

namespace quilmo::lab {

namespace {

// Points below this many stay on one thread: waking a worker costs about as
// much as computing them.
constexpr std::size_t grain = 128;

void require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::invalid_argument(what);
    }
}

std::size_t checked_product(std::size_t a, std::size_t b) {
    constexpr std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    require(a == 0 || b <= limit / 4 / a, "grid: the number of points overflows");
    return a * b;
}

}  // namespace

void check_grid(const Grid& grid) {
    require(grid.media >= 2, "grid: at least two media are needed, got " + std::to_string(grid.media));
    require(grid.index_stacks == 1 || grid.index_stacks == grid.stacks,
            "grid: indices hold " + std::to_string(grid.index_stacks) + " stacks for a batch of " +
                std::to_string(grid.stacks));
    require(grid.thickness_stacks == 1 || grid.thickness_stacks == grid.stacks,
            "grid: thicknesses hold " + std::to_string(grid.thickness_stacks) +
                " stacks for a batch of " + std::to_string(grid.stacks));
    require(grid.index_columns == 1 || grid.index_columns == grid.wavelength_count,
            "grid: indices hold " + std::to_string(grid.index_columns) + " columns for " +
                std::to_string(grid.wavelength_count) + " wavelengths");
    checked_product(checked_product(grid.stacks, grid.angle_count), grid.wavelength_count);
}

std::vector<double> angle_sines(const Grid& grid) {
    std::vector<double> sines(grid.angle_count);
    for (std::size_t a = 0; a < grid.angle_count; ++a) {
        sines[a] = std::sin(grid.angles[a]);
    }
    return sines;
}

void solve_coherent(const Grid& grid, const CoherentOutputs& out, std::size_t threads) {
    const std::size_t points = grid.points();
    if (points == 0) {
        return;
    }
    const std::size_t per_stack = grid.angle_count * grid.wavelength_count;
    const std::size_t layers = grid.media - 2;
    const std::vector<double> sines = angle_sines(grid);
    const auto columns = static_cast<std::ptrdiff_t>(grid.index_columns);
    // The columns of the indices that points [p, end) of one stack read: a
    // piece of a long spectrum plans only its own stretch of wavelengths.
    auto columns_used = [&](std::size_t p, std::size_t end) -> std::pair<std::size_t, std::size_t> {
        if (grid.index_columns == 1) {
            return {0, 1};
        }
        const std::size_t first = p % grid.wavelength_count;
        if (first + (end - p) > grid.wavelength_count) {
            return {0, grid.index_columns};
        }
        return {first, first + (end - p)};
    };

    auto body = [&](std::size_t begin, std::size_t end) {
        std::size_t b = begin / per_stack;
        std::size_t a = (begin % per_stack) / grid.wavelength_count;
        std::size_t w = begin % grid.wavelength_count;
        CoherentSolver solver;
        bool new_stack = true;
        bool new_angle = true;
        for (std::size_t p = begin; p < end; ++p) {
            if (new_stack) {
                const std::size_t bn = grid.index_stacks == 1 ? 0 : b;
                const std::size_t bd = grid.thickness_stacks == 1 ? 0 : b;
                const auto [first, last] = columns_used(p, std::min(end, (b + 1) * per_stack));
                solver.set_stack(View2<Complex>{grid.indices + bn * grid.media * grid.index_columns,
                                                grid.media, grid.index_columns, columns, 1},
                                 View1<double>{grid.thicknesses + bd * layers, layers, 1}, first, last);
                new_stack = false;
            }
            if (new_angle) {
                solver.set_angle(sines[a]);
                new_angle = false;
            }
            const PointResult r = solver.solve(grid.index_columns == 1 ? 0 : w, grid.wavelengths[w]);
            out.amplitudes[p] = r.amplitudes.r_s;
            out.amplitudes[points + p] = r.amplitudes.r_p;
            out.amplitudes[2 * points + p] = r.amplitudes.t_s;
            out.amplitudes[3 * points + p] = r.amplitudes.t_p;
            out.powers[p] = r.powers.R_s;
            out.powers[points + p] = r.powers.R_p;
            out.powers[2 * points + p] = r.powers.T_s;
            out.powers[3 * points + p] = r.powers.T_p;
            if (++w == grid.wavelength_count) {
                w = 0;
                new_angle = true;
                if (++a == grid.angle_count) {
                    a = 0;
                    ++b;
                    // Stacks that share both indices and thicknesses share their plan.
                    new_stack = grid.index_stacks != 1 || grid.thickness_stacks != 1;
                }
            }
        }
    };
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain, body);
}

}  // namespace quilmo::lab
