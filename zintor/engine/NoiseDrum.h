// Noise drum: decaying unipolar white noise, high-passed by subtracting a twice-smoothed copy. A plain
// unit: strike() and next() on the audio thread only; the engine hands it its parameters per block.
#pragma once

#include "common/NoCopy.h"
#include "zintor/engine/ControlFields.h"

namespace zintor {

/// A noise drum's preset, as the engine read it for one block.
struct NoiseParams {
#define ZN_PLAIN_FIELD(type, name, start) type name = start;
    ZINTOR_NOISE_FIELDS(ZN_PLAIN_FIELD)
#undef ZN_PLAIN_FIELD
    bool operator==(const NoiseParams&) const = default;
};

class NoiseDrum : common::NoCopy {
  public:
    /// What changes from sample to sample: small enough to be copied into locals for a block.
    struct State {
        float level = 1.0f; ///< envelope of the noise, 0..1
        float smooth1 = 0.0f;
        float smooth2 = 0.0f;
    };

    virtual ~NoiseDrum() = default;

    /// Sets the envelope back to 1; the smoothing stages carry on.
    void strike() { state.level = 1.0f; }

    /// The next sample from one random draw (0..32767). Static on a State, so that the engine can run
    /// its three drums in one loop from locals, their smoothing chains overlapping.
    [[gnu::always_inline]] static float next(State& s, int draw, const NoiseParams& params) {
        s.level *= params.decay;
        const float noise = static_cast<float>(draw) * (1.0f / 32768.0f) * s.level;
        s.smooth1 += (noise - s.smooth1) * params.tone;
        s.smooth2 += (s.smooth1 - s.smooth2) * params.tone;
        return noise - s.smooth2;
    }

    State state;
};

} // namespace zintor
