#include "lab/anisotropic/scattering_point.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace quilmo::lab::anisotropic {

namespace {

constexpr double two_pi = 6.283185307179586;

// Bit for bit, so that signed zeros (which pick a root's branch) count.
bool same_bits(const Tensor& a, const Tensor& b) noexcept { return std::memcmp(&a, &b, sizeof(Tensor)) == 0; }

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

// The same where both media's s and p waves decouple and R is diagonal:
// two 2x2 systems, s in the rows (Ey, Hx) and p in (Ex, Hy). Returns the
// diagonals of tau = g1^-1 and of g2 g1^-1, by Cramer's rule with the
// common determinant cancelled.
struct DecoupledStep {
    std::array<Cx, 2> tau;
    std::array<Cx, 2> r;
};
DecoupledStep decoupled_step(const Mat4& front, const Mat4& back, const Mat2& r) noexcept {
    DecoupledStep out{};
    constexpr std::size_t rows[2][2] = {{1, 2}, {0, 3}};
    for (std::size_t pol = 0; pol < 2; ++pol) {
        const std::size_t a = rows[pol][0], b = rows[pol][1];
        const std::size_t fwd = pol, bwd = pol + 2;
        const Cx va = back[a][fwd] + back[a][bwd] * r[pol][pol];
        const Cx vb = back[b][fwd] + back[b][bwd] * r[pol][pol];
        // [front[a][fwd] front[a][bwd]; front[b][fwd] front[b][bwd]] (g1, g2) = (va, vb)
        const Cx det = front[a][fwd] * front[b][bwd] - front[a][bwd] * front[b][fwd];
        const Cx g1_det = va * front[b][bwd] - vb * front[a][bwd];
        const Cx g2_det = vb * front[a][fwd] - va * front[b][fwd];
        const Cx inv = 1.0 / g1_det;
        out.tau[pol] = det * inv;
        out.r[pol] = g2_det * inv;
    }
    return out;
}

// e^{z q_m} for the four waves, each exponential taken once where waves
// share |q| (isotropic media: one for all four).
std::array<Cx, 4> propagation(Cx z, const std::array<Cx, 4>& q) noexcept {
    std::array<Cx, 4> e{};
    e[0] = std::exp(z * q[0]);
    e[1] = q[1] == q[0] ? e[0] : std::exp(z * q[1]);
    e[2] = q[2] == -q[0] ? e[0] : q[2] == -q[1] ? e[1] : std::exp(-z * q[2]);
    e[3] = q[3] == q[2] ? e[2] : q[3] == -q[1] ? e[1] : std::exp(-z * q[3]);
    return e;
}

}  // namespace

PointResult ScatteringPoint::solve(std::span<const Tensor> eps, std::span<const double> thickness,
                                   double wavelength, double xi) {
    const std::size_t media = eps.size();
    modes_.clear();
    which_.resize(media);
    tau_.resize(media - 1);
    propagation_.resize(media);
    for (std::size_t j = 0; j < media; ++j) {
        // A medium equal to one of the two before it (alternating stacks) has
        // its modes: they are a pure function of the tensor's bits.
        if (j >= 1 && same_bits(eps[j], eps[j - 1])) {
            which_[j] = which_[j - 1];
        } else if (j >= 2 && same_bits(eps[j], eps[j - 2])) {
            which_[j] = which_[j - 2];
        } else {
            which_[j] = modes_.size();
            modes_.push_back(medium_modes(eps[j], xi));
        }
    }
    const double k0 = two_pi / wavelength;
    Mat2 r{};
    bool diagonal = true;  // r, and every tau so far
    std::size_t first_diagonal = media;  // every tau_j from it on is diagonal (j >= 1)
    for (std::size_t j = media - 1; j-- > 0;) {
        // tau = g1^-1 and r = g2 g1^-1 at the interface, before propagation.
        Mat2& tau = tau_[j];
        diagonal = diagonal && modes(j).decoupled && modes(j + 1).decoupled;
        if (diagonal) {
            const DecoupledStep step = decoupled_step(modes(j).field, modes(j + 1).field, r);
            tau = {{{step.tau[0], 0.0}, {0.0, step.tau[1]}}};
            r = {{{step.r[0], 0.0}, {0.0, step.r[1]}}};
        } else {
            const Mat42 g = interface_amplitudes(modes(j).field, modes(j + 1).field, r);
            tau = inverse({{{g[0][0], g[0][1]}, {g[1][0], g[1][1]}}});
            r = Mat2{{{g[2][0], g[2][1]}, {g[3][0], g[3][1]}}} * tau;
        }
        if (j == 0) {
            break;
        }
        // Layer j: tau E_f and E_b r E_f, with e^{i k0 q d} forward and
        // e^{-i k0 q d} backward, both decaying.
        // A layer equal in bits to the one two further on (alternating stacks)
        // has its propagation factors.
        std::array<Cx, 4>& e = propagation_[j];
        if (j + 2 < media - 1 && same_bits(eps[j], eps[j + 2]) &&
            std::memcmp(&thickness[j - 1], &thickness[j + 1], sizeof(double)) == 0) {
            e = propagation_[j + 2];
        } else {
            e = propagation(Cx{0.0, k0 * thickness[j - 1]}, modes(j).q);
        }
        if (diagonal) {
            // The zeros off the diagonal stay +0, not 0 times a factor.
            for (std::size_t i = 0; i < 2; ++i) {
                tau[i][i] *= e[i];
                r[i][i] *= e[2 + i] * e[i];
            }
        } else {
            for (std::size_t i = 0; i < 2; ++i) {
                for (std::size_t k = 0; k < 2; ++k) {
                    tau[i][k] *= e[k];
                    r[i][k] *= e[2 + i] * e[k];
                }
            }
        }
        first_diagonal = diagonal ? j : first_diagonal;
    }
    // t = tau_{media-2} ... tau_1 tau_0; a diagonal tau scales t's rows.
    Mat2 t = tau_[0];
    for (std::size_t j = 1; j + 1 < media; ++j) {
        if (j >= first_diagonal) {
            for (std::size_t k = 0; k < 2; ++k) {
                t[0][k] = tau_[j][0][0] * t[0][k];
                t[1][k] = tau_[j][1][1] * t[1][k];
            }
        } else {
            t = tau_[j] * t;
        }
    }
    PointResult out{r, t, {}, {}};
    const Mat4& exit = modes(media - 1).field;
    const double incident = normal_flux(modes(0).field, 0);
    if (incident == 0.0 && t == Mat2{}) {
        // Grazing incidence: the recursion already gives the limit r = -1,
        // t = 0 (no light enters; a NaN input makes t NaN and goes on), but
        // every flux over the incident one is 0/0. Transmitted power is 0;
        // the exit flux per unit amplitude has no finite limit, and 0 keeps
        // its products with t at their limit 0.
        return out;
    }
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
