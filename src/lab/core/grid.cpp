#include "lab/core/grid.hpp"

#include <complex>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace quilmo::lab {

namespace {

// The message is built only for a failed check: the checks run on every call,
// and composing their texts would cost a single point more than solving it.
template <class Message>
void require(bool condition, const Message& message) {
    if (!condition) {
        throw std::invalid_argument(message());
    }
}

std::size_t checked_product(std::size_t a, std::size_t b) {
    // a quarter of the address space, so that four output planes still fit
    constexpr std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    require(a == 0 || b <= limit / 4 / a, [] { return "grid: the number of points overflows"; });
    return a * b;
}

}  // namespace

void check_grid(const Grid& grid) {
    using std::to_string;
    require(grid.media >= 2, [&] { return "grid: at least two media are needed, got " + to_string(grid.media); });
    require(grid.index_stacks == 1 || grid.index_stacks == grid.stacks, [&] {
        return "grid: indices hold " + to_string(grid.index_stacks) + " stacks for a batch of " + to_string(grid.stacks);
    });
    require(grid.thickness_stacks == 1 || grid.thickness_stacks == grid.stacks, [&] {
        return "grid: thicknesses hold " + to_string(grid.thickness_stacks) + " stacks for a batch of " +
               to_string(grid.stacks);
    });
    require(grid.index_columns == 1 || grid.index_columns == grid.wavelength_count, [&] {
        return "grid: indices hold " + to_string(grid.index_columns) + " columns for " +
               to_string(grid.wavelength_count) + " wavelengths";
    });
    require(grid.roughness == nullptr || grid.roughness_stacks == 1 || grid.roughness_stacks == grid.stacks, [&] {
        return "grid: roughness holds " + to_string(grid.roughness_stacks) + " stacks for a batch of " +
               to_string(grid.stacks);
    });
    const std::size_t points = checked_product(checked_product(grid.stacks, grid.angle_count), grid.wavelength_count);
    checked_product(points, grid.media);  // the planes of per-layer outputs
}

std::vector<Complex> angle_sines(const Grid& grid) {
    std::vector<Complex> sines(grid.angle_count);
    for (std::size_t a = 0; a < grid.angle_count; ++a) {
        if (grid.complex_angles == nullptr) {
            sines[a] = {std::sin(grid.angles[a]), 0.0};
        } else {
            const Complex theta = grid.complex_angles[a];
            const std::complex<double> sine = std::sin(std::complex<double>(theta.re, theta.im));
            sines[a] = {sine.real(), sine.imag()};
        }
    }
    return sines;
}

}  // namespace quilmo::lab
