// The layer matrix with its growing exponential taken out.
//
// An absorbing layer's matrix diag(e^{-i delta}, e^{+i delta}) holds one entry
// of size e^{|Im delta|}: 1 mm of a metal at visible wavelengths makes that
// e^{50000}, far past the largest double. Dividing both entries by
// e^{|Im delta|} leaves one entry of modulus 1 and one of e^{-2|Im delta|}
// (which may underflow to 0: the light that crosses the layer twice), and the
// scale travels beside the matrix as its natural logarithm. Same phase as
// layer_matrix in stack.hpp.
#pragma once

#include <cmath>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics::detail {

// matrix * e^{log_scale} is the layer's P.
struct ScaledLayerMatrix {
    TransferMatrix matrix;
    double log_scale;
};

inline ScaledLayerMatrix scaled_layer_matrix(const Medium& m, double wavelength, double t) noexcept {
    const Complex phase = phase_numerator(m) / wavelength;
    const double growth = std::fabs(phase.im * t);
    const Complex e_plus = cexp({-(phase.im) * t - growth, phase.re * t});
    const Complex e_minus = cexp({phase.im * t - growth, -(phase.re) * t});
    constexpr Complex zero{0.0, 0.0};
    return {{e_minus, zero, zero, e_plus}, growth};
}

}  // namespace quilmo::optics::detail
