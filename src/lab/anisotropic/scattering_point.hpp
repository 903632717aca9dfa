// Reflection and transmission of one anisotropic stack at one point, by a
// scattering-matrix recursion over the media's modes (anisotropic/
// layer_modes.hpp).
//
// In each inner layer the forward amplitudes are referred to its front face
// and the backward ones to its back face, so every propagation factor is
// exp(i k0 q d) of a wave travelling the way it decays: at most 1 in modulus.
// Walking from the exit medium to the incidence medium, R_j maps forward to
// backward amplitudes at the front face of medium j and tau_j maps medium j's
// forward amplitudes to medium j + 1's; thick or strongly absorbing layers
// make factors underflow to zero, never overflow.
//
// Jones matrices are in the bases of the outer media's modes: (s, p) in the
// isotropic incidence medium, with the kernel's signs and normalisation, and
// likewise in an isotropic exit medium. Powers come from the Poynting flux.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "lab/anisotropic/layer_modes.hpp"

namespace quilmo::lab::anisotropic {

struct PointResult {
    Mat2 jones_r;      // [i][j]: backward mode i for unit forward mode j of the incidence medium
    Mat2 jones_t;      // [i][j]: forward mode i of the exit medium
    Mat2 transmitted;  // Hermitian W: transmitted power J^H W J for unit incident power in Jones vector J
    std::array<double, 2> exit_flux;  // flux of exit mode i per unit amplitude, over the incident flux
};

// One thread's solver, with its scratch space.
class ScatteringPoint {
public:
    // `eps` holds one tensor per medium, incidence medium (isotropic,
    // lossless) first; `thickness` one per inner layer; xi = n_0 sin(theta_0).
    PointResult solve(std::span<const Tensor> eps, std::span<const double> thickness, double wavelength,
                      double xi);

private:
    const Modes& modes(std::size_t j) const noexcept { return modes_[which_[j]]; }

    std::vector<Modes> modes_;        // the distinct media's
    std::vector<std::size_t> which_;  // medium j's place in modes_
    std::vector<Mat2> tau_;
    std::vector<std::array<Cx, 4>> propagation_;  // by inner layer
};

}  // namespace quilmo::lab::anisotropic
