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

// The value of a real part at the point itself: the number for a double;
// number types that carry derivatives (Taylor jets) give their own overload.
inline double leading_value(double x) noexcept { return x; }

// The diagonal entries e^{-i delta}, e^{+i delta} of a layer of phase delta
// (any complex type C with parts that take `- double` and a cexp), both
// divided by e^{log_scale}, log_scale = |Im delta| at the point: an exact
// positive real factor, so every phase and its derivatives stay as they are.
template <class C>
struct ScaledDiagonal {
    C e_minus;
    C e_plus;
    double log_scale;
};

template <class C>
ScaledDiagonal<C> scaled_diagonal(const C& delta) noexcept {
    const double growth = std::fabs(leading_value(delta.im));
    return {cexp(C{delta.im - growth, -delta.re}), cexp(C{-delta.im - growth, delta.re}), growth};
}

// matrix * e^{log_scale} is the layer's P.
struct ScaledLayerMatrix {
    TransferMatrix matrix;
    double log_scale;
};

inline ScaledLayerMatrix scaled_layer_matrix(const Medium& m, double wavelength, double t) noexcept {
    const Complex phase = phase_numerator(m) / wavelength;
    const ScaledDiagonal<Complex> layer = scaled_diagonal(Complex{phase.re * t, phase.im * t});
    constexpr Complex zero{0.0, 0.0};
    return {{layer.e_minus, zero, zero, layer.e_plus}, layer.log_scale};
}

}  // namespace quilmo::optics::detail
