// The kick: two falling sine partials, retriggered every fourth step. trigger(), silence() and render()
// on the audio thread only; generate() fills a pattern on either thread, which the engine
// gives the voice.
#pragma once

#include "common/NoCopy.h"
#include "common/Random.h"
#include "vexla/engine/SceneState.h"

#include <cstdint>

namespace vexla {

class KickVoice : common::NoCopy {
  public:
    /// New start frequency and slide. The engine then silences the first partial (silence()) on the
    /// audio thread.
    static void generate(KickPattern& pattern, common::Random& random);

    /// Stops the first partial until the next trigger, as a new kick pattern does.
    void silence() {
        state_.freq1 = 0.0f;
        state_.phase1 = 0.0f;
    }

    /// Restarts both partials at the start frequency and its octave.
    void trigger();

    /// n frames (1..kMaxRunFrames) into out, in sample units: volume × (sin phase1 + ½ sin phase2).
    void render(float* out, int n, float volume);

    /// Start frequency at a trigger (radians per frame, 0.06..0.0907617) and freq1's decrement per frame
    /// (freq2 falls 12 times as fast).
    KickPattern pattern;

    float freq1() const { return state_.freq1; }
    float freq2() const { return state_.freq2; }

  private:
    /// The two partials: phases and frequencies in radians per frame.
    struct Partials {
        float phase1 = 0.0f, phase2 = 0.0f;
        float freq1 = 0.0f, freq2 = 0.0f;
    };
    Partials state_;
};

} // namespace vexla
