#include "lab/incoherent/incoherent_grid.hpp"

#include <algorithm>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "lab/coherent/coherent_point.hpp"
#include "lab/core/grid_loop.hpp"
#include "lab/core/output_planes.hpp"
#include "lab/core/point_builder.hpp"
#include "lab/core/thread_scratch.hpp"
#include "lab/incoherent/fields_point.hpp"
#include "lab/incoherent/layer_fields.hpp"
#include "lab/incoherent/mixed_point.hpp"

namespace quilmo::lab {
namespace {

// Points per piece of work below which waking a worker costs more than it
// saves (a mixed point costs about as much as a coherent one).
constexpr std::size_t grain = 128;

void write_powers(const PointPlanes<double>& powers, std::size_t p, const PerPolarisation<Powers<>>& got) {
    for (const int pol : {pol_s, pol_p}) {
        powers(pol, p) = got[pol].R;
        powers(2 + pol, p) = got[pol].T;
    }
}

// Writes layer_waves' values of a point into the planes of solve_layer_waves.
class MediumPlanes {
public:
    MediumPlanes(const Grid& grid, Complex* normal, Complex* waves)
        : media_(grid.media), normal_(normal, grid, grid.media), waves_(waves, grid, grid.media),
          with_waves_(waves != nullptr) {}

    void write(std::size_t p, std::span<const MediumWaves> got) const {
        const LayerPlanes<Complex>::Row row = normal_.row(p);
        for (std::size_t j = 0; j < media_; ++j) {
            row(0, j) = got[j].kz;
            row(1, j) = got[j].angle;
        }
        if (!with_waves_) {
            return;
        }
        const LayerPlanes<Complex>::Row wave_row = waves_.row(p);
        for (std::size_t j = 0; j < media_; ++j) {
            for (const int pol : {pol_s, pol_p}) {
                wave_row(2 * pol, j) = got[j].forward[pol];
                wave_row(2 * pol + 1, j) = got[j].backward[pol];
            }
        }
    }

private:
    std::size_t media_;
    LayerPlanes<Complex> normal_, waves_;
    bool with_waves_;
};

}  // namespace

void solve_incoherent(const Grid& grid, const bool* coherent, double* powers, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<double> out{powers, grid.points()};
    const std::span<const bool> mask(coherent, grid.layers());
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = RunsWorkspace()](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            write_powers(out, p, mixed_powers(builder.media(mask), builder.interfaces(), work));
        };
    });
}

void solve_cross(const Grid& grid, const bool* coherent, Complex* cross, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<Complex> out{cross, grid.points()};
    const std::span<const bool> mask(coherent, grid.layers());
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = RunsWorkspace(),
                fractions = std::vector<RunFractions<Complex>>(), passes = std::vector<Complex>(),
                behind = std::vector<Complex>()](std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            const Powers<Complex> got =
                mixed_cross(builder.media(mask), builder.interfaces(), work, fractions, passes, behind);
            out(0, p) = got.R;
            out(1, p) = got.T;
        };
    });
}

void solve_absorbed(const Grid& grid, const bool* coherent, double* powers, double* absorbed,
                    std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<double> out{powers, grid.points()};
    const LayerPlanes<double> layers_out(absorbed, grid);
    const std::size_t layers = grid.layers();
    const std::span<const bool> mask(coherent, layers);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace(),
                lost = PerPolarisation<std::vector<double>>{std::vector<double>(layers), std::vector<double>(layers)}](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            write_powers(out, p, absorption(builder.media(mask), work, {lost.s, lost.p}));
            const LayerPlanes<double>::Row row = layers_out.row(p);
            for (const int pol : {pol_s, pol_p}) {
                for (std::size_t j = 0; j < layers; ++j) {
                    row(pol, j) = lost[pol][j];
                }
            }
        };
    });
}

std::size_t run_count(const bool* coherent, std::size_t layers) {
    return 1 + static_cast<std::size_t>(std::count(coherent, coherent + layers, false));
}

void solve_run_light(const Grid& grid, const bool* coherent, double* powers, double* light, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const PointPlanes<double> out{powers, grid.points()};
    const std::size_t layers = grid.layers();
    const std::size_t runs = run_count(coherent, layers);
    const LayerPlanes<double> light_out(light, grid, runs);
    const std::span<const bool> mask(coherent, layers);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace(),
                got = PerPolarisation<std::vector<RunIllumination>>{std::vector<RunIllumination>(runs),
                                                                    std::vector<RunIllumination>(runs)}](
                   std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            write_powers(out, p, run_illumination(builder.media(mask), work, {got.s, got.p}));
            const LayerPlanes<double>::Row row = light_out.row(p);
            for (const int pol : {pol_s, pol_p}) {
                for (std::size_t k = 0; k < runs; ++k) {
                    const RunIllumination& g = got[pol][k];
                    row(4 * pol, k) = g.front;
                    row(4 * pol + 1, k) = g.back;
                    row(4 * pol + 2, k) = g.forward;
                    row(4 * pol + 3, k) = g.entering;
                }
            }
        };
    });
}

