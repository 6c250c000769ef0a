// Kick drum: falling-pitch sine with a one-sample click at the strike.
#include "zintor/engine/KickDrum.h"

#include "zintor/engine/Sine.h"

namespace zintor {

void KickDrum::strike() {
    increment = startIncrement.load(std::memory_order_relaxed);
    click = true;
    phase = 0.0f;
}

float KickDrum::renderSample() {
    const float s = static_cast<float>(sine(phase));
    phase += increment;
    increment *= pitchDecay.load(std::memory_order_relaxed);
    const float gain = volume.load(std::memory_order_relaxed);
    if (click) {
        click = false;
        return gain;
    }
    return s * gain;
}

} // namespace zintor
