// One point of a grid: one stack at one wavelength and one angle of
// incidence, and what a coherent pass through it gives.
#pragma once

#include <cstddef>

#include "common/owned_array.hpp"
#include "optics/complex.hpp"
#include "optics/stack.hpp"

namespace quilmo::lab {

using optics::Complex;
using optics::detail::MatrixLanes;
using optics::detail::Medium;
// The matrix and lane types live in optics::detail, their operators in optics:
// argument-dependent lookup alone does not find them from here.
using optics::operator*;
using optics::operator+;
using optics::operator-;
using optics::operator/;

// Row j of `n` is medium j (incidence medium first, exit medium last); the
// point reads column `column`. Inner layer j has thickness d[j - 1].
struct StackPoint {
    View2<Complex> n;
    std::size_t column;
    View1<double> d;
    double wavelength;
    double sin_theta;  // sine of the angle of incidence in medium 0
};

// The stack matrix M of both polarisations (s in lane 0, p in lane 1) times
// e^{log_scale}: log_scale is 0 for the exact pass, the logarithm carried out
// of the matrix by the scaled one. The end media give the power fluxes.
struct StackMatrix {
    MatrixLanes m;
    double log_scale;
    Medium incidence;
    Medium exit;
};

// Amplitude coefficients r = M10 / M00 and t = 1 / M00 from the incidence side.
struct Amplitudes {
    Complex r_s, r_p, t_s, t_p;
};

// Fractions of the incident power flux, per polarisation.
struct Powers {
    double R_s, R_p, T_s, T_p;
};

struct PointResult {
    Amplitudes amplitudes;
    Powers powers;
};

}  // namespace quilmo::lab
