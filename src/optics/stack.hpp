// The transfer matrix of a layer stack at one wavelength.
//
// Media 0 .. N-1 are row j of `n` (incidence medium first, exit medium last),
// inner layer j (1 <= j <= N-2) has thickness d[j-1]. For one wavelength:
//
//   U   = (sin(theta) * n_0)^2                    tangential term
//   k_j = csqrt(n_j^2 - U),  c_j = k_j / n_j      normal wave vector, cosine
//   D(j) = [[1/tau, r/tau], [r/tau, 1/tau]]       interface j | j+1
//   P(j) = diag(e^{-i delta_j}, e^{+i delta_j})   inner layer j
//   M    = D(0) P(1) D(1) ... P(N-2) D(N-2)
//
// evaluated with the exact operations of complex.hpp, products of matrices in
// full (P's zero off-diagonals take part: they make NaN of an infinite M and
// decide the signs of zeros). Index failures raise the internal error
// "ndarray: index out of bounds" before anything is computed.
#pragma once

#include <cmath>
#include <cstddef>

#include "common/internal_error.hpp"
#include "common/owned_array.hpp"
#include "optics/complex.hpp"

namespace quilmo::optics {

// Entries column by column: M10/M00 is the amplitude reflection coefficient,
// 1/M00 the amplitude transmission coefficient from the incidence side.
struct TransferMatrix {
    Complex m00, m10, m01, m11;
};

struct MatrixPair {
    TransferMatrix s;
    TransferMatrix p;
};

inline constexpr int pol_s = 0;
inline constexpr int pol_p = 1;

template <class M>
concept MatrixParts = requires(M m) {
    m.m00;
    m.m10;
    m.m01;
    m.m11;
};

// Full 2x2 product: (X*Y)(x, y) = X(x,0)*Y(0,y) + X(x,1)*Y(1,y).
template <MatrixParts M>
constexpr M operator*(const M& x, const M& y) noexcept {
    return {x.m00 * y.m00 + x.m01 * y.m10, x.m10 * y.m00 + x.m11 * y.m10,
            x.m00 * y.m01 + x.m01 * y.m11, x.m10 * y.m01 + x.m11 * y.m11};
}

// The arrays of one simulation plus what does not change between wavelengths.
struct StackInputs {
    View1<double> d;
    View2<Complex> n;
    View1<double> wl;
    double sin_theta;
};

inline StackInputs make_stack_inputs(View1<double> d, View2<Complex> n, View1<double> wl,
                                     double theta) {
    return {d, n, wl, std::sin(theta)};
}

namespace detail {

[[noreturn]] inline void index_out_of_bounds() { panic("ndarray: index out of bounds"); }

// a < len(wl), N >= 1, a < columns of n.
inline void check_wavelength(View2<Complex> n, View1<double> wl, std::size_t a) {
    if (a >= wl.len || n.rows < 1 || a >= n.cols) {
        index_out_of_bounds();
    }
}

// N >= 2, and a thickness for every inner layer. The accumulation would stop
// at the first inner layer without one; as nothing it computes is visible,
// failing before it starts is the same.
inline void check_media(View1<double> d, View2<Complex> n) {
    if (n.rows < 2 || d.len < n.rows - 2) {
        index_out_of_bounds();
    }
}

// Index, normal wave-vector component and complex cosine of one medium; the
// same for both polarisations and for both interfaces of a layer.
struct Medium {
    Complex n;
    Complex k;
    Complex c;
};

inline Medium medium(Complex n, Complex tangential) noexcept {
    const Complex k = csqrt(square(n) - tangential);
    return {n, k, k / n};
}

// Two lanes of doubles, lane 0 for s and lane 1 for p polarisation: the
// shared pass evaluates the interface matrices and the accumulation of both
// polarisations with one vector instruction per operation.
#if defined(__GNUC__)
using Lanes = double __attribute__((vector_size(16)));
#else
struct Lanes {
    double v[2];
    double operator[](int i) const { return v[i]; }
};
inline Lanes operator+(Lanes x, Lanes y) { return {{x.v[0] + y.v[0], x.v[1] + y.v[1]}}; }
inline Lanes operator-(Lanes x, Lanes y) { return {{x.v[0] - y.v[0], x.v[1] - y.v[1]}}; }
inline Lanes operator*(Lanes x, Lanes y) { return {{x.v[0] * y.v[0], x.v[1] * y.v[1]}}; }
inline Lanes operator/(Lanes x, Lanes y) { return {{x.v[0] / y.v[0], x.v[1] / y.v[1]}}; }
inline Lanes operator*(double s, Lanes x) { return {{s * x.v[0], s * x.v[1]}}; }
#endif

struct ComplexLanes {
    Lanes re;
    Lanes im;
};

struct MatrixLanes {
    ComplexLanes m00, m10, m01, m11;
};

inline ComplexLanes lanes(Complex s, Complex p) noexcept {
    return {Lanes{s.re, p.re}, Lanes{s.im, p.im}};
}
inline ComplexLanes both(Complex z) noexcept { return lanes(z, z); }
inline Complex lane(const ComplexLanes& z, int i) noexcept { return {z.re[i], z.im[i]}; }
inline TransferMatrix lane(const MatrixLanes& m, int i) noexcept {
    return {lane(m.m00, i), lane(m.m10, i), lane(m.m01, i), lane(m.m11, i)};
}

// The 2x2 matrix of a complex-shaped type: TransferMatrix of Complex,
// MatrixLanes of ComplexLanes, and a plain four-entry matrix of any other
// (the companion's Taylor jets, for one).
template <class Z>
struct Matrix2 {
    Z m00, m10, m01, m11;
};
template <class Z>
struct MatrixOf {
    using type = Matrix2<Z>;
};
template <>
struct MatrixOf<Complex> {
    using type = TransferMatrix;
};
template <>
struct MatrixOf<ComplexLanes> {
    using type = MatrixLanes;
};

// D from the two admittance terms A, B and the numerator (2 n_j) c_j of tau.
template <class Z>
typename MatrixOf<Z>::type interface_matrix(const Z& a, const Z& b, const Z& tau_numerator) noexcept {
    const Z sum = a + b;
    const Z r = (a - b) / sum;
    const Z tau = tau_numerator / sum;
    const Z inv_tau = reciprocal(tau);
    const Z r_tau = r / tau;
    return {inv_tau, r_tau, r_tau, inv_tau};
}

// s: A = c_j n_j, B = c_j+1 n_j+1; p: A = c_j n_j+1, B = c_j+1 n_j.
inline TransferMatrix interface_s(const Medium& m, const Medium& next, Complex tau_numerator) noexcept {
    return interface_matrix(m.c * m.n, next.c * next.n, tau_numerator);
}

inline TransferMatrix interface_p(const Medium& m, const Medium& next, Complex tau_numerator) noexcept {
    return interface_matrix(m.c * next.n, next.c * m.n, tau_numerator);
}

// Both at once, s in lane 0 and p in lane 1.
inline MatrixLanes interface_sp(const Medium& m, const Medium& next, Complex tau_numerator) noexcept {
    return interface_matrix(both(m.c) * lanes(m.n, next.n), both(next.c) * lanes(next.n, m.n),
                            both(tau_numerator));
}

// P of an inner layer from its phase factor S and thickness t: diag(e-, e+),
// e+- = e^{+-i S t}.
inline TransferMatrix phase_layer_matrix(Complex phase, double t) noexcept {
    constexpr Complex zero{0.0, 0.0};
    const double x = phase.im * t;
    const double y = phase.re * t;
    if (sin_cos_symmetric && std::isfinite(x) && std::isfinite(y)) {
        // Rounding is symmetric in sign, so with finite products the arguments
        // below are exactly (-x, y) for e+ and (x, -y) for e-; cexp takes its
        // general formula for both, and sin(-y), cos(-y) are -sin y, cos y.
        const SinCos sc = sin_cos(y);
        const bool lossless = exp_of_zero_is_one && x == 0.0;
        const double up = lossless ? 1.0 : std::exp(-x);
        const double down = lossless ? 1.0 : std::exp(x);
        return {{sc.cos * down, (-sc.sin) * down}, zero, zero, {sc.cos * up, sc.sin * up}};
    }
    const Complex e_plus = cexp({-(phase.im) * t, phase.re * t});
    const Complex e_minus = cexp({phase.im * t, -(phase.re) * t});
    return {e_minus, zero, zero, e_plus};
}

// The numerator n (2pi c) of a layer's S = (n 2pi c) / wl.
inline Complex phase_numerator(const Medium& m) noexcept { return m.n * (two_pi * m.c); }

// P of an inner layer of thickness t: diag(e-, e+), e+- = e^{+-i S t} with
// S = (n 2pi c) / wl.
inline TransferMatrix layer_matrix(const Medium& m, double wavelength, double t) noexcept {
    return phase_layer_matrix(phase_numerator(m) / wavelength, t);
}

// A layer matrix in both lanes.
inline MatrixLanes widen_both(const TransferMatrix& layer) noexcept {
    return {both(layer.m00), both(layer.m10), both(layer.m01), both(layer.m11)};
}

// Accumulates M = D(0) P(1) D(1) ... P(N-2) D(N-2) for wavelength index a
// (indices checked by the caller), medium by medium. `interface` makes D(j)
// from media j and j+1, `widen` turns a layer matrix into the type of M.
template <class Out, class Interface, class Widen>
Out accumulate(View1<double> d, View2<Complex> n, double wavelength, double sin_theta, std::size_t a,
               Interface interface, Widen widen) noexcept {
    const Complex n0 = n.at(0, a);
    const Complex tangential = square(sin_theta * n0);
    Medium m = medium(n0, tangential);
    Medium next = medium(n.at(1, a), tangential);
    Out out = interface(m, next, twice(m.n) * m.c);
    for (std::size_t j = 1; j + 1 < n.rows; ++j) {
        m = next;
        next = medium(n.at(j + 1, a), tangential);
        const TransferMatrix layer = layer_matrix(m, wavelength, d[j - 1]);
        out = (out * widen(layer)) * interface(m, next, twice(m.n) * m.c);
    }
    return out;
}

template <int Pol>
TransferMatrix stack_pass(View1<double> d, View2<Complex> n, double wavelength, double sin_theta,
                          std::size_t a) noexcept {
    return accumulate<TransferMatrix>(
        d, n, wavelength, sin_theta, a,
        [](const Medium& m, const Medium& next, Complex tau_numerator) {
            return Pol == pol_s ? interface_s(m, next, tau_numerator) : interface_p(m, next, tau_numerator);
        },
        [](const TransferMatrix& layer) { return layer; });
}

// Both polarisations in one pass: media and layer matrices computed once,
// interfaces and products in lanes (s in lane 0, p in lane 1). Each lane goes
// through the operations of stack_pass in the same order, so it matches it
// bit for bit.
inline MatrixPair stack_pass_pair(View1<double> d, View2<Complex> n, double wavelength,
                                  double sin_theta, std::size_t a) noexcept {
    const MatrixLanes out = accumulate<MatrixLanes>(
        d, n, wavelength, sin_theta, a, interface_sp,
        [](const TransferMatrix& layer) { return widen_both(layer); });
    return {lane(out, 0), lane(out, 1)};
}

}  // namespace detail

// Stack matrix of wavelength index a for polarisation pol: pol_s (0), or
// pol_p (1) for any other value.
inline TransferMatrix transfer_matrix(View1<double> d, View2<Complex> n, View1<double> wl,
                                      double theta, std::size_t a, int pol) {
    detail::check_wavelength(n, wl, a);
    const double sin_theta = std::sin(theta);
    detail::check_media(d, n);
    if (pol == pol_s) {
        return detail::stack_pass<pol_s>(d, n, wl[a], sin_theta, a);
    }
    return detail::stack_pass<pol_p>(d, n, wl[a], sin_theta, a);
}

// Both matrices of wavelength index a in one pass; the same bits as
// transfer_matrix for pol_s and for pol_p, and the same index checks.
inline MatrixPair transfer_matrix_pair(const StackInputs& in, std::size_t a) {
    detail::check_wavelength(in.n, in.wl, a);
    detail::check_media(in.d, in.n);
    return detail::stack_pass_pair(in.d, in.n, in.wl[a], in.sin_theta, a);
}

}  // namespace quilmo::optics
