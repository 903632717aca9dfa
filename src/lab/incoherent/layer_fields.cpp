#include "lab/incoherent/layer_fields.hpp"

#include <cmath>
#include <complex>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/layer_phase.hpp"

namespace quilmo::lab {
namespace {

using std_complex = std::complex<double>;

std_complex to_std(Complex z) noexcept { return {z.re, z.im}; }

// sin(theta) in medium j: n_0 sin(theta_0) / n_j, the incidence medium's own sine.
Complex sine_in(const PointMedia& point, Complex sine, std::size_t j) noexcept {
    return j == 0 ? sine : (sine * point.media[0].n) / point.media[j].n;
}

// The angle of cosine c and sine s: -i log(c + i s), or atan2 where both are real.
Complex angle_of(Complex c, Complex s) noexcept {
    if (c.im == 0.0 && s.im == 0.0) {
        return {std::atan2(s.re, c.re), 0.0};
    }
    const std_complex e = std::log(to_std(c) + std_complex(0.0, 1.0) * to_std(s));
    return {e.imag(), -e.real()};
}

// Forward amplitude at the front and backward amplitude at the far end of
// medium j (the incidence medium: 1 and r at its interface).
LayerWaves waves_of(const FieldWorkspace& work, int pol, std::size_t j) noexcept { return work.front[pol][j]; }

}  // namespace

void layer_waves(const PointMedia& point, Complex sine, FieldWorkspace& work, bool with_waves,
                 std::span<MediumWaves> out) {
    const std::size_t media = point.media.size();
    const bool grazing = coherent_formulas::grazing_limit(point);
    if (with_waves && !grazing) {
        light_coherent(point, work);
    }
    for (std::size_t j = 0; j < media; ++j) {
        const Medium& m = point.media[j];
        MediumWaves& o = out[j];
        o.kz = layer_wavenumber(m, point.wavelength);
        o.angle = angle_of(m.c, sine_in(point, sine, j));
        for (const int pol : {pol_s, pol_p}) {
            if (!with_waves) {
                break;
            }
            if (grazing) {
                o.forward[pol] = {j == 0 ? 1.0 : 0.0, 0.0};
                o.backward[pol] = {j == 0 ? -1.0 : 0.0, 0.0};
                continue;
            }
            const LayerWaves w = waves_of(work, pol, j);
            o.forward[pol] = w.with;
            o.backward[pol] = j == 0 || j + 1 == media ? w.against : w.against * work.phases[j];
        }
    }
}

void fields_at(const PointMedia& point, Complex sine, std::span<const DepthPlace> places, FieldWorkspace& work,
               std::span<FieldsAt> out) {
    const std::size_t media = point.media.size();
    if (coherent_formulas::grazing_limit(point)) {
        for (FieldsAt& o : out) {
            o = {};
        }
        return;
    }
    light_coherent(point, work);
    const PerPolarisation<double> incident{flux_weight<pol_s>(point.media[0]), flux_weight<pol_p>(point.media[0])};
    for (std::size_t i = 0; i < places.size(); ++i) {
        const std::size_t j = places[i].medium;
        const double z = places[i].z;
        const Medium& m = point.media[j];
        const Complex kz = layer_wavenumber(m, point.wavelength);
        const double d = j == 0 || j + 1 == media ? 0.0 : point.thickness[j - 1];
        const Complex ahead = optics::cexp({-(kz.im * z), kz.re * z});
        const Complex behind = optics::cexp({-(kz.im * (d - z)), kz.re * (d - z)});
        const Complex s = sine_in(point, sine, j);
        FieldsAt& o = out[i];
        for (const int pol : {pol_s, pol_p}) {
            const LayerWaves w = waves_of(work, pol, j);
            const Complex ef = w.with * ahead;
            const Complex eb = w.against.re == 0.0 && w.against.im == 0.0 ? Complex{0.0, 0.0} : w.against * behind;
            const Complex sum = ef + eb;
            const Complex zero{0.0, 0.0};
            o.e[pol] = pol == pol_s ? std::array<Complex, 3>{zero, sum, zero}
                                    : std::array<Complex, 3>{(ef - eb) * m.c, zero, zero - sum * s};
            o.poynting[pol] = (pol == pol_s ? flux<pol_s>(m, ef, eb) : flux<pol_p>(m, ef, eb)) / incident[pol];
        }
    }
}

}  // namespace quilmo::lab
