// A sequenced bass voice: swept ramp oscillator, resonant low-pass, per-step gate and random pattern.
// stepLoad() and render() on the audio thread only; generate() on either thread (tables are atomics).
#pragma once

#include "common/Random.h"
#include "vexla/engine/ResonantLowpass.h"
#include "vexla/engine/StepTables.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace vexla {

/// A semitone offset: 0, 0/12/24, or one of 1, 3, 5, 12, 13, −2, −5. Always draws three numbers.
int randomNote(common::Random& random);
/// A gate length in frames for the given step length (5000 gives 3334, 2500 or 5000).
int randomGate(common::Random& random, int samplesPerStep);

enum class BassKind { Bass1, Bass2 };

class BassVoice {
  public:
    explicit BassVoice(BassKind kind) : kind_(kind) {}
    BassVoice(const BassVoice&) = delete;
    BassVoice& operator=(const BassVoice&) = delete;

    /// Rewrites coefficients and the first stepCount entries of the tables (draws in a fixed order).
    void generate(common::Random& random, int stepCount, int samplesPerStep);

    /// Loads step s (0..63): gate length, pitch from note, mode, transpose (semitones).
    void stepLoad(int s, int stepCount, int transpose);

    /// n frames (1..kMaxRunFrames) into out, in sample units, clamped to ±clip. firstCounter is the first
    /// frame's already advanced step counter; the counter reads 0 once past samplesPerStep. volume in
    /// sample units. Takes a new resonance from the window first.
    void render(float* out, int n, float volume, int firstCounter, int samplesPerStep);

    // Pattern and coefficients, written by generate() on either thread.
    std::array<std::atomic<std::int32_t>, kStepTableSize> notes{};
    std::array<std::atomic<std::int32_t>, kStepTableSize> gates{};
    std::atomic<std::int32_t> mode{0};       ///< 0..3: first-half transposition 0, +5, +1, +3 semitones
    std::atomic<float> clip{0.0f};           ///< output clamp level, 0..8191
    std::atomic<float> echoSend{0.0f};       ///< echo send coefficient
    std::atomic<float> resonance{0.0f};      ///< filter q: 0.1..0.98 (bass1), 0.8..0.98 (bass2)
    std::atomic<float> envelopeRate{0.0f};   ///< bass1: envelope growth per slow update
    std::atomic<float> pwmLfoRate{0.0f};     ///< radians per slow update
    std::atomic<float> pwmLfoDepth{0.0f};    ///< phase units, 0..199
    std::atomic<float> cutoffLfoRate{0.0f};  ///< radians per slow update
    std::atomic<float> cutoffLfoDepth{0.0f}; ///< cutoff fraction, 0..0.9921875

    // Render state, for tests.
    float increment() const { return increment_; }
    float amp() const { return amp_; }
    float cutoff() const { return cutoff_; }

  private:
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

} // namespace vexla
