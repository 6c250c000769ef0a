// A sequenced bass voice: swept ramp oscillator, resonant low-pass, per-step gate and random pattern.
// stepLoad() and render() on the audio thread only; generate() on either thread (tables are atomics).
#pragma once

#include "common/Random.h"
#include "vexla/engine/ResonantLowpass.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace vexla {

inline constexpr int kStepTableSize = 64;

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

    /// One frame; sampleInStep is the frame's already advanced step counter. volume in sample units.
    float render(float volume, int sampleInStep) {
        takeResonance();
        return renderPrepared(volume, sampleInStep);
    }

    /// For a render of many frames: takes the window's resonance once, before a run of renderPrepared().
    void beginRun() { takeResonance(); }

    /// render() without looking for a new resonance.
    float renderPrepared(float volume, int sampleInStep) {
        Run run(*this);
        const float y = run.render(volume, sampleInStep);
        run.finish();
        return y;
    }

    /// The render state in locals for a run of frames between beginRun() and finish(), so that it stays
    /// in registers; render() is renderPrepared() frame by frame. Nothing else may touch the voice meanwhile.
    class Run {
    public:
        explicit Run(BassVoice& voice)
            : voice_(voice), phase_(voice.phase_), increment_(voice.increment_), pwmOffset_(voice.pwmOffset_),
              amp_(voice.amp_), filter_(voice.filter_), lfoCounter_(voice.lfoCounter_),
              gateLength_(voice.gateLength_), bass1_(voice.kind_ == BassKind::Bass1) {}

        float render(float volume, int sampleInStep) {
            const float osc = (pwmOffset_ + 256.0f > phase_) ? 2.0f * phase_ / 256.0f - 1.0f : 0.0f;
            phase_ += increment_;
            if (phase_ >= 512.0f)
                phase_ -= 512.0f;
            if (lfoCounter_ == 0) [[unlikely]] {
                // The slow update reads none of the run's state and writes only these.
                voice_.slowUpdate();
                pwmOffset_ = voice_.pwmOffset_;
                filter_.cutoff = voice_.filter_.cutoff;
                filter_.feedback = voice_.filter_.feedback;
            }
            lfoCounter_ = lfoCounter_ > 32 ? 0 : lfoCounter_ + 1;
            const float target = sampleInStep <= gateLength_ ? volume : 1.0f;
            const float low = filter_.process(osc);
            if (amp_ < target)
                amp_ += 16.0f;
            if (amp_ > target)
                amp_ -= 16.0f;
            return bass1_ ? low * amp_ : (low - osc) * amp_;
        }

        /// Hands the state back to the voice.
        void finish() {
            voice_.phase_ = phase_;
            voice_.amp_ = amp_;
            voice_.filter_ = filter_;
            voice_.lfoCounter_ = lfoCounter_;
        }

    private:
        BassVoice& voice_;
        float phase_, increment_, pwmOffset_, amp_;
        ResonantLowpass filter_;
        std::int32_t lfoCounter_, gateLength_;
        bool bass1_;
    };

    // Pattern and coefficients, written by generate() on either thread.
    std::array<std::atomic<std::int32_t>, kStepTableSize> notes{};
    std::array<std::atomic<std::int32_t>, kStepTableSize> gates{};
    std::atomic<std::int32_t> mode{0};      ///< 0..3: first-half transposition 0, +5, +1, +3 semitones
    std::atomic<float> clip{0.0f};          ///< output clamp level, 0..8191
    std::atomic<float> echoSend{0.0f};      ///< echo send coefficient
    std::atomic<float> resonance{0.0f};     ///< filter q: 0.1..0.98 (bass1), 0.8..0.98 (bass2)
    std::atomic<float> envelopeRate{0.0f};  ///< bass1: envelope growth per slow update
    std::atomic<float> pwmLfoRate{0.0f};    ///< radians per slow update
    std::atomic<float> pwmLfoDepth{0.0f};   ///< phase units, 0..199
    std::atomic<float> cutoffLfoRate{0.0f}; ///< radians per slow update
    std::atomic<float> cutoffLfoDepth{0.0f};///< cutoff fraction, 0..0.9921875

    // Render state, for tests.
    float increment() const { return increment_; }
    float amp() const { return amp_; }
    int gateLength() const { return gateLength_; }
    float cutoff() const { return cutoff_; }

private:
    void takeResonance() {
        const float q = resonance.load(std::memory_order_relaxed);
        if (q != feedbackResonance_) // the feedback changes only with q or at a slow update
            updateFeedback(q);
    }

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
