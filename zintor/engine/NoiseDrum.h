// Noise drum: decaying unipolar white noise, high-passed by subtracting a twice-smoothed copy.
// strike()/renderSample() on the audio thread only; decay and tone may be written from any thread.
#pragma once

#include "common/Random.h"

#include <atomic>

namespace zintor {

class NoiseDrum {
public:
    NoiseDrum() = default;
    virtual ~NoiseDrum() = default;
    NoiseDrum(const NoiseDrum&) = delete;
    NoiseDrum& operator=(const NoiseDrum&) = delete;

    /// Sets the envelope back to 1; the smoothing stages carry on.
    void strike();

    /// Next output sample; draws one number from `random` (the audio thread's generator).
    float renderSample(common::Random& random);

    float level = 1.0f;               ///< envelope of the noise, 0..1
    std::atomic<float> decay{0.998f}; ///< factor on level per sample, below 1
    std::atomic<float> tone{0.5f};    ///< coefficient of both smoothing stages, 0..1
    float smooth1 = 0.0f;
    float smooth2 = 0.0f;
};

inline void NoiseDrum::strike() { level = 1.0f; }

// Defined here so that the engine's per-sample loop can inline it.
inline float NoiseDrum::renderSample(common::Random& random) {
    const int v = random.next();
    level *= decay.load(std::memory_order_relaxed);
    const float x = static_cast<float>(v) * (1.0f / 32768.0f) * level;
    const float t = tone.load(std::memory_order_relaxed);
    smooth1 += (x - smooth1) * t;
    smooth2 += (smooth1 - smooth2) * t;
    return x - smooth2;
}

} // namespace zintor
