// "AM Alter": a ring modulator whose carrier sine is swept by a very slow sine. render() on the audio
// thread only; its setting comes from the engine (alterAm() runs on the window thread into the window's
// copy, which the engine's mailbox brings to the render).
#pragma once

#include "common/NoCopy.h"
#include <cmath>

#include "common/Random.h"
#include "vexla/engine/SceneState.h"

namespace vexla {

class RingModulator : common::NoCopy {
  public:
    /// Phase wrap in radians as the unit has always used it (6.28 in single precision, not 2π).
    static constexpr float kPhaseWrap = 6.28f;

    /// n frames (1..kMaxRunFrames): out[i] = sin(carrier phase) × input[i], both oscillators moving
    /// one frame each. Silent (0) until alterAm.
    void render(const float* input, float* out, int n);

    /// "AM Alter": six draws in order — bass/sine send, hat send, carrier rate, sweep rate, sweep depth,
    /// echo send. Phases are not reset.
    static void alterAm(AmSetting& setting, common::Random& random);

    /// Sweep and carrier rates and depth (radians per frame), the sends of bassline 1 and sine (0..0.498)
    /// and of the hi-hats (0..0.70) into the modulator, and of its output into the echo (0..1.074).
    AmSetting setting;

    float sweepPhase() const { return state_.sweepPhase; }
    float carrierPhase() const { return state_.carrierPhase; }

  private:
    struct State {
        static constexpr float kSweepAnchorSpan = 1e-3f;

        float sweepPhase = 0.0f;
        float carrierPhase = 0.0f;
        float sweepAnchor = 0.0f;
        float sweepAnchorSin = 0.0f;
        float sweepAnchorCos = 1.0f;

        float advance(float rate, float depth, float carrier) {
            sweepPhase += rate;
            if (sweepPhase > kPhaseWrap)
                sweepPhase -= kPhaseWrap;
            carrierPhase += sweepSine() * depth + carrier;
            if (carrierPhase > kPhaseWrap)
                carrierPhase -= kPhaseWrap;
            // A deep sweep with a slow carrier drives the phase downwards; left unwrapped it would grow
            // without bound and lose its precision until the carrier froze. Wrapped the same way as upwards.
            else if (carrierPhase < -kPhaseWrap)
                carrierPhase += kPhaseWrap;
            return carrierPhase;
        }

        /// sin(sweepPhase), exact to float precision. The sweep moves at most 1e−5 radians per frame: a
        /// second-order expansion around an anchor taken within kSweepAnchorSpan is within 2e−10 of the
        /// sine and saves a library call on most frames. A wrap or a new rate simply moves the anchor.
        float sweepSine() {
            float d = sweepPhase - sweepAnchor;
            if (!(std::fabs(d) <= kSweepAnchorSpan)) [[unlikely]] {
                // By value, so that a run's copy of the state never has its address taken and stays in
                // registers.
                const Anchor anchor = anchorAt(sweepPhase);
                sweepAnchor = sweepPhase;
                sweepAnchorSin = anchor.sin;
                sweepAnchorCos = anchor.cos;
                d = 0.0f;
            }
            return sweepAnchorSin + d * (sweepAnchorCos - 0.5f * sweepAnchorSin * d);
        }
    };
    struct Anchor {
        float sin, cos;
    };
    static Anchor anchorAt(float phase);
    State state_;
};

} // namespace vexla
