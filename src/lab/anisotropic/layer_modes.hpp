// The four plane-wave modes of one homogeneous medium at one tangential wave
// vector: Berreman's 4x4 differential matrix and its eigenvectors, sorted
// into two forward and two backward waves.
//
// Fields vary as exp(i (k0 xi x + k0 q z - omega t)) with xi = n_0 sin(theta_0)
// the tangential component in units of k0 = 2 pi / wavelength; E and the
// scaled magnetic field H = Z0 H_SI. The tangential field vector is
// psi = (Ex, Ey, Hx, Hy), and d psi / dz = i k0 Delta psi. A mode's column
// holds psi for unit amplitude, its eigenvalue q is k_z / k0.
//
// Three routes, chosen by the tensor's shape, so that symmetric cases are
// exact rather than limits of the general one:
// - isotropic (eps = e I): the s and p waves of the kernel's Medium, with the
//   kernel's root k = csqrt(e - xi^2) and the amplitude normalisation of its
//   Fresnel coefficients (s: E = y; p: H = n y, E_x = c = k / n forward,
//   -c backward), so that an isotropic stack gives the kernel's r and t;
// - decoupled (eps_xy = eps_yx = eps_yz = eps_zy = 0: isotropic-like in y,
//   such as a uniaxial medium with its optic axis in the plane of incidence):
//   Delta splits into an s block (Ey, Hx) and a p block (Ex, Hy), each solved
//   in closed form;
// - general: the characteristic quartic's roots (anisotropic/quartic.hpp),
//   the eigenvector of a simple root from a cross product of two rows of
//   Delta - q I (reduced by Hx = -q Ey). Two roots closer than
//   `degenerate_gap` are one double root whose two eigenvectors span the null
//   space of Delta - q I, found by elimination with complete pivoting.
//
// Forward means carrying energy into the stack (+z): Im q > 0 for decaying
// waves, the Poynting flux for propagating ones.
#pragma once

#include <array>

#include "lab/anisotropic/small_matrix.hpp"

namespace quilmo::lab::anisotropic {

using Tensor = std::array<std::array<Cx, 3>, 3>;

struct Modes {
    std::array<Cx, 4> q;     // forward 0, 1; backward 2, 3
    Mat4 field;              // column m: psi of mode m
    bool decoupled = false;  // modes 0, 2 are s waves (Ey, Hx only), 1, 3 p waves (Ex, Hy only)
};

// Roots closer than this (relative to max(1, |q|)) are one double root.
inline constexpr double degenerate_gap = 1e-7;

Mat4 berreman_matrix(const Tensor& eps, double xi) noexcept;

bool is_isotropic(const Tensor& eps) noexcept;

Modes medium_modes(const Tensor& eps, double xi) noexcept;

// The time-averaged z component of the Poynting vector of psi (up to the
// common factor 1/2): Re(Ex conj(Hy) - Ey conj(Hx)).
inline double normal_flux(Cx ex, Cx ey, Cx hx, Cx hy) noexcept {
    return (ex * std::conj(hy) - ey * std::conj(hx)).real();
}
inline double normal_flux(const Mat4& field, std::size_t m) noexcept {
    return normal_flux(field[0][m], field[1][m], field[2][m], field[3][m]);
}

}  // namespace quilmo::lab::anisotropic
