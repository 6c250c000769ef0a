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
    int i = 0;
    if (click && frames > 0) { // the click replaces this sample's sine
        p += step;
        step *= decayFactor;
        click = false;
        out[i++] = gain;
    }
    // Once a step no longer moves the phase, no later, smaller one will: the kick holds the sine of
    // that phase until the next strike, and the increment need not shrink further (which would
    // also end in slow subnormal arithmetic).
    if (p + step == p && step >= 0.0f && decayFactor >= 0.0f && decayFactor < 1.0f) {
        const float held = static_cast<float>(sine(p)) * gain;
        for (; i < frames; ++i)
            out[i] = held;
        phase = p;
        increment = step;
        return;
    }
    // First the phases, a short dependency chain; then their sines, four at a time, which do not
    // depend on each other. A phase that no longer moves needs its sine only once.
    const int first = i;
    const float startPhase = p;
    bool moving = false;
    for (; i < frames; ++i) {
        out[i] = p;
        moving |= p != startPhase;
        p += step;
        step *= decayFactor;
    }
    if (!moving) {
        const float held = static_cast<float>(sine(startPhase)) * gain;
        for (i = first; i < frames; ++i)
            out[i] = held;
    } else {
        const __m128 gains = _mm_set1_ps(gain);
        for (i = first; i + 4 <= frames; i += 4) {
            const __m128 phases = _mm_loadu_ps(out + i);
            const __m128 low = _mm_cvtpd_ps(sineLanes(_mm_cvtps_pd(phases)));
            const __m128 high = _mm_cvtpd_ps(sineLanes(_mm_cvtps_pd(_mm_movehl_ps(phases, phases))));
            _mm_storeu_ps(out + i, _mm_mul_ps(_mm_movelh_ps(low, high), gains));
        }
        for (; i < frames; ++i)
            out[i] = static_cast<float>(sine(out[i])) * gain;
    }
    phase = p;
    increment = step;
}

inline float KickDrum::renderSample() {
    float y;
    render(&y, 1);
    return y;
}

} // namespace zintor
