// The hi-hats: high-passed white noise with a per-step level and decay and a fixed accent pattern.
// stepLoad() and render() on the audio thread; generate() fills a pattern (a served request inside the
// render, or the window's copy), which the engine gives the voice.
#pragma once

#include "common/NoCopy.h"
#include "common/Random.h"
#include "vexla/engine/SceneState.h"
#include "vexla/engine/StepTables.h"

#include <array>
#include <cstdint>

namespace vexla {

class HatVoice : common::NoCopy {
  public:
    /// Echo send, the first stepCount levels and decays, then the accent switch.
    static void generate(HatPattern& pattern, common::Random& random, int stepCount);

    /// Loads step s (0..63), with the doubled level on steps 2 mod 4 and the accent on steps 4 mod 8.
    void stepLoad(int s);

    /// n frames (1..kMaxRunFrames) into out, times volume; draws one number per frame from `random`.
    void render(float* out, int n, common::Random& random, float volume);

    /// Level (0..1) and per-frame decrement per step; accentOff 1: no accent on steps 4 mod 8; echo send
    /// (opposite signs on left and right).
    HatPattern pattern;

  private:
    float level_ = 1.0f;
    float decay_ = 1.0f;
    float tone_ = 0.5f;
    float smooth1_ = 0.0f;
    float smooth2_ = 0.0f;
};

} // namespace vexla
