#include "lab/anisotropic/quartic.hpp"

#include <algorithm>
#include <cmath>

namespace quilmo::lab::anisotropic {

std::array<Cx, 4> characteristic_polynomial(const Mat4& a) noexcept {
    // M_1 = I, c_{n-k} = -tr(A M_k) / k, M_{k+1} = A M_k + c_{n-k} I.
    std::array<Cx, 4> c{};
    Mat4 m{};
    for (std::size_t i = 0; i < 4; ++i) {
        m[i][i] = 1.0;
    }
    for (std::size_t k = 1; k <= 4; ++k) {
        const Mat4 am = a * m;
        Cx trace{};
        for (std::size_t i = 0; i < 4; ++i) {
            trace += am[i][i];
        }
        const Cx coefficient = -trace / static_cast<double>(k);
        c[4 - k] = coefficient;
        m = am;
        for (std::size_t i = 0; i < 4; ++i) {
            m[i][i] += coefficient;
        }
    }
    return c;
}

namespace {

struct Value {
    Cx p;
    Cx dp;
};

Value evaluate(const std::array<Cx, 4>& c, Cx z) noexcept {
    Cx p{1.0, 0.0};
    Cx dp{};
    for (std::size_t i = 4; i-- > 0;) {
        dp = dp * z + p;
        p = p * z + c[i];
    }
    return {p, dp};
}

}  // namespace

std::array<Cx, 4> enclosing_start(const std::array<Cx, 4>& c) noexcept {
    // Every root lies within 1 + max |c_i| (Cauchy); start inside that bound
    // at points off any symmetry axis of the problem.
    double bound = 0.0;
    for (const Cx& ci : c) {
        bound = std::max(bound, std::abs(ci));
    }
    const double radius = std::min(1.0 + bound, 2.0 * std::pow(std::max(bound, 1e-300), 0.25) + 1.0);
    std::array<Cx, 4> z{};
    for (std::size_t k = 0; k < 4; ++k) {
        z[k] = std::polar(radius, 0.4 + 1.5707963267948966 * static_cast<double>(k));
    }
    return z;
}

std::array<Cx, 4> quartic_roots(const std::array<Cx, 4>& c, std::array<Cx, 4> z) noexcept {
    // Cubic convergence: once a step is this small the next would be below
    // rounding, which a stricter test would wait for in vain. Double roots
    // converge only linearly; they stop at the cap and double_root finishes them.
    constexpr int max_iterations = 60;
    constexpr double tolerance = 1e-12;
    std::array<bool, 4> done{};
    for (int iteration = 0; iteration < max_iterations; ++iteration) {
        bool all_done = true;
        for (std::size_t k = 0; k < 4; ++k) {
            if (done[k]) {
                continue;
            }
            const Value v = evaluate(c, z[k]);
            if (v.p == Cx{}) {
                done[k] = true;
                continue;
            }
            const Cx ratio = v.p / v.dp;
            Cx repulsion{};
            for (std::size_t j = 0; j < 4; ++j) {
                if (j != k) {
                    repulsion += 1.0 / (z[k] - z[j]);
                }
            }
            const Cx step = ratio / (1.0 - ratio * repulsion);
            if (!std::isfinite(step.real()) || !std::isfinite(step.imag())) {
                // A start on a root of p' (or two starts that met): move off it.
                z[k] += Cx{0.7e-3, 0.3e-3} * std::max(1.0, magnitude(z[k]));
                all_done = false;
                continue;
            }
            z[k] -= step;
            if (magnitude(step) <= tolerance * std::max(1.0, magnitude(z[k]))) {
                done[k] = true;
            } else {
                all_done = false;
            }
        }
        if (all_done) {
            break;
        }
    }
    return z;
}

Cx double_root(const std::array<Cx, 4>& c, Cx guess) noexcept {
    // p' = 4 q^3 + 3 c3 q^2 + 2 c2 q + c1, p'' = 12 q^2 + 6 c3 q + 2 c2.
    Cx z = guess;
    for (int iteration = 0; iteration < 8; ++iteration) {
        const Cx dp = ((4.0 * z + 3.0 * c[3]) * z + 2.0 * c[2]) * z + c[1];
        const Cx ddp = (12.0 * z + 6.0 * c[3]) * z + 2.0 * c[2];
        const Cx step = dp / ddp;
        if (!std::isfinite(step.real()) || !std::isfinite(step.imag())) {
            break;
        }
        z -= step;
        if (std::abs(step) <= 4e-16 * std::max(1.0, std::abs(z))) {
            break;
        }
    }
    return z;
}

}  // namespace quilmo::lab::anisotropic
