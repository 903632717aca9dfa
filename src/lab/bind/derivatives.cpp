// The design half of quilmo_lab._engine: thickness derivatives and dispersion.
// Converts arrays, releases the interpreter lock and runs the engine; the
// fronts (quilmo_lab/solve.py, quilmo_lab/dispersion.py) have already checked
// and shaped every argument, and what is checked here only keeps a direct
// caller from writing out of bounds.
#include "lab/bind/derivatives.hpp"

#include <cstddef>

#include "lab/bind/arrays.hpp"
#include "lab/bind/released.hpp"
#include "lab/core/grid.hpp"
#include "lab/derivatives/dispersion_grid.hpp"
#include "lab/derivatives/jacobian_grid.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using namespace quilmo::lab::bind;
using quilmo::optics::Complex;

// (4, stacks, angles, layers, wavelengths): a derivative by every layer's thickness.
template <class T>
void require_layer_values(const Output<T, 5>& array, const quilmo::lab::Grid& grid, std::size_t stacks,
                          const char* name) {
    require_shape(array, {4, stacks, grid.angle_count, grid.media - 2, grid.wavelength_count}, name,
                  "(4, stacks, angles, layers, wavelengths)");
}

template <class Angle>
void thickness_jacobian(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles,
                        std::size_t stacks, Roughness roughness, int roughness_model,
                        Output<Amplitude, 5> amplitudes, Output<double, 5> powers,
                        std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_layer_values(amplitudes, grid, stacks, "amplitudes");
    require_layer_values(powers, grid, stacks, "powers");
    const quilmo::lab::JacobianOutputs out{reinterpret_cast<Complex*>(amplitudes.data()), powers.data()};
    require_apart({span_of("amplitudes", amplitudes), span_of("powers", powers)}, {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles)});
    run_released(grid, [&] { quilmo::lab::thickness_jacobian(grid, out, threads); });
}

template <class Angle>
void roughness_jacobian(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles,
                        std::size_t stacks, Roughness roughness, int roughness_model,
                        Output<Amplitude, 5> amplitudes, Output<double, 5> powers, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_shape(amplitudes, {4, stacks, grid.angle_count, grid.media - 1, grid.wavelength_count}, "amplitudes",
                  "(4, stacks, angles, media - 1, wavelengths)");
    require_shape(powers, {4, stacks, grid.angle_count, grid.media - 1, grid.wavelength_count}, "powers",
                  "(4, stacks, angles, media - 1, wavelengths)");
    const quilmo::lab::JacobianOutputs out{reinterpret_cast<Complex*>(amplitudes.data()), powers.data()};
    nb::gil_scoped_release released;
    quilmo::lab::roughness_jacobian(grid, out, threads);
}

template <class Angle>
void mixed_thickness_jacobian(Indices indices, Thicknesses thicknesses, Axis wavelengths, Angles<Angle> angles,
                              std::size_t stacks, Roughness roughness, int roughness_model, Mask coherent,
                              Output<double, 5> powers, std::size_t threads) {
    const quilmo::lab::Grid grid =
        stack_grid(indices, thicknesses, wavelengths, angles, stacks, roughness, roughness_model);
    require_mask(coherent, grid);
    require_layer_values(powers, grid, stacks, "powers");
    require_apart({span_of("powers", powers)}, {span_of("indices", indices), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths),
                   span_of("angles", angles), span_of("coherent", coherent)});
    run_released(grid, [&] { quilmo::lab::mixed_thickness_jacobian(grid, coherent.data(), powers.data(), threads); });
}

void dispersion(Indices series, Thicknesses thicknesses, Axis wavelengths, double angle, int side, int pol,
                Output<double, 3> out, std::size_t threads) {
    require(series.shape(0) == 4, "series must have shape (4, media, 1 or wavelengths)");
    // The series' first plane is the grid's indices; the others follow it.
    const quilmo::lab::Grid grid{
        reinterpret_cast<const Complex*>(series.data()),
        1,
        series.shape(1),
        series.shape(2),
        thicknesses.data(),
        thicknesses.shape(0),
        wavelengths.data(),
        wavelengths.shape(0),
        &angle,
        1,
        thicknesses.shape(0),
    };
    quilmo::lab::check_grid(grid);
    quilmo::lab::check_dispersion(grid, side, pol);
    require(thicknesses.shape(1) + 2 == grid.media, "thicknesses must have one column per inner layer");
    require(out.shape(0) == 4 && out.shape(1) == grid.stacks && out.shape(2) == grid.wavelength_count,
            "out must have shape (4, stacks, wavelengths)");
    const std::size_t block = grid.stacks * grid.wavelength_count;
    double* o = out.data();
    const quilmo::lab::DispersionOutputs outputs{o, o + block, o + 2 * block, o + 3 * block};
    require_apart({span_of("out", out)},
                  {span_of("series", series), span_of("thicknesses", thicknesses), span_of("wavelengths", wavelengths)});
    run_released(grid, [&] { quilmo::lab::dispersion(grid, side, pol, outputs, threads); });
}

}  // namespace

void bind_derivatives(nb::module_& m) {
    def_both_angles(m, "thickness_jacobian", &thickness_jacobian<double>, &thickness_jacobian<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a, "amplitudes"_a.noconvert(),
                    "powers"_a.noconvert(), "threads"_a,
                    "Fills the derivatives by every inner-layer thickness of the amplitudes (r_s, r_p, t_s, t_p) "
                    "and powers (R_s, R_p, T_s, T_p), each of shape (stacks, angles, layers, wavelengths).");
    def_both_angles(m, "roughness_jacobian", &roughness_jacobian<double>, &roughness_jacobian<Amplitude>,
                    "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a, "roughness"_a.noconvert(),
                    "roughness_model"_a, "amplitudes"_a.noconvert(), "powers"_a.noconvert(), "threads"_a,
                    "Fills the derivatives by the roughness of every interface of the amplitudes (r_s, r_p, t_s, t_p) "
                    "and powers (R_s, R_p, T_s, T_p), each of shape (stacks, angles, media - 1, wavelengths).");
    def_both_angles(m, "mixed_thickness_jacobian", &mixed_thickness_jacobian<double>,
                    &mixed_thickness_jacobian<Amplitude>, "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
                    "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
                    "roughness"_a.noconvert(), "roughness_model"_a,
                    "coherent"_a.noconvert(), "powers"_a.noconvert(), "threads"_a,
                    "Fills the derivatives of R_s, R_p, T_s, T_p by every inner-layer thickness of stacks whose "
                    "layers flagged False in coherent are treated by intensity.");
    m.def("dispersion", &dispersion, "series"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angle"_a, "side"_a, "pol"_a, "out"_a.noconvert(), "threads"_a,
          "Fills phase (rad), GD (fs), GDD (fs^2) and TOD (fs^3) of r (side 0) or t (side 1), s (pol 0) "
          "or p (pol 1), for each stack and wavelength (nm).");
}
