// Scratch space that each thread keeps between calls, for small stacks.
//
// A point of a short stack costs a few hundred nanoseconds of arithmetic,
// and building a fresh point builder and workspace for it (some twenty small
// vectors) about as much again: a call of one point, as tmm-style loops make
// them, spends a third of its engine time allocating. Scratch kept by the
// thread keeps its storage from one call to the next; it holds no result
// (every value is written before it is read), so the bits do not change. A
// long stack gets fresh scratch, so that no thread keeps its memory.
#pragma once

#include <cstddef>
#include <memory>

namespace quilmo::lab {

// Stacks of at most this many media use the thread's scratch.
inline constexpr std::size_t scratch_kept_media = 64;

// The scratch of one piece of work: the thread's own for a short stack,
// a fresh one otherwise. Pieces of work on one thread run one after the
// other, so the thread's scratch serves one piece at a time.
template <class Scratch>
class ScratchHold {
public:
    explicit ScratchHold(std::size_t media) {
        if (media <= scratch_kept_media) {
            thread_local Scratch kept;
            used_ = &kept;
        } else {
            own_ = std::make_unique<Scratch>();
            used_ = own_.get();
        }
    }

    Scratch& get() const noexcept { return *used_; }

private:
    std::unique_ptr<Scratch> own_;
    Scratch* used_ = nullptr;
};

}  // namespace quilmo::lab
