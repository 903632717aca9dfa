// quilmo_lab._engine: converts the arrays of a solve, releases the interpreter
// lock and runs the grid. The front (quilmo_lab/solve.py) has already checked
// and shaped every argument; what is checked here only keeps a direct caller
// from writing out of bounds.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <cstddef>

#include "lab/bind/anisotropic.hpp"
#include "lab/bind/arrays.hpp"
#include "lab/bind/derivatives.hpp"
#include "lab/bind/fields.hpp"
#include "lab/bind/point.hpp"
#include "lab/bind/released.hpp"
#include "lab/coherent/coherent_grid.hpp"
#include "lab/core/grid.hpp"
#include "lab/core/pools.hpp"
#include "lab/incoherent/incoherent_grid.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using namespace quilmo::lab::bind;

// (4, stacks, angles, wavelengths): the s and p values of every point.
template <class T>
void require_point_values(const Output<T, 4>& array, const quilmo::lab::Grid& grid, std::size_t stacks,
                          const char* name) {
    require_shape(array, {4, stacks, grid.angle_count, grid.wavelength_count}, name,
                  "(4, stacks, angles, wavelengths)");
}

template <class Angle>
void coherent(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
              Roughness roughness, int roughness_model, Output<Amplitude, 4> amplitudes, Output<double, 4> powers,
              std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_point_values(amplitudes, grid, stacks, "amplitudes");
    require_point_values(powers, grid, stacks, "powers");
    const quilmo::lab::CoherentOutputs out{
        reinterpret_cast<quilmo::optics::Complex*>(amplitudes.data()), powers.data()};
    require_apart({span_of("amplitudes", amplitudes), span_of("powers", powers)},
                  {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles)});
    run_released(grid, [&] { quilmo::lab::solve_coherent(grid, out, threads); });
}

template <class Angle>
void incoherent(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
                Roughness roughness, int roughness_model, Mask coherent, Output<double, 4> powers,
                std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_mask(coherent, grid);
    require_point_values(powers, grid, stacks, "powers");
    require_apart({span_of("powers", powers)}, {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles), span_of("coherent", coherent)});
    run_released(grid, [&] { quilmo::lab::solve_incoherent(grid, coherent.data(), powers.data(), threads); });
}

template <class Angle>
void cross(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
           Roughness roughness, int roughness_model, Mask coherent, Output<Amplitude, 4> out, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_mask(coherent, grid);
    require_shape(out, {2, stacks, grid.angle_count, grid.wavelength_count}, "out", "(2, stacks, angles, wavelengths)");
    nb::gil_scoped_release released;
    quilmo::lab::solve_cross(grid, coherent.data(), reinterpret_cast<quilmo::optics::Complex*>(out.data()), threads);
}

template <class Angle>
void absorbed(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
              Roughness roughness, int roughness_model, Mask coherent, Output<double, 4> powers,
              Output<double, 5> layers, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_mask(coherent, grid);
    require_point_values(powers, grid, stacks, "powers");
    require_shape(layers, {2, stacks, grid.angle_count, grid.media - 2, grid.wavelength_count}, "layers",
                  "(2, stacks, angles, media - 2, wavelengths)");
    require_apart({span_of("powers", powers), span_of("layers", layers)},
                  {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles), span_of("coherent", coherent)});
    run_released(grid, [&] {
        quilmo::lab::solve_absorbed(grid, coherent.data(), powers.data(), layers.data(), threads);
    });
}

template <class Angle>
void run_light(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, std::size_t stacks,
               Roughness roughness, int roughness_model, Mask coherent, Output<double, 4> powers,
               Output<double, 5> light, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_mask(coherent, grid);
    require_point_values(powers, grid, stacks, "powers");
    const std::size_t runs = quilmo::lab::run_count(coherent.data(), grid.layers());
    require_shape(light, {8, stacks, grid.angle_count, runs, grid.wavelength_count}, "light",
                  "(8, stacks, angles, runs, wavelengths)");
    require_apart({span_of("powers", powers), span_of("light", light)},
                  {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles), span_of("coherent", coherent)});
    run_released(grid, [&] {
        quilmo::lab::solve_run_light(grid, coherent.data(), powers.data(), light.data(), threads);
    });
}

