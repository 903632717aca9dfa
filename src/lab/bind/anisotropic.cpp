// The anisotropic half of quilmo_lab._engine: converts the arrays of a 4x4
// solve, releases the interpreter lock and runs the grid. The front
// (quilmo_lab/anisotropic.py) has already checked and shaped every argument;
// what is checked here only keeps a direct caller from writing out of bounds.
#include "lab/bind/anisotropic.hpp"

#include <cstddef>

#include "lab/anisotropic/anisotropic_grid.hpp"
#include "lab/bind/arrays.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using namespace quilmo::lab::bind;
using quilmo::optics::Complex;

using Tensors = Input<Amplitude, nb::ndim<5>>;

void anisotropic(Tensors permittivity, Thicknesses thicknesses, Axis wavelengths, Axis angles, std::size_t stacks,
                 Output<Amplitude, 5> jones_r, Output<Amplitude, 5> jones_t, Output<Amplitude, 5> transmitted,
                 Output<double, 4> exit_flux, std::size_t threads) {
    require(permittivity.shape(2) == 3 && permittivity.shape(3) == 3,
            "permittivity must have shape (stacks, media, 3, 3, columns)");
    const quilmo::lab::TensorGrid grid{
        {nullptr, permittivity.shape(0), permittivity.shape(1), permittivity.shape(4), thicknesses.data(),
         thicknesses.shape(0), wavelengths.data(), wavelengths.shape(0), angles.data(), angles.shape(0), stacks},
        reinterpret_cast<const Complex*>(permittivity.data())};
    check_grid(grid.shape);
    require(thicknesses.shape(1) == grid.shape.media - 2, "thicknesses must have one column per inner layer");
    const std::size_t a = grid.shape.angle_count, w = grid.shape.wavelength_count;
    for (const auto* out : {&jones_r, &jones_t, &transmitted}) {
        require_shape(*out, {stacks, a, w, 2, 2}, "jones_r, jones_t and transmitted",
                      "(stacks, angles, wavelengths, 2, 2)");
    }
    require_shape(exit_flux, {stacks, a, w, 2}, "exit_flux", "(stacks, angles, wavelengths, 2)");
    const quilmo::lab::AnisotropicOutputs out{
        reinterpret_cast<Complex*>(jones_r.data()), reinterpret_cast<Complex*>(jones_t.data()),
        reinterpret_cast<Complex*>(transmitted.data()), exit_flux.data()};
    nb::gil_scoped_release released;
    quilmo::lab::solve_anisotropic(grid, out, threads);
}

}  // namespace

void bind_anisotropic(nb::module_& m) {
    m.def("anisotropic", &anisotropic, "permittivity"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a, "jones_r"_a.noconvert(),
          "jones_t"_a.noconvert(), "transmitted"_a.noconvert(), "exit_flux"_a.noconvert(), "threads"_a,
          "Fills the Jones matrices jones_r and jones_t (in the outer media's mode bases), the transmitted "
          "power form and the exit modes' fluxes of every (stack, angle, wavelength) point of stacks of "
          "permittivity tensors.");
}
