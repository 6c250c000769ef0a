// The one way from the window thread to the render: changes built (and allocated) on the window
// thread, applied by the render in the order they were posted, then handed back to be destroyed on the
// window thread, so that the render never allocates or frees. Values the window sets continuously
// (slider positions) are atomics that the engine reads once per block; everything else comes here.
// post(), collect(), idle() and settle() on the window thread; serve() on the audio thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

namespace common {

template <class Target> struct Change {
    virtual ~Change() = default;
    /// Audio thread (or the window while no render runs); must not allocate, free or wait.
    virtual void apply(Target& target) = 0;
    /// True: held until the render's next step boundary; every later change waits behind it.
    virtual bool atStepBoundary() const { return false; }
};

/// A bounded lock-free ring of pointers between one producer thread and one consumer thread.
template <class T> class PointerRing {
  public:
    explicit PointerRing(std::size_t capacity) : slots_(capacity + 1, nullptr) {}

    /// Producer: false when full.
    bool push(T* item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t next = head + 1 == slots_.size() ? 0 : head + 1;
        if (next == tail_.load(std::memory_order_acquire))
            return false;
        slots_[head] = item;
        head_.store(next, std::memory_order_release);
        return true;
    }
    /// Consumer: the oldest item, or null when empty.
    T* front() const {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        return tail == head_.load(std::memory_order_acquire) ? nullptr : slots_[tail];
    }
    /// Consumer: drops the item front() returned.
    void pop() {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        tail_.store(tail + 1 == slots_.size() ? 0 : tail + 1, std::memory_order_release);
    }

  private:
    std::vector<T*> slots_; // one slot stays empty to tell full from empty
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

template <class Target> class Mailbox {
  public:
    using ChangePtr = std::unique_ptr<Change<Target>>;

    /// `capacity` changes may be on their way at once; more wait on the window side, never lost.
    explicit Mailbox(std::size_t capacity = 256)
        : toRender_(capacity), toWindow_(capacity), capacity_(capacity) {}
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;
    /// No render may run any more.
    ~Mailbox() {
        while (Change<Target>* change = toRender_.front()) {
            toRender_.pop();
            delete change;
        }
        collect();
    }

    /// Window thread: queues a change behind every earlier one. Never blocks, never drops.
    void post(ChangePtr change) {
        collect();
        waiting_.push_back(std::move(change));
        sendWaiting();
    }

    /// Window thread: destroys the changes the render has applied and sends the ones that waited for room.
    void collect() {
        while (Change<Target>* change = toWindow_.front()) {
            toWindow_.pop();
            delete change;
            ++collected_;
        }
        sendWaiting();
    }

    /// Window thread: every posted change has been applied.
    bool idle() const { return waiting_.empty() && applied_.load(std::memory_order_acquire) == sent_; }

    /// Audio thread: applies the queued changes in order, stopping before one that waits for a step
    /// boundary unless this is one. Real-time safe.
    void serve(Target& target, bool atStepBoundary) {
        while (Change<Target>* change = toRender_.front()) {
            if (change->atStepBoundary() && !atStepBoundary)
                return;
            change->apply(target);
            toRender_.pop();
            // Room is certain: at most `capacity` changes are between sending and collecting.
            toWindow_.push(change);
            applied_.fetch_add(1, std::memory_order_release);
        }
    }

    /// Window thread, only while no render runs: applies every posted change now.
    void settle(Target& target) {
        while (!idle()) {
            serve(target, true);
            collect();
        }
        collect();
    }

  private:
    void sendWaiting() {
        while (!waiting_.empty() && sent_ - collected_ < capacity_) {
            if (!toRender_.push(waiting_.front().get()))
                return;
            waiting_.front().release();
            waiting_.pop_front();
            ++sent_;
        }
    }

    PointerRing<Change<Target>> toRender_;
    PointerRing<Change<Target>> toWindow_;
    std::size_t capacity_;
    std::deque<ChangePtr> waiting_; // window thread only
    std::size_t sent_ = 0;          // window thread only
    std::size_t collected_ = 0;     // window thread only
    std::atomic<std::size_t> applied_{0};
};

} // namespace common
