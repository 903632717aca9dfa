#include "lab/anisotropic/layer_modes.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "lab/anisotropic/quartic.hpp"
#include "optics/complex.hpp"

namespace quilmo::lab::anisotropic {

namespace {

// The kernel's principal root, so that the isotropic and s-wave roots are
// the kernel's k bit for bit on the same argument.
Cx kernel_sqrt(Cx z) noexcept {
    const optics::Complex r = optics::csqrt({z.real(), z.imag()});
    return {r.re, r.im};
}

void set_column(Mat4& f, std::size_t m, Cx ex, Cx ey, Cx hx, Cx hy) noexcept {
    f[0][m] = ex;
    f[1][m] = ey;
    f[2][m] = hx;
    f[3][m] = hy;
}

bool decouples(const Tensor& e) noexcept {
    const Cx zero{};
    return e[0][1] == zero && e[1][0] == zero && e[1][2] == zero && e[2][1] == zero;
}

Modes isotropic_modes(Cx e, double xi) noexcept {
    const Cx n = kernel_sqrt(e);
    const Cx k = kernel_sqrt(e - xi * xi);
    const Cx c = k / n;
    Modes m{{k, k, -k, -k}, {}, true};
    set_column(m.field, 0, 0.0, 1.0, -k, 0.0);
    set_column(m.field, 1, c, 0.0, 0.0, n);
    set_column(m.field, 2, 0.0, 1.0, k, 0.0);
    set_column(m.field, 3, -c, 0.0, 0.0, n);
    return m;
}

struct Wave {
    Cx q;
    std::array<Cx, 4> psi;
};

double flux(const Wave& w) noexcept { return normal_flux(w.psi[0], w.psi[1], w.psi[2], w.psi[3]); }

// Of two waves, whether the first is the forward one: by decay where their
// Im q differ beyond rounding, by the Poynting flux otherwise.
bool first_is_forward(const Wave& a, const Wave& b) noexcept {
    const double scale = std::max({1.0, std::abs(a.q), std::abs(b.q)});
    const double decay = a.q.imag() - b.q.imag();
    if (std::fabs(decay) > 1e-12 * scale) {
        return decay > 0.0;
    }
    return flux(a) > flux(b);
}

Modes from_waves(const std::array<Wave, 4>& w) noexcept {
    Modes m{};
    for (std::size_t i = 0; i < 4; ++i) {
        m.q[i] = w[i].q;
        for (std::size_t r = 0; r < 4; ++r) {
            m.field[r][i] = w[i].psi[r];
        }
    }
    return m;
}

std::array<Cx, 4> normalised(std::array<Cx, 4> v) noexcept {
    double largest = 0.0;
    for (const Cx& x : v) {
        largest = std::max(largest, magnitude(x));
    }
    if (largest > 0.0) {
        for (Cx& x : v) {
            x /= largest;
        }
    }
    return v;
}

// s block (Ey, Hx) and p block (Ex, Hy) of a decoupled tensor.
Modes decoupled_modes(const Mat4& d) noexcept {
    const Cx qs = kernel_sqrt(-d[2][1]);  // Hx' = (xi^2 - eps_yy) Ey, Ey' = -Hx
    const Wave s_forward{qs, {0.0, 1.0, -qs, 0.0}};
    const Wave s_backward{-qs, {0.0, 1.0, qs, 0.0}};
    const Cx a = d[0][0], b = d[0][3], c = d[3][0], dd = d[3][3];
    const Cx mean = 0.5 * (a + dd);
    const Cx half = 0.5 * (a - dd);
    const Cx root = kernel_sqrt(half * half + b * c);
    auto p_wave = [&](Cx q) {
        // (a - q) Ex + b Hy = 0 and c Ex + (d - q) Hy = 0: the better row.
        const Cx ex1 = b, hy1 = q - a, ex2 = q - dd, hy2 = c;
        const bool first = magnitude(ex1) + magnitude(hy1) >= magnitude(ex2) + magnitude(hy2);
        return Wave{q, normalised({first ? ex1 : ex2, 0.0, 0.0, first ? hy1 : hy2})};
    };
    Wave p1 = p_wave(mean + root);
    Wave p2 = p_wave(mean - root);
    if (!first_is_forward(p1, p2)) {
        std::swap(p1, p2);
    }
    Modes m = from_waves({s_forward, p1, s_backward, p2});
    m.decoupled = true;
    return m;
}

// Null vectors of a, taking its rank to be `rank`: elimination with
// complete pivoting, the free unknowns set to unit vectors.
std::array<std::array<Cx, 4>, 2> null_vectors(Mat4 a, std::size_t rank) noexcept {
    std::array<std::size_t, 4> column{0, 1, 2, 3};
    for (std::size_t k = 0; k < rank; ++k) {
        std::size_t pr = k, pc = k;
        for (std::size_t i = k; i < 4; ++i) {
            for (std::size_t j = k; j < 4; ++j) {
                if (magnitude(a[i][j]) > magnitude(a[pr][pc])) {
                    pr = i;
                    pc = j;
                }
            }
        }
        std::swap(a[k], a[pr]);
        if (pc != k) {
            for (auto& row : a) {
                std::swap(row[k], row[pc]);
            }
            std::swap(column[k], column[pc]);
        }
        const Cx inv = 1.0 / a[k][k];
        for (std::size_t i = k + 1; i < 4; ++i) {
            const Cx f = a[i][k] * inv;
            for (std::size_t j = k; j < 4; ++j) {
                a[i][j] -= f * a[k][j];
            }
        }
    }
    std::array<std::array<Cx, 4>, 2> out{};
    for (std::size_t v = 0; v < 4 - rank; ++v) {
        std::array<Cx, 4> x{};
        x[rank + v] = 1.0;
        for (std::size_t i = rank; i-- > 0;) {
            Cx sum{};
            for (std::size_t j = i + 1; j < 4; ++j) {
                sum += a[i][j] * x[j];
            }
            x[i] = -sum / a[i][i];
        }
        std::array<Cx, 4> psi{};
        for (std::size_t i = 0; i < 4; ++i) {
            psi[column[i]] = x[i];
        }
        out[v] = normalised(psi);
    }
    return out;
}

// The eigenvector of a simple root q. Row 1 of Delta gives Hx = -q Ey, which
// leaves three equations in (Ex, Ey, Hy) of rank two: their null vector is
// the cross product of two of them, the pair whose product is largest.
std::array<Cx, 4> simple_eigenvector(const Mat4& d, Cx q) noexcept {
    using Row = std::array<Cx, 3>;
    const std::array<Row, 3> rows{Row{d[0][0] - q, d[0][1], d[0][3]}, Row{d[2][0], d[2][1] + q * q, d[2][3]},
                                  Row{d[3][0], d[3][1], d[3][3] - q}};
    auto cross = [](const Row& a, const Row& b) {
        return Row{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    };
    Row best{};
    double largest = -1.0;
    for (const auto& [i, j] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
        const Row v = cross(rows[i], rows[j]);
        const double size = magnitude(v[0]) + magnitude(v[1]) + magnitude(v[2]);
        if (size > largest) {
            largest = size;
            best = v;
        }
    }
    return normalised({best[0], best[1], -q * best[1], best[2]});
}

Mat4 shifted(Mat4 d, Cx q) noexcept {
    for (std::size_t i = 0; i < 4; ++i) {
        d[i][i] -= q;
    }
    return d;
}

bool close(Cx a, Cx b) noexcept {
    return std::abs(a - b) <= degenerate_gap * std::max({1.0, std::abs(a), std::abs(b)});
}

// Starting points for the roots: those of Delta without the entries that
// couple s and p, nudged apart where they coincide. Near the roots for weak
// coupling; the iteration needs only that they be distinct.
std::array<Cx, 4> decoupled_start(const Mat4& d) noexcept {
    const Cx qs = kernel_sqrt(-d[2][1]);
    const Cx mean = 0.5 * (d[0][0] + d[3][3]);
    const Cx half = 0.5 * (d[0][0] - d[3][3]);
    const Cx root = kernel_sqrt(half * half + d[0][3] * d[3][0]);
    std::array<Cx, 4> z{qs, mean + root, -qs, mean - root};
    const double scale = 1.0 + magnitude(qs) + magnitude(root);
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (magnitude(z[i] - z[j]) < 1e-3 * scale) {
                z[i] += Cx{0.01, 0.013} * scale * static_cast<double>(i);
            }
        }
    }
    return z;
}

Modes general_modes(const Mat4& d) noexcept {
    const std::array<Cx, 4> c = characteristic_polynomial(d);
    const std::array<Cx, 4> q = quartic_roots(c, decoupled_start(d));
    std::array<Wave, 4> waves{};
    std::array<bool, 4> found{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (found[i]) {
            continue;
        }
        std::size_t partner = 4;
        for (std::size_t j = i + 1; j < 4 && partner == 4; ++j) {
            if (!found[j] && close(q[i], q[j])) {
                partner = j;
            }
        }
        if (partner == 4) {
            waves[i] = {q[i], simple_eigenvector(d, q[i])};
            found[i] = true;
            continue;
        }
        // One double root, polished where each of the pair is not accurate.
        const Cx mean = double_root(c, 0.5 * (q[i] + q[partner]));
        const auto pair = null_vectors(shifted(d, mean), 2);
        waves[i] = {mean, pair[0]};
        waves[partner] = {mean, pair[1]};
        found[i] = found[partner] = true;
    }
    // Forward: decaying into the stack, or propagating with the flux into it.
    double scale = 1.0;
    for (const Wave& w : waves) {
        scale = std::max(scale, std::abs(w.q));
    }
    std::array<std::size_t, 4> order{0, 1, 2, 3};
    auto forward = [&](const Wave& w) {
        const double decay = w.q.imag();
        return std::fabs(decay) > 1e-12 * scale ? decay > 0.0 : flux(w) > 0.0;
    };
    const auto split = std::stable_partition(order.begin(), order.end(),
                                             [&](std::size_t i) { return forward(waves[i]); });
    if (split - order.begin() != 2) {
        // Not two and two (rounding at the edge of propagation): rank by Im q,
        // then by flux, and take the first two as forward.
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            const Wave& a = waves[x];
            const Wave& b = waves[y];
            return a.q.imag() != b.q.imag() ? a.q.imag() > b.q.imag() : flux(a) > flux(b);
        });
    }
    return from_waves({waves[order[0]], waves[order[1]], waves[order[2]], waves[order[3]]});
}

}  // namespace

