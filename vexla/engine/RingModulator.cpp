// Ring modulator with a swept carrier.
#include "vexla/engine/RingModulator.h"

#include <cmath>

namespace vexla {

float RingModulator::sweepSine() {
    // The sweep moves at most 1e−5 radians per frame: a second-order expansion around an anchor taken
    // within kSweepAnchorSpan is within 2e−10 of the sine and saves a library call on most frames.
    // A wrap or a new rate simply moves the anchor.
    float d = sweepPhase_ - sweepAnchor_;
    if (!(std::fabs(d) <= kSweepAnchorSpan)) {
        sweepAnchor_ = sweepPhase_;
        sweepAnchorSin_ = std::sin(sweepAnchor_);
        sweepAnchorCos_ = std::cos(sweepAnchor_);
        d = 0.0f;
    }
    return sweepAnchorSin_ + d * (sweepAnchorCos_ - 0.5f * sweepAnchorSin_ * d);
}

float RingModulator::render(float x) {
    sweepPhase_ += sweepRate.load(std::memory_order_relaxed);
    if (sweepPhase_ > kPhaseWrap) sweepPhase_ -= kPhaseWrap;
    carrierPhase_ += sweepSine() * sweepDepth.load(std::memory_order_relaxed) +
                     carrierRate.load(std::memory_order_relaxed);
    if (carrierPhase_ > kPhaseWrap) carrierPhase_ -= kPhaseWrap;
    // A deep sweep with a slow carrier drives the phase downwards; left unwrapped it would grow without
    // bound and lose its precision until the carrier froze. Wrapped the same way as upwards.
    else if (carrierPhase_ < -kPhaseWrap) carrierPhase_ += kPhaseWrap;
    return std::sin(carrierPhase_) * x;
}

void RingModulator::alterAm(common::Random& random) {
    // Six draws in this order; the order fixes which value each coefficient gets.
    amBassSineSend.store(static_cast<float>(random.below(256)) / 512.0f, std::memory_order_relaxed);
    amHatSend.store(static_cast<float>(random.below(360)) / 512.0f, std::memory_order_relaxed);
    // 3.906249901319825e-07 is 0.0001 / 256 in single precision.
    carrierRate.store(static_cast<float>(random.below(128)) * 3.906249901319825e-07f, std::memory_order_relaxed);
    // 3.906249901319825e-08 is 0.00001 / 256 in single precision.
    sweepRate.store(static_cast<float>(random.below(256)) * 3.906249901319825e-08f, std::memory_order_relaxed);
    sweepDepth.store(static_cast<float>(random.below(256)) / 512.0f, std::memory_order_relaxed);
    amEchoSend.store(static_cast<float>(random.below(276)) / 256.0f, std::memory_order_relaxed);
}

} // namespace vexla
