// The programs' random generator: a 32-bit linear congruential generator giving 15-bit values.
// One instance per thread that draws; an instance is never shared between threads.
#pragma once

#include <cstdint>

namespace common {

class Random {
  public:
    /// A generator that has never been seeded starts from state 1.
    explicit Random(std::uint32_t seed = 1) : state_(seed) {}

    void seed(std::uint32_t seed) { state_ = seed; }

    /// Next value, 0..32767: bits 16..30 of the advanced state.
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7fffu);
    }

    /// (n × r) / 32768 in integers: 0..n−1 for n ≥ 1.
    int below(int n) { return static_cast<int>((static_cast<std::int64_t>(n) * next()) / 32768); }

    std::uint32_t state() const { return state_; }

  private:
    std::uint32_t state_;
};

} // namespace common
