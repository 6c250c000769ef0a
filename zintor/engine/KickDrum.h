// Kick drum: a sine whose pitch falls exponentially, with a one-sample click at each strike. A plain
// unit: strike() and render() on the audio thread only; the engine hands it its parameters per block.
#pragma once

#include "common/NoCopy.h"
#include "zintor/engine/ControlFields.h"

namespace zintor {

/// The kick's three controls, as the engine read them for one block.
struct KickParams {
#define ZN_PLAIN_FIELD(type, name, start) type name = start;
    ZINTOR_KICK_FIELDS(ZN_PLAIN_FIELD)
#undef ZN_PLAIN_FIELD
    bool operator==(const KickParams&) const = default;
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
