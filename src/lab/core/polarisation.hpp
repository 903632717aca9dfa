// s and p polarisation, and the formulas that differ between them, in the
// conventions of the kernel (tmm's: n + ik, exp(-i omega t)).
//
// The engine names a polarisation one way, by pol_s (0) and pol_p (1), and
// uses it in three places for three reasons:
//   - records of both polarisations are PerPolarisation<T>, indexed by it;
//   - formulas that differ take it as a template argument (template <int Pol>),
//     so that the choice costs nothing at run time;
//   - products of both polarisations run in the kernel's vector lanes, lane
//     pol_s and lane pol_p, because that is the kernel's fused pass of
//     optics/stack.hpp and must keep its bits; lane(x, pol) reads one lane.
//
// Fresnel coefficients come from the same admittance terms A, B as the
// kernel's interface matrices: s: A = n_j c_j, B = n_k c_k; p: A = n_k c_j,
// B = n_j c_k; r = (A - B)/(A + B), tau = 2 n_j c_j / (A + B).
// The normal Poynting flux of a plane wave of amplitude E in a medium is
// Re(W)|E|^2 up to a constant, with W = n c for s and n conj(c) for p.
#pragma once

#include "lab/core/kernel_names.hpp"

namespace quilmo::lab {

inline constexpr int pol_s = optics::pol_s;
inline constexpr int pol_p = optics::pol_p;

template <class T>
struct PerPolarisation {
    T s;
    T p;

    T& operator[](int pol) noexcept { return pol == pol_s ? s : p; }
    const T& operator[](int pol) const noexcept { return pol == pol_s ? s : p; }
};

// Amplitude coefficients r = M10 / M00 and t = 1 / M00 from the incidence side.
struct Amplitudes {
    Complex r;
    Complex t;
};

// Fractions of the incident power flux reflected and transmitted, as plain
// numbers or as a number type that carries derivatives.
template <class Number = double>
struct Powers {
    Number R;
    Number T;
};

struct Fresnel {
    Complex r;
    Complex tau;
};

template <int Pol>
Fresnel fresnel(const Medium& m, const Medium& next) noexcept {
    const Complex a = Pol == pol_s ? m.c * m.n : m.c * next.n;
    const Complex b = Pol == pol_s ? next.c * next.n : next.c * m.n;
    const Complex sum = a + b;
    return {(a - b) / sum, (optics::twice(m.n) * m.c) / sum};
}

constexpr Complex conj(Complex z) noexcept { return {z.re, -z.im}; }

template <int Pol>
Complex admittance(const Medium& m) noexcept {
    return Pol == pol_s ? m.n * m.c : m.n * conj(m.c);
}

template <int Pol>
double flux_weight(const Medium& m) noexcept {
    return admittance<Pol>(m).re;
}

// A power fraction |a|^2 w_to / w_from carried from a medium of flux weight
// w_from into one of w_to. A medium where the wave is evanescent and lossless
// (w = 0) carries no flux, so nothing passes into or out of it; this also
// keeps the back-side fractions of a run behind total internal reflection
// finite.
inline double carried_fraction(double amplitude_norm, double w_to, double w_from) noexcept {
    return w_to == 0.0 || w_from == 0.0 ? 0.0 : amplitude_norm * w_to / w_from;
}

// The squared amplitude of a wave that carries `power` in a medium of flux
// weight w; 0 for no power, whatever w.
inline double amplitude_norm_of(double power, double w) noexcept { return power == 0.0 ? 0.0 : power / w; }

// Flux of forward and backward amplitudes ef, eb taken at one plane, in the
// units where a lone wave of amplitude 1 carries flux_weight.
template <int Pol>
double flux(const Medium& m, Complex ef, Complex eb) noexcept {
    const Complex sum = ef + eb;
    const Complex diff = ef - eb;
    return Pol == pol_s ? (admittance<Pol>(m) * (conj(sum) * diff)).re
                        : (admittance<Pol>(m) * (sum * conj(diff))).re;
}

// The normal wave number over the vacuum one, n c (the same for s and p).
inline Complex normal_index(const Medium& m) noexcept { return m.n * m.c; }

}  // namespace quilmo::lab
