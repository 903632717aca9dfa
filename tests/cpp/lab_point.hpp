// Owned stacks for the companion engine's tests: media built with the
// kernel's `medium` at one wavelength and angle, handed out as a StackMedia.
#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "lab/stack_media.hpp"

namespace quilmo::lab::testing {

struct OwnedPoint {
    std::vector<Medium> media;
    std::vector<double> thickness;
    std::unique_ptr<bool[]> mask;
    std::size_t mask_len;
    double wavelength;
    Complex tangential;

    OwnedPoint(const std::vector<Complex>& n, std::vector<double> d, double wl, double theta,
               std::vector<bool> coherent = {})
        : thickness(std::move(d)), wavelength(wl) {
        const double s = std::sin(theta);
        tangential = optics::square(s * n[0]);
        for (const Complex& index : n) {
            media.push_back(optics::detail::medium(index, tangential));
        }
        mask_len = coherent.size();
        mask = std::make_unique<bool[]>(mask_len);
        for (std::size_t i = 0; i < mask_len; ++i) {
            mask[i] = coherent[i];
        }
    }

    StackMedia view() const {
        return {media, thickness, std::span<const bool>(mask.get(), mask_len), wavelength, tangential};
    }
};

}  // namespace quilmo::lab::testing
