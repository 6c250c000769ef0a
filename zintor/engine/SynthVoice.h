// Monophonic two-oscillator acid voice with a 256-step phrase: triggerStep(), renderSample() and
// render() on the audio thread only; the window and the phrase generators write the atomic fields
// from their thread.
#pragma once

#include "common/Random.h"
#include "zintor/engine/Sine.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace zintor {

class SynthVoice {
  public:
    static constexpr int kPhraseSteps = 256;
    static constexpr float kTwoPi = 6.2831855f; ///< 2π as the float the phases wrap at

    SynthVoice() = default;
    virtual ~SynthVoice() = default;
    SynthVoice(const SynthVoice&) = delete;
    SynthVoice& operator=(const SynthVoice&) = delete;

    /// Starts the note of `step` (0..255; other values wrap into the phrase). `samplesPerStep` (≥ 1) sets the staccato release time,
    /// `transpose` is in semitones. Draws one number from `random` (the audio thread's generator)
    /// when the step is staccato, none otherwise.
    void triggerStep(int step, int samplesPerStep, int transpose, common::Random& random);

    /// Next output sample. `ramp` is the amplitude change per sample: 0.05 for the synth lines,
    /// 0.001 for the sub bass.
    float renderSample(float ramp);

    /// Renders `frames` consecutive samples into `out`, exactly as that many renderSample() calls
    /// would, except that the window's sound fields are read once per call rather than per sample.
    /// For the engine's per-chunk loop: a chunk ends where a step starts, so that triggerStep() runs
    /// between chunks.
    void render(float* out, int frames, float ramp);

    /// Osc Mix position 0..256: 0 only oscillator 1, 128 both at full level, 256 only oscillator 2.
    void setOscMix(int position);

    /// Sets `feedback` = resonance + resonance / (1 − cutoff); cutoff below 1.
    void computeFeedback(float cutoff, float resonance);

    /// Oscillator phase step per sample for a pitch in semitones: 2^(s/12) / 512,
    /// i.e. 86.1328125 × 2^(s/12) Hz at 44100 Hz.
    static float phaseIncrement(double semitones);

    // Fields in the order of the voice's data model. Atomic ones are written by the window or the
    // generators while the voice plays (relaxed order); plain ones belong to the audio thread.

    std::atomic<float> detune{0.2f};    ///< oscillator 2 above oscillator 1, semitones (generators)
    float ampTarget = 0.0f;             ///< 1 from each step start, 0 after the release time
    float amp = 0.0f;                   ///< current amplitude, 0..1
    std::atomic<float> osc1Level{1.0f}; ///< 0..1 (setOscMix, generators)
    std::atomic<float> osc2Level{1.0f}; ///< 0..1 (setOscMix)
    std::array<std::atomic<std::int8_t>, kPhraseSteps> notes{};     ///< semitones per step
    std::array<std::atomic<std::uint8_t>, kPhraseSteps> staccato{}; ///< nonzero: released early
    std::array<std::atomic<float>, kPhraseSteps> envRates{};        ///< added to env per sample
    float osc1Increment = 0.0f;                                     ///< phase step per sample
    float osc1Phase = 0.0f;                                         ///< 0 to below 1
    float osc2Increment = 0.0f;
    float osc2Phase = 0.0f;
    int releaseAt = 0;                   ///< samples after the step start before release; −1 never
    int sinceTrigger = 0;                ///< samples rendered since the step start
    std::atomic<float> delaySend{0.5f};  ///< share sent to the delay, 0.001..0.8 (window)
    std::atomic<bool> square{false};     ///< true square, false saw (generators)
    float envRate = 0.0f;                ///< the current step's envRates entry
    float env = 0.0f;                    ///< filter envelope, subtracted from the cutoff
    float lfoPhase = 0.0f;               ///< cutoff oscillator phase, 0..2π radians
    std::atomic<float> lfoRate{0.0001f}; ///< radians per sample (generators)
    std::atomic<float> lfoDepth{0.5f};   ///< amplitude of the cutoff oscillator (generators)
    std::atomic<float> cutoff{0.5f};     ///< base cutoff, 0.001..1 (window)
    std::atomic<float> resonance{0.5f};  ///< 0.001..0.97 (window)
    /// Smoothed cutoff the filter uses, 0.01..0.98 once running. Atomic because the sub-bass
    /// generator presets it while the audio thread moves it.
    std::atomic<float> cutoffNow{0.5f};
    std::atomic<float> inertia{0.0f};      ///< largest fall of cutoffNow per sample, 0.000001..0.001
    std::atomic<float> driveCeiling{0.5f}; ///< overdrive clip level, 0.05..0.999; output divided by it
    std::atomic<float> volume{0.5f};       ///< output gain, 0.001..0.4 (window)
    std::atomic<int> filterType{0};        ///< 0 low-pass, 1 high-pass, 2 ring modulator
    float feedback = 0.0f;                 ///< resonance feedback, recomputed every sample
    float stage1 = 0.0f;                   ///< first filter stage
    float stage2 = 0.0f;                   ///< second filter stage
    /// Ring modulator carrier phase, radians, 0..2π. Kept apart from the filter stages so that
    /// switching the filter type never feeds a phase into the filter (which would click).
    float ringPhase = 0.0f;

