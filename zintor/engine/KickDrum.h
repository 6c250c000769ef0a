// Kick drum: a sine whose pitch falls exponentially, with a one-sample click at each strike. A plain
// unit: strike() and render() on the audio thread only; the engine hands it its parameters per block.
#pragma once

#include "common/NoCopy.h"

namespace zintor {

/// The kick's three controls, as the engine read them for one block.
struct KickParams {
    float startIncrement = 0.05f; ///< radians per sample at the strike, 0.05..1.5
    float pitchDecay = 0.99f;     ///< factor on the increment per sample, 0.85..0.999
    float volume = 0.8f;          ///< output gain, 0..0.9
};

class KickDrum : common::NoCopy {
  public:
    virtual ~KickDrum() = default;

    /// Restarts the kick: pitch back to `startIncrement`, phase 0, click on the next sample.
    void strike(float startIncrement) {
        increment = startIncrement;
        click = true;
        phase = 0.0f;
    }

    /// Renders `frames` samples into `out`: `volume` on the first sample after a strike, then
    /// sin(phase) × volume with the phase before its advance.
    void render(float* out, int frames, const KickParams& params);

    float phase = 0.0f;     ///< radians, never wrapped (bounded by the decay)
    float increment = 0.0f; ///< current radians per sample
    bool click = false;     ///< the next sample is the click
};

} // namespace zintor
