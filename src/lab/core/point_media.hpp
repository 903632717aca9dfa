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
#include "lab/core/roughness.hpp"

namespace quilmo::lab {

struct PointMedia {
    std::span<const Medium> media;      // at least two
    std::span<const double> thickness;  // one per inner layer: media.size() - 2
    std::span<const bool> coherent;     // one per inner layer, or empty when all are coherent
    double wavelength;
    Complex tangential;  // U = (n_0 sin theta_0)^2
    std::span<const double> roughness{};  // one RMS roughness per interface, or empty when all are smooth
    RoughnessModel roughness_model = RoughnessModel::nevot_croce;

    // Medium j (0 .. media - 1) is treated by intensity: the two outer media
    // always, an inner one where the mask says so.
    // Interface `between` (joining media between and between + 1) is rough;
    // the factors of the interface between adjacent media `from` and `to`
    // for light going from the one into the other.
    bool rough(std::size_t between) const noexcept { return !roughness.empty() && roughness[between] != 0.0; }
    RoughFactors rough_factors_of(std::size_t from, std::size_t to) const noexcept {
        const std::size_t between = from < to ? from : to;
        return rough_factors(roughness_model, media[from], media[to], roughness[between], wavelength);
    }

    bool incoherent(std::size_t j) const noexcept {
        return j == 0 || j + 1 == media.size() || (!coherent.empty() && !coherent[j - 1]);
    }
};

}  // namespace quilmo::lab