Mat4 berreman_matrix(const Tensor& e, double xi) noexcept {
    const Cx inv_zz = 1.0 / e[2][2];
    const Cx zx = e[2][0] * inv_zz, zy = e[2][1] * inv_zz;  // Ez = -(xi Hy + e_zx Ex + e_zy Ey) / e_zz
    const Cx xz = e[0][2], yz = e[1][2];
    Mat4 d{};
    d[0] = {-xi * zx, -xi * zy, 0.0, 1.0 - xi * xi * inv_zz};
    d[1] = {0.0, 0.0, -1.0, 0.0};
    d[2] = {-e[1][0] + yz * zx, -e[1][1] + yz * zy + xi * xi, 0.0, yz * xi * inv_zz};
    d[3] = {e[0][0] - xz * zx, e[0][1] - xz * zy, 0.0, -xz * xi * inv_zz};
    return d;
}

bool is_isotropic(const Tensor& e) noexcept {
    return decouples(e) && e[0][2] == Cx{} && e[2][0] == Cx{} && e[0][0] == e[1][1] && e[1][1] == e[2][2];
}

Modes medium_modes(const Tensor& eps, double xi) noexcept {
    if (is_isotropic(eps)) {
        return isotropic_modes(eps[0][0], xi);
    }
    const Mat4 d = berreman_matrix(eps, xi);
    return decouples(eps) ? decoupled_modes(d) : general_modes(d);
}

}  // namespace quilmo::lab::anisotropic
