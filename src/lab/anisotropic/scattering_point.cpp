#include "lab/anisotropic/scattering_point.hpp"

#include <cmath>

namespace quilmo::lab::anisotropic {

namespace {

constexpr double two_pi = 6.283185307179586;

// G = F_j^-1 F_{j+1} [I; R]: the amplitudes in medium j at their interface
// with medium j + 1 per forward amplitude of medium j + 1.
Mat42 interface_amplitudes(const Mat4& front, const Mat4& back, const Mat2& r) noexcept {
    Mat42 right{};
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < 2; ++j) {
            right[i][j] = back[i][j] + back[i][2] * r[0][j] + back[i][3] * r[1][j];
        }
    }
    return solve(front, right);
}

}  // namespace

PointResult ScatteringPoint::solve(std::span<const Tensor> eps, std::span<const double> thickness,
                                   double wavelength, double xi) {
    const std::size_t media = eps.size();
    modes_.resize(media);
    tau_.resize(media - 1);
    for (std::size_t j = 0; j < media; ++j) {
        modes_[j] = medium_modes(eps[j], xi);
    }
    const double k0 = two_pi / wavelength;
    Mat2 r{};
    for (std::size_t j = media - 1; j-- > 0;) {
        const Mat42 g = interface_amplitudes(modes_[j].field, modes_[j + 1].field, r);
        const Mat2 g1_inv = inverse({{{g[0][0], g[0][1]}, {g[1][0], g[1][1]}}});
        Mat2 g2{{{g[2][0], g[2][1]}, {g[3][0], g[3][1]}}};
        Mat2& tau = tau_[j];
        tau = g1_inv;
        if (j == 0) {
            r = g2 * g1_inv;
            break;
        }
        const double d = thickness[j - 1];
        const std::array<Cx, 4>& q = modes_[j].q;
        const Cx phase{0.0, k0 * d};
        const std::array<Cx, 2> forward{std::exp(phase * q[0]), std::exp(phase * q[1])};
        const std::array<Cx, 2> backward{std::exp(-phase * q[2]), std::exp(-phase * q[3])};
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t k = 0; k < 2; ++k) {
                tau[i][k] *= forward[k];
                g2[i][k] *= backward[i];
            }
        }
        r = g2 * tau;
    }
    Mat2 t = tau_[0];
    for (std::size_t j = 1; j + 1 < media; ++j) {
        t = tau_[j] * t;
    }
    PointResult out{r, t, {}, {}};
    const Mat4& exit = modes_[media - 1].field;
    const double incident = normal_flux(modes_[0].field, 0);
    std::array<std::array<Cx, 4>, 2> e{};
    for (std::size_t j = 0; j < 2; ++j) {
        for (std::size_t row = 0; row < 4; ++row) {
            e[j][row] = exit[row][0] * t[0][j] + exit[row][1] * t[1][j];
        }
        out.exit_flux[j] = normal_flux(exit, j) / incident;
    }
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t j = 0; j < 2; ++j) {
            const Cx w = std::conj(e[i][0]) * e[j][3] + std::conj(e[i][3]) * e[j][0] -
                         std::conj(e[i][1]) * e[j][2] - std::conj(e[i][2]) * e[j][1];
            out.transmitted[i][j] = 0.5 * w / incident;
        }
    }
    return out;
}

}  // namespace quilmo::lab::anisotropic
