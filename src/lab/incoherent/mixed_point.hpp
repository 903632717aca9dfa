// R and T of both polarisations of one point whose inner layers may be
// incoherent: its runs' fractions combined by the power transfer.
#pragma once

#include <span>
#include <vector>

#include "lab/core/point_media.hpp"
#include "lab/core/polarisation.hpp"
#include "lab/incoherent/run_point.hpp"

namespace quilmo::lab {

// Storage for the runs of a point, reused from point to point by one thread.
struct RunsWorkspace {
    std::vector<Run> runs;
    PerPolarisation<std::vector<RunFractions<>>> fractions;
    std::vector<double> passes;
    std::vector<double> behind;

    // Cuts the point into runs and sizes the storage to them.
    void split(const PointMedia& point);
};

// A point with no incoherent inner layer is one run, and this gives its
// coherent powers. Interface j joins media j and j + 1.
PerPolarisation<Powers<>> mixed_powers(const PointMedia& point, std::span<const MatrixLanes> interfaces,
                                       RunsWorkspace& work);

// The s-p cross terms of R and T (run_cross_fractions) of the point, combined
// by the same power transfer; `passes` and `behind` are scratch.
Powers<Complex> mixed_cross(const PointMedia& point, std::span<const MatrixLanes> interfaces, RunsWorkspace& work,
                            std::vector<RunFractions<Complex>>& fractions, std::vector<Complex>& passes,
                            std::vector<Complex>& behind);

}  // namespace quilmo::lab
