// The sine melody: a sine with a per-step note, level target and decay. stepLoad() and render() on
// the audio thread only; generate() fills a pattern on either thread, which the
// engine gives the voice.
#pragma once

#include "common/NoCopy.h"
#include "common/Random.h"
#include "vexla/engine/SceneState.h"
#include "vexla/engine/StepTables.h"

#include <array>
#include <cstdint>

namespace vexla {

class SineVoice : common::NoCopy {
  public:
    /// Echo send, the first stepCount levels and decays, then the first stepCount notes.
    static void generate(SinePattern& pattern, common::Random& random, int stepCount);

    /// Loads step s (0..63); transpose in semitones.
    void stepLoad(int s, int transpose);

    /// n frames (1..kMaxRunFrames) into out: sin × 16384 × amplitude × volume.
    void render(float* out, int n, float volume);

    /// Semitones (see randomNote), level target (0..1) and its decrement per frame per step; echo send
    /// (opposite signs on left and right).
    SinePattern pattern;

    float increment() const { return increment_; }
    /// The pitch as loaded by stepLoad: the phase wraps at 512, one cycle of the sine.
    double hertz(double sampleRate) const { return sampleRate * increment_ / 512.0; }
    /// The level the amplitude follows (0..1) and what it loses each frame, as loaded or decayed since.
    float target() const { return target_; }
    float targetDecay() const { return targetDecay_; }

  private:
    float phase_ = 0.0f;
    float increment_ = 0.0f;
    float target_ = 1.0f;
    float targetDecay_ = 1.0f;
    float amp_ = 0.0f;
};

} // namespace vexla
