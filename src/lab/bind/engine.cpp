// quilmo_lab._engine: converts the arrays of a solve, releases the interpreter
// lock and runs the grid. The front (quilmo_lab/solve.py) has already checked
// and shaped every argument; what is checked here only keeps a direct caller
// from writing out of bounds.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <complex>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "lab/bind/derivatives.hpp"
#include "lab/grid.hpp"
#include "lab/layered_grid.hpp"
#include "lab/pools.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

template <class T, class Shape>
using Input = nb::ndarray<const T, Shape, nb::c_contig, nb::device::cpu>;
template <class T>
using Output = nb::ndarray<T, nb::ndim<4>, nb::c_contig, nb::device::cpu>;
using Amplitude = std::complex<double>;

static_assert(sizeof(Amplitude) == sizeof(quilmo::optics::Complex));

void require_output(bool matches, const char* name) {
    if (!matches) {
        throw std::invalid_argument(std::string(name) +
                                    " must have shape (4, stacks, angles, wavelengths)");
    }
}

void coherent(Input<Amplitude, nb::ndim<3>> indices, Input<double, nb::ndim<2>> thicknesses,
              Input<double, nb::ndim<1>> wavelengths, Input<double, nb::ndim<1>> angles,
              std::size_t stacks, Output<Amplitude> amplitudes, Output<double> powers,
              std::size_t threads) {
    const quilmo::lab::Grid grid{
        reinterpret_cast<const quilmo::optics::Complex*>(indices.data()),
        indices.shape(0),
        indices.shape(1),
        indices.shape(2),
        thicknesses.data(),
        thicknesses.shape(0),
        wavelengths.data(),
        wavelengths.shape(0),
        angles.data(),
        angles.shape(0),
        stacks,
    };
    quilmo::lab::check_grid(grid);
    if (thicknesses.shape(1) != grid.media - 2) {
        throw std::invalid_argument("thicknesses must have one column per inner layer");
    }
    require_output(amplitudes.shape(0) == 4 && amplitudes.shape(1) == stacks &&
                       amplitudes.shape(2) == grid.angle_count &&
                       amplitudes.shape(3) == grid.wavelength_count,
                   "amplitudes");
    require_output(powers.shape(0) == 4 && powers.shape(1) == stacks &&
                       powers.shape(2) == grid.angle_count && powers.shape(3) == grid.wavelength_count,
                   "powers");
    const quilmo::lab::CoherentOutputs out{
        reinterpret_cast<quilmo::optics::Complex*>(amplitudes.data()), powers.data()};
    nb::gil_scoped_release released;
    quilmo::lab::solve_coherent(grid, out, threads);
}

using Mask = Input<bool, nb::ndim<1>>;

quilmo::lab::Grid grid_of(const Input<Amplitude, nb::ndim<3>>& indices, const Input<double, nb::ndim<2>>& thicknesses,
                          const Input<double, nb::ndim<1>>& wavelengths, const Input<double, nb::ndim<1>>& angles,
                          std::size_t stacks, const Mask& mask) {
    const quilmo::lab::Grid grid{
        reinterpret_cast<const quilmo::optics::Complex*>(indices.data()),
        indices.shape(0),
        indices.shape(1),
        indices.shape(2),
        thicknesses.data(),
        thicknesses.shape(0),
        wavelengths.data(),
        wavelengths.shape(0),
        angles.data(),
        angles.shape(0),
        stacks,
    };
    quilmo::lab::check_grid(grid);
    if (thicknesses.shape(1) != grid.media - 2) {
        throw std::invalid_argument("thicknesses must have one column per inner layer");
    }
    if (mask.shape(0) != grid.media - 2) {
        throw std::invalid_argument("coherent must have one flag per inner layer");
    }
    return grid;
}

void require_shape(bool matches, const char* name, const char* shape) {
    if (!matches) {
        throw std::invalid_argument(std::string(name) + " must have shape " + shape);
    }
}

