// How the thread that started a grid learns, while the grid runs, that its
// caller wants the call abandoned (Ctrl-C in Python), without the engine
// knowing who the caller is.
//
// The caller installs an InterruptProbe on its own thread for the length of
// the call; the grid loop asks it between pieces of work, at most once per
// `period`, from that thread only, and abandons the grid when it answers true.
#pragma once

#include <chrono>
#include <exception>

namespace quilmo::lab {

// The grid was abandoned because its caller's probe asked for it: the outputs
// are partly written and must be discarded.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "the grid was interrupted by its caller"; }
};

// @brief A question the calling thread asks while its grid runs: "abandon?".
// Installed for the current thread while it lives (neither copyable nor
// movable, always bound to a named variable); probes nest.
class InterruptProbe {
public:
    using Ask = bool (*)(void* context);
    static constexpr std::chrono::milliseconds period{20};

    InterruptProbe(Ask ask, void* context) noexcept : ask_(ask), context_(context), outer_(installed()) {
        installed() = this;
    }
    ~InterruptProbe() { installed() = outer_; }
    InterruptProbe(const InterruptProbe&) = delete;
    InterruptProbe& operator=(const InterruptProbe&) = delete;

    // The probe of the calling thread, nullptr when there is none.
    static InterruptProbe* current() noexcept { return installed(); }

    // Asks, unless it was asked less than `period` ago; true: abandon.
    bool due_and_asked() noexcept {
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) {
            return false;
        }
        next_ = now + period;
        return ask_(context_);
    }

private:
    static InterruptProbe*& installed() noexcept {
        static thread_local InterruptProbe* probe = nullptr;
        return probe;
    }

    Ask ask_;
    void* context_;
    InterruptProbe* outer_;
    std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now() + period;
};

}  // namespace quilmo::lab
