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

    /// render() a frame at a time, with the voice's state in locals: the engine works the hi-hats'
    /// frames in the loop of the basslines and the VCF filters, so that its smoothing chain overlaps
    /// theirs. finish() hands the state back; nothing else may touch the voice meanwhile.
    class Run;

    /// Level (0..1) and per-frame decrement per step; accentOff 1: no accent on steps 4 mod 8; echo send
    /// (opposite signs on left and right).
    HatPattern pattern;

    /// The noise's level as loaded by stepLoad (accent and doubling included) or decayed since, 0..2.
    float level() const { return level_; }

  private:
    friend class Run;
    float level_ = 1.0f;
    float decay_ = 1.0f;
    float tone_ = 0.5f;
    float smooth1_ = 0.0f;
    float smooth2_ = 0.0f;
};

class HatVoice::Run {
  public:
    Run(HatVoice& voice, common::Random& random, float volume)
        : voice_(voice), random_(random), level_(voice.level_), smooth1_(voice.smooth1_),
          smooth2_(voice.smooth2_), decay_(voice.decay_), tone_(voice.tone_), volume_(volume) {}

    /// The next frame; draws one number.
    float next() {
        const float noise = static_cast<float>(random_.next() - 16384) * level_;
        level_ -= decay_;
        if (level_ < 0.0f)
            level_ = 0.0f;
        smooth1_ += (noise - smooth1_) * tone_;
        smooth2_ += (smooth1_ - smooth2_) * tone_;
        return (smooth2_ - noise) * volume_;
    }

    void finish() {
        voice_.level_ = level_;
        voice_.smooth1_ = smooth1_;
        voice_.smooth2_ = smooth2_;
    }

  private:
    HatVoice& voice_;
    common::Random& random_;
    float level_, smooth1_, smooth2_;
    const float decay_, tone_, volume_;
};

} // namespace vexla
