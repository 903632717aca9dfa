// The stack matrix of media first .. last where the plain product overflows:
// the one scaled product, for whole coherent stacks with opaque layers and
// for the coherent runs between incoherent layers.
//
// Each layer enters with its growing exponential taken out
// (optics/layer_scaling.hpp), and the running product is brought back near 1
// by a power of two (exact) whenever its largest entry leaves [2^-256, 2^256].
// Both scales add up in log_scale. r = M10 / M00 does not see the scale;
// t = 1 / M00 takes it back in at the end (unscale), through one exponential
// that underflows to 0 only where t itself is below the smallest double.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

inline constexpr double ln2 = 0.6931471805599453;

// The product is m e^{log_scale}.
struct ScaledProduct {
    MatrixLanes m;
    double log_scale;
};

// The largest modulus of a real or imaginary part of m, and m times a power
// of two; matrix types of Taylor jets give their own overloads.
inline double largest_part(const MatrixLanes& m) noexcept {
    double big = 0.0;
    for (const ComplexLanes* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        for (int lane = 0; lane < 2; ++lane) {
            big = std::max({big, std::fabs(z->re[lane]), std::fabs(z->im[lane])});
        }
    }
    return big;
}

inline void scale_parts(MatrixLanes& m, double factor) noexcept {
    for (ComplexLanes* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        z->re = factor * z->re;
        z->im = factor * z->im;
    }
}

// Divides m by 2^e, e the binary exponent of its largest finite part, when
// that lies outside [-256, 256]; returns e (else 0). Exact.
template <class Matrix>
int rebalance(Matrix& m) noexcept {
    const double big = largest_part(m);
    if (!(big > 0.0) || !std::isfinite(big)) {
        return 0;
    }
    const int e = std::ilogb(big);
    if (e >= -256 && e <= 256) {
        return 0;
    }
    const double factor = std::ldexp(1.0, -e);
    scale_parts(m, factor);
    return e;
}

// D(first) P(first + 1) D(first + 1) ... P(last - 1) D(last - 1) with every P
// scaled: the kernel's media, interfaces and order of products. medium(j)
// and interface(j) give the point's medium j and the interface between media
// j and j + 1; inner layer j has thickness[j - 1].
template <class MediumOf, class InterfaceOf>
ScaledProduct scaled_product(const MediumOf& medium, const InterfaceOf& interface, std::span<const double> thickness,
                             double wavelength, std::size_t first, std::size_t last) noexcept {
    MatrixLanes m = interface(first);
    double log_scale = 0.0;
    int binary_scale = 0;
    for (std::size_t j = first + 1; j < last; ++j) {
        const optics::kernel::ScaledLayerMatrix layer =
            optics::kernel::scaled_layer_matrix(medium(j), wavelength, thickness[j - 1]);
        log_scale += layer.log_scale;
        m = (m * optics::kernel::widen_both(layer.matrix)) * interface(j);
        binary_scale += rebalance(m);
    }
    return {m, log_scale + binary_scale * ln2};
}

// z * e^{-log_scale}, with z brought near 1 first so that the product is
// rounded once, in the normal range wherever the result is.
inline Complex unscale(Complex z, double log_scale) noexcept {
    const double big = std::max(std::fabs(z.re), std::fabs(z.im));
    if (!(big > 0.0) || !std::isfinite(big)) {
        return z * std::exp(-log_scale);
    }
    const int e = std::ilogb(big);
    const Complex unit{std::ldexp(z.re, -e), std::ldexp(z.im, -e)};
    return unit * std::exp(e * ln2 - log_scale);
}

}  // namespace quilmo::lab
