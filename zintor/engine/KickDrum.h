// Kick drum: a sine whose pitch falls exponentially, with a one-sample click at each strike.
// strike(), renderSample() and render() on the audio thread only; the window writes the atomic
// parameters.
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

    /// Renders `frames` consecutive samples into `out`, as that many renderSample() calls would
    /// (the parameters are read once per call).
    void render(float* out, int frames);

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

// Defined here so that the engine's loop can inline them.
inline void KickDrum::render(float* out, int frames) {
    const float decayFactor = pitchDecay.load(std::memory_order_relaxed);
    const float gain = volume.load(std::memory_order_relaxed);
    float p = phase;
    float step = increment;
    float lastPhase = sinePhase_;
    float lastSine = sineValue_;
    int i = 0;
    if (click && frames > 0) { // the click replaces this sample's sine
        p += step;
        step *= decayFactor;
        click = false;
        out[i++] = gain;
    }
    for (; i < frames; ++i) {
        if (p != lastPhase) {
            lastPhase = p;
            lastSine = static_cast<float>(sine(p));
        }
        const float s = lastSine;
        p += step;
        step *= decayFactor;
        out[i] = s * gain;
    }
    phase = p;
    increment = step;
    sinePhase_ = lastPhase;
    sineValue_ = lastSine;
}

inline float KickDrum::renderSample() {
    float y;
    render(&y, 1);
    return y;
}

} // namespace zintor
