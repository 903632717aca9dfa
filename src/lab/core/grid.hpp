// The (stack, angle, wavelength) grid of one call: what every grid driver
// takes and every point's place in it.
//
// Inputs are C-contiguous arrays: indices (index_stacks, media,
// index_columns), thicknesses (thickness_stacks, media - 2), wavelengths (W),
// angles (A). A batch of B stacks may share one row of indices or of
// thicknesses (index_stacks or thickness_stacks 1), and the indices may be the
// same for every wavelength (index_columns 1). Every (stack, angle,
// wavelength) point is independent of the others and computed the same way
// wherever it runs, so the results do not depend on the number of threads or
// on how the grid is cut. Interfaces may be rough: roughness (roughness_stacks,
// media - 1) holds each interface's RMS roughness in the unit of the
// wavelengths (core/roughness.hpp), or is null for smooth stacks.
#pragma once

#include <cstddef>
#include <vector>

#include "lab/core/kernel_names.hpp"
#include "lab/core/roughness.hpp"

namespace quilmo::lab {

struct Grid {
    const Complex* indices;
    std::size_t index_stacks;
    std::size_t media;
    std::size_t index_columns;
    const double* thicknesses;
    std::size_t thickness_stacks;
    const double* wavelengths;
    std::size_t wavelength_count;
    const double* angles;
    std::size_t angle_count;
    std::size_t stacks;
    // Complex angles of incidence (A of them), or null when `angles` holds
    // real ones: a lossy incidence medium may carry a complex angle whose
    // n_0 sin(theta_0) is what the layers share.
    const Complex* complex_angles = nullptr;
    const double* roughness = nullptr;
    std::size_t roughness_stacks = 1;
    RoughnessModel roughness_model = RoughnessModel::nevot_croce;

    std::size_t points() const noexcept { return stacks * angle_count * wavelength_count; }
    std::size_t layers() const noexcept { return media - 2; }

    // Point p's place: points run wavelength fastest, then angle, then stack.
    struct Place {
        std::size_t stack;
        std::size_t angle;
        std::size_t wavelength;
    };
    Place place(std::size_t p) const noexcept {
        return {p / (wavelength_count * angle_count), (p / wavelength_count) % angle_count, p % wavelength_count};
    }
    // The next point's place, without a division.
    void advance(Place& at) const noexcept {
        if (++at.wavelength == wavelength_count) {
            at.wavelength = 0;
            if (++at.angle == angle_count) {
                at.angle = 0;
                ++at.stack;
            }
        }
    }
    // The row-major (media, index_columns) block of a stack's indices.
    const Complex* stack_indices(std::size_t stack) const noexcept {
        return indices + (index_stacks == 1 ? 0 : stack) * media * index_columns;
    }
    const double* stack_thicknesses(std::size_t stack) const noexcept {
        return thicknesses + (thickness_stacks == 1 ? 0 : stack) * layers();
    }
    // A stack's roughness per interface, or null.
    const double* stack_roughness(std::size_t stack) const noexcept {
        return roughness == nullptr ? nullptr : roughness + (roughness_stacks == 1 ? 0 : stack) * (media - 1);
    }
    std::size_t column(const Place& at) const noexcept { return index_columns == 1 ? 0 : at.wavelength; }
};

// The wavelengths [first, last) that a piece of work visits.
struct Columns {
    std::size_t first;
    std::size_t last;
};

// Those of points [begin, end): all of them once the piece wraps past the last.
inline Columns columns_of(std::size_t begin, std::size_t end, std::size_t wavelengths) noexcept {
    const std::size_t first = begin % wavelengths;
    return end - begin < wavelengths && first + (end - begin) <= wavelengths ? Columns{first, first + (end - begin)}
                                                                              : Columns{0, wavelengths};
}

// sin(theta) of every angle of the grid, as the kernel takes it once per call
// with std::sin (imaginary part 0 for real angles).
std::vector<Complex> angle_sines(const Grid& grid);

// Throws std::invalid_argument naming the first inconsistency of the shapes
// (fewer than two media, a batch size other than 1 or B, a column count other
// than 1 or W, or a point count beyond the address space).
void check_grid(const Grid& grid);

}  // namespace quilmo::lab
