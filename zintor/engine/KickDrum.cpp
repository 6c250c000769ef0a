// Kick drum: falling-pitch sine with a click.
#include "zintor/engine/KickDrum.h"

#include "zintor/engine/Sine.h"

namespace zintor {

void KickDrum::render(float* out, int frames, const KickParams& params) {
    const float decay = params.pitchDecay;
    const float gain = params.volume;
    // Once a step no longer moves the phase, no later, smaller one will: the kick then holds the sine
    // of that phase until the next strike (and the increment need not shrink into slow subnormals).
    const bool canSettle = decay >= 0.0f && decay < 1.0f;
    int i = 0;
    for (; i < frames; ++i) {
        if (!click && canSettle && increment >= 0.0f && phase + increment == phase)
            break;
        const float sample = click ? 1.0f : static_cast<float>(sine(phase));
        click = false;
        phase += increment;
        increment *= decay;
        out[i] = sample * gain;
    }
    if (i < frames) {
        const float held = static_cast<float>(sine(phase)) * gain;
        for (; i < frames; ++i)
            out[i] = held;
    }
}

} // namespace zintor
