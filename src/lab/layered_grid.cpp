#include "lab/layered_grid.hpp"

#include <cmath>
#include <span>
#include <stdexcept>
#include <vector>

#include "lab/fields.hpp"
#include "lab/incoherent.hpp"
#include "lab/pools.hpp"
#include "lab/stack_media.hpp"
#include "lab/stack_plan.hpp"

namespace quilmo::lab {
namespace {

// Points per piece of work below which waking a worker costs more than it
// saves (a mixed point costs about as much as a coherent one).
constexpr std::size_t grain = 128;

// The wavelengths a piece of work [begin, end) of the grid's points visits:
// all of them once it wraps past the last.
struct Columns {
    std::size_t first;
    std::size_t last;
};

Columns columns_of(std::size_t begin, std::size_t end, std::size_t wavelengths) {
    const std::size_t first = begin % wavelengths;
    return end - begin < wavelengths && first + (end - begin) <= wavelengths ? Columns{first, first + (end - begin)}
                                                                              : Columns{0, wavelengths};
}

// Builds the media and interface matrices of grid points, point after point
// in grid order, for the wavelengths `columns` of a piece of work. The
// stack's plan (stack_plan.hpp, over those wavelengths only) says which media
// and interfaces repeat within it; those are computed once per point, and
// where the incidence medium has one index at every wavelength, the media of
// constant rows and the interfaces between two of them once per angle, as the
// coherent pass does. Stacks of a batch that share their indices share the
// plan (thicknesses do not enter it here).
class PointBuilder {
public:
    PointBuilder(const Grid& grid, const std::vector<double>& sines, const bool* coherent, Columns columns)
        : grid_(grid), sines_(sines), coherent_(coherent),
          columns_(grid.index_columns == 1 ? Columns{0, 1} : columns) {
        media_.resize(grid.media);
        interfaces_.resize(grid.media - 1);
    }

    StackMedia at(std::size_t b, std::size_t a, std::size_t w) {
        const std::size_t layers = grid_.media - 2;
        if (b != stack_) {
            const std::size_t bd = grid_.thickness_stacks == 1 ? 0 : b;
            d_ = grid_.thicknesses + bd * layers;
            if (stack_ == no_stack || grid_.index_stacks != 1) {
                plan(b);
            }
            stack_ = b;
        }
        if (a != angle_) {
            angle_ = a;
            if (fixed_) {
                prepare_angle();
            }
        }
        const std::size_t column = grid_.index_columns == 1 ? 0 : w;
        const Complex tangential = fixed_ ? tangential_ : optics::square(sines_[a] * n_.at(0, column));
        for (const std::size_t j : per_point_.media) {
            media_[j] = optics::detail::medium(n_.at(j, column), tangential);
        }
        for (const std::size_t j : per_point_.media_copies) {
            media_[j] = media_[plan_.medium_source[j]];
        }
        return {media_, std::span<const double>(d_, layers), std::span<const bool>(coherent_, layers),
                grid_.wavelengths[w], tangential};
    }

    // The interface matrices of the point `at` returned last.
    std::span<const MatrixLanes> interfaces() {
        for (const std::size_t j : per_point_.interfaces) {
            interfaces_[j] = interface(j);
        }
        for (const std::size_t j : per_point_.interface_copies) {
            interfaces_[j] = interfaces_[plan_.interface_source[j]];
        }
        return interfaces_;
    }

private:
    static constexpr std::size_t no_angle = static_cast<std::size_t>(-1);
    static constexpr std::size_t no_stack = static_cast<std::size_t>(-1);

    // Media and interfaces to compute, and copies to make, at one time.
    struct Steps {
        std::vector<std::size_t> media, media_copies, interfaces, interface_copies;
    };

    MatrixLanes interface(std::size_t j) const noexcept {
        return optics::detail::interface_sp(media_[j], media_[j + 1], optics::twice(media_[j].n) * media_[j].c);
    }

    void plan(std::size_t b) {
        const std::size_t bn = grid_.index_stacks == 1 ? 0 : b;
        n_ = View2<Complex>{grid_.indices + bn * grid_.media * grid_.index_columns, grid_.media,
                            grid_.index_columns, static_cast<std::ptrdiff_t>(grid_.index_columns), 1};
        View2<Complex> planned = n_;
        planned.data = &n_.at(0, columns_.first);
        planned.cols = columns_.last - columns_.first;
        plan_stack(plan_, planned, View1<double>{d_, grid_.media - 2, 1});
        // With a constant incidence medium the tangential term is the same at
        // every wavelength, and so are the media of constant rows and the
        // interfaces between two of them.
        fixed_ = plan_.constant[0];
        auto fixed_medium = [&](std::size_t j) { return fixed_ && plan_.constant[j]; };
        per_point_ = {};
        per_angle_ = {};
        for (std::size_t j = 0; j < grid_.media; ++j) {
            Steps& steps = fixed_medium(j) ? per_angle_ : per_point_;
            (plan_.medium_source[j] == j ? steps.media : steps.media_copies).push_back(j);
        }
        for (std::size_t j = 0; j + 1 < grid_.media; ++j) {
            Steps& steps = fixed_medium(j) && fixed_medium(j + 1) ? per_angle_ : per_point_;
            (plan_.interface_source[j] == j ? steps.interfaces : steps.interface_copies).push_back(j);
        }
        angle_ = no_angle;
    }

