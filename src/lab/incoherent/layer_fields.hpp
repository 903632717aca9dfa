// What a coherent point holds medium by medium, and its complex fields in
// depth, in tmm's normalisation (an incident plane wave of amplitude 1).
//
// Each medium's normal wave number k_z = 2 pi n cos(theta) / wavelength and
// its complex angle theta follow the point builder's forward rule: the wave
// counted forward decays, or propagates, along +z. theta is the angle whose
// cosine is the medium's c and whose sine is n_0 sin(theta_0) / n (real where
// both are). The forward and backward amplitudes v, w at each medium's front
// are those of the Rouard recursion (fields_point.hpp): the incidence medium
// holds 1 and r, the exit medium t and 0.
//
// At a distance z from a medium's front, E_f = v e^{i k_z z} and E_b the
// backward wave carried from the medium's far end (so that it stays finite in
// an opaque layer); s: E_y = E_f + E_b; p: E_x = (E_f - E_b) cos(theta),
// E_z = -(E_f + E_b) sin(theta). The Poynting flux is the net normal flux
// over the incident one. At exactly grazing incidence every field is 0.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "lab/core/point_media.hpp"
#include "lab/core/polarisation.hpp"
#include "lab/incoherent/fields_point.hpp"

namespace quilmo::lab {

struct MediumWaves {
    Complex kz;
    Complex angle;
    PerPolarisation<Complex> forward;   // v at the medium's front
    PerPolarisation<Complex> backward;  // w at the medium's front
};

// One entry per medium; `sine` is sin(theta_0) of the point. Without
// `with_waves` only k_z and the angles are written.
void layer_waves(const PointMedia& point, Complex sine, FieldWorkspace& work, bool with_waves,
                 std::span<MediumWaves> out);

// The fraction of the incident flux that enters the stack at its first
// interface: the net flux of the incident wave (amplitude 1) and the
// reflected one (r) in the incidence medium over the incident flux. At
// exactly grazing incidence (a flux weight of 0) nothing enters.
template <int Pol>
double power_entering(const Medium& incidence, Complex r) noexcept {
    const double weight = flux_weight<Pol>(incidence);
    return weight == 0.0 ? 0.0 : flux<Pol>(incidence, {1.0, 0.0}, r) / weight;
}

struct FieldsAt {
    PerPolarisation<std::array<Complex, 3>> e;  // E_x, E_y, E_z
    PerPolarisation<double> poynting;
};

// The fields at each place (medium, distance from its front); `sine` as above.
void fields_at(const PointMedia& point, Complex sine, std::span<const DepthPlace> places, FieldWorkspace& work,
               std::span<FieldsAt> out);

}  // namespace quilmo::lab
