// A sequenced bass voice: swept ramp oscillator, resonant low-pass, per-step gate and random pattern.
// stepLoad() and render() on the audio thread only; generate() fills a pattern on either thread, which the
// engine gives the voice (through its mailbox from the window).
#pragma once

#include "common/NoCopy.h"
#include "common/Random.h"
#include "vexla/engine/ResonantLowpass.h"
#include "vexla/engine/SceneState.h"
#include "vexla/engine/StepTables.h"

#include <array>
#include <cstdint>

namespace vexla {

/// Single-precision 1/12, as the bass and sine voices' pitch formulas have it.
inline constexpr float kOneTwelfth = 0.0833333358f;

/// A semitone offset: 0, 0/12/24, or one of 1, 3, 5, 12, 13, −2, −5. Always draws three numbers.
int randomNote(common::Random& random);
/// A gate length in frames for the given step length (5000 gives 3334, 2500 or 5000).
int randomGate(common::Random& random, int samplesPerStep);

enum class BassKind { Bass1, Bass2 };

class BassVoice : common::NoCopy {
  public:
    explicit BassVoice(BassKind kind) : kind_(kind) {}

    /// Rewrites coefficients and the first stepCount entries of the tables (draws in a fixed order).
    static void generate(BassPattern& pattern, BassKind kind, common::Random& random, int stepCount,
                         int samplesPerStep);

    /// Loads step s (0..63): gate length, pitch from note, mode, transpose (semitones).
    void stepLoad(int s, int stepCount, int transpose);

    /// n frames (1..kMaxRunFrames) into out, in sample units, clamped to ±clip. firstCounter is the first
    /// frame's already advanced step counter; the counter reads 0 once past samplesPerStep. volume in
    /// sample units. Takes a new resonance from its pattern first.
    void render(float* out, int n, float volume, int firstCounter, int samplesPerStep);

    /// render() a frame at a time, with the voice's state in locals: the engine works the basslines'
    /// frames between the VCF loopers' filter steps, so that their feedback chains overlap. Takes a new
    /// resonance at its start; finish() hands the state back. Nothing else may touch the voice meanwhile.
    class Run;

    /// Notes and gates per step; mode 0..3 (first-half transposition 0, +5, +1, +3 semitones); clip level
    /// 0..8191; echo send; filter q 0.1..0.98 (bass1) or 0.8..0.98 (bass2); bass1's envelope growth, the
    /// LFO rates (radians) and depths (phase units 0..199, cutoff fraction 0..0.9921875) per slow update.
    BassPattern pattern;

    /// The oscillator's pitch as loaded by stepLoad: its ramp runs through 512 phase units a cycle.
    double hertz(double sampleRate) const { return sampleRate * increment_ / 512.0; }
    /// Frames from the step's start that the gate stays open (as loaded).
    int gateLength() const { return gateLength_; }

    // Render state, for tests.
    float increment() const { return increment_; }
    float amp() const { return amp_; }
    float cutoff() const { return cutoff_; }

  private:
    void takeResonance();
    void slowUpdate();
    void updateFeedback(float q) {
        feedbackResonance_ = q;
        filter_.cutoff = cutoff_;
        filter_.feedback = ResonantLowpass::feedbackFor(q, cutoff_);
    }

    BassKind kind_;
    float pwmLfoPhase_ = 0.0f;
    float cutoffLfoPhase_ = 0.0f;
    float pwmOffset_ = 0.0f;
    float envelope_ = 0.0f;
    float cutoff_ = 0.5f;
    std::int32_t lfoCounter_ = 0;
    float phase_ = 0.0f;
    float increment_ = 1.0f;
    std::int32_t gateLength_ = 0;
    float amp_ = 0.0f;
    ResonantLowpass filter_;
    float feedbackResonance_ = -1.0f; ///< the q that filter_.feedback was worked out for
};

class BassVoice::Run {
  public:
    Run(BassVoice& voice, float volume, int firstCounter, int samplesPerStep);

    /// Frame i of the run. With kMayUpdate false the caller knows that no slow update falls on this
    /// frame (framesBeforeUpdate()): the loop then calls nothing and keeps its state in registers.
    template <bool kMayUpdate = true> float next(int i) {
        const float osc = (pwmOffset_ + 256.0f > phase_) ? 2.0f * phase_ / 256.0f - 1.0f : 0.0f;
        phase_ += increment_;
        if (phase_ >= 512.0f)
            phase_ -= 512.0f;
        if (kMayUpdate && lfoCounter_ == 0) [[unlikely]] {
            // The slow update reads none of the run's state and writes only these.
            voice_.slowUpdate();
            pwmOffset_ = voice_.pwmOffset_;
            filter_.cutoff = voice_.filter_.cutoff;
            filter_.feedback = voice_.filter_.feedback;
        }
        lfoCounter_ = lfoCounter_ > 32 ? 0 : lfoCounter_ + 1;
        // The step's last frame reads the counter as 0.
        const int counter = firstCounter_ + i > samplesPerStep_ ? 0 : firstCounter_ + i;
        const float target = counter <= gateLength_ ? volume_ : 1.0f;
        const float low = filter_.process(osc);
        if (amp_ < target)
            amp_ += 16.0f;
        if (amp_ > target)
            amp_ -= 16.0f;
        const float y = bass1_ ? low * amp_ : (low - osc) * amp_;
        // y clamped to ±clip (a NaN passes), written as the two comparisons that are minss and maxss:
        // the signal crosses the clip level at random, and a branch there would often be mispredicted.
        // The same as testing y > clip first for any clip of 0 or more (patterns hold 0..8191).
        const float high = clip_ < y ? clip_ : y;
        return -clip_ > high ? -clip_ : high;
    }

    /// Frames from now on that next<false>() may render: those before the next slow update.
    int framesBeforeUpdate() const { return lfoCounter_ > 0 && lfoCounter_ <= 33 ? 34 - lfoCounter_ : 0; }

    void finish() {
        voice_.phase_ = phase_;
        voice_.amp_ = amp_;
        voice_.filter_ = filter_;
        voice_.lfoCounter_ = lfoCounter_;
    }

  private:
    BassVoice& voice_;
    float phase_, pwmOffset_, amp_;
    ResonantLowpass filter_;
    std::int32_t lfoCounter_;
    const float increment_, volume_, clip_;
    const std::int32_t gateLength_;
    const int firstCounter_, samplesPerStep_;
    const bool bass1_;
};

} // namespace vexla
