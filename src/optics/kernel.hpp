// What the companion engine (src/lab/) may use of the kernel.
//
// The kernel's formulas are written once, here in src/optics/, for the
// `quilmo` module's simulate flow; the companion computes more from the same
// formulas (amplitudes, runs between incoherent layers, fields, derivatives),
// and carries other number types through them (Taylor jets, vector lanes).
// These are the names it uses; everything else of src/optics/ is the
// kernel's own. Every one of them is a pure function of its arguments' bits,
// so that a value computed once and reused has the bits of one computed again.
#pragma once

#include "optics/complex.hpp"
#include "optics/layer_scaling.hpp"
#include "optics/stack.hpp"

namespace quilmo::optics::kernel {

// One medium at one wavelength and angle: index n, normal wave-vector
// component k = csqrt(n^2 - U) and cosine c = k / n, from the tangential
// term U = (n_0 sin theta_0)^2.
using detail::Medium;
using detail::medium;

// Two lanes of doubles, s in lane 0 and p in lane 1: the kernel's fused pass
// of both polarisations, one vector instruction per operation, each lane
// rounded as the scalar operation would be.
using detail::both;
using detail::ComplexLanes;
using detail::lane;
using detail::Lanes;
using detail::lanes;
using detail::MatrixLanes;

// Interface matrices D of two media (s and p in lanes), and the generic
// D from two admittance terms for any complex-shaped number type.
using detail::interface_matrix;
using detail::interface_sp;
using detail::Matrix2;
using detail::MatrixOf;

// Layer matrices P = diag(e^{-i delta}, e^{+i delta}), delta = S t with
// S = phase_numerator / wavelength; scaled_layer_matrix divides P by its
// growing exponential for layers so thick or absorbing that P overflows, and
// scaled_diagonal does the same for a phase of any number type.
using detail::layer_matrix;
using detail::phase_layer_matrix;
using detail::phase_numerator;
using detail::scaled_diagonal;
using detail::scaled_layer_matrix;
using detail::ScaledLayerMatrix;
using detail::widen_both;

// The value at the point of a real part of any of those number types (a
// double is its own; Taylor jets give their leading coefficient).
using detail::leading_value;

}  // namespace quilmo::optics::kernel