    void prepare_angle() {
        tangential_ = optics::square(sines_[angle_] * n_.at(0, columns_.first));
        for (const std::size_t j : per_angle_.media) {
            media_[j] = optics::detail::medium(n_.at(j, columns_.first), tangential_);
        }
        for (const std::size_t j : per_angle_.media_copies) {
            media_[j] = media_[plan_.medium_source[j]];
        }
        for (const std::size_t j : per_angle_.interfaces) {
            interfaces_[j] = interface(j);
        }
        for (const std::size_t j : per_angle_.interface_copies) {
            interfaces_[j] = interfaces_[plan_.interface_source[j]];
        }
    }

    const Grid& grid_;
    const std::vector<double>& sines_;
    const bool* coherent_;
    Columns columns_;
    View2<Complex> n_{};
    const double* d_ = nullptr;
    StackPlan plan_;
    bool fixed_ = false;
    Steps per_point_, per_angle_;
    std::size_t stack_ = no_stack;
    std::size_t angle_ = no_angle;
    Complex tangential_{0.0, 0.0};
    std::vector<Medium> media_;
    std::vector<MatrixLanes> interfaces_;
};

// Calls body(point, b, a, w) for every point, spread over `threads`; each
// piece of work makes its own body by make_body(the wavelengths it visits).
template <class F>
void for_each_point(const Grid& grid, std::size_t threads, const F& make_body) {
    const std::size_t points = grid.points();
    if (points == 0) {
        return;
    }
    const std::size_t per_stack = grid.angle_count * grid.wavelength_count;
    parallel_ranges(points, threads == 0 ? default_threads() : threads, grain,
                    [&](std::size_t begin, std::size_t end) {
                        auto body = make_body(columns_of(begin, end, grid.wavelength_count));
                        for (std::size_t p = begin; p < end; ++p) {
                            body(p, p / per_stack, (p % per_stack) / grid.wavelength_count,
                                 p % grid.wavelength_count);
                        }
                    });
}

}  // namespace

void solve_incoherent(const Grid& grid, const bool* coherent, double* powers, std::size_t threads) {
    const std::vector<double> sines = angle_sines(grid);
    const std::size_t points = grid.points();
    for_each_point(grid, threads, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, coherent, columns), work = Workspace()](
                   std::size_t p, std::size_t b, std::size_t a, std::size_t w) mutable {
            const StackMedia stack = builder.at(b, a, w);
            const PolPair<PowerSplit> got = mixed_powers(stack, builder.interfaces(), work);
            powers[p] = got.s.R;
            powers[points + p] = got.p.R;
            powers[2 * points + p] = got.s.T;
            powers[3 * points + p] = got.p.T;
        };
    });
}

void solve_absorbed(const Grid& grid, const bool* coherent, double* powers, double* absorbed,
                    std::size_t threads) {
    const std::vector<double> sines = angle_sines(grid);
    const std::size_t points = grid.points();
    const std::size_t layers = grid.media - 2;
    const std::size_t wavelengths = grid.wavelength_count;
    for_each_point(grid, threads, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, coherent, columns), work = FieldWorkspace(),
                s = std::vector<double>(layers), pp = std::vector<double>(layers)](
                   std::size_t p, std::size_t b, std::size_t a, std::size_t w) mutable {
            const PolPair<PowerSplit> got = absorption(builder.at(b, a, w), work, s, pp);
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
    const std::vector<double> sines = angle_sines(grid);
    const std::size_t plane = rows * depth_count;
    // A row costs about as much as `depth_count` points of a solve.
    const std::size_t row_grain = depth_count >= grain ? 1 : grain / (depth_count + 1) + 1;
    parallel_ranges(rows, threads == 0 ? default_threads() : threads, row_grain,
                    [&](std::size_t begin, std::size_t end) {
                        PointBuilder builder(grid, sines, coherent, Columns{begin, end});
                        FieldWorkspace work;
                        for (std::size_t w = begin; w < end; ++w) {
                            double* row = out + w * depth_count;
                            const ProfileRow target{{row, depth_count},
                                                    {row + plane, depth_count},
                                                    {row + 2 * plane, depth_count},
                                                    {row + 3 * plane, depth_count}};
                            profile_row(builder.at(0, 0, w), places, work, target);
                        }
                    });
}

}  // namespace quilmo::lab
