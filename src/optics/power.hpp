// Reflectance and transmittance of one wavelength from its pair of stack
// matrices, each the cos^2(phi) / sin^2(phi) weighted sum of the s and p power
// fractions. Pure functions; degenerate inputs give infinities or NaN.
#pragma once

#include <cmath>

#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics {

// The sines and cosines of the two angles. They are the same for every
// wavelength of a call, so a driver computes them once; the results are the
// bits of computing them per wavelength.
struct Angles {
    double sin_theta;
    double cos_theta;
    SinCos phi;
};

inline Angles make_angles(double theta, double phi) noexcept {
    return {std::sin(theta), std::cos(theta), sin_cos(phi)};
}

// |r_s|^2 cos^2(phi) + |r_p|^2 sin^2(phi), r = M10 / M00.
inline double reflectance(const MatrixPair& pair, const SinCos& sc_phi) noexcept {
    const Complex r_s = pair.s.m10 / pair.s.m00;
    const Complex r_p = pair.p.m10 / pair.p.m00;
    const double a_s = abs(r_s);
    const double a_p = abs(r_p);
    return (a_s * a_s) * (sc_phi.cos * sc_phi.cos) + (a_p * a_p) * (sc_phi.sin * sc_phi.sin);
}

inline double reflectance(const MatrixPair& pair, double phi) noexcept {
    return reflectance(pair, sin_cos(phi));
}

// g = Re(sqrt(n_out^2 - n_in^2 sin^2 theta) / (n_in cos theta)), the ratio of
// the normal admittances of exit and incidence medium.
inline double admittance_ratio(Complex n_in, Complex n_out, const Angles& angles) noexcept {
    const double s2 = angles.sin_theta * angles.sin_theta;
    const Complex out_sq = square(n_out);
    const Complex in_sq = square(n_in);
    const Complex z{out_sq.re - in_sq.re * s2, out_sq.im - in_sq.im * s2};
    const Complex w = csqrt(z);
    const Complex k = n_in * angles.cos_theta;
    return (w.re * k.re + w.im * k.im) / (k.re * k.re + k.im * k.im);
}

// (|tau_s|^2 cos^2(phi) + |tau_p|^2 sin^2(phi)) * g, tau = 1 / M00, for the
// admittance ratio g of the two outer media.
inline double transmittance(const MatrixPair& pair, double admittance_ratio, const SinCos& sc_phi) noexcept {
    const Complex tau_s = reciprocal(pair.s.m00);
    const Complex tau_p = reciprocal(pair.p.m00);
    const double b_s = abs(tau_s);
    const double b_p = abs(tau_p);
    return ((b_s * b_s) * (sc_phi.cos * sc_phi.cos) + (b_p * b_p) * (sc_phi.sin * sc_phi.sin)) *
           admittance_ratio;
}

inline double transmittance(const MatrixPair& pair, Complex n_in, Complex n_out,
                            const Angles& angles) noexcept {
    return transmittance(pair, admittance_ratio(n_in, n_out, angles), angles.phi);
}

inline double transmittance(const MatrixPair& pair, Complex n_in, Complex n_out, double theta,
                            double phi) noexcept {
    return transmittance(pair, n_in, n_out, make_angles(theta, phi));
}

}  // namespace quilmo::optics
