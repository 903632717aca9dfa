#include "lab/anisotropic/anisotropic_grid.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
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

// Whether medium j of stack s is n^2 I at every column, to the bit: its
// off-diagonal components all +0 (a signed zero picks a root's branch) and its
// diagonal three equal. Such a medium is kept as one number per column.
bool scalar_everywhere(const TensorGrid& grid, std::size_t s, std::size_t j) {
    const std::size_t columns = grid.shape.index_columns;
    const Complex* tensor = grid.permittivity + (s * grid.shape.media + j) * 9 * columns;
    using Bits = std::array<std::uint64_t, 2>;
    const auto bits = [](const Complex& z) { return std::bit_cast<Bits>(z); };
    for (std::size_t k = 1; k < 9; ++k) {
        const Complex* component = tensor + k * columns;
        for (std::size_t w = 0; w < columns; ++w) {
            if (k % 4 == 0 ? bits(component[w]) != bits(tensor[w]) : bits(component[w]) != Bits{0, 0}) {
                return false;
            }
        }
    }
    return true;
}

// The caller's tensors run wavelength fastest, but a point needs every
// medium's components at one wavelength: read in place, that is 9 x media
// strided streams per point, more than the prefetcher follows. One pass
// regroups them point-major: per stack and column one record holding each
// medium's nine components, or one for a scalar medium (most stacks are
// mostly isotropic, and a point then reads little more than solve's indices).
class PointMajor {
public:
    explicit PointMajor(const TensorGrid& grid)
        : media_(grid.shape.media), columns_(grid.shape.index_columns), offset_(grid.shape.index_stacks * media_),
          scalar_(offset_.size()), base_(grid.shape.index_stacks), record_(grid.shape.index_stacks) {
        std::size_t size = 0;
        for (std::size_t s = 0; s < base_.size(); ++s) {
            base_[s] = size;
            for (std::size_t j = 0; j < media_; ++j) {
                scalar_[s * media_ + j] = scalar_everywhere(grid, s, j);
                offset_[s * media_ + j] = record_[s];
                record_[s] += scalar_[s * media_ + j] ? 1 : 9;
            }
            size += record_[s] * columns_;
        }
        values_ = std::make_unique_for_overwrite<Complex[]>(size);
        // Blocks of columns keep the scattered writes within the cache.
        constexpr std::size_t block = 64;
        for (std::size_t s = 0; s < base_.size(); ++s) {
            for (std::size_t first = 0; first < columns_; first += block) {
                const std::size_t last = std::min(columns_, first + block);
                for (std::size_t j = 0; j < media_; ++j) {
                    const std::size_t components = scalar_[s * media_ + j] ? 1 : 9;
                    for (std::size_t k = 0; k < components; ++k) {
                        const Complex* from = grid.permittivity + ((s * media_ + j) * 9 + k) * columns_;
                        Complex* to = &values_[base_[s] + offset_[s * media_ + j] + k];
                        for (std::size_t w = first; w < last; ++w) {
                            to[w * record_[s]] = from[w];
                        }
                    }
                }
            }
        }
    }

    // The tensors of stack s at one column, into eps (media tensors).
    void read(std::size_t s, std::size_t column, std::span<anisotropic::Tensor> eps) const noexcept {
        const Complex* record = &values_[base_[s] + column * record_[s]];
        for (std::size_t j = 0; j < media_; ++j) {
            const Complex* at = record + offset_[s * media_ + j];
            anisotropic::Tensor& t = eps[j];
            if (scalar_[s * media_ + j]) {
                const Cx diagonal{at[0].re, at[0].im};
                t = {{{diagonal, 0.0, 0.0}, {0.0, diagonal, 0.0}, {0.0, 0.0, diagonal}}};
            } else {
                for (std::size_t k = 0; k < 9; ++k) {
                    t[k / 3][k % 3] = Cx{at[k].re, at[k].im};
                }
            }
        }
    }

private:
    std::size_t media_, columns_;
    std::vector<std::size_t> offset_;  // of each (stack, medium) within its stack's record
    std::vector<bool> scalar_;         // per (stack, medium)
    std::vector<std::size_t> base_;    // of each stack's records
    std::vector<std::size_t> record_;  // its length, per stack
    std::unique_ptr<Complex[]> values_;
};

}  // namespace

void solve_anisotropic(const TensorGrid& grid, const AnisotropicOutputs& out, std::size_t threads) {
    const Grid& shape = grid.shape;
    const std::vector<Complex> sines = angle_sines(shape);  // real angles: the anisotropic front takes no others
    const std::size_t media = shape.media;
    const PointMajor tensors(grid);
    for_each_point(shape, threads, grain, [&](Columns) {
        return [&, solver = anisotropic::ScatteringPoint(), eps = std::vector<anisotropic::Tensor>(media)](
                   std::size_t p, const Grid::Place& at) mutable {
            tensors.read(shape.index_stacks == 1 ? 0 : at.stack, shape.column(at), eps);
            const double n0 = std::sqrt(eps[0][0][0].real());
            const double xi = sines[at.angle].re * n0;
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
