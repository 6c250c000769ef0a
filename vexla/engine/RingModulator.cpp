// Ring modulator with a swept carrier.
#include "vexla/engine/RingModulator.h"

#include "vexla/engine/FastSine.h"
#include "vexla/engine/RunFrames.h"

#include <cmath>

namespace vexla {

RingModulator::Anchor RingModulator::anchorAt(float phase) {
    return {std::sin(phase), std::cos(phase)};
}

void RingModulator::render(const float* input, float* out, int n) {
    const float rate = setting.sweepRate, depth = setting.sweepDepth, carrier = setting.carrierRate;
    // The carrier's phases first, then their sines, so that the sines of the whole run go together.
    float phases[kMaxRunFrames];
    State state = state_; // a copy whose address is never taken, so that it stays in registers
    for (int i = 0; i < n; ++i)
        phases[i] = state.advance(rate, depth, carrier);
    state_ = state;
    for (int i = 0; i < n; ++i)
        out[i] = fastSin(phases[i]) * input[i];
}

void RingModulator::alterAm(AmSetting& setting, common::Random& random) {
    // Six draws in this order; the order fixes which value each coefficient gets.
    setting.amBassSineSend = static_cast<float>(random.below(256)) / 512.0f;
    setting.amHatSend = static_cast<float>(random.below(360)) / 512.0f;
    // 3.906249901319825e-07 is 0.0001 / 256 in single precision.
    setting.carrierRate = static_cast<float>(random.below(128)) * 3.906249901319825e-07f;
    // 3.906249901319825e-08 is 0.00001 / 256 in single precision.
    setting.sweepRate = static_cast<float>(random.below(256)) * 3.906249901319825e-08f;
    setting.sweepDepth = static_cast<float>(random.below(256)) / 512.0f;
    setting.amEchoSend = static_cast<float>(random.below(276)) / 256.0f;
}

} // namespace vexla
