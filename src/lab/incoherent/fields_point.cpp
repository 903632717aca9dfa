#include "lab/incoherent/fields_point.hpp"

#include <algorithm>
#include <cmath>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/layer_phase.hpp"

namespace quilmo::lab {
namespace {

using optics::norm;

struct RunAmplitudes {
    Complex r;
    Complex t;
};

// Lights `run` with unit amplitude from its first medium, or from its last
// when `from_back`, and writes each of its media's waves at their physical
// index in `waves`.
template <int Pol>
RunAmplitudes light_run(const PointMedia& point, Run run, bool from_back, FieldWorkspace& work,
                        std::span<LayerWaves> waves) {
    const std::size_t span = run.last - run.first;  // interfaces in the run
    auto index = [&](std::size_t i) { return from_back ? run.last - i : run.first + i; };
    auto medium = [&](std::size_t i) -> const Medium& { return point.media[index(i)]; };
    work.sweep.resize(span);
    auto& sweep = work.sweep;

    Complex gamma{0.0, 0.0};
    for (std::size_t i = span; i-- > 0;) {
        Fresnel f = fresnel<Pol>(medium(i), medium(i + 1));
        Complex r_back = f.r;  // -r' of the interface, as its matrix holds it
        if (point.rough(std::min(index(i), index(i + 1)))) {
            const RoughFactors rough = point.rough_factors_of(index(i), index(i + 1));
            r_back = f.r * rough.reflect_back;
            f = {f.r * rough.reflect, f.tau * rough.pass};
        }
        const Complex round_trip = Complex{1.0, 0.0} + r_back * gamma;
        sweep[i].reflect = (f.r + gamma) / round_trip;
        sweep[i].pass = f.tau / round_trip;
        if (i > 0) {
            sweep[i].phase = work.phases[index(i)];
            gamma = sweep[i].reflect * optics::square(sweep[i].phase);
        }
    }
    Complex arriving{1.0, 0.0};  // at the far end of the medium before interface i
    waves[index(0)] = {arriving, sweep[0].reflect};
    for (std::size_t i = 0; i < span; ++i) {
        if (i > 0) {
            waves[index(i)].against = sweep[i].reflect * arriving;
        }
        const Complex entering = sweep[i].pass * arriving;
        if (i + 1 < span) {
            waves[index(i + 1)].with = entering;
            arriving = entering * sweep[i + 1].phase;
        } else {
            waves[index(i + 1)] = {entering, {0.0, 0.0}};
        }
    }
    return {sweep[0].reflect, waves[index(span)].with};
}

void prepare_phases(const PointMedia& point, FieldWorkspace& work) {
    const std::size_t media = point.media.size();
    work.phases.resize(media);
    for (std::size_t j = 1; j + 1 < media; ++j) {
        if (!point.incoherent(j)) {
            work.phases[j] = phase_factor(point.media[j], point.wavelength, point.thickness[j - 1]);
        }
    }
}

template <int Pol>
RunFractions<> light_both_ways(const PointMedia& point, Run run, FieldWorkspace& work, RunIntake& intake) {
    const RunAmplitudes ahead = light_run<Pol>(point, run, false, work, work.front[Pol]);
    const RunAmplitudes behind = light_run<Pol>(point, run, true, work, work.back[Pol]);
    const Medium& first = point.media[run.first];
    const Medium& last = point.media[run.last];
    const double w_first = flux_weight<Pol>(first);
    const double w_last = flux_weight<Pol>(last);
    intake = {carried_fraction(flux<Pol>(first, {1.0, 0.0}, ahead.r), 1.0, w_first),
              carried_fraction(flux<Pol>(last, {1.0, 0.0}, behind.r), 1.0, w_last)};
    return {norm(ahead.r), carried_fraction(norm(ahead.t), w_last, w_first), norm(behind.r),
            carried_fraction(norm(behind.t), w_first, w_last)};
}

// Lights every run both ways and settles the power transfer between them.
PerPolarisation<Powers<>> solve_fields(const PointMedia& point, FieldWorkspace& work) {
    RunsWorkspace& power = work.power;
    power.split(point);
    const std::size_t count = power.runs.size();
    const std::size_t media = point.media.size();
    for (const int pol : {pol_s, pol_p}) {
        work.front[pol].resize(media);
        work.back[pol].resize(media);
        work.runs_light[pol].resize(count);
        work.slabs_light[pol].resize(count);
        work.intake[pol].resize(count);
    }
    prepare_phases(point, work);
    for (std::size_t k = 0; k < count; ++k) {
        const Run run = power.runs[k];
        power.fractions.s[k] = light_both_ways<pol_s>(point, run, work, work.intake.s[k]);
        power.fractions.p[k] = light_both_ways<pol_p>(point, run, work, work.intake.p[k]);
    }
    PerPolarisation<Powers<>> out;
    for (const int pol : {pol_s, pol_p}) {
        out[pol] = power_transfer<double>(power.fractions[pol], power.passes, power.behind, work.runs_light[pol],
                                          work.slabs_light[pol]);
    }
    return out;
}

// Flux lost inside medium j between its two ends, per unit amplitude of the
// lighting wave.
template <int Pol>
double loss_in_layer(const PointMedia& point, const FieldWorkspace& work, std::size_t j, const LayerWaves& w) {
    const Medium& m = point.media[j];
    const Complex e = work.phases[j];
    return flux<Pol>(m, w.with, w.against * e) - flux<Pol>(m, w.with * e, w.against);
}

// Net forward flux leaving run k into the medium that ends it.
double leaving_run(const FieldWorkspace& work, int pol, std::size_t k) {
    const RunLight<>& light = work.runs_light[pol][k];
    return light.front * work.power.fractions[pol][k].T - light.back * work.intake[pol][k].back;
}

template <int Pol>
void absorbed_of(const PointMedia& point, const FieldWorkspace& work, std::span<double> absorbed) {
    const auto& runs = work.power.runs;
    const std::vector<RunLight<>>& light = work.runs_light[Pol];
    const std::vector<RunFractions<>>& fractions = work.power.fractions[Pol];
    const std::vector<RunIntake>& intake = work.intake[Pol];
    const std::vector<LayerWaves>& front = work.front[Pol];
    const std::vector<LayerWaves>& back = work.back[Pol];
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const Run run = runs[k];
        const double from_front = amplitude_norm_of(light[k].front, flux_weight<Pol>(point.media[run.first]));
        const double from_back = amplitude_norm_of(light[k].back, flux_weight<Pol>(point.media[run.last]));
        for (std::size_t j = run.first + 1; j < run.last; ++j) {
            double lost = from_front * loss_in_layer<Pol>(point, work, j, front[j]);
            if (from_back != 0.0) {
                lost += from_back * loss_in_layer<Pol>(point, work, j, back[j]);
            }
            absorbed[j - 1] = lost;
        }
        if (k + 1 < runs.size()) {
            // net forward flux leaving run k, and entering run k + 1
            const double out = leaving_run(work, Pol, k);
            const double in = light[k + 1].front * intake[k + 1].front - light[k + 1].back * fractions[k + 1].T_back;
            absorbed[run.last - 1] = out - in;
        }
    }
}

}  // namespace

