// The small complex matrices of the 4x4 engine: a layer's 4x4 field matrix
// and the 2x2 blocks of its scattering recursion, with the few operations it
// needs (products, a 4x4 solve by Gaussian elimination with partial
// pivoting, a 2x2 inverse).
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <utility>

namespace quilmo::lab::anisotropic {

using Cx = std::complex<double>;

template <std::size_t R, std::size_t C>
using Mat = std::array<std::array<Cx, C>, R>;
using Mat4 = Mat<4, 4>;
using Mat2 = Mat<2, 2>;
using Mat42 = Mat<4, 2>;

template <std::size_t R, std::size_t K, std::size_t C>
Mat<R, C> operator*(const Mat<R, K>& a, const Mat<K, C>& b) noexcept {
    Mat<R, C> out{};
    for (std::size_t i = 0; i < R; ++i) {
        for (std::size_t j = 0; j < C; ++j) {
            Cx sum{};
            for (std::size_t k = 0; k < K; ++k) {
                sum += a[i][k] * b[k][j];
            }
            out[i][j] = sum;
        }
    }
    return out;
}

// |re| + |im|: a cheap magnitude for choosing pivots.
inline double magnitude(Cx z) noexcept { return std::fabs(z.real()) + std::fabs(z.imag()); }

// X with A X = B, by Gaussian elimination with partial pivoting. A singular A
// gives non-finite entries, never a trap.
template <std::size_t C>
Mat<4, C> solve(Mat4 a, Mat<4, C> b) noexcept {
    for (std::size_t col = 0; col < 4; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < 4; ++r) {
            if (magnitude(a[r][col]) > magnitude(a[pivot][col])) {
                pivot = r;
            }
        }
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        const Cx inv = 1.0 / a[col][col];
        for (std::size_t r = col + 1; r < 4; ++r) {
            const Cx f = a[r][col] * inv;
            for (std::size_t k = col; k < 4; ++k) {
                a[r][k] -= f * a[col][k];
            }
            for (std::size_t k = 0; k < C; ++k) {
                b[r][k] -= f * b[col][k];
            }
        }
    }
    for (std::size_t col = 4; col-- > 0;) {
        const Cx inv = 1.0 / a[col][col];
        for (std::size_t k = 0; k < C; ++k) {
            Cx sum = b[col][k];
            for (std::size_t j = col + 1; j < 4; ++j) {
                sum -= a[col][j] * b[j][k];
            }
            b[col][k] = sum * inv;
        }
    }
    return b;
}

inline Mat2 inverse(const Mat2& m) noexcept {
    const Cx inv_det = 1.0 / (m[0][0] * m[1][1] - m[0][1] * m[1][0]);
    return {{{m[1][1] * inv_det, -m[0][1] * inv_det}, {-m[1][0] * inv_det, m[0][0] * inv_det}}};
}

}  // namespace quilmo::lab::anisotropic
