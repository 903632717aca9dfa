// The arrays of a single point are read through the buffer protocol: a NumPy
// array's buffer costs a fraction of the DLPack import that nanobind's
// ndarray arguments go through, which for one small point is most of the
// call. The checks are those of the grid functions, in the same words.
#include "lab/bind/point.hpp"

#include <nanobind/stl/complex.h>
#include <nanobind/stl/tuple.h>

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "lab/bind/arrays.hpp"
#include "lab/bind/released.hpp"
#include "lab/coherent/coherent_grid.hpp"
#include "lab/incoherent/incoherent_grid.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using namespace quilmo::lab::bind;
using quilmo::optics::Complex;

// What a buffer must hold: doubles ('d'), complex doubles ('Zd'), or either.
enum class Values { real, complex, real_or_complex };

bool has_format(const char* format, const char* wanted) noexcept {
    return std::strcmp(format, wanted) == 0 ||
           ((format[0] == '=' || format[0] == '<') && std::strcmp(format + 1, wanted) == 0);
}

// A C-contiguous buffer of doubles or complex doubles, held until the end of
// the call.
class Buffer {
public:
    Buffer(nb::handle object, const char* name, Values values, bool writable) {
        const char* type = values == Values::real ? "float64" : values == Values::complex ? "complex128"
                                                                                          : "float64 or complex128";
        const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
        if (PyObject_GetBuffer(object.ptr(), &view_, flags) != 0) {
            PyErr_Clear();
            throw nb::type_error((std::string(name) + " must be a C-contiguous" + (writable ? ", writable" : "") +
                                  " array of " + type)
                                     .c_str());
        }
        held_ = true;
        const char* format = view_.format == nullptr ? "B" : view_.format;
        complex_ = has_format(format, "Zd");
        const bool real = has_format(format, "d");
        if (values == Values::real ? !real : values == Values::complex ? !complex_ : !(real || complex_)) {
            release();  // a constructor that throws runs no destructor
            throw std::invalid_argument(std::string(name) + " must hold " + type + " values");
        }
    }
    ~Buffer() { release(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    std::size_t size(std::size_t item) const noexcept { return static_cast<std::size_t>(view_.len) / item; }
    void* data() const noexcept { return view_.buf; }
    bool complex_values() const noexcept { return complex_; }

private:
    void release() noexcept {
        if (held_) {
            PyBuffer_Release(&view_);
            held_ = false;
        }
    }

    Py_buffer view_{};
    bool held_ = false;
    bool complex_ = false;
};

// Indices of real values (float64, the commonest list a script passes) read
// as complex ones, as NumPy's conversion gives them (x + 0i), so that the
// caller need not convert them first; complex ones as they are.
class ComplexIndices {
public:
    explicit ComplexIndices(const Buffer& indices) {
        if (indices.complex_values()) {
            data_ = static_cast<const Complex*>(indices.data());
            size_ = indices.size(sizeof(Complex));
            return;
        }
        const auto* real = static_cast<const double*>(indices.data());
        size_ = indices.size(sizeof(double));
        converted_.resize(size_);
        for (std::size_t j = 0; j < size_; ++j) {
            converted_[j] = {real[j], 0.0};
        }
        data_ = converted_.data();
    }

    const Complex* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    std::vector<Complex> converted_;
    const Complex* data_ = nullptr;
    std::size_t size_ = 0;
};

// One angle of incidence, real or complex, where a grid of one point can
// point at it.
struct OneAngle {
    explicit OneAngle(std::complex<double> angle) noexcept
        : real(angle.real()), complex{angle.real(), angle.imag()}, is_complex(angle.imag() != 0.0) {}

    double real;
    Complex complex;
    bool is_complex;
};

// The checked grid of one stack at one wavelength and one angle; it points
// at its arguments, which must outlive it.
quilmo::lab::Grid point_grid(const Complex* indices, std::size_t media, const double* thicknesses,
                             const double& wavelength, const OneAngle& angle) {
    quilmo::lab::Grid grid{
        indices,
        1,
        media,
        1,
        thicknesses,
        1,
        &wavelength,
        1,
        angle.is_complex ? nullptr : &angle.real,
        1,
        1,
        angle.is_complex ? &angle.complex : nullptr,
    };
    quilmo::lab::check_grid(grid);
    return grid;
}

// Whether an inner medium's k_z is imaginary: an evanescent wave in a
// lossless layer, where tmm takes the other root.
bool inner_evanescent(const Complex* kz, std::size_t media) {
    return std::any_of(kz + 1, kz + media - 1, [](const Complex& k) { return k.re == 0.0; });
}

// r_s, r_p, t_s, t_p and R_s, R_p, T_s, T_p of the point; with `normal`
// (2 x media) and `waves` (4 x media, or None) its k_z, angles and amplitudes
// per medium as layer_waves gives them, from the same pass, and in `powers`
// two more values, the power entering the stack for s and p. Returns whether
// an inner medium's k_z is imaginary (inner_evanescent): false without
// `normal`.
bool coherent_point(nb::handle indices, nb::handle thicknesses, double wavelength, std::complex<double> angle,
                    nb::handle amplitudes, nb::handle powers, nb::handle normal, nb::handle waves) {
    const Buffer n_buffer(indices, "indices", Values::real_or_complex, false);
    const ComplexIndices n(n_buffer);
    const Buffer d(thicknesses, "thicknesses", Values::real, false);
    const Buffer amplitude_out(amplitudes, "amplitudes", Values::complex, true);
    const Buffer power_out(powers, "powers", Values::real, true);
    const std::size_t media = n.size();
    require(d.size(sizeof(double)) + 2 == media, "thicknesses must have one entry per inner layer");
    const bool per_medium = !normal.is_none();
    require(amplitude_out.size(sizeof(Complex)) == 4 && power_out.size(sizeof(double)) == (per_medium ? 6 : 4),
            "amplitudes must hold 4 values, powers 4 (6 with normal)");
    const OneAngle one_angle(angle);
    const quilmo::lab::Grid grid =
        point_grid(n.data(), media, static_cast<const double*>(d.data()), wavelength, one_angle);
    auto* power_data = static_cast<double*>(power_out.data());
    const quilmo::lab::CoherentOutputs out{static_cast<Complex*>(amplitude_out.data()), power_data};
    if (!per_medium) {
        run_point(grid, [&] { quilmo::lab::solve_coherent(grid, out, 1); });
        return false;
    }
    const Buffer normal_out(normal, "normal", Values::complex, true);
    require(normal_out.size(sizeof(Complex)) == 2 * media, "normal must hold 2 x media values");
    Complex* waves_data = nullptr;
    if (!waves.is_none()) {
        const Buffer waves_out(waves, "waves", Values::complex, true);
        require(waves_out.size(sizeof(Complex)) == 4 * media, "waves must hold 4 x media values");
        waves_data = static_cast<Complex*>(waves_out.data());  // the caller's array outlives the call
    }
    auto* const kz = static_cast<Complex*>(normal_out.data());
    run_point(grid, [&] { quilmo::lab::solve_coherent_waves(grid, out, power_data + 4, kz, waves_data, 1); });
    return inner_evanescent(kz, media);
}

// tmm's coh_tmm at one point for polarisation `pol` (0: s, 1: p), from the
// pass of coherent_point: fills `vw` (media x 2) in tmm's layout (forward and
// backward amplitude at each medium's front, zeros for the incidence medium,
// t and 0 for the exit medium) and `normal` (2 x media) with k_z and the angle
// of every medium; returns (r, t, R, T, power entering, whether an inner
// medium's k_z is imaginary). `thicknesses` are tmm's, the outer media's too.
using TmmValues = std::tuple<std::complex<double>, std::complex<double>, double, double, double, bool>;

TmmValues tmm_point(nb::handle indices, nb::handle thicknesses, double wavelength, std::complex<double> angle, int pol,
                    nb::handle vw, nb::handle normal) {
    const Buffer n(indices, "indices", Values::complex, false);
    const Buffer d(thicknesses, "thicknesses", Values::real, false);
    const Buffer vw_out(vw, "vw", Values::complex, true);
    const Buffer normal_out(normal, "normal", Values::complex, true);
    const std::size_t media = n.size(sizeof(Complex));
    require(pol == 0 || pol == 1, "pol must be 0 (s) or 1 (p)");
    require(media >= 2 && d.size(sizeof(double)) == media, "thicknesses must have one entry per medium");
    require(vw_out.size(sizeof(Complex)) == 2 * media && normal_out.size(sizeof(Complex)) == 2 * media,
            "vw and normal must hold 2 x media values");
    const OneAngle one_angle(angle);
    const quilmo::lab::Grid grid = point_grid(static_cast<const Complex*>(n.data()), media,
                                              static_cast<const double*>(d.data()) + 1, wavelength, one_angle);
    Complex amplitudes[4];
    double powers[6];
    std::vector<Complex> waves(4 * media);
    auto* const kz = static_cast<Complex*>(normal_out.data());
    run_point(grid, [&] {
        quilmo::lab::solve_coherent_waves(grid, {amplitudes, powers}, powers + 4, kz, waves.data(), 1);
    });
    auto* const out = static_cast<Complex*>(vw_out.data());
    const Complex* forward = waves.data() + 2 * pol * media;
    const Complex* backward = forward + media;
    for (std::size_t j = 1; j + 1 < media; ++j) {
        out[2 * j] = forward[j];
        out[2 * j + 1] = backward[j];
    }
    const Complex r = amplitudes[pol];
    const Complex t = amplitudes[2 + pol];
    out[0] = out[1] = out[2 * media - 1] = {0.0, 0.0};
    out[2 * media - 2] = t;
    return {std::complex<double>(r.re, r.im), std::complex<double>(t.re, t.im), powers[pol], powers[2 + pol],
            powers[4 + pol], inner_evanescent(kz, media)};
}

}  // namespace

void bind_point(nb::module_& m) {
    m.def("coherent_point", &coherent_point, "indices"_a, "thicknesses"_a, "wavelength"_a, "angle"_a,
          "amplitudes"_a, "powers"_a, "normal"_a.none(), "waves"_a.none(),
          "Fills amplitudes (r_s, r_p, t_s, t_p) and powers (R_s, R_p, T_s, T_p) of one coherent stack at one "
          "wavelength and angle (indices (media,) float64 or complex128, thicknesses (media - 2,) float64); "
          "unless None, normal (2, media) with k_z and the angle of every medium, waves (4, media) with v_s, w_s, v_p, "
          "w_p at each medium's front and then 6 powers, the last two the power entering the stack (s, p); "
          "returns whether an inner medium's k_z is imaginary (False without normal).");
    m.def("tmm_point", &tmm_point, "indices"_a, "thicknesses"_a, "wavelength"_a, "angle"_a, "pol"_a, "vw"_a,
          "normal"_a,
          "The values of tmm's coh_tmm for pol 0 (s) or 1 (p) at one wavelength and angle (indices (media,) "
          "complex128, thicknesses (media,) float64 with the outer media's): fills vw (media, 2) in tmm's "
          "layout and normal (2, media) with k_z and the angle of every medium, and returns r, t, R, T, the "
          "power entering the stack and whether an inner medium's k_z is imaginary.");
}
