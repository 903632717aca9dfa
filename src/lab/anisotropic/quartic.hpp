// The eigenvalues of a general 4x4 complex matrix: its characteristic
// polynomial (Faddeev-LeVerrier) and the polynomial's four roots by the
// Aberth-Ehrlich iteration, which converges cubically from starting points
// on a circle that encloses every root.
//
// A simple root comes out to a few units in the last place of the matrix's
// scale; a double root only to about the square root of that (any polynomial
// root finder's limit) until double_root polishes it, and the layers whose modes are degenerate by
// symmetry (isotropic ones, and those whose s and p waves decouple) never come
// here (anisotropic/layer_modes.hpp).
#pragma once

#include <array>

#include "lab/anisotropic/small_matrix.hpp"

namespace quilmo::lab::anisotropic {

// c[0] + c[1] q + c[2] q^2 + c[3] q^3 + q^4 = det(q I - A).
std::array<Cx, 4> characteristic_polynomial(const Mat4& a) noexcept;

// The four roots of the monic quartic with lower coefficients c, in no
// particular order (but always the same order for the same bits), from
// four distinct starting points (near the roots where they are known
// approximately; the iteration converges from anywhere, only slower).
std::array<Cx, 4> quartic_roots(const std::array<Cx, 4>& c, std::array<Cx, 4> start) noexcept;

// Starting points on a circle that encloses every root.
std::array<Cx, 4> enclosing_start(const std::array<Cx, 4>& c) noexcept;

// A double root of the quartic, from a guess near it: Newton's iteration on
// the derivative, of which it is a simple root, so that it comes out to
// rounding where quartic_roots leaves it at the square root of that.
Cx double_root(const std::array<Cx, 4>& c, Cx guess) noexcept;

}  // namespace quilmo::lab::anisotropic
