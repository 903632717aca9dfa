// Where a grid driver writes: planes of one value per point, (B, A, W) each,
// or of one value per point and inner layer (or interface), (B, A, layers, W)
// each, one plane after the other in one C-contiguous array.
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

    LayerPlanes(T* data_, const Grid& grid) noexcept : LayerPlanes(data_, grid, grid.layers()) {}
    // `per_point` entries per point in place of the inner layers: media - 1 for interfaces.
    LayerPlanes(T* data_, const Grid& grid, std::size_t per_point) noexcept
        : data(data_), points(grid.points()), layers(per_point), wavelengths(grid.wavelength_count) {}

    // The entries of one point: point p = (stack, angle, w) and inner layer l
    // (from 0) sit at (stack, angle, l, w) of each plane.
    struct Row {
        T* first;             // plane 0, layer 0
        std::size_t layer;    // from one layer to the next
        std::size_t plane;    // from one plane to the next

        T& operator()(std::size_t plane_index, std::size_t l) const noexcept {
            return first[plane_index * plane + l * layer];
        }
    };

    Row row(std::size_t p) const noexcept {
        return {data + (p / wavelengths * layers) * wavelengths + p % wavelengths, wavelengths, points * layers};
    }
};

}  // namespace quilmo::lab
