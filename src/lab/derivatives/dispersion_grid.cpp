#include "lab/derivatives/dispersion_grid.hpp"

#include <stdexcept>
#include <vector>

#include "lab/core/grid_loop.hpp"
#include "lab/core/polarisation.hpp"
#include "lab/derivatives/phase_point.hpp"

namespace quilmo::lab {

namespace {

// A point carries four-term series through every operation: a few times the
// cost of a thickness-derivative point.
constexpr std::size_t grain = 32;

}  // namespace

void check_dispersion(const Grid& grid, int side, int pol) {
    if (grid.index_stacks != 1 || grid.angle_count != 1) {
        throw std::invalid_argument("dispersion: one index series and one angle are needed");
    }
    if (side != side_reflection && side != side_transmission) {
        throw std::invalid_argument("dispersion: side must be 0 or 1");
    }
    if (pol != pol_s && pol != pol_p) {
        throw std::invalid_argument("dispersion: pol must be 0 or 1");
    }
}

void dispersion(const Grid& grid, int side, int pol, const DispersionOutputs& out, std::size_t threads) {
    const std::size_t columns = grid.index_columns;
    const std::size_t order_stride = grid.media * columns;
    const double sin_theta = angle_sines(grid)[0].re;  // the dispersion front takes real angles
    for_each_point(grid, threads, grain, [&](Columns) {
        return [&](std::size_t p, const Grid::Place& at) {
            const std::size_t column = grid.column(at);
            const PhaseDerivatives d = phase_derivatives(
                grid.media,
                [&](std::size_t j) {
                    IndexSeries s;
                    for (int k = 0; k < jet_terms; ++k) {
                        s[k] = grid.indices[k * order_stride + j * columns + column];
                    }
                    return s;
                },
                grid.stack_thicknesses(at.stack), grid.wavelengths[at.wavelength], sin_theta, side, pol);
            out.phase[p] = d.phase;
            out.gd[p] = d.gd;
            out.gdd[p] = d.gdd;
            out.tod[p] = d.tod;
        };
    });
}

}  // namespace quilmo::lab
