// Ring modulator with a swept carrier.
#include "vexla/engine/RingModulator.h"

#include "vexla/engine/FastSine.h"
#include "vexla/engine/RunFrames.h"

#include <algorithm>
#include <cmath>

namespace vexla {

RingModulator::Anchor RingModulator::anchorAt(float phase) {
    return {std::sin(phase), std::cos(phase)};
}

void RingModulator::render(const float* input, float* out, int n) {
    const float rate = setting.sweepRate, depth = setting.sweepDepth, carrier = setting.carrierRate;
    // Until "AM Alter" (and whenever no send reaches it) the input is silent: its product with the sine
    // of a finite phase is then a zero (whose sign makes no difference to any sum, the echo or a
    // sample), so the sines are not worked out. A NaN or infinite input takes the full route.
    int loud = 0;
    for (int i = 0; i < n; ++i)
        loud |= !(input[i] == 0.0f);
    // A modulator that was never set (all rates 0), its sweep near its anchor and both phases inside
    // their wraps, does not move at all: every frame would add zeros to its phases.
    const bool atRest = rate == 0.0f && depth == 0.0f && carrier == 0.0f && state_.sweepPhase <= kPhaseWrap &&
                        std::fabs(state_.sweepPhase - state_.sweepAnchor) <= State::kSweepAnchorSpan &&
                        std::fabs(state_.carrierPhase) <= kPhaseWrap;
    if (!loud && atRest) {
        std::fill(out, out + n, 0.0f);
        return;
    }
    // The carrier's phases first, then their sines, so that the sines of the whole run go together.
    float phases[kMaxRunFrames];
    State state = state_; // a copy whose address is never taken, so that it stays in registers
    for (int i = 0; i < n; ++i)
        phases[i] = state.advance(rate, depth, carrier);
    state_ = state;
    int finite = 1;
    for (int i = 0; i < n; ++i)
        finite &= phases[i] - phases[i] == 0.0f;
    if (!loud && finite) {
        std::fill(out, out + n, 0.0f);
        return;
    }
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