template <class Angle>
void profile(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles, Roughness roughness,
             int roughness_model, Mask coherent, Axis depths,
             Output<double, 3> out, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, 1, roughness, roughness_model);
    require_mask(coherent, grid);
    require_shape(out, {4, grid.wavelength_count, depths.shape(0)}, "out", "(4, wavelengths, depths)");
    require_apart({span_of("out", out)}, {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles), span_of("coherent", coherent), span_of("depths", depths)});
    run_released(grid, [&] {
        quilmo::lab::solve_profile(grid, coherent.data(), depths.data(), depths.shape(0), out.data(), threads);
    });
}

}  // namespace

NB_MODULE(_engine, m) {
    m.doc() =
        "The compiled grid of quilmo_lab; call it through quilmo_lab.solve. Every grid function takes "
        "roughness, (1 or stacks, media - 1) RMS roughness per interface in the unit of the wavelengths, "
        "and roughness_model, 0 for Nevot-Croce and 1 for Debye-Waller.";
    def_both_angles(m, "coherent", &coherent<double>, &coherent<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a,
                    "amplitudes"_a.noconvert(), "powers"_a.noconvert(), "threads"_a,
                    "Fills amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p) of every "
                    "(stack, angle, wavelength) point; threads 0 means every processor this process may "
                    "use.");
    def_both_angles(m, "incoherent", &incoherent<double>, &incoherent<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a, "coherent"_a.noconvert(),
                    "powers"_a.noconvert(), "threads"_a,
                    "Fills powers (R_s, R_p, T_s, T_p) of every point, the inner layers flagged False in "
                    "coherent treated by intensity.");
    def_both_angles(m, "cross", &cross<double>, &cross<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(), "wavelengths"_a.noconvert(),
                    "angles"_a.noconvert(), "stacks"_a, "roughness"_a.noconvert(), "roughness_model"_a,
                    "coherent"_a.noconvert(), "out"_a.noconvert(), "threads"_a,
                    "Fills out with the s-p cross terms of R and T (r_s conj(r_p) and its power-unit analogue for t, "
                    "summed by power over incoherent layers) of every point.");
    def_both_angles(m, "absorbed", &absorbed<double>, &absorbed<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a, "coherent"_a.noconvert(),
                    "powers"_a.noconvert(), "layers"_a.noconvert(), "threads"_a,
                    "Fills powers (R_s, R_p, T_s, T_p) and layers (the fraction absorbed in each inner layer, "
                    "s and p) of every point.");
    def_both_angles(m, "run_light", &run_light<double>, &run_light<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a, "coherent"_a.noconvert(),
                    "powers"_a.noconvert(), "light"_a.noconvert(), "threads"_a,
                    "Fills powers (R_s, R_p, T_s, T_p) and light (front, back, forward, entering, s then p) of every "
                    "point: per run between incoherent media (one more than the inner layers flagged False), the "
                    "power arriving at it from its first and its last medium, the forward flux at the front of the "
                    "medium that ends it and the net flux entering that medium.");
    def_both_angles(m, "profile", &profile<double>, &profile<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "roughness"_a.noconvert(), "roughness_model"_a,
                    "coherent"_a.noconvert(), "depths"_a.noconvert(), "out"_a.noconvert(), "threads"_a,
                    "Fills out with the absorbed power density and |E|^2 (s, p, s, p) of one stack at one angle, "
                    "per wavelength and depth.");
    m.def("default_threads", &quilmo::lab::default_threads,
          "The threads a solve uses when it names none.");
    m.def("started_workers", &quilmo::lab::started_workers,
          "The worker threads the grid has started in this process (at most one per thread asked for, capped).");
    bind_derivatives(m);
    bind_anisotropic(m);
    bind_fields(m);
    bind_point(m);
}