PerPolarisation<Amplitudes> light_coherent(const PointMedia& point, FieldWorkspace& work) {
    const std::size_t media = point.media.size();
    prepare_phases(point, work);
    work.front.s.resize(media);
    work.front.p.resize(media);
    const Run whole{0, media - 1};
    const RunAmplitudes s = light_run<pol_s>(point, whole, false, work, work.front.s);
    const RunAmplitudes p = light_run<pol_p>(point, whole, false, work, work.front.p);
    return {{s.r, s.t}, {p.r, p.t}};
}

PerPolarisation<Powers<>> absorption(const PointMedia& point, FieldWorkspace& work,
                                     const PerPolarisation<std::span<double>>& absorbed) {
    if (coherent_formulas::grazing_limit(point)) {
        std::ranges::fill(absorbed.s, 0.0);
        std::ranges::fill(absorbed.p, 0.0);
        return coherent_formulas::grazing_result().powers;
    }
    const PerPolarisation<Powers<>> split = solve_fields(point, work);
    absorbed_of<pol_s>(point, work, absorbed.s);
    absorbed_of<pol_p>(point, work, absorbed.p);
    return split;
}

PerPolarisation<Powers<>> run_illumination(const PointMedia& point, FieldWorkspace& work,
                                           const PerPolarisation<std::span<RunIllumination>>& out) {
    if (coherent_formulas::grazing_limit(point)) {
        for (const int pol : {pol_s, pol_p}) {
            std::ranges::fill(out[pol], RunIllumination{0.0, 0.0, 0.0, 0.0});
            out[pol].front().front = 1.0;
        }
        return coherent_formulas::grazing_result().powers;
    }
    const PerPolarisation<Powers<>> split = solve_fields(point, work);
    for (const int pol : {pol_s, pol_p}) {
        const std::vector<RunLight<>>& light = work.runs_light[pol];
        for (std::size_t k = 0; k < light.size(); ++k) {
            out[pol][k] = {light[k].front, light[k].back, work.slabs_light[pol][k].forward, leaving_run(work, pol, k)};
        }
    }
    return split;
}

