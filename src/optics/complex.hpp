// Complex numbers for the optical kernel, with every operation evaluated in
// one fixed order.
//
// Each formula below is the plain textbook one, written left to right as it is
// evaluated: no scaling of operands, no recovery of infinities, no test for a
// zero divisor. Infinities and NaN flow through by IEEE rules. Fixing the order
// is what makes the kernel's results reproducible bit for bit, so the file
// refuses to build under -ffast-math, and the project compiles it with
// -ffp-contract=off (a fused a*b+c would round once instead of twice).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>

#if defined(__FAST_MATH__)
#error "the optical kernel must not be compiled with -ffast-math"
#endif

namespace quilmo::optics {

// Real part first: the memory layout of NumPy's complex128.
struct Complex {
    double re;
    double im;
};
static_assert(sizeof(Complex) == 16);
static_assert(alignof(Complex) == alignof(double));
static_assert(std::is_standard_layout_v<Complex> && std::is_trivially_copyable_v<Complex>);
static_assert(offsetof(Complex, re) == 0 && offsetof(Complex, im) == sizeof(double));

// The double nearest to 2*pi.
inline constexpr double two_pi = 6.283185307179586;

struct SinCos {
    double sin;
    double cos;
};

// Sine and cosine of one argument; the same values as std::sin and std::cos.
inline SinCos sin_cos(double x) noexcept {
#if defined(__GLIBC__)
    SinCos out;
    ::sincos(x, &out.sin, &out.cos);
    return out;
#else
    return {std::sin(x), std::cos(x)};
#endif
}

// Whether sin_cos(-x) is {-sin x, cos x} of sin_cos(x) bit for bit for every
// finite x. glibc's sine and cosine reduce |x| and restore the sign, so its
// sine is odd and its cosine even exactly (the tests check it over random
// arguments of every magnitude); for any other C library the kernel makes no
// such assumption and calls sin_cos once per argument.
#if defined(__GLIBC__)
inline constexpr bool sin_cos_symmetric = true;
#else
inline constexpr bool sin_cos_symmetric = false;
#endif

// Whether exp(+-0) is exactly 1, as C's IEC 60559 annex requires of a library
// that claims it. A lossless layer's exponentials have a zero real part.
#if defined(__STDC_IEC_559__)
inline constexpr bool exp_of_zero_is_one = true;
#else
inline constexpr bool exp_of_zero_is_one = false;
#endif

// The formulas below are written once for every complex-shaped type: Complex
// itself, and the kernel's vector lanes that carry several independent complex
// numbers (see stack.hpp). A lane operation rounds each lane exactly as the
// scalar operation would, so both give the same bits.
template <class Z>
concept ComplexParts = requires(Z z) {
    z.re;
    z.im;
};

template <ComplexParts Z>
constexpr Z operator+(const Z& z, const Z& w) noexcept {
    return {z.re + w.re, z.im + w.im};
}

template <ComplexParts Z>
constexpr Z operator-(const Z& z, const Z& w) noexcept {
    return {z.re - w.re, z.im - w.im};
}

// (a*u - b*v, a*v + b*u)
template <ComplexParts Z>
constexpr Z operator*(const Z& z, const Z& w) noexcept {
    return {z.re * w.re - z.im * w.im, z.re * w.im + z.im * w.re};
}

// ((a*u + b*v)/q, (b*u - a*v)/q) with q = u*u + v*v; no scaling.
template <ComplexParts Z>
constexpr Z operator/(const Z& z, const Z& w) noexcept {
    const auto q = w.re * w.re + w.im * w.im;
    return {(z.re * w.re + z.im * w.im) / q, (z.im * w.re - z.re * w.im) / q};
}

// (1, 0) / w by the quotient rule, zero terms included: they turn an infinite
// part of w into NaN.
template <ComplexParts Z>
constexpr Z reciprocal(const Z& w) noexcept {
    const auto q = w.re * w.re + w.im * w.im;
    return {(1.0 * w.re + 0.0 * w.im) / q, (0.0 * w.re - 1.0 * w.im) / q};
}

// (a*a - b*b, a*b + a*b)
template <ComplexParts Z>
constexpr Z square(const Z& z) noexcept {
    return {z.re * z.re - z.im * z.im, z.re * z.im + z.re * z.im};
}

// 2*z as (a + a, b + b).
template <ComplexParts Z>
constexpr Z twice(const Z& z) noexcept {
    return {z.re + z.re, z.im + z.im};
}

// Real scalars act on each part; they are not widened to complex numbers.
template <ComplexParts Z>
constexpr Z operator*(double s, const Z& z) noexcept {
    return {s * z.re, s * z.im};
}

template <ComplexParts Z>
constexpr Z operator*(const Z& z, double s) noexcept {
    return {z.re * s, z.im * s};
}

template <ComplexParts Z>
constexpr Z operator/(const Z& z, double s) noexcept {
    return {z.re / s, z.im / s};
}

constexpr double norm(Complex z) noexcept { return z.re * z.re + z.im * z.im; }

inline double abs(Complex z) noexcept { return std::hypot(z.re, z.im); }

// Principal square root, branch cut on the negative real axis. A zero
// imaginary part and a zero real part take exact routes that keep the signs of
// zeros; everything else (NaN included) goes through the polar form.
inline Complex csqrt(Complex z) noexcept {
    const double x = z.re;
    const double y = z.im;
    if (y == 0.0) {
        if (!std::signbit(x)) {
            return {std::sqrt(x), y};
        }
        const double s = std::sqrt(-x);
        return {0.0, std::signbit(y) ? -s : s};
    }
    if (x == 0.0) {
        const double s = std::sqrt(std::fabs(y) * 0.5);
        return {s, std::signbit(y) ? -s : s};
    }
    const double rho = std::hypot(x, y);
    const double alpha = std::atan2(y, x) * 0.5;
    const double m = std::sqrt(rho);
    const SinCos sc = sin_cos(alpha);
    return {sc.cos * m, sc.sin * m};
}

// e^z. Infinite real parts are settled before exp is called where the general
// formula would give 0*inf or inf*0; everything else is exp(x) * (cos y, sin y).
inline Complex cexp(Complex z) noexcept {
    const double x = z.re;
    const double y = z.im;
    if (std::isinf(x)) {
        if (x < 0.0) {
            if (!std::isfinite(y)) {
                return {0.0, 0.0};
            }
        } else if (!std::isfinite(y) || y == 0.0) {
            return {x, std::isinf(y) ? std::numeric_limits<double>::quiet_NaN() : y};
        }
    } else if (std::isnan(x) && y == 0.0) {
        return z;
    }
    const double e = std::exp(x);
    const SinCos sc = sin_cos(y);
    return {sc.cos * e, sc.sin * e};
}

}  // namespace quilmo::optics
