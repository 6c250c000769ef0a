// Where the stream's frames are heard on the host's clock. Each block gives a pair (its first frame, the
// host time it will be heard); the clock is the line fitted through the latest pairs, so that the jitter
// of the audio thread's wake-ups does not reach the beats placed on it, and a device whose rate is not
// quite its nominal one (a sound card's crystal, a loaded dummy server) is followed without lagging.
#pragma once

#include "common/FixedRing.h"

#include <cstdint>

namespace common {

class FrameClock {
  public:
    /// Pairs the line is fitted through: about a second and a half of 1024-frame blocks.
    static constexpr int kWindow = 64;
    /// A pair this far off the line means the stream began afresh (a new device, a sleep): the line
    /// starts again from it instead of averaging two streams.
    static constexpr double kRestartMicros = 20000.0;
    /// This many pairs in a row off the line by more than kShiftMicros, all on one side, mean the stream
    /// moved (a cycle the device missed): the line is fitted through them alone from then on, instead of
    /// a whole window's worth of blocks bending it.
    static constexpr double kShiftMicros = 1500.0;
    static constexpr int kShiftPairs = 4;
    /// The most the device's rate is believed to stray from its nominal one.
    static constexpr double kMostRateError = 0.01;

    explicit FrameClock(double sampleRate = 44100.0);

    /// Stream frame `frame` is heard at host time `heardMicros`.
    void sample(std::int64_t frame, std::int64_t heardMicros);
    void reset();
    bool known() const { return !pairs_.empty(); }

    /// Host time (microseconds) where `frame` is heard.
    double microsAt(std::int64_t frame) const;
    /// The frame heard nearest to host time `micros`.
    std::int64_t frameAt(double micros) const;

  private:
    struct Pair {
        double frame = 0.0;    // less originFrame_
        double residual = 0.0; // heard time less the frame's nominal time, less originResidual_
    };
    void fit();

    double microsPerFrame_;
    FixedRing<Pair, kWindow> pairs_; // the latest, oldest first
    int shifted_ = 0; // pairs in a row off the line by more than kShiftMicros; negative: early ones
    // Origins that keep the sums small and exact.
    std::int64_t originFrame_ = 0;
    double originResidual_ = 0.0;
    // The fitted line: residual = level_ + slope_ × (frame − originFrame_).
    double level_ = 0.0;
    double slope_ = 0.0;
};

} // namespace common
