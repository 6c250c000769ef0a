// A queue of at most N values in a fixed array, oldest first: what the audio thread keeps between the
// device and the render (MIDI messages, transport periods, transport changes) without allocating. One
// thread uses it; nothing in it waits or synchronises.
#pragma once

#include <array>
#include <cstddef>

namespace common {

template <class T, int N> class FixedRing {
  public:
    static constexpr int kCapacity = N;

    int size() const { return count_; }
    bool empty() const { return count_ == 0; }
    /// Appends `value`; false, with nothing changed, when the ring is full.
    bool push(const T& value) {
        if (count_ == N)
            return false;
        slot(count_) = value;
        ++count_;
        return true;
    }
    /// Appends `value`, forgetting the oldest when the ring is full: where nobody takes them, the newest
    /// matter most.
    void pushOverOldest(const T& value) {
        if (count_ == N)
            dropOldest(1);
        push(value);
    }
    /// Takes the oldest value; false when none waits.
    bool pop(T& value) {
        if (count_ == 0)
            return false;
        value = slot(0);
        dropOldest(1);
        return true;
    }
    /// The `age`-th oldest value, 0 the oldest; 0 <= age < size().
    T& at(int age) { return slot(age); }
    const T& at(int age) const { return values_[index(age)]; }
    T& newest() { return slot(count_ - 1); }
    void dropOldest(int count) {
        head_ = (head_ + count) % N;
        count_ -= count;
    }
    void dropNewest() { --count_; }
    void clear() { head_ = count_ = 0; }

  private:
    static_assert(N > 0);
    std::size_t index(int age) const { return static_cast<std::size_t>((head_ + age) % N); }
    T& slot(int age) { return values_[index(age)]; }

    std::array<T, N> values_{};
    int head_ = 0;
    int count_ = 0;
};

} // namespace common
