// The coherent runs of one point: the media first .. last of a stack, where
// the two ends are treated by intensity (the incidence and exit media, or
// incoherent inner layers) and every medium between them by amplitude. A run
// without inner layers is a single interface.
//
// The power fractions of a run lit from either end come from one pass of the
// scaled product (coherent/scaled_product.hpp), so an opaque layer makes t
// underflow to 0 instead of the matrix overflowing. With M the product:
// r = M10/M00, t = 1/M00, r' = -M01/M00, and t' = t (n c)_last / (n c)_first,
// since det M is the telescoping product of the interfaces' tau'/tau.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lab/core/point_media.hpp"
#include "lab/core/polarisation.hpp"

namespace quilmo::lab {

struct Run {
    std::size_t first;
    std::size_t last;
};

// Fractions of incident power, from the front (first medium) and from the
// back (last medium), referred to the flux in the medium the light comes
// from; plain numbers, or a number type that carries derivatives.
template <class Number = double>
struct RunFractions {
    Number R;
    Number T;
    Number R_back;
    Number T_back;
};

// The four fractions from a run's amplitudes and the flux weights of its end
// media, w_in of the first and w_out of the last.
inline RunFractions<> run_fractions_of(Complex r, Complex t, Complex r_back, Complex t_back, double w_in,
                                       double w_out) noexcept {
    return {optics::norm(r), carried_fraction(optics::norm(t), w_out, w_in), optics::norm(r_back),
            carried_fraction(optics::norm(t_back), w_in, w_out)};
}

// The run's cross fractions of the s and p waves in power units: each entry
// a_s conj(a_p), a = r, or t scaled by the square root of its flux weights
// (what |a|^2 w_to / w_from is to a power). The Mueller matrix of an
// isotropic stack is made of the s and p powers and of these; light adding
// by power in incoherent layers adds them with the same power transfer.
RunFractions<Complex> run_cross_fractions(const PointMedia& point, Run run,
                                          std::span<const MatrixLanes> interfaces) noexcept;

// Cuts the point at its incoherent media; `runs` is cleared first. Run k ends
// where run k + 1 starts; the first starts at medium 0, the last ends at the
// exit medium.
void split_runs(const PointMedia& point, std::vector<Run>& runs);

// The pass fraction P = e^{-alpha d} of the medium that ends run k of `runs`:
// 1 for the exit medium, one pass through the incoherent layer otherwise.
double run_pass(const PointMedia& point, std::span<const Run> runs, std::size_t k) noexcept;

// Both polarisations' fractions of `run`; interface j joins media j and j + 1.
PerPolarisation<RunFractions<>> run_fractions(const PointMedia& point, Run run,
                                              std::span<const MatrixLanes> interfaces) noexcept;

}  // namespace quilmo::lab
