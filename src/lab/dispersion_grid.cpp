#include "lab/dispersion_grid.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "lab/phase_jets.hpp"
#include "lab/pools.hpp"

namespace quilmo::lab {

namespace {

// A point carries four-term series through every operation: a few times the
// cost of a thickness-derivative point.
constexpr std::size_t grain = 32;

void require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::invalid_argument(what);
    }
}

}  // namespace

void check_dispersion_grid(const DispersionGrid& grid) {
    require(grid.media >= 2, "dispersion: at least two media are needed, got " + std::to_string(grid.media));
    require(grid.series_columns == 1 || grid.series_columns == grid.wavelength_count,
            "dispersion: index series hold " + std::to_string(grid.series_columns) + " columns for " +
                std::to_string(grid.wavelength_count) + " wavelengths");
    require(grid.thickness_stacks == 1 || grid.thickness_stacks == grid.stacks,
            "dispersion: thicknesses hold " + std::to_string(grid.thickness_stacks) + " stacks for a batch of " +
                std::to_string(grid.stacks));
    require(grid.side == side_reflection || grid.side == side_transmission, "dispersion: side must be 0 or 1");
    require(grid.pol == optics::pol_s || grid.pol == optics::pol_p, "dispersion: pol must be 0 or 1");
}

void dispersion(const DispersionGrid& grid, const DispersionOutputs& out, std::size_t threads) {
    const std::size_t W = grid.wavelength_count;
    const std::size_t points = grid.stacks * W;
    const std::size_t layers = grid.media - 2;
    const std::size_t columns = grid.series_columns;
    const std::size_t order_stride = grid.media * columns;
    const double sin_theta = std::sin(grid.angle);
    auto body = [&](std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p) {
            const std::size_t w = p % W;
            const std::size_t b = p / W;
            const std::size_t column = columns == 1 ? 0 : w;
            const PhaseDerivatives d = phase_derivatives(
                grid.media,
                [&](std::size_t j) {
                    IndexSeries s;
                    for (int k = 0; k < jet_terms; ++k) {
                        s[k] = grid.series[k * order_stride + j * columns + column];
                    }
                    return s;
                },
                grid.thicknesses + (grid.thickness_stacks == 1 ? 0 : b) * layers, grid.wavelengths[w], sin_theta,
                grid.side, grid.pol);
            out.phase[p] = d.phase;
            out.gd[p] = d.gd;
            out.gdd[p] = d.gdd;
            out.tod[p] = d.tod;
        }
    };
    if (points > 0) {
        parallel_ranges(points, threads == 0 ? default_threads() : threads, grain, body);
    }
}

}  // namespace quilmo::lab
