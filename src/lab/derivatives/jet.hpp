// Truncated Taylor series ("jets") in one variable, value and three orders.
//
// A Jet holds c0 + c1 h + c2 h^2 + c3 h^3: the Taylor coefficients of a
// function around a point, so f = c0, f' = c1, f'' = 2 c2, f''' = 6 c3.
// Arithmetic on jets is arithmetic on the series with every term above h^3
// dropped, which is exact for the coefficients kept. A pair of jets with
// members `re` and `im` is complex-shaped, so the kernel's templated complex
// and matrix operations (optics/complex.hpp, optics/stack.hpp) carry it
// through the same formulas as plain numbers; the functions the kernel writes
// for Complex only (square root, exponential, argument) are given here for
// complex jets by their series recurrences.
#pragma once

#include <array>
#include <cmath>

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

inline constexpr int jet_terms = 4;

struct Jet {
    std::array<double, jet_terms> c{};

    static constexpr Jet constant(double v) noexcept { return {{v, 0.0, 0.0, 0.0}}; }
    // The variable itself around x0: x0 + h.
    static constexpr Jet variable(double x0) noexcept { return {{x0, 1.0, 0.0, 0.0}}; }
};

constexpr Jet operator+(const Jet& a, const Jet& b) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) out.c[k] = a.c[k] + b.c[k];
    return out;
}

constexpr Jet operator-(const Jet& a, const Jet& b) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) out.c[k] = a.c[k] - b.c[k];
    return out;
}

// a less a constant: only the value moves.
constexpr Jet operator-(const Jet& a, double s) noexcept {
    Jet out = a;
    out.c[0] = a.c[0] - s;
    return out;
}

// The value at the point, as the kernel's scaled layers read it.
constexpr double leading_value(const Jet& a) noexcept { return a.c[0]; }

constexpr Jet operator-(const Jet& a) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) out.c[k] = -a.c[k];
    return out;
}

// Cauchy product, truncated.
constexpr Jet operator*(const Jet& a, const Jet& b) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) {
        double sum = 0.0;
        for (int i = 0; i <= k; ++i) sum += a.c[i] * b.c[k - i];
        out.c[k] = sum;
    }
    return out;
}

// q = a / b solves b q = a term by term.
constexpr Jet operator/(const Jet& a, const Jet& b) noexcept {
    Jet q;
    for (int k = 0; k < jet_terms; ++k) {
        double sum = a.c[k];
        for (int i = 1; i <= k; ++i) sum -= b.c[i] * q.c[k - i];
        q.c[k] = sum / b.c[0];
    }
    return q;
}

constexpr Jet operator*(double s, const Jet& a) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) out.c[k] = s * a.c[k];
    return out;
}

constexpr Jet operator*(const Jet& a, double s) noexcept { return s * a; }

constexpr Jet operator/(const Jet& a, double s) noexcept {
    Jet out;
    for (int k = 0; k < jet_terms; ++k) out.c[k] = a.c[k] / s;
    return out;
}

// f(x0 + h) for the series f = sum_k f_k (x - x0)^k, given x as a jet whose
// value is x0: Horner's rule on the shift x - x0, which has no constant term.
constexpr Jet compose(const std::array<double, jet_terms>& f, const Jet& x) noexcept {
    Jet shift = x;
    shift.c[0] = 0.0;
    Jet out = Jet::constant(f[jet_terms - 1]);
    for (int k = jet_terms - 2; k >= 0; --k) out = out * shift + Jet::constant(f[k]);
    return out;
}

struct ComplexJet {
    Jet re;
    Jet im;
};

inline optics::Complex term(const ComplexJet& z, int k) noexcept { return {z.re.c[k], z.im.c[k]}; }

inline void set_term(ComplexJet& z, int k, optics::Complex v) noexcept {
    z.re.c[k] = v.re;
    z.im.c[k] = v.im;
}

inline ComplexJet constant(optics::Complex z) noexcept { return {Jet::constant(z.re), Jet::constant(z.im)}; }

// Real jet times complex jet.
inline ComplexJet scale(const Jet& s, const ComplexJet& z) noexcept { return {s * z.re, s * z.im}; }

// Principal square root: s0 = sqrt(z0) (the kernel's branch), then
// 2 s0 s_k = z_k - sum_{0<i<k} s_i s_{k-i}.
inline ComplexJet csqrt(const ComplexJet& z) noexcept {
    using optics::Complex;
    ComplexJet s{};
    const Complex s0 = optics::csqrt(term(z, 0));
    set_term(s, 0, s0);
    const Complex two_s0 = optics::twice(s0);
    for (int k = 1; k < jet_terms; ++k) {
        Complex sum = term(z, k);
        for (int i = 1; i < k; ++i) sum = sum - term(s, i) * term(s, k - i);
        set_term(s, k, sum / two_s0);
    }
    return s;
}

// e^z: from e' = z' e, k e_k = sum_{1<=i<=k} i z_i e_{k-i}.
inline ComplexJet cexp(const ComplexJet& z) noexcept {
    using optics::Complex;
    ComplexJet e{};
    set_term(e, 0, optics::cexp(term(z, 0)));
    for (int k = 1; k < jet_terms; ++k) {
        Complex sum{0.0, 0.0};
        for (int i = 1; i <= k; ++i) sum = sum + static_cast<double>(i) * (term(z, i) * term(e, k - i));
        set_term(e, k, sum / static_cast<double>(k));
    }
    return e;
}

// arg z as a real jet: arg z0 plus Im log(z / z0), where log(1 + x) for an x
// without constant term is x - x^2/2 + x^3/3 to the order kept. Continuous in
// the variable, so its derivatives are those of the unwrapped phase.
inline Jet arg(const ComplexJet& z) noexcept {
    using optics::Complex;
    const Complex z0 = term(z, 0);
    const Complex inv = optics::reciprocal(z0);
    ComplexJet x{};
    for (int k = 1; k < jet_terms; ++k) set_term(x, k, term(z, k) * inv);
    const ComplexJet x2 = x * x;
    const ComplexJet x3 = x2 * x;
    Jet out = x.im - 0.5 * x2.im + (1.0 / 3.0) * x3.im;
    out.c[0] = std::atan2(z0.im, z0.re);
    return out;
}

}  // namespace quilmo::lab
