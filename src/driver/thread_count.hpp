// How many workers the process-wide pool starts.
//
// RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the processors this process
// may run on (the affinity mask, reduced by a cgroup CPU quota), capped at
// MAX_WORKERS. The parsing helpers are exposed for the tests.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quilmo::driver {

inline constexpr std::size_t MAX_WORKERS = 255;

// An unsigned decimal count: digits only, at most one leading '+', no blanks,
// no '-', and within the range of std::size_t. Anything else (including a null
// pointer, the empty string and bytes that are not text) gives nullopt.
std::optional<std::size_t> parse_thread_count(const char* text) noexcept;

// The CPUs a cgroup v2 "cpu.max" line allows: "max <period>" is no limit,
// "<quota> <period>" allows quota / period (rounded down, at least 1).
std::optional<std::size_t> parse_cgroup2_cpu_max(std::string_view text) noexcept;

// The same for cgroup v1's cpu.cfs_quota_us and cpu.cfs_period_us; a quota of
// -1 is no limit.
std::optional<std::size_t> parse_cgroup1_quota(std::string_view quota,
                                               std::string_view period) noexcept;

// The CPU quota of this process's cgroup and its ancestors (the smallest),
// or nullopt when none is set or it cannot be read.
std::optional<std::size_t> cgroup_cpu_limit() noexcept;

// Processors this process may run on: the affinity mask (or the online count
// when the mask is unavailable), reduced by the cgroup quota; 1 when unknown.
std::size_t default_thread_count() noexcept;

// The worker count of a new global pool, read from the environment now.
std::size_t configured_thread_count() noexcept;

}  // namespace quilmo::driver
