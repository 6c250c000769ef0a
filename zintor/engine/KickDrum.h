// Kick drum: a sine whose pitch falls exponentially, with a one-sample click at each strike.
// strike()/renderSample() on the audio thread only; the window writes the atomic parameters.
#pragma once

#include "zintor/engine/Sine.h"

#include <atomic>

namespace zintor {

class KickDrum {
public:
    KickDrum() = default;
    virtual ~KickDrum() = default;
    KickDrum(const KickDrum&) = delete;
    KickDrum& operator=(const KickDrum&) = delete;

    /// Restarts the kick: pitch back to startIncrement, phase 0, click on the next sample.
    void strike();

    /// Next output sample: `volume` on the first sample after a strike, then sin(phase) × volume.
    float renderSample();

    std::atomic<float> startIncrement{0.05f}; ///< radians per sample at the strike, 0.05..1.5
    float phase = 0.0f;                       ///< radians, never wrapped (bounded by the decay)
    float increment = 0.0f;                   ///< current radians per sample
    std::atomic<float> pitchDecay{0.99f};     ///< factor on increment per sample, 0.85..0.999
    bool click = false;                       ///< the next sample is the click
    std::atomic<float> volume{0.8f};          ///< output gain, 0..0.9

private:
    // Once the decayed increment no longer moves the float phase, the kick holds a constant:
    // its sine is kept rather than evaluated again.
    float sinePhase_ = 0.0f;
    float sineValue_ = 0.0f;
};

inline void KickDrum::strike() {
    increment = startIncrement.load(std::memory_order_relaxed);
    click = true;
    phase = 0.0f;
}

// Defined here so that the engine's per-sample loop can inline it.
inline float KickDrum::renderSample() {
    if (phase != sinePhase_) {
        sinePhase_ = phase;
        sineValue_ = static_cast<float>(sine(phase));
    }
    const float s = sineValue_;
    phase += increment;
    increment *= pitchDecay.load(std::memory_order_relaxed);
    const float gain = volume.load(std::memory_order_relaxed);
    if (click) {
        click = false;
        return gain;
    }
    return s * gain;
}

} // namespace zintor
