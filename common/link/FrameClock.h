// Where the stream's frames are heard on the host's clock. Each block gives a pair (its first frame, the
// host time it will be heard); the clock is the line through the latest pairs at the stream's nominal
// rate, so that the jitter of the audio thread's wake-ups does not reach the beats placed on it.
#pragma once

#include <array>
#include <cstdint>

namespace common {

class FrameClock {
  public:
    /// Pairs the line is fitted through: about a second and a half of 1024-frame blocks.
    static constexpr int kWindow = 64;
    /// A pair this far off the line means the stream began afresh (a new device, a sleep): the line
    /// starts again from it instead of averaging two streams.
    static constexpr double kRestartMicros = 20000.0;

    explicit FrameClock(double sampleRate = 44100.0);

    /// Stream frame `frame` is heard at host time `heardMicros`.
    void sample(std::int64_t frame, std::int64_t heardMicros);
    void reset();
    bool known() const { return count_ > 0; }

    /// Host time (microseconds) where `frame` is heard.
    double microsAt(std::int64_t frame) const;
    /// The frame heard nearest to host time `micros`.
    std::int64_t frameAt(double micros) const;

  private:
    double offset() const { return base_ + sum_ / count_; }

    double microsPerFrame_;
    std::array<double, kWindow> residuals_{}; // heard time less the frame's nominal time, less base_
    double base_ = 0.0;
    double sum_ = 0.0;
    int count_ = 0;
    int next_ = 0;
};

} // namespace common
