// Noise drum: decaying unipolar white noise, high-passed by subtracting a twice-smoothed copy.
// strike(), renderSample() and render() on the audio thread only; decay and tone may be written
// from any thread.
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

    /// Renders `frames` consecutive samples into `out` from numbers drawn beforehand: sample i uses
    /// draws[i × stride] (0..32767), so drums that share a generator can take turns as they would
    /// sample by sample. The parameters are read once per call.
    void render(float* out, int frames, const int* draws, int stride);

    float level = 1.0f;               ///< envelope of the noise, 0..1
    std::atomic<float> decay{0.998f}; ///< factor on level per sample, below 1
    std::atomic<float> tone{0.5f};    ///< coefficient of both smoothing stages, 0..1
    float smooth1 = 0.0f;
    float smooth2 = 0.0f;
};

inline void NoiseDrum::strike() {
    level = 1.0f;
}

// Defined here so that the engine's loop can inline them.
inline void NoiseDrum::render(float* out, int frames, const int* draws, int stride) {
    const float factor = decay.load(std::memory_order_relaxed);
    const float t = tone.load(std::memory_order_relaxed);
    float envelope = level;
    float first = smooth1;
    float second = smooth2;
    for (int i = 0; i < frames; ++i) {
        envelope *= factor;
        const float x = static_cast<float>(draws[i * stride]) * (1.0f / 32768.0f) * envelope;
        first += (x - first) * t;
        second += (first - second) * t;
        out[i] = x - second;
    }
    level = envelope;
    smooth1 = first;
    smooth2 = second;
}

inline float NoiseDrum::renderSample(common::Random& random) {
    const int v = random.next();
    float y;
    render(&y, 1, &v, 1);
    return y;
}

} // namespace zintor
