// The sine melody: a sine with a per-step note, level target and decay. stepLoad() and render() on
// the audio thread only; generate() on either thread (tables and the send are atomics).
#pragma once

#include "common/Random.h"
#include "vexla/engine/BassVoice.h"
#include "vexla/engine/FastSine.h"

#include <array>
#include <atomic>
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
        float angle, amp;
        advance(angle, amp);
        return output(fastSin(angle), amp);
    }

    /// The frame in parts, for a render that works out many frames' sines together: gives the frame's
    /// angle and amplitude and moves the voice on; output() then takes the sine of that angle.
    void advance(float& angle, float& amp) {
        phase_ += increment_;
        angle = phase_ * 6.28f / 512.0f; // the phase before the wrap
        if (phase_ >= 512.0f)
            phase_ -= 512.0f;
        amp = amp_;
        // Never rests: alternates around the target in steps of 0.05.
        if (amp_ < target_)
            amp_ += 0.05f;
        else
            amp_ -= 0.05f;
        target_ -= targetDecay_;
        if (target_ < 0.0f)
            target_ = 0.0f;
    }

    static float output(float sine, float amp) { return sine * 16384.0f * amp; }

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