void incoherent(Input<Amplitude, nb::ndim<3>> indices, Input<double, nb::ndim<2>> thicknesses,
                Input<double, nb::ndim<1>> wavelengths, Input<double, nb::ndim<1>> angles,
                std::size_t stacks, Mask coherent, Output<double> powers, std::size_t threads) {
    const quilmo::lab::Grid grid = grid_of(indices, thicknesses, wavelengths, angles, stacks, coherent);
    require_output(powers.shape(0) == 4 && powers.shape(1) == stacks && powers.shape(2) == grid.angle_count &&
                       powers.shape(3) == grid.wavelength_count,
                   "powers");
    nb::gil_scoped_release released;
    quilmo::lab::solve_incoherent(grid, coherent.data(), powers.data(), threads);
}

void absorbed(Input<Amplitude, nb::ndim<3>> indices, Input<double, nb::ndim<2>> thicknesses,
              Input<double, nb::ndim<1>> wavelengths, Input<double, nb::ndim<1>> angles, std::size_t stacks,
              Mask coherent, Output<double> powers,
              nb::ndarray<double, nb::ndim<5>, nb::c_contig, nb::device::cpu> layers, std::size_t threads) {
    const quilmo::lab::Grid grid = grid_of(indices, thicknesses, wavelengths, angles, stacks, coherent);
    require_output(powers.shape(0) == 4 && powers.shape(1) == stacks && powers.shape(2) == grid.angle_count &&
                       powers.shape(3) == grid.wavelength_count,
                   "powers");
    require_shape(layers.shape(0) == 2 && layers.shape(1) == stacks && layers.shape(2) == grid.angle_count &&
                      layers.shape(3) == grid.media - 2 && layers.shape(4) == grid.wavelength_count,
                  "layers", "(2, stacks, angles, media - 2, wavelengths)");
    nb::gil_scoped_release released;
    quilmo::lab::solve_absorbed(grid, coherent.data(), powers.data(), layers.data(), threads);
}

void profile(Input<Amplitude, nb::ndim<3>> indices, Input<double, nb::ndim<2>> thicknesses,
             Input<double, nb::ndim<1>> wavelengths, Input<double, nb::ndim<1>> angles, Mask coherent,
             Input<double, nb::ndim<1>> depths, nb::ndarray<double, nb::ndim<3>, nb::c_contig, nb::device::cpu> out,
             std::size_t threads) {
    const quilmo::lab::Grid grid = grid_of(indices, thicknesses, wavelengths, angles, 1, coherent);
    require_shape(out.shape(0) == 4 && out.shape(1) == grid.wavelength_count && out.shape(2) == depths.shape(0),
                  "out", "(4, wavelengths, depths)");
    nb::gil_scoped_release released;
    quilmo::lab::solve_profile(grid, coherent.data(), depths.data(), depths.shape(0), out.data(), threads);
}

}  // namespace

NB_MODULE(_engine, m) {
    m.doc() = "The compiled grid of quilmo_lab; call it through quilmo_lab.solve.";
    m.def("coherent", &coherent, "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a,
          "amplitudes"_a.noconvert(), "powers"_a.noconvert(), "threads"_a,
          "Fills amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p) of every "
          "(stack, angle, wavelength) point; threads 0 means every processor this process may "
          "use.");
    m.def("incoherent", &incoherent, "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a, "coherent"_a.noconvert(),
          "powers"_a.noconvert(), "threads"_a,
          "Fills powers (R_s, R_p, T_s, T_p) of every point, the inner layers flagged False in "
          "coherent treated by intensity.");
    m.def("absorbed", &absorbed, "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "stacks"_a, "coherent"_a.noconvert(),
          "powers"_a.noconvert(), "layers"_a.noconvert(), "threads"_a,
          "Fills powers (R_s, R_p, T_s, T_p) and layers (the fraction absorbed in each inner layer, "
          "s and p) of every point.");
    m.def("profile", &profile, "indices"_a.noconvert(), "thicknesses"_a.noconvert(),
          "wavelengths"_a.noconvert(), "angles"_a.noconvert(), "coherent"_a.noconvert(),
          "depths"_a.noconvert(), "out"_a.noconvert(), "threads"_a,
          "Fills out with the absorbed power density and |E|^2 (s, p, s, p) of one stack at one angle, "
          "per wavelength and depth.");
    m.def("default_threads", &quilmo::lab::default_threads,
          "The threads a solve uses when it names none.");
    bind_derivatives(m);
}
