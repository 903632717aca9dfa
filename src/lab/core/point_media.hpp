// The media of one stack at one wavelength and one angle of incidence: what
// every per-point routine reads.
//
// Media are the kernel's `Medium` records (index, normal wave-vector component
// k = csqrt(n^2 - U), cosine c = k / n), incidence medium first, exit medium
// last, built by the point builder (core/point_builder.hpp) with the kernel's
// `medium`, so that the tangential term U = (n_0 sin theta_0)^2 is the
// kernel's and each root is taken once.
#pragma once

#include <cstddef>
#include <span>

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

struct PointMedia {
    std::span<const Medium> media;      // at least two
    std::span<const double> thickness;  // one per inner layer: media.size() - 2
    std::span<const bool> coherent;     // one per inner layer, or empty when all are coherent
    double wavelength;
    Complex tangential;  // U = (n_0 sin theta_0)^2

    // Medium j (0 .. media - 1) is treated by intensity: the two outer media
    // always, an inner one where the mask says so.
    bool incoherent(std::size_t j) const noexcept {
        return j == 0 || j + 1 == media.size() || (!coherent.empty() && !coherent[j - 1]);
    }
};

}  // namespace quilmo::lab
