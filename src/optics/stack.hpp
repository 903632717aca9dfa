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

// Full 2x2 product: (X*Y)(x, y) = X(x,0)*Y(0,y) + X(x,1)*Y(1,y).
constexpr TransferMatrix operator*(const TransferMatrix& x, const TransferMatrix& y) noexcept {
    return {x.m00 * y.m00 + x.m01 * y.m10, x.m10 * y.m00 + x.m11 * y.m10,
            x.m00 * y.m01 + x.m01 * y.m11, x.m10 * y.m01 + x.m11 * y.m11};
}

// The arrays of one simulation plus what does not change between wavelengths.
struct StackInputs {
    View1<double> d;
    View2<Complex> n;
    View1<double> wl;
    double theta;
    double sin_theta;
};

inline StackInputs make_stack_inputs(View1<double> d, View2<Complex> n, View1<double> wl,
                                     double theta) {
    return {d, n, wl, theta, std::sin(theta)};
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

// D from the two admittance terms A, B and the numerator (2 n_j) c_j of tau.
inline TransferMatrix interface_matrix(Complex a, Complex b, Complex tau_numerator) noexcept {
    const Complex sum = a + b;
    const Complex r = (a - b) / sum;
    const Complex tau = tau_numerator / sum;
    const Complex inv_tau = reciprocal(tau);
    const Complex r_tau = r / tau;
    return {inv_tau, r_tau, r_tau, inv_tau};
}

inline TransferMatrix interface_s(const Medium& m, const Medium& next, Complex tau_numerator) noexcept {
    return interface_matrix(m.c * m.n, next.c * next.n, tau_numerator);
}

inline TransferMatrix interface_p(const Medium& m, const Medium& next, Complex tau_numerator) noexcept {
    return interface_matrix(m.c * next.n, next.c * m.n, tau_numerator);
}

// P of an inner layer of thickness t: diag(e-, e+), e+- = e^{+-i S t} with
// S = (n 2pi c) / wl.
inline TransferMatrix layer_matrix(const Medium& m, double wavelength, double t) noexcept {
    const Complex w = two_pi * m.c;
    const Complex phase = (m.n * w) / wavelength;
    const Complex e_plus = cexp({-(phase.im) * t, phase.re * t});
    const Complex e_minus = cexp({phase.im * t, -(phase.re) * t});
    constexpr Complex zero{0.0, 0.0};
    return {e_minus, zero, zero, e_plus};
}

// One pass over the media of wavelength index a; computes the s matrix, the
// p matrix or both from the same media and layer matrices. Indices checked.
template <bool WithS, bool WithP>
MatrixPair stack_pass(View1<double> d, View2<Complex> n, double wavelength, double sin_theta,
                      std::size_t a) noexcept {
    const std::size_t count = n.rows;
    const Complex n0 = n.at(0, a);
    const Complex tangential = square(sin_theta * n0);

    Medium m = medium(n0, tangential);
    Medium next = medium(n.at(1, a), tangential);
    Complex tau_numerator = twice(m.n) * m.c;
    MatrixPair out{};
    if constexpr (WithS) out.s = interface_s(m, next, tau_numerator);
    if constexpr (WithP) out.p = interface_p(m, next, tau_numerator);

    for (std::size_t j = 1; j + 1 < count; ++j) {
        m = next;
        next = medium(n.at(j + 1, a), tangential);
        const TransferMatrix layer = layer_matrix(m, wavelength, d[j - 1]);
        tau_numerator = twice(m.n) * m.c;
        if constexpr (WithS) out.s = (out.s * layer) * interface_s(m, next, tau_numerator);
        if constexpr (WithP) out.p = (out.p * layer) * interface_p(m, next, tau_numerator);
    }
    return out;
}

}  // namespace detail

// Stack matrix of wavelength index a for polarisation pol (pol_s or pol_p).
inline TransferMatrix transfer_matrix(View1<double> d, View2<Complex> n, View1<double> wl,
                                      double theta, std::size_t a, int pol) {
    detail::check_wavelength(n, wl, a);
    const double sin_theta = std::sin(theta);
    detail::check_media(d, n);
    if (pol == pol_s) {
        return detail::stack_pass<true, false>(d, n, wl[a], sin_theta, a).s;
    }
    return detail::stack_pass<false, true>(d, n, wl[a], sin_theta, a).p;
}

// Both matrices of wavelength index a in one pass; the same bits as
// transfer_matrix for pol_s and for pol_p, and the same index checks.
inline MatrixPair transfer_matrix_pair(const StackInputs& in, std::size_t a) {
    detail::check_wavelength(in.n, in.wl, a);
    detail::check_media(in.d, in.n);
    return detail::stack_pass<true, true>(in.d, in.n, in.wl[a], in.sin_theta, a);
}

}  // namespace quilmo::optics
