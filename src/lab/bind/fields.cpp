#include "lab/bind/fields.hpp"

#include <nanobind/ndarray.h>

#include <cstddef>
#include <cstdint>
#include <tuple>

#include "lab/bind/arrays.hpp"
#include "lab/bind/released.hpp"
#include "lab/incoherent/incoherent_grid.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using namespace quilmo::lab::bind;
using quilmo::optics::Complex;
using Places = Input<std::uint64_t, nb::ndim<1>>;

template <class Angle>
void layer_waves(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
                 Roughness roughness, int roughness_model, Output<Amplitude, 5> normal,
                 Output<Amplitude, 5> waves, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_shape(normal, {2, stacks, grid.angle_count, grid.media, grid.wavelength_count}, "normal",
                  "(2, stacks, angles, media, wavelengths)");
    const bool with_waves = waves.is_valid();  // None passes an empty array
    if (with_waves) {
        require_shape(waves, {4, stacks, grid.angle_count, grid.media, grid.wavelength_count}, "waves",
                      "(4, stacks, angles, media, wavelengths)");
        require_apart({span_of("normal", normal), span_of("waves", waves)},
                      {span_of("indices", indices), span_of("thicknesses", thicknesses),
                       span_of("wavelengths", wavelengths), span_of("angles", angles)});
    }
    Complex* waves_data = with_waves ? reinterpret_cast<Complex*>(waves.data()) : nullptr;
    run_released(grid, [&] {
        quilmo::lab::solve_layer_waves(grid, reinterpret_cast<Complex*>(normal.data()), waves_data, threads);
    });
}

template <class Angle>
void coherent_waves(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles,
                    std::size_t stacks, Roughness roughness, int roughness_model, Output<Amplitude, 4> amplitudes,
                    Output<double, 4> powers, Output<double, 4> entering, Output<Amplitude, 5> normal,
                    Output<Amplitude, 5> waves, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    const auto [a, w, media] = std::tuple{grid.angle_count, grid.wavelength_count, grid.media};
    require_shape(amplitudes, {4, stacks, a, w}, "amplitudes", "(4, stacks, angles, wavelengths)");
    require_shape(powers, {4, stacks, a, w}, "powers", "(4, stacks, angles, wavelengths)");
    require_shape(entering, {2, stacks, a, w}, "entering", "(2, stacks, angles, wavelengths)");
    require_shape(normal, {2, stacks, a, media, w}, "normal", "(2, stacks, angles, media, wavelengths)");
    require_shape(waves, {4, stacks, a, media, w}, "waves", "(4, stacks, angles, media, wavelengths)");
    require_apart({span_of("amplitudes", amplitudes), span_of("powers", powers), span_of("entering", entering),
                   span_of("normal", normal), span_of("waves", waves)},
                  {span_of("indices", indices), span_of("thicknesses", thicknesses),
                   span_of("wavelengths", wavelengths), span_of("angles", angles)});
    const quilmo::lab::CoherentOutputs out{reinterpret_cast<Complex*>(amplitudes.data()), powers.data()};
    run_released(grid, [&] {
        quilmo::lab::solve_coherent_waves(grid, out, entering.data(), reinterpret_cast<Complex*>(normal.data()),
                                          reinterpret_cast<Complex*>(waves.data()), threads);
    });
}

template <class Angle>
void fields(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, Roughness roughness,
            int roughness_model, Places media, Axis z, Output<Amplitude, 3> out, Output<double, 3> powers,
            std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, 1, roughness, roughness_model);
    const std::size_t count = media.shape(0);
    require(z.shape(0) == count, "z must hold one distance per medium in media");
    require_shape(out, {6, grid.wavelength_count, count}, "out", "(6, wavelengths, places)");
    require_shape(powers, {6, grid.wavelength_count, count}, "powers", "(6, wavelengths, places)");
    require_apart({span_of("out", out), span_of("powers", powers)},
                  {span_of("indices", indices), span_of("thicknesses", thicknesses),
                   span_of("wavelengths", wavelengths), span_of("angles", angles), span_of("z", z)});
    static_assert(sizeof(std::uint64_t) == sizeof(std::size_t));
    run_released(grid, [&] {
        quilmo::lab::solve_fields(grid, reinterpret_cast<const std::size_t*>(media.data()), z.data(), count,
                                  reinterpret_cast<Complex*>(out.data()), powers.data(), threads);
    });
}

void depth_places(Thicknesses thicknesses, Axis depths, Output<std::uint64_t, 1> media, Output<double, 1> z) {
    const std::size_t count = depths.shape(0);
    require(thicknesses.shape(0) == 1, "thicknesses must be one stack's, (1, layers)");
    require(media.shape(0) == count && z.shape(0) == count, "media and z must have one entry per depth");
    quilmo::lab::Grid grid{};
    grid.thicknesses = thicknesses.data();
    grid.media = thicknesses.shape(1) + 2;
    quilmo::lab::depth_places(grid, depths.data(), count, reinterpret_cast<std::size_t*>(media.data()), z.data());
}

}  // namespace

void bind_fields(nb::module_& m) {
    def_both_angles(m, "layer_waves", &layer_waves<double>, &layer_waves<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(), "wavelengths"_a.noconvert(),
                    "angles"_a.noconvert(), "stacks"_a, "roughness"_a.noconvert(), "roughness_model"_a,
                    "normal"_a.noconvert(), "waves"_a.noconvert().none(), "threads"_a,
                    "Fills normal with k_z and the complex angle of every medium of every point of coherent "
                    "stacks, and waves (unless None) with their forward and backward amplitudes at each "
                    "medium's front, v_s, w_s, v_p, w_p.");
    def_both_angles(m, "coherent_waves", &coherent_waves<double>, &coherent_waves<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(), "wavelengths"_a.noconvert(),
                    "angles"_a.noconvert(), "stacks"_a, "roughness"_a.noconvert(), "roughness_model"_a,
                    "amplitudes"_a.noconvert(), "powers"_a.noconvert(), "entering"_a.noconvert(),
                    "normal"_a.noconvert(), "waves"_a.noconvert(), "threads"_a,
                    "In one pass over coherent stacks, fills what coherent fills (amplitudes, powers) and what "
                    "layer_waves fills (normal, waves), and entering with the power entering the stack at the "
                    "first interface, s then p.");
    def_both_angles(m, "fields", &fields<double>, &fields<Amplitude>, "indices"_a.noconvert(),
                    "thicknesses"_a.noconvert(), "wavelengths"_a.noconvert(), "angles"_a.noconvert(),
                    "roughness"_a.noconvert(), "roughness_model"_a, "media"_a.noconvert(), "z"_a.noconvert(),
                    "out"_a.noconvert(), "powers"_a.noconvert(), "threads"_a,
                    "Fills out with E_x, E_y, E_z (s, then p) of one coherent stack at one angle at each place "
                    "(medium, distance z from its front), per wavelength, and powers with the Poynting flux "
                    "(s, p), the absorbed power density (s, p) and |E|^2 (s, p).");
    m.def("depth_places", &depth_places, "thicknesses"_a.noconvert(), "depths"_a.noconvert(),
          "media"_a.noconvert(), "z"_a.noconvert(),
          "Fills media and z with the medium and the distance from its front of each depth measured from "
          "the first interface; a depth on an interface belongs to the medium behind it.");
}
