// The sine melody: a sine with a per-step note, level target and decay. stepLoad() and render() on
// the audio thread only; generate() on either thread (tables and the send are atomics).
#pragma once

#include "common/Random.h"
#include "vexla/engine/BassVoice.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace vexla {

class SineVoice {
public:
    SineVoice() = default;
    SineVoice(const SineVoice&) = delete;
    SineVoice& operator=(const SineVoice&) = delete;

    /// Echo send, the first stepCount levels and decays, then the first stepCount notes.
    void generate(common::Random& random, int stepCount);

    /// Loads step s (0..63); transpose in semitones.
    void stepLoad(int s, int transpose);

    /// One frame, in sample units (before sineVolume).
    float render() {
        phase_ += increment_;
        const float angle = phase_ * 6.28f / 512.0f; // the phase before the wrap
        if (phase_ >= 512.0f)
            phase_ -= 512.0f;
        const float out = std::sin(angle) * 16384.0f * amp_;
        // Never rests: alternates around the target in steps of 0.05.
        if (amp_ < target_)
            amp_ += 0.05f;
        else
            amp_ -= 0.05f;
        target_ -= targetDecay_;
        if (target_ < 0.0f)
            target_ = 0.0f;
        return out;
    }

    std::array<std::atomic<std::int32_t>, kStepTableSize> notes{};
    std::array<std::atomic<float>, kStepTableSize> sineLevels{};
    std::array<std::atomic<float>, kStepTableSize> sineDecays{};
    std::atomic<float> sineEchoSend{0.0f};

    float increment() const { return increment_; }

private:
    float phase_ = 0.0f;
    float increment_ = 0.0f;
    float target_ = 1.0f;
    float targetDecay_ = 1.0f;
    float amp_ = 0.0f;
};

} // namespace vexla
