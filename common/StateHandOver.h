// Hands a whole state snapshot from the window thread to the audio thread without a lock: the window
// posts (merging into a post the render has not taken yet), the render takes it at a moment of its
// choosing. post() and pending() on the window thread only; take() on the audio thread only.
#pragma once

#include <atomic>
#include <thread>

namespace common {

template <class State> class StateHandOver {
  public:
    /// Copies the parts of `state` named by `parts` into the slot; `copyParts(to, from, parts)`.
    template <class CopyParts> void post(const State& state, unsigned parts, CopyParts&& copyParts) {
        bool replacing = false;
        for (;;) {
            int expected = kIdle;
            if (slot_.compare_exchange_weak(expected, kWriting, std::memory_order_acquire))
                break;
            expected = kPending;
            if (slot_.compare_exchange_weak(expected, kWriting, std::memory_order_acquire)) {
                replacing = true;
                break;
            }
            // The render is applying the slot: a few microseconds.
            std::this_thread::yield();
        }
        if (!replacing)
            parts_ = 0;
        copyParts(posted_, state, parts);
        parts_ |= parts;
        slot_.store(kPending, std::memory_order_release);
    }

    /// The post the render has not taken yet, if any.
    bool pending(State& posted, unsigned& parts) const {
        if (slot_.load(std::memory_order_acquire) != kPending)
            return false;
        // Only the window writes the slot, so reading it here races with nothing.
        posted = posted_;
        parts = parts_;
        return true;
    }

    bool idle() const { return slot_.load(std::memory_order_acquire) == kIdle; }

    /// Runs `apply(state, parts)` on a pending post and frees the slot; real-time safe.
    template <class Apply> bool take(Apply&& apply) {
        if (slot_.load(std::memory_order_relaxed) != kPending)
            return false;
        int expected = kPending;
        if (!slot_.compare_exchange_strong(expected, kApplying, std::memory_order_acquire))
            return false; // the window is rewriting it: the next call takes it
        apply(posted_, parts_);
        slot_.store(kIdle, std::memory_order_release);
        return true;
    }

    /// Window thread: takes a pending post itself, or waits while the render applies one.
    template <class Apply> void settle(Apply&& apply) {
        for (;;) {
            const int slot = slot_.load(std::memory_order_acquire);
            if (slot == kIdle)
                return;
            if (slot == kPending)
                take(apply);
            else
                std::this_thread::yield();
        }
    }

  private:
    enum : int { kIdle, kWriting, kPending, kApplying };
    std::atomic<int> slot_{kIdle};
    State posted_{};
    unsigned parts_ = 0;
};

} // namespace common
