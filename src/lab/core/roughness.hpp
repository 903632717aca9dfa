// Rough interfaces: the Fresnel coefficients of an interface with RMS
// roughness sigma, multiplied by the factors of a Gaussian height
// distribution (Nevot & Croce, Rev. Phys. Appl. 15, 761 (1980); the
// Debye-Waller form for uncorrelated heights).
//
// With K_j = 2 pi k_j / wavelength the normal wave vector of medium j:
//   Nevot-Croce:  r ~ r e^{-2 K_j K_j+1 sigma^2}
//   Debye-Waller: r ~ r e^{-2 K_j^2 sigma^2}   (K of the side the light comes from)
//   both:         t ~ t e^{(K_j - K_j+1)^2 sigma^2 / 2}
// The rough interface matrix keeps the smooth one's form,
// D = [[1, -r'], [r, 1]] / t, so that a stack's reflectance is the Abeles
// recursion with rough r (what X-ray and neutron reflectometry computes), and
// t' follows from reciprocity as for a smooth interface. The factors do not
// conserve energy exactly: R + T may exceed 1 by a little on a dielectric
// interface (the factor on t is above 1).
//
// An interface with sigma == 0 is never touched, so a stack without roughness
// keeps the bits of the smooth formulas.
#pragma once

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

enum class RoughnessModel : int { nevot_croce = 0, debye_waller = 1 };

// The factors of one rough interface for light crossing from `from` into
// `to`: on r (light from `from`), on r' (light from `to`) and on t and t'.
struct RoughFactors {
    Complex reflect;
    Complex reflect_back;
    Complex pass;
};

inline RoughFactors rough_factors(RoughnessModel model, const Medium& from, const Medium& to, double sigma,
                                  double wavelength) noexcept {
    const double scale = optics::two_pi * sigma / wavelength;
    const Complex a = scale * from.k;
    const Complex b = scale * to.k;
    const Complex minus_two{-2.0, 0.0};
    const Complex difference = a - b;
    const Complex pass = optics::cexp(Complex{0.5, 0.0} * (difference * difference));
    if (model == RoughnessModel::nevot_croce) {
        const Complex reflect = optics::cexp(minus_two * (a * b));
        return {reflect, reflect, pass};
    }
    return {optics::cexp(minus_two * (a * a)), optics::cexp(minus_two * (b * b)), pass};
}

// The derivatives by sigma of the logarithms of the three factors of
// rough_factors: each factor is e^{c sigma^2}, so its slope is 2 c sigma (0 at
// sigma = 0, where a Gaussian roughness has no first-order effect).
inline RoughFactors rough_log_slopes(RoughnessModel model, const Medium& from, const Medium& to, double sigma,
                                     double wavelength) noexcept {
    const double scale = optics::two_pi / wavelength;
    const Complex a = scale * from.k;
    const Complex b = scale * to.k;
    const Complex difference = a - b;
    const Complex pass = sigma * (difference * difference);
    const Complex minus_four_sigma{-4.0 * sigma, 0.0};
    if (model == RoughnessModel::nevot_croce) {
        const Complex reflect = minus_four_sigma * (a * b);
        return {reflect, reflect, pass};
    }
    return {minus_four_sigma * (a * a), minus_four_sigma * (b * b), pass};
}

// The interface matrix of the smooth `d` ([[1/t, r/t], [r/t, 1/t]], s and p in
// lanes) made rough by `f`.
inline MatrixLanes roughen(const MatrixLanes& d, const RoughFactors& f) noexcept {
    using optics::kernel::both;
    const Complex inverse_pass = optics::reciprocal(f.pass);
    const ComplexLanes diagonal = d.m00 * both(inverse_pass);
    return {diagonal, d.m10 * both(f.reflect * inverse_pass), d.m01 * both(f.reflect_back * inverse_pass), diagonal};
}

// dD/dsigma of the rough interface matrix `rough` (roughen's result) from the
// slopes of rough_log_slopes: its diagonal carries 1/t's factor, its
// off-diagonal entries r's (or r''s) over t's.
inline MatrixLanes rough_slope(const MatrixLanes& rough, const RoughFactors& slopes) noexcept {
    using optics::kernel::both;
    const Complex diagonal{-slopes.pass.re, -slopes.pass.im};
    return {rough.m00 * both(diagonal), rough.m10 * both(slopes.reflect - slopes.pass),
            rough.m01 * both(slopes.reflect_back - slopes.pass), rough.m11 * both(diagonal)};
}

}  // namespace quilmo::lab
