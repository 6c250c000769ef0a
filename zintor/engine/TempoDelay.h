// The stereo tempo delay: two 65536-sample lines, the right one fed from the left's short tap, inverted.
// process() on the audio thread only; reset() only while no render runs (before the stream starts).
#pragma once

#include "common/NoCopy.h"
#include <array>
#include <cstdint>

namespace zintor {

class TempoDelay : common::NoCopy {
  public:
    static constexpr int kLineFrames = 65536;

    TempoDelay() { reset(5000); }

    /// Clears both lines and places the taps 3 and 2 steps of stepFrames behind the write index.
    /// Steps longer than a third of a line wrap around it (no index ever leaves the line).
    void reset(int stepFrames) {
        left_.fill(0.0f);
        right_.fill(0.0f);
        tapLong_ =
            static_cast<std::uint32_t>(static_cast<std::int64_t>(write_) - 3 * std::int64_t{stepFrames}) &
            kMask;
        tapShort_ =
            static_cast<std::uint32_t>(static_cast<std::int64_t>(write_) - 2 * std::int64_t{stepFrames}) &
            kMask;
    }

    /// Feeds one input sample; returns the echoes read at the advanced long tap.
    void process(float in, float& echoLeft, float& echoRight) {
        left_[write_] = 0.5f * left_[tapLong_] + in;
        right_[write_] = 0.5f * left_[tapShort_] - in;
        write_ = (write_ + 1) & kMask;
        tapLong_ = (tapLong_ + 1) & kMask;
        tapShort_ = (tapShort_ + 1) & kMask;
        echoLeft = left_[tapLong_];
        echoRight = right_[tapLong_];
    }

  private:
    static constexpr std::uint32_t kMask = kLineFrames - 1;
    std::array<float, kLineFrames> left_{};
    std::array<float, kLineFrames> right_{};
    std::uint32_t write_ = 0;
    std::uint32_t tapLong_ = 0;
    std::uint32_t tapShort_ = 0;
};

} // namespace zintor