void solve_profile(const Grid& grid, const bool* coherent, const double* depths, std::size_t depth_count,
                   double* out, std::size_t threads) {
    if (grid.stacks != 1 || grid.angle_count != 1) {
        throw std::invalid_argument("profile: one stack at one angle is needed");
    }
    std::vector<DepthPlace> places(depth_count);
    place_depths(std::span<const double>(grid.thicknesses, grid.layers()),
                 std::span<const double>(depths, depth_count), places);
    const std::vector<Complex> sines = angle_sines(grid);
    const std::size_t plane = grid.wavelength_count * depth_count;
    const std::span<const bool> mask(coherent, grid.layers());
    // A point (one wavelength's row) costs about as much as `depth_count`
    // points of a solve.
    const std::size_t row_grain = depth_count >= grain ? 1 : grain / (depth_count + 1) + 1;
    for_each_point(grid, threads, row_grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace()](
                   std::size_t w, const Grid::Place& at) mutable {
            builder.move_to(at);
            double* row = out + w * depth_count;
            const ProfileRow target{{{row, depth_count}, {row + plane, depth_count}},
                                    {{row + 2 * plane, depth_count}, {row + 3 * plane, depth_count}}};
            profile_row(builder.media(mask), places, work, target);
        };
    });
}

void solve_layer_waves(const Grid& grid, Complex* normal, Complex* waves, std::size_t threads) {
    const std::vector<Complex> sines = angle_sines(grid);
    const MediumPlanes out(grid, normal, waves);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace(),
                got = std::vector<MediumWaves>(grid.media)](std::size_t p, const Grid::Place& at) mutable {
            builder.move_to(at);
            layer_waves(builder.media({}), builder.sin_theta(), work, waves != nullptr, got);
            out.write(p, got);
        };
    });
}

void solve_coherent_waves(const Grid& grid, const CoherentOutputs& out, double* entering, Complex* normal,
                          Complex* waves, std::size_t threads) {
    struct Scratch {
        PointBuilder builder;
        CoherentPoint solver;
        FieldWorkspace work;
        std::vector<MediumWaves> got;
    };
    const std::vector<Complex> sines = angle_sines(grid);
    const CoherentPlanes planes(out, grid.points());
    const PointPlanes<double> entering_out{entering, grid.points()};
    const MediumPlanes media_out(grid, normal, waves);
    for_each_point(grid, threads, grain, [&](Columns columns) {
        ScratchHold<Scratch> hold(grid.media);
        Scratch& s = hold.get();
        s.builder.reset(grid, sines, columns);
        s.got.resize(grid.media);
        return [&, &s = s, hold = std::move(hold)](std::size_t p, const Grid::Place& at) {
            s.builder.move_to(at);
            const CoherentResult r = s.solver.solve(s.builder);
            const PointMedia point = s.builder.media({});
            layer_waves(point, s.builder.sin_theta(), s.work, waves != nullptr, s.got);
            media_out.write(p, s.got);
            planes.write(p, r);
            entering_out(pol_s, p) = power_entering<pol_s>(point.media[0], r.amplitudes.s.r);
            entering_out(pol_p, p) = power_entering<pol_p>(point.media[0], r.amplitudes.p.r);
        };
    });
}

void solve_fields(const Grid& grid, const std::size_t* media, const double* z, std::size_t count, Complex* fields,
                  double* powers, std::size_t threads) {
    if (grid.stacks != 1 || grid.angle_count != 1) {
        throw std::invalid_argument("fields: one stack at one angle is needed");
    }
    std::vector<DepthPlace> places(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (media[i] >= grid.media) {
            throw std::invalid_argument("fields: medium " + std::to_string(media[i]) + " is not in a stack of " +
                                        std::to_string(grid.media) + " media");
        }
        places[i] = {media[i], z[i]};
    }
    const std::vector<Complex> sines = angle_sines(grid);
    const std::size_t plane = grid.wavelength_count * count;
    const std::size_t row_grain = count >= grain ? 1 : grain / (count + 1) + 1;
    for_each_point(grid, threads, row_grain, [&](Columns columns) {
        return [&, builder = PointBuilder(grid, sines, columns), work = FieldWorkspace(),
                got = std::vector<FieldsAt>(count)](std::size_t w, const Grid::Place& at) mutable {
            builder.move_to(at);
            const PointMedia point = builder.media({});
            fields_at(point, builder.sin_theta(), places, work, got);
            const std::size_t first = w * count;
            for (std::size_t i = 0; i < count; ++i) {
                for (const int pol : {pol_s, pol_p}) {
                    for (std::size_t c = 0; c < 3; ++c) {
                        fields[(3 * pol + c) * plane + first + i] = got[i].e[pol][c];
                    }
                    powers[pol * plane + first + i] = got[i].poynting[pol];
                }
            }
            double* row = powers + 2 * plane + first;
            const ProfileRow target{{{row, count}, {row + plane, count}},
                                    {{row + 2 * plane, count}, {row + 3 * plane, count}}};
            profile_row(point, places, work, target);
        };
    });
}

void depth_places(const Grid& grid, const double* depths, std::size_t count, std::size_t* media, double* z) {
    std::vector<DepthPlace> places(count);
    place_depths(std::span<const double>(grid.thicknesses, grid.layers()), std::span<const double>(depths, count),
                 places);
    for (std::size_t i = 0; i < count; ++i) {
        media[i] = places[i].medium;
        z[i] = places[i].z;
    }
}

}  // namespace quilmo::lab
