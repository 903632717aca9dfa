// The stack matrix of a stack with opaque layers, where the plain product
// overflows.
//
// Each layer enters with its growing exponential taken out
// (optics/layer_scaling.hpp), and the running product is brought back near 1
// by a power of two (exact) whenever its largest entry leaves [2^-256, 2^256].
// Both scales add up in StackMatrix::log_scale. r = M10 / M00 does not see
// the scale; t = 1 / M00 takes it back in at the end, through one exponential
// that underflows to 0 only where t itself is below the smallest double.
#pragma once

#include <algorithm>
#include <cmath>

#include "lab/stack_point.hpp"
#include "optics/layer_scaling.hpp"

namespace quilmo::lab {

namespace detail {

inline constexpr double ln2 = 0.6931471805599453;

inline double largest_part(const MatrixLanes& m) noexcept {
    double big = 0.0;
    for (const optics::detail::ComplexLanes* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        for (int lane = 0; lane < 2; ++lane) {
            big = std::max({big, std::fabs(z->re[lane]), std::fabs(z->im[lane])});
        }
    }
    return big;
}

// Divides m by 2^e, e the binary exponent of its largest finite part, when
// that lies outside [-256, 256]; returns e (else 0).
inline int rebalance(MatrixLanes& m) noexcept {
    const double big = largest_part(m);
    if (!(big > 0.0) || !std::isfinite(big)) {
        return 0;
    }
    const int e = std::ilogb(big);
    if (e >= -256 && e <= 256) {
        return 0;
    }
    const double factor = std::ldexp(1.0, -e);
    for (optics::detail::ComplexLanes* z : {&m.m00, &m.m10, &m.m01, &m.m11}) {
        z->re = factor * z->re;
        z->im = factor * z->im;
    }
    return e;
}

}  // namespace detail

// The same media, interfaces and order of products as the exact pass, with
// scaled layer matrices.
inline StackMatrix scaled_stack_matrix(const StackPoint& point) noexcept {
    using optics::detail::interface_sp;
    using optics::detail::medium;
    const View2<Complex>& n = point.n;
    const Complex n0 = n.at(0, point.column);
    const Complex tangential = optics::square(point.sin_theta * n0);
    Medium m = medium(n0, tangential);
    const Medium incidence = m;
    Medium next = medium(n.at(1, point.column), tangential);
    MatrixLanes out = interface_sp(m, next, optics::twice(m.n) * m.c);
    double log_scale = 0.0;
    int binary_scale = 0;
    for (std::size_t j = 1; j + 1 < n.rows; ++j) {
        m = next;
        next = medium(n.at(j + 1, point.column), tangential);
        const optics::detail::ScaledLayerMatrix layer =
            optics::detail::scaled_layer_matrix(m, point.wavelength, point.d[j - 1]);
        log_scale += layer.log_scale;
        out = (out * optics::detail::widen_both(layer.matrix)) *
              interface_sp(m, next, optics::twice(m.n) * m.c);
        binary_scale += detail::rebalance(out);
    }
    return {out, log_scale + binary_scale * detail::ln2, incidence, next};
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
    return unit * std::exp(e * detail::ln2 - log_scale);
}

}  // namespace quilmo::lab