  private:
    friend class SynthLines; // renders the engine's three voices side by side

    static constexpr auto kRelaxed = std::memory_order_relaxed;
    static constexpr float kCutoffFloor = 0.01f;
    static constexpr float kCutoffCeiling = 0.98f; // keeps 1 − cutoffNow away from 0 in the feedback
    // A ceiling of 0 or below would divide by zero or invert the clip; nothing musical lies below.
    static constexpr float kMinDriveCeiling = 0.001f;

    // The sound fields as read for one sample or one chunk.
    struct Params {
        bool square;
        float level1;
        float level2;
        float lfoRate;
        float lfoDepth;
        float cutoff;
        float resonance;
        float inertia;
        float clip;   // the drive ceiling, kept above zero
        float makeUp; // 1 / clip
        float volume;
    };

    // Copies of the per-sample state, so that a chunk keeps them in registers; the names match the
    // fields so that one sample routine serves both.
    struct Locals {
        float ampTarget;
        float amp;
        float osc1Increment;
        float osc1Phase;
        float osc2Increment;
        float osc2Phase;
        int releaseAt;
        int sinceTrigger;
        float envRate;
        float env;
        float lfoPhase;
        float feedback;
        float stage1;
        float stage2;
        float ringPhase;
        TrackedSine lfoSine_;
        TrackedSine ringSine_;
    };

    static float feedbackFor(float cutoffValue, float resonanceValue) {
        return resonanceValue + resonanceValue / (1.0f - cutoffValue);
    }
    Params loadParams();
    Locals loadLocals() const;
    void storeLocals(const Locals& locals);

    /// One sample of filter type kType on the state `s` (the voice itself or its Locals).
    template <int kType, class State>
    [[gnu::always_inline]] static float tick(State& s, const Params& p, float ramp, float& cutoffNowValue);

    TrackedSine lfoSine_;
    TrackedSine ringSine_;
    float ceilingInUse_ = 0.0f; // the drive ceiling whose reciprocal is cached
    float ceilingReciprocal_ = 0.0f;
};

// Defined here so that the engine's loop can inline them.
inline SynthVoice::Params SynthVoice::loadParams() {
    const float ceiling = driveCeiling.load(kRelaxed);
    const float clip = ceiling >= kMinDriveCeiling ? ceiling : kMinDriveCeiling;
    if (ceiling != ceilingInUse_) {
        ceilingInUse_ = ceiling;
        ceilingReciprocal_ = 1.0f / clip;
    }
    return Params{square.load(kRelaxed),    osc1Level.load(kRelaxed), osc2Level.load(kRelaxed),
                  lfoRate.load(kRelaxed),   lfoDepth.load(kRelaxed),  cutoff.load(kRelaxed),
                  resonance.load(kRelaxed), inertia.load(kRelaxed),   clip,
                  ceilingReciprocal_,       volume.load(kRelaxed)};
}

inline SynthVoice::Locals SynthVoice::loadLocals() const {
    return Locals{ampTarget, amp,          osc1Increment, osc1Phase, osc2Increment, osc2Phase,
                  releaseAt, sinceTrigger, envRate,       env,       lfoPhase,      feedback,
                  stage1,    stage2,       ringPhase,     lfoSine_,  ringSine_};
}

inline void SynthVoice::storeLocals(const Locals& s) {
    // Only what a sample changes.
    ampTarget = s.ampTarget;
    amp = s.amp;
    osc1Phase = s.osc1Phase;
    osc2Phase = s.osc2Phase;
    sinceTrigger = s.sinceTrigger;
    env = s.env;
    lfoPhase = s.lfoPhase;
    feedback = s.feedback;
    stage1 = s.stage1;
    stage2 = s.stage2;
    ringPhase = s.ringPhase;
    lfoSine_ = s.lfoSine_;
    ringSine_ = s.ringSine_;
}