void place_depths(std::span<const double> thickness, std::span<const double> depths,
                  std::span<DepthPlace> places) {
    // ends[i]: the back of inner layer i + 1, measured from the first interface
    std::vector<double> ends(thickness.size());
    double total = 0.0;
    for (std::size_t i = 0; i < thickness.size(); ++i) {
        total += thickness[i];
        ends[i] = total;
    }
    for (std::size_t i = 0; i < depths.size(); ++i) {
        const double depth = depths[i];
        if (!(depth >= 0.0)) {
            places[i] = {0, depth};  // NaN included: it flows into the result
            continue;
        }
        const auto at = std::upper_bound(ends.begin(), ends.end(), depth);
        const std::size_t layer = static_cast<std::size_t>(at - ends.begin());  // 0-based inner layer
        const double start = layer == 0 ? 0.0 : ends[layer - 1];
        places[i] = {layer + 1, depth - start};
    }
}

namespace {

ProfileTerms coherent_terms(double weight_front, double weight_back, const LayerWaves& front, const LayerWaves& back,
                     double decay) {
    const Complex cross_front = front.with * conj(front.against);
    const Complex cross_back = conj(back.with) * back.against;
    ProfileTerms t{weight_front * norm(front.with), weight_front * norm(front.against), weight_front * cross_front};
    if (weight_back != 0.0) {
        t.x += weight_back * norm(back.against);
        t.y += weight_back * norm(back.with);
        t.z = t.z + weight_back * cross_back;
    }
    t.z = t.z * decay;
    return t;
}

void describe_media(const PointMedia& point, const FieldWorkspace& work, std::vector<MediumProfile>& out) {
    const auto& media = point.media;
    const std::size_t count = media.size();
    out.resize(count);
    const double k0 = optics::two_pi / point.wavelength;
    const double u = optics::abs(point.tangential);
    const double w0_s = flux_weight<pol_s>(media[0]);
    const double w0_p = flux_weight<pol_p>(media[0]);
    for (std::size_t j = 0; j < count; ++j) {
        const Medium& m = media[j];
        const Complex q = k0 * normal_index(m);
        const double d = j == 0 || j + 1 == count ? 0.0 : point.thickness[j - 1];
        const double n2 = optics::norm(m.n);
        // Y = e^{-2bd} / X saves an exponential inside a layer, as long as
        // e^{-2bd} keeps full precision (not subnormal).
        const double across = std::exp(-2.0 * (q.im * d));
        const bool inner = j != 0 && j + 1 != count;
        out[j] = {q.re, q.im, d, k0 * optics::square(m.n).im, optics::norm(m.c), u / n2,
                  inner && across >= 0x1p-1000 ? across : 0.0, {}, {}};
    }
    const auto& runs = work.power.runs;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const Run run = runs[k];
        const Medium& first = media[run.first];
        const Medium& last = media[run.last];
        const double front_s = w0_s * amplitude_norm_of(work.runs_light.s[k].front, flux_weight<pol_s>(first));
        const double back_s = w0_s * amplitude_norm_of(work.runs_light.s[k].back, flux_weight<pol_s>(last));
        const double front_p = w0_p * amplitude_norm_of(work.runs_light.p[k].front, flux_weight<pol_p>(first));
        const double back_p = w0_p * amplitude_norm_of(work.runs_light.p[k].back, flux_weight<pol_p>(last));
        const std::size_t from = k == 0 ? run.first : run.first + 1;
        const std::size_t to = k + 1 == runs.size() ? run.last : run.last - 1;
        for (std::size_t j = from; j <= to; ++j) {
            MediumProfile& p = out[j];
            const double decay = std::exp(-(p.b * p.d));
            p.s = coherent_terms(front_s, back_s, work.front.s[j], work.back.s[j], decay);
            p.p = coherent_terms(front_p, back_p, work.front.p[j], work.back.p[j], decay);
        }
        if (k + 1 < runs.size()) {
            const SlabLight<>& ls = work.slabs_light.s[k];
            const SlabLight<>& lp = work.slabs_light.p[k];
            const double w_s = flux_weight<pol_s>(last);
            const double w_p = flux_weight<pol_p>(last);
            out[run.last].s = {w0_s * amplitude_norm_of(ls.forward, w_s), w0_s * amplitude_norm_of(ls.backward, w_s),
                               {0.0, 0.0}};
            out[run.last].p = {w0_p * amplitude_norm_of(lp.forward, w_p), w0_p * amplitude_norm_of(lp.backward, w_p),
                               {0.0, 0.0}};
        }
    }
}

}  // namespace

