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

} // namespace zintor
