// Where a grid driver writes: planes of one value per point, (B, A, W) each,
// or of one value per point and inner layer, (B, A, layers, W) each, one
// plane after the other in one C-contiguous array.
#pragma once

#include <cstddef>

#include "lab/core/grid.hpp"

namespace quilmo::lab {

template <class T>
struct PointPlanes {
    T* data;
    std::size_t points;

    T& operator()(std::size_t plane, std::size_t p) const noexcept { return data[plane * points + p]; }
};

template <class T>
struct LayerPlanes {
    T* data;
    std::size_t points;
    std::size_t layers;
    std::size_t wavelengths;

    LayerPlanes(T* data_, const Grid& grid) noexcept
        : data(data_), points(grid.points()), layers(grid.layers()), wavelengths(grid.wavelength_count) {}

    // Point p = (stack, angle, w) and inner layer l (from 0) sit at (stack, angle, l, w).
    T& operator()(std::size_t plane, std::size_t p, std::size_t layer) const noexcept {
        return data[plane * points * layers + (p / wavelengths * layers + layer) * wavelengths + p % wavelengths];
    }
};

}  // namespace quilmo::lab