void profile_row(const PointMedia& point, std::span<const DepthPlace> places, FieldWorkspace& work,
                 const ProfileRow& out) {
    if (coherent_formulas::grazing_limit(point)) {
        for (const int pol : {pol_s, pol_p}) {
            std::ranges::fill(out.density[pol], 0.0);
            std::ranges::fill(out.field[pol], 0.0);
        }
        return;
    }
    solve_fields(point, work);
    describe_media(point, work, work.profiles);
    const auto& media = work.profiles;
    const double w0_s = flux_weight<pol_s>(point.media[0]);
    const double w0_p = flux_weight<pol_p>(point.media[0]);
    for (std::size_t i = 0; i < places.size(); ++i) {
        const MediumProfile& m = media[places[i].medium];
        const double z = places[i].z;
        // Terms with a zero weight are left out: their exponential may be
        // infinite far into a semi-infinite absorbing medium.
        double x_s = 0.0, x_p = 0.0, y_s = 0.0, y_p = 0.0, c_s = 0.0, c_p = 0.0;
        double x = 0.0;
        if (m.s.x != 0.0 || m.p.x != 0.0) {
            x = m.b == 0.0 ? 1.0 : std::exp(-2.0 * (m.b * z));
            x_s = m.s.x * x;
            x_p = m.p.x * x;
        }
        if (m.s.y != 0.0 || m.p.y != 0.0) {
            const double y = m.b == 0.0        ? 1.0
                             : m.across != 0.0 && x != 0.0 ? m.across / x
                                                             : std::exp(-2.0 * (m.b * (m.d - z)));
            y_s = m.s.y * y;
            y_p = m.p.y * y;
        }
        if (m.s.z.re != 0.0 || m.s.z.im != 0.0 || m.p.z.re != 0.0 || m.p.z.im != 0.0) {
            const optics::SinCos sc = optics::sin_cos(m.a * (2.0 * z - m.d));
            c_s = 2.0 * (m.s.z.re * sc.cos - m.s.z.im * sc.sin);
            c_p = 2.0 * (m.p.z.re * sc.cos - m.p.z.im * sc.sin);
        }
        const double field_s = x_s + y_s + c_s;
        const double field_p = m.cos2 * (x_p + y_p - c_p) + m.sin2 * (x_p + y_p + c_p);
        out.field.s[i] = field_s;
        out.field.p[i] = field_p;
        out.density.s[i] = m.density * field_s / w0_s;
        out.density.p[i] = m.density * field_p / w0_p;
    }
}

}  // namespace quilmo::lab
