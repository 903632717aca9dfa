// What both binding files of quilmo_lab._engine take from NumPy: the array
// types they accept, the grid those arrays describe, and the shape checks that
// keep a direct caller from writing out of bounds (the Python fronts have
// already checked and shaped every argument).
#pragma once

#include <nanobind/ndarray.h>

#include <complex>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "lab/core/grid.hpp"

namespace quilmo::lab::bind {

namespace nb = nanobind;

template <class T, class Shape>
using Input = nb::ndarray<const T, Shape, nb::c_contig, nb::device::cpu>;
template <class T, std::size_t D>
using Output = nb::ndarray<T, nb::ndim<D>, nb::c_contig, nb::device::cpu>;
using Amplitude = std::complex<double>;
using Indices = Input<Amplitude, nb::ndim<3>>;
using Thicknesses = Input<double, nb::ndim<2>>;
using Axis = Input<double, nb::ndim<1>>;
using Mask = Input<bool, nb::ndim<1>>;
// Angles of incidence: float64, or complex128 for complex angles (each
// binding taking angles has an overload for each).
template <class Angle>
using Angles = Input<Angle, nb::ndim<1>>;
using Roughness = Input<double, nb::ndim<2>>;

// Binds `name` twice, for real and for complex angles, with the same
// arguments and docstring.
template <class Real, class Complex_, class... Extra>
void def_both_angles(nb::module_& m, const char* name, Real real, Complex_ complex, const Extra&... extra) {
    m.def(name, real, extra...);
    m.def(name, complex, extra...);
}

static_assert(sizeof(Amplitude) == sizeof(optics::Complex));

inline void require(bool condition, const char* what) {
    if (!condition) {
        throw std::invalid_argument(what);
    }
}

// For a message composed of parts: `message()` builds it, only for a failed check.
template <class Message>
void require(bool condition, const Message& message) {
    if (!condition) {
        throw std::invalid_argument(message());
    }
}

// `array` has exactly the dimensions `expected`; `shape` names them in the error.
template <class Array>
void require_shape(const Array& array, std::initializer_list<std::size_t> expected, const char* name,
                   const char* shape) {
    std::size_t axis = 0;
    for (const std::size_t size : expected) {
        require(array.shape(axis++) == size, [&] { return std::string(name) + " must have shape " + shape; });
    }
}

inline const optics::Complex* complex_data(const Indices& indices) {
    return reinterpret_cast<const optics::Complex*>(indices.data());
}

// The checked (stack, angle, wavelength) grid of a solve; `roughness` is
// (1 or stacks, media - 1), model 0 Nevot-Croce and 1 Debye-Waller.
template <class Angle>
Grid stack_grid(const Indices& indices, const Thicknesses& thicknesses, const Axis& wavelengths,
                const Angles<Angle>& angles, std::size_t stacks, const Roughness& roughness, int model) {
    constexpr bool complex_angles = std::is_same_v<Angle, Amplitude>;
    Grid grid{
        complex_data(indices),
        indices.shape(0),
        indices.shape(1),
        indices.shape(2),
        thicknesses.data(),
        thicknesses.shape(0),
        wavelengths.data(),
        wavelengths.shape(0),
        complex_angles ? nullptr : reinterpret_cast<const double*>(angles.data()),
        angles.shape(0),
        stacks,
        complex_angles ? reinterpret_cast<const optics::Complex*>(angles.data()) : nullptr,
    };
    grid.roughness = roughness.data();
    grid.roughness_stacks = roughness.shape(0);
    require(model == 0 || model == 1, "roughness_model must be 0 (Nevot-Croce) or 1 (Debye-Waller)");
    grid.roughness_model = static_cast<RoughnessModel>(model);
    check_grid(grid);
    require(thicknesses.shape(1) == grid.media - 2, "thicknesses must have one column per inner layer");
    require(roughness.shape(1) == grid.media - 1, "roughness must have one column per interface");
    return grid;
}

// The bytes an array of the call occupies, by its parameter's name.
struct Span {
    const char* name;
    const void* data;
    std::size_t bytes;
};

template <class Array>
Span span_of(const char* name, const Array& array) {
    return {name, array.data(), array.nbytes()};
}

// No output shares a byte with another output or with an input: the engine
// reads its inputs while it writes, and writes every output once.
inline void require_apart(std::initializer_list<Span> outputs, std::initializer_list<Span> inputs) {
    const auto overlap = [](const Span& a, const Span& b) {
        const auto* a0 = static_cast<const unsigned char*>(a.data);
        const auto* b0 = static_cast<const unsigned char*>(b.data);
        return a.bytes != 0 && b.bytes != 0 && std::less<>()(a0, b0 + b.bytes) && std::less<>()(b0, a0 + a.bytes);
    };
    for (auto out = outputs.begin(); out != outputs.end(); ++out) {
        for (auto other = outputs.begin(); other != out; ++other) {
            require(!overlap(*out, *other),
                    [&] { return std::string(out->name) + " must not share memory with " + other->name; });
        }
        for (const Span& in : inputs) {
            require(!overlap(*out, in),
                    [&] { return std::string(out->name) + " must not share memory with " + in.name; });
        }
    }
}

inline void require_mask(const Mask& mask, const Grid& grid) {
    require(mask.shape(0) == grid.media - 2, "coherent must have one flag per inner layer");
}

}  // namespace quilmo::lab::bind
