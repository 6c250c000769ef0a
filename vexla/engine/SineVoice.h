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
        state_.advance(angle, amp);
        return output(fastSin(angle), amp);
    }

    /// The frame in parts, for a render that works out many frames' sines together, with the state in
    /// locals for the run so that it stays in registers: advance() gives each frame's angle and amplitude
    /// and moves the voice on, output() then takes the sine of that angle, and finish() hands the state
    /// back. Nothing else may touch the voice meanwhile.
    class Run;

    static float output(float sine, float amp) { return sine * 16384.0f * amp; }

    std::array<std::atomic<std::int32_t>, kStepTableSize> notes{};
    std::array<std::atomic<float>, kStepTableSize> sineLevels{};
    std::array<std::atomic<float>, kStepTableSize> sineDecays{};
    std::atomic<float> sineEchoSend{0.0f};

    float increment() const { return state_.increment; }

private:
    struct State {
        float phase = 0.0f;
        float increment = 0.0f;
        float target = 1.0f;
        float targetDecay = 1.0f;
        float amp = 0.0f;

        void advance(float& angle, float& ampOut) {
            phase += increment;
            angle = phase * 6.28f / 512.0f; // the phase before the wrap
            if (phase >= 512.0f)
                phase -= 512.0f;
            ampOut = amp;
            // Never rests: alternates around the target in steps of 0.05.
            if (amp < target)
                amp += 0.05f;
            else
                amp -= 0.05f;
            target -= targetDecay;
            if (target < 0.0f)
                target = 0.0f;
        }
    };
    State state_;
};

class SineVoice::Run {
public:
    explicit Run(SineVoice& voice) : voice_(voice), state_(voice.state_) {}
    void advance(float& angle, float& amp) { state_.advance(angle, amp); }
    void finish() { voice_.state_ = state_; }

private:
    SineVoice& voice_;
    State state_;
};

} // namespace vexla
