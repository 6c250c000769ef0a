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
    if (click && frames > 0) { // the click replaces this sample's sine
        click = false;
        phase += increment;
        increment *= decay;
        out[i++] = gain;
    }
    // First the phases, a short chain of dependent steps; then their sines, which the compiler may
    // compute several at a time.
    constexpr int kRun = 64;
    float phases[kRun];
    while (i < frames) {
        int count = 0;
        for (; count < kRun && i + count < frames; ++count) {
            if (canSettle && increment >= 0.0f && phase + increment == phase)
                break;
            phases[count] = phase;
            phase += increment;
            increment *= decay;
        }
        for (int j = 0; j < count; ++j)
            out[i + j] = static_cast<float>(sine(phases[j])) * gain;
        i += count;
        if (count < kRun && i < frames) { // settled
            const float held = static_cast<float>(sine(phase)) * gain;
            for (; i < frames; ++i)
                out[i] = held;
        }
    }
}

} // namespace zintor
