// The kick: two falling sine partials, retriggered every fourth step. trigger() and render() on the
// audio thread only; generate() on either thread (its values are atomics, its reset is handed over).
#pragma once

#include "common/Random.h"

#include <atomic>
#include <cstdint>

namespace vexla {

class KickVoice {
  public:
    KickVoice() = default;
    KickVoice(const KickVoice&) = delete;
    KickVoice& operator=(const KickVoice&) = delete;

    /// New start frequency and slide; silences the first partial until the next trigger.
    void generate(common::Random& random);

    /// Restarts both partials at the start frequency and its octave.
    void trigger();

    /// n frames (1..kMaxRunFrames) into out, in sample units: volume × (sin phase1 + ½ sin phase2).
    void render(float* out, int n, float volume);

    std::atomic<float> startFreq{0.0f}; ///< radians per frame at a trigger, 0.06..0.0907617
    std::atomic<float> slide1{0.0f};    ///< freq1 decrement per frame; freq2 falls 12 times as fast

    float freq1() const { return freq1_; }
    float freq2() const { return freq2_; }

  private:
    // generate() may run on the window thread, so it cannot write the render's phase and frequency
    // directly: it counts a silence request that the render takes at its next run.
    void takeSilence();

    std::atomic<std::uint32_t> silenceRequests_{0};
    std::uint32_t silencesTaken_ = 0;

    float phase1_ = 0.0f;
    float phase2_ = 0.0f;
    float freq1_ = 0.0f;
    float freq2_ = 0.0f;
};

} // namespace vexla
