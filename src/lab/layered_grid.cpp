#include "lab/layered_grid.hpp"

#include <cmath>
#include <span>
#include <stdexcept>
#include <vector>

#include "lab/fields.hpp"
#include "lab/incoherent.hpp"
#include "lab/pools.hpp"
#include "lab/stack_media.hpp"

namespace quilmo::lab {
namespace {

// Points per piece of work below which waking a worker costs more than it
// saves (a mixed point costs about as much as a coherent one).
constexpr std::size_t grain = 128;

// Builds the media of grid points with the kernel's `medium`, reusing one
// buffer per piece of work.
class MediaBuilder {
public:
    MediaBuilder(const Grid& grid, const bool* coherent) : grid_(grid), coherent_(coherent) {
        media_.resize(grid.media);
    }

    StackMedia at(std::size_t b, double sin_theta, std::size_t w) {
        const std::size_t bn = grid_.index_stacks == 1 ? 0 : b;
        const std::size_t bd = grid_.thickness_stacks == 1 ? 0 : b;
        const std::size_t column = grid_.index_columns == 1 ? 0 : w;
        const Complex* n = grid_.indices + bn * grid_.media * grid_.index_columns + column;
        const Complex tangential = optics::square(sin_theta * n[0]);
        for (std::size_t j = 0; j < grid_.media; ++j) {
            media_[j] = optics::detail::medium(n[j * grid_.index_columns], tangential);
        }
        const std::size_t layers = grid_.media - 2;
        return {media_, std::span<const double>(grid_.thicknesses + bd * layers, layers),
                std::span<const bool>(coherent_, layers), grid_.wavelengths[w], tangential};
    }

private:
    const Grid& grid_;
    const bool* coherent_;
    std::vector<Medium> media_;
};

std::vector<double> sines_of(const Grid& grid) {
    std::vector<double> sines(grid.angle_count);
    for (std::size_t a = 0; a < grid.angle_count; ++a) {
        sines[a] = std::sin(grid.angles[a]);
    }
    return sines;
}

// Calls f(point, b, a, w) for every point, spread over `threads`.
template <class F>
void for_each_point(const Grid& grid, std::size_t threads, const F& make_body) {
    const std::size_t points = grid.points();
    if (points == 0) {
        return;
    }
    const std::size_t per_stack = grid.angle_count * grid.wavelength_count;
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain,
                    [&](std::size_t begin, std::size_t end) {
                        auto body = make_body();
                        for (std::size_t p = begin; p < end; ++p) {
                            body(p, p / per_stack, (p % per_stack) / grid.wavelength_count,
                                 p % grid.wavelength_count);
                        }
                    });
}

}  // namespace

void solve_incoherent(const Grid& grid, const bool* coherent, double* powers, std::size_t threads) {
    const std::vector<double> sines = sines_of(grid);
    const std::size_t points = grid.points();
    for_each_point(grid, threads, [&] {
        return [&, builder = MediaBuilder(grid, coherent), work = Workspace()](
                   std::size_t p, std::size_t b, std::size_t a, std::size_t w) mutable {
            const PolPair<PowerSplit> got = mixed_powers(builder.at(b, sines[a], w), work);
            powers[p] = got.s.R;
            powers[points + p] = got.p.R;
            powers[2 * points + p] = got.s.T;
            powers[3 * points + p] = got.p.T;
        };
    });
}

void solve_absorbed(const Grid& grid, const bool* coherent, double* powers, double* absorbed,
                    std::size_t threads) {
    const std::vector<double> sines = sines_of(grid);
    const std::size_t points = grid.points();
    const std::size_t layers = grid.media - 2;
    const std::size_t wavelengths = grid.wavelength_count;
    for_each_point(grid, threads, [&] {
        return [&, builder = MediaBuilder(grid, coherent), work = FieldWorkspace(),
                s = std::vector<double>(layers), pp = std::vector<double>(layers)](
                   std::size_t p, std::size_t b, std::size_t a, std::size_t w) mutable {
            const PolPair<PowerSplit> got = absorption(builder.at(b, sines[a], w), work, s, pp);
            powers[p] = got.s.R;
            powers[points + p] = got.p.R;
            powers[2 * points + p] = got.s.T;
            powers[3 * points + p] = got.p.T;
            // point p = (ba, w) with ba = p / W; layer j of it lies at (ba, j, w)
            const std::size_t base = (p / wavelengths) * layers * wavelengths + w;
            for (std::size_t j = 0; j < layers; ++j) {
                absorbed[base + j * wavelengths] = s[j];
                absorbed[points * layers + base + j * wavelengths] = pp[j];
            }
        };
    });
}

void solve_profile(const Grid& grid, const bool* coherent, const double* depths, std::size_t depth_count,
                   double* out, std::size_t threads) {
    if (grid.stacks != 1 || grid.angle_count != 1) {
        throw std::invalid_argument("profile: one stack at one angle is needed");
    }
    const std::size_t rows = grid.wavelength_count;
    std::vector<DepthPlace> places(depth_count);
    place_depths(std::span<const double>(grid.thicknesses, grid.media - 2),
                 std::span<const double>(depths, depth_count), places);
    const double sin_theta = std::sin(grid.angles[0]);
    const std::size_t plane = rows * depth_count;
    // A row costs about as much as `depth_count` points of a solve.
    const std::size_t row_grain = depth_count >= grain ? 1 : grain / (depth_count + 1) + 1;
    parallel_ranges(rows, threads == 0 ? default_threads() : threads, row_grain,
                    [&](std::size_t begin, std::size_t end) {
                        MediaBuilder builder(grid, coherent);
                        FieldWorkspace work;
                        for (std::size_t w = begin; w < end; ++w) {
                            double* row = out + w * depth_count;
                            const ProfileRow target{{row, depth_count},
                                                    {row + plane, depth_count},
                                                    {row + 2 * plane, depth_count},
                                                    {row + 3 * plane, depth_count}};
                            profile_row(builder.at(0, sin_theta, w), places, work, target);
                        }
                    });
}

}  // namespace quilmo::lab
