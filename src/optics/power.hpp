// Reflectance and transmittance of one wavelength from its pair of stack
// matrices, each the cos^2(phi) / sin^2(phi) weighted sum of the s and p power
// fractions. Pure functions; degenerate inputs give infinities or NaN.
#pragma once

#include <cmath>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics {

// |r_s|^2 cos^2(phi) + |r_p|^2 sin^2(phi), r = M10 / M00.
inline double reflectance(const MatrixPair& pair, double phi) noexcept {
    const SinCos sc_phi = sin_cos(phi);
    const Complex r_s = pair.s.m10 / pair.s.m00;
    const Complex r_p = pair.p.m10 / pair.p.m00;
    const double a_s = abs(r_s);
    const double a_p = abs(r_p);
    return (a_s * a_s) * (sc_phi.cos * sc_phi.cos) + (a_p * a_p) * (sc_phi.sin * sc_phi.sin);
}

// (|tau_s|^2 cos^2(phi) + |tau_p|^2 sin^2(phi)) * g, tau = 1 / M00, with
// g = Re(sqrt(n_out^2 - n_in^2 sin^2 theta) / (n_in cos theta)) the ratio of
// the normal admittances of exit and incidence medium.
inline double transmittance(const MatrixPair& pair, Complex n_in, Complex n_out, double theta,
                            double phi) noexcept {
    const double sin_theta = std::sin(theta);
    const double s2 = sin_theta * sin_theta;
    const Complex out_sq = square(n_out);
    const Complex in_sq = square(n_in);
    const Complex z{out_sq.re - in_sq.re * s2, out_sq.im - in_sq.im * s2};
    const Complex w = csqrt(z);
    const double cos_theta = std::cos(theta);
    const SinCos sc_phi = sin_cos(phi);
    const Complex tau_s = reciprocal(pair.s.m00);
    const Complex tau_p = reciprocal(pair.p.m00);
    const double b_s = abs(tau_s);
    const double b_p = abs(tau_p);
    const Complex k = n_in * cos_theta;
    const double g = (w.re * k.re + w.im * k.im) / (k.re * k.re + k.im * k.im);
    return ((b_s * b_s) * (sc_phi.cos * sc_phi.cos) + (b_p * b_p) * (sc_phi.sin * sc_phi.sin)) * g;
}

}  // namespace quilmo::optics
