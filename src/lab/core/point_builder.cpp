#include "lab/core/point_builder.hpp"

namespace quilmo::lab {

void PointBuilder::reset(const Grid& grid, const std::vector<Complex>& sines, Columns columns) {
    grid_ = &grid;
    sines_ = &sines;
    columns_ = grid.index_columns == 1 ? Columns{0, 1} : columns;
    stack_ = none;
    angle_ = none;
    sigma_ = nullptr;
    fixed_ = false;
    media_.resize(grid.media);
    interfaces_.resize(grid.media - 1);
}

void PointBuilder::plan(std::size_t stack) {
    const bool new_roughness = grid_->roughness != nullptr && (stack_ == none || grid_->roughness_stacks != 1);
    const bool new_media = stack_ == none || grid_->index_stacks != 1 || new_roughness;
    d_ = grid_->stack_thicknesses(stack);
    if (new_roughness) {
        sigma_ = grid_->stack_roughness(stack);
        bool any = false;
        for (std::size_t j = 0; j + 1 < grid_->media; ++j) {
            any = any || sigma_[j] != 0.0;
        }
        sigma_ = any ? sigma_ : nullptr;
    }
    const View1<double> d{d_, grid_->layers(), 1};
    if (!new_media) {
        if (grid_->thickness_stacks != 1) {
            plan_layers(plan_, d);
        }
        return;
    }
    n_ = View2<Complex>{grid_->stack_indices(stack), grid_->media, grid_->index_columns,
                        static_cast<std::ptrdiff_t>(grid_->index_columns), 1};
    View2<Complex> planned = n_;
    planned.data = &n_.at(0, columns_.first);
    planned.cols = columns_.last - columns_.first;
    plan_stack(plan_, planned, d);
    for (std::size_t j = 0; j + 1 < grid_->media; ++j) {
        if (rough(j) || rough(plan_.interface_source[j])) {
            plan_.interface_source[j] = j;
        }
    }
    fixed_ = plan_.constant[0];
    auto fixed_medium = [&](std::size_t j) { return fixed_ && plan_.constant[j]; };
    per_point_.clear();
    per_angle_.clear();
    for (std::size_t j = 0; j < grid_->media; ++j) {
        Steps& steps = fixed_medium(j) ? per_angle_ : per_point_;
        (plan_.medium_source[j] == j ? steps.media : steps.media_copies).push_back(j);
    }
    for (std::size_t j = 0; j + 1 < grid_->media; ++j) {
        Steps& steps = fixed_medium(j) && fixed_medium(j + 1) && !rough(j) ? per_angle_ : per_point_;
        (plan_.interface_source[j] == j ? steps.interfaces : steps.interface_copies).push_back(j);
    }
}

void PointBuilder::prepare_angle() {
    tangential_ = tangential_of(n_.at(0, columns_.first));
    for (const std::size_t j : per_angle_.media) {
        media_[j] = forward_medium(n_.at(j, columns_.first), tangential_);
    }
    for (const std::size_t j : per_angle_.media_copies) {
        media_[j] = media_[plan_.medium_source[j]];
    }
    for (const std::size_t j : per_angle_.interfaces) {
        interfaces_[j] = interface_of(j);
    }
    for (const std::size_t j : per_angle_.interface_copies) {
        interfaces_[j] = interfaces_[plan_.interface_source[j]];
    }
}

PointMedia PointBuilder::media(std::span<const bool> coherent) noexcept {
    for (const std::size_t j : per_point_.media_copies) {
        media_[j] = media_[plan_.medium_source[j]];
    }
    const std::span<const double> roughness =
        sigma_ == nullptr ? std::span<const double>{} : std::span<const double>{sigma_, grid_->media - 1};
    return {media_, thicknesses(), coherent, wavelength_, tangential_, roughness, grid_->roughness_model};
}

std::span<const MatrixLanes> PointBuilder::interfaces() noexcept {
    compute_interfaces();
    for (const std::size_t j : per_point_.interface_copies) {
        interfaces_[j] = interfaces_[plan_.interface_source[j]];
    }
    return interfaces_;
}

}  // namespace quilmo::lab
