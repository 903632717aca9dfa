#include "driver/thread_count.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace quilmo::driver {

namespace {

std::optional<std::size_t> parse_unsigned(std::string_view text) noexcept {
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t value = 0;
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto digit = static_cast<std::size_t>(c - '0');
        if (value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::size_t> cpus_from_quota(std::uint64_t quota, std::uint64_t period) noexcept {
    if (period == 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(std::max<std::uint64_t>(quota / period, 1));
}

std::string trim_line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return trim_line(line);
}

struct Mount {
    std::string root;   // the cgroup path mounted there
    std::string point;  // where it is mounted
};

// The cgroup2 mount, or the v1 mount carrying the "cpu" controller.
std::optional<Mount> find_cgroup_mount(bool v2) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, point, options, field;
        fields >> id >> parent >> dev >> root >> point >> options;
        while (fields >> field && field != "-") {
        }
        std::string fstype, source, super;
        fields >> fstype >> source >> super;
        if (v2 && fstype == "cgroup2") {
            return Mount{root, point};
        }
        if (!v2 && fstype == "cgroup") {
            std::istringstream opts(super);
            std::string opt;
            while (std::getline(opts, opt, ',')) {
                if (opt == "cpu") {
                    return Mount{root, point};
                }
            }
        }
    }
    return std::nullopt;
}

// This process's path in the v2 hierarchy ("0::/path") or in the v1 hierarchy
// that carries "cpu".
std::optional<std::string> own_cgroup_path(bool v2) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        auto first = line.find(':');
        auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        std::string id = line.substr(0, first);
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (v2) {
            if (id == "0" && controllers.empty()) {
                return path;
            }
            continue;
        }
        std::istringstream list(controllers);
        std::string name;
        while (std::getline(list, name, ',')) {
            if (name == "cpu") {
                return path;
            }
        }
    }
    return std::nullopt;
}

// Directories from the process's own cgroup up to the mount point.
std::vector<std::string> cgroup_dirs(const Mount& mount, std::string path) {
    if (mount.root != "/" && path.rfind(mount.root, 0) == 0) {
        path = path.substr(mount.root.size());
    }
    std::vector<std::string> dirs;
    while (true) {
        while (!path.empty() && path.back() == '/') {
            path.pop_back();
        }
        dirs.push_back(mount.point + path);
        if (path.empty()) {
            break;
        }
        path = path.substr(0, path.rfind('/'));
    }
    return dirs;
}

std::optional<std::size_t> smaller(std::optional<std::size_t> a, std::optional<std::size_t> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

// The smallest limit that `read_limit` finds in the process's cgroup and its
// ancestors, in the v2 (unified) or the v1 hierarchy.
template <class ReadLimit>
std::optional<std::size_t> cgroup_limit(bool unified, ReadLimit read_limit) {
    auto mount = find_cgroup_mount(unified);
    auto path = own_cgroup_path(unified);
    if (!mount || !path) {
        return std::nullopt;
    }
    std::optional<std::size_t> limit;
    for (const auto& dir : cgroup_dirs(*mount, *path)) {
        limit = smaller(limit, read_limit(dir));
    }
    return limit;
}

std::optional<std::size_t> cgroup2_limit() {
    return cgroup_limit(true, [](const std::string& dir) -> std::optional<std::size_t> {
        auto line = read_first_line(dir + "/cpu.max");
        return line ? parse_cgroup2_cpu_max(*line) : std::nullopt;
    });
}

std::optional<std::size_t> cgroup1_limit() {
    return cgroup_limit(false, [](const std::string& dir) -> std::optional<std::size_t> {
        auto quota = read_first_line(dir + "/cpu.cfs_quota_us");
        auto period = read_first_line(dir + "/cpu.cfs_period_us");
        return quota && period ? parse_cgroup1_quota(*quota, *period) : std::nullopt;
    });
}

}  // namespace

std::optional<std::size_t> parse_thread_count(const char* text) noexcept {
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    return parse_unsigned(digits);
}

std::optional<std::size_t> parse_cgroup2_cpu_max(std::string_view text) noexcept {
    auto space = text.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    auto quota = parse_unsigned(text.substr(0, space));  // "max" gives nullopt
    auto period = parse_unsigned(text.substr(space + 1));
    if (!quota || !period) {
        return std::nullopt;
    }
    return cpus_from_quota(*quota, *period);
}

std::optional<std::size_t> parse_cgroup1_quota(std::string_view quota,
                                               std::string_view period) noexcept {
    auto q = parse_unsigned(quota);  // "-1" gives nullopt
    auto p = parse_unsigned(period);
    if (!q || !p) {
        return std::nullopt;
    }
    return cpus_from_quota(*q, *p);
}

std::optional<std::size_t> cgroup_cpu_limit() noexcept {
    try {
        if (auto limit = cgroup2_limit()) {
            return limit;
        }
        return cgroup1_limit();
    } catch (...) {
        return std::nullopt;
    }
}

std::size_t default_thread_count() noexcept {
    std::size_t count = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        count = static_cast<std::size_t>(CPU_COUNT(&set));
    } else {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        count = online > 0 ? static_cast<std::size_t>(online) : 0;
    }
    if (count == 0) {
        return 1;
    }
    if (auto limit = cgroup_cpu_limit()) {
        count = std::min(count, *limit);
    }
    return std::max<std::size_t>(count, 1);
}

std::size_t configured_thread_count() noexcept {
    std::size_t count = 0;
    if (auto n = parse_thread_count(std::getenv("RAYON_NUM_THREADS"))) {
        count = *n;  // 0 asks for the default and ends the search
    } else if (auto m = parse_thread_count(std::getenv("RAYON_RS_NUM_CPUS"))) {
        count = *m;
    }
    if (count == 0) {
        count = default_thread_count();
    }
    return std::min(count, MAX_WORKERS);
}

}  // namespace quilmo::driver
