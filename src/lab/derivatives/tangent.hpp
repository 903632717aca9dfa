// A number with its derivative in one direction (forward-mode
// differentiation): what the power transfer carries to give the thickness
// derivatives of stacks with incoherent layers.
#pragma once

namespace quilmo::lab {

struct Tangent {
    double v;  // value
    double d = 0.0;  // derivative
};

constexpr double value_of(const Tangent& x) noexcept { return x.v; }

constexpr Tangent operator+(Tangent a, Tangent b) noexcept { return {a.v + b.v, a.d + b.d}; }
constexpr Tangent operator-(Tangent a, Tangent b) noexcept { return {a.v - b.v, a.d - b.d}; }
constexpr Tangent operator*(Tangent a, Tangent b) noexcept { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
constexpr Tangent operator/(Tangent a, Tangent b) noexcept {
    const double q = a.v / b.v;
    return {q, (a.d - q * b.d) / b.v};
}

}  // namespace quilmo::lab
