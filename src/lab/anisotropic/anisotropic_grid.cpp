#include "lab/anisotropic/anisotropic_grid.hpp"

#include <cmath>
#include <vector>

#include "lab/anisotropic/scattering_point.hpp"
#include "lab/core/grid_loop.hpp"

namespace quilmo::lab {

namespace {

// A point costs several isotropic ones: smaller pieces already pay for a worker.
constexpr std::size_t grain = 32;

using anisotropic::Cx;
using anisotropic::Mat2;

void store(Complex* out, const Mat2& m) noexcept {
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t j = 0; j < 2; ++j) {
            out[2 * i + j] = {m[i][j].real(), m[i][j].imag()};
        }
    }
}

}  // namespace

void solve_anisotropic(const TensorGrid& grid, const AnisotropicOutputs& out, std::size_t threads) {
    const Grid& shape = grid.shape;
    const std::vector<double> sines = angle_sines(shape);
    const std::size_t media = shape.media;
    const std::size_t columns = shape.index_columns;
    for_each_point(shape, threads, grain, [&](Columns) {
        return [&, solver = anisotropic::ScatteringPoint(), eps = std::vector<anisotropic::Tensor>(media)](
                   std::size_t p, const Grid::Place& at) mutable {
            const Complex* stack = grid.permittivity + (shape.index_stacks == 1 ? 0 : at.stack) * media * 9 * columns;
            const std::size_t column = shape.column(at);
            for (std::size_t j = 0; j < media; ++j) {
                for (std::size_t r = 0; r < 3; ++r) {
                    for (std::size_t c = 0; c < 3; ++c) {
                        const Complex& e = stack[((j * 3 + r) * 3 + c) * columns + column];
                        eps[j][r][c] = Cx{e.re, e.im};
                    }
                }
            }
            const double n0 = std::sqrt(eps[0][0][0].real());
            const double xi = sines[at.angle] * n0;
            const anisotropic::PointResult r =
                solver.solve(eps, {shape.stack_thicknesses(at.stack), shape.layers()},
                             shape.wavelengths[at.wavelength], xi);
            store(out.jones_r + 4 * p, r.jones_r);
            store(out.jones_t + 4 * p, r.jones_t);
            store(out.transmitted + 4 * p, r.transmitted);
            out.exit_flux[2 * p] = r.exit_flux[0];
            out.exit_flux[2 * p + 1] = r.exit_flux[1];
        };
    });
}

}  // namespace quilmo::lab
