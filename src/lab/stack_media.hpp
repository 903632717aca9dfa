// The media of one stack at one wavelength and one angle of incidence, as the
// routines for incoherent layers and fields read them.
//
// Media are the kernel's `Medium` records (index, normal wave-vector component
// k = csqrt(n^2 - U), cosine c = k / n), incidence medium first, exit medium
// last, built once per point with the kernel's `medium`, so that the
// tangential term U = (n_0 sin theta_0)^2 is the kernel's and each root is
// taken once.
#pragma once

#include <cstddef>
#include <span>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

using optics::Complex;
using optics::detail::Medium;

struct StackMedia {
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

// Both polarisations of one quantity.
template <class T>
struct PolPair {
    T s;
    T p;
};

}  // namespace quilmo::lab