template <int kType, class State>
[[gnu::always_inline]] inline float SynthVoice::tick(State& s, const Params& p, float ramp,
                                                     float& cutoffNowValue) {
    s.osc1Phase += s.osc1Increment;
    if (s.osc1Phase >= 1.0f)
        s.osc1Phase -= 1.0f;
    s.osc2Phase += s.osc2Increment;
    if (s.osc2Phase >= 1.0f)
        s.osc2Phase -= 1.0f;

    float o1;
    float o2;
    if (p.square) {
        o1 = s.osc1Phase < 0.5f ? 0.5f : -0.5f;
        o2 = s.osc2Phase < 0.5f ? 0.5f : -0.5f;
    } else {
        o1 = s.osc1Phase - 0.5f;
        o2 = s.osc2Phase - 0.5f;
    }

    if (s.releaseAt != -1) {
        ++s.sinceTrigger;
        if (s.sinceTrigger > s.releaseAt)
            s.ampTarget = 0.0f;
    }

    if (s.amp > s.ampTarget) {
        s.amp -= ramp;
        if (s.amp < s.ampTarget)
            s.amp = s.ampTarget;
    }
    if (s.amp < s.ampTarget) {
        s.amp += ramp;
        if (s.amp > s.ampTarget)
            s.amp = s.ampTarget;
    }

    const float mix = o1 * p.level1 + o2 * p.level2;

    s.lfoPhase += p.lfoRate;
    if (s.lfoPhase > kTwoPi)
        s.lfoPhase -= kTwoPi;
    s.env += s.envRate;

    float target = static_cast<float>(s.lfoSine_.next(s.lfoPhase) * p.lfoDepth) + p.cutoff - s.env;
    if (target < kCutoffFloor)
        target = kCutoffFloor;
    else if (target > kCutoffCeiling)
        target = kCutoffCeiling;

    float smoothed = cutoffNowValue;
    if (target < smoothed) {
        smoothed -= p.inertia;
        if (smoothed < target)
            smoothed = target;
    } else if (target > smoothed) {
        smoothed = target;
    }
    cutoffNowValue = smoothed;

    s.feedback = feedbackFor(smoothed, p.resonance);

    float y;
    if constexpr (kType == 2) {
        s.ringPhase += smoothed;
        if (s.ringPhase > kTwoPi)
            s.ringPhase -= kTwoPi;
        y = static_cast<float>(s.ringSine_.next(s.ringPhase)) * mix;
    } else {
        // stage1 += f((m − stage1) + feedback(stage1 − stage2)); stage2 += f(stage1 − stage2),
        // expanded so that the terms that do not depend on the stages are formed off the
        // sample-to-sample dependency chain.
        const float f = smoothed;
        const float keep = 1.0f - f;
        const float next1 = (keep * s.stage1 + f * mix) + (f * s.feedback) * (s.stage1 - s.stage2);
        s.stage2 = keep * s.stage2 + f * next1;
        s.stage1 = next1;
        y = kType == 1 ? mix - s.stage2 : s.stage2;
    }

    y *= s.amp;
    if (y > p.clip)
        y = p.clip;
    else if (y < -p.clip)
        y = -p.clip;
    return y * p.makeUp * p.volume;
}

inline float SynthVoice::renderSample(float ramp) {
    const Params p = loadParams();
    float smoothed = cutoffNow.load(kRelaxed);
    float y;
    switch (filterType.load(kRelaxed)) {
    case 2:
        y = tick<2>(*this, p, ramp, smoothed);
        break;
    case 1:
        y = tick<1>(*this, p, ramp, smoothed);
        break;
    default:
        y = tick<0>(*this, p, ramp, smoothed);
        break;
    }
    cutoffNow.store(smoothed, kRelaxed);
    return y;
}

inline void SynthVoice::render(float* out, int frames, float ramp) {
    const Params p = loadParams();
    Locals s = loadLocals();
    const float startCutoff = cutoffNow.load(kRelaxed);
    float smoothed = startCutoff;
    switch (filterType.load(kRelaxed)) {
    case 2:
        for (int i = 0; i < frames; ++i)
            out[i] = tick<2>(s, p, ramp, smoothed);
        break;
    case 1:
        for (int i = 0; i < frames; ++i)
            out[i] = tick<1>(s, p, ramp, smoothed);
        break;
    default:
        for (int i = 0; i < frames; ++i)
            out[i] = tick<0>(s, p, ramp, smoothed);
        break;
    }
    storeLocals(s);
    // A generator's preset written meanwhile wins over the rendered value.
    if (cutoffNow.load(kRelaxed) == startCutoff)
        cutoffNow.store(smoothed, kRelaxed);
}

inline void SynthVoice::computeFeedback(float cutoffValue, float resonanceValue) {
    feedback = feedbackFor(cutoffValue, resonanceValue);
}

} // namespace zintor
