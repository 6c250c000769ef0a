// Monophonic two-oscillator acid voice with a 256-step phrase: triggerStep()/renderSample() on the
// audio thread only; the window and the phrase generators write the atomic fields from their thread.
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

    /// Starts the note of `step` (0..255). `samplesPerStep` (≥ 1) sets the staccato release time,
    /// `transpose` is in semitones. Draws one number from `random` (the audio thread's generator)
    /// when the step is staccato, none otherwise.
    void triggerStep(int step, int samplesPerStep, int transpose, common::Random& random);

    /// Next output sample. `ramp` is the amplitude change per sample: 0.05 for the synth lines,
    /// 0.001 for the sub bass.
    float renderSample(float ramp);

    /// Renders `frames` consecutive samples into `out`, exactly as that many renderSample() calls
    /// would, except that the window's sound fields are read once per call rather than per sample.
    /// For the engine's per-chunk loop: a chunk must not cross a step start.
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
    std::array<std::atomic<std::int8_t>, kPhraseSteps> notes{};    ///< semitones per step
    std::array<std::atomic<std::uint8_t>, kPhraseSteps> staccato{}; ///< nonzero: released early
    std::array<std::atomic<float>, kPhraseSteps> envRates{};       ///< added to env per sample
    float osc1Increment = 0.0f; ///< phase step per sample
    float osc1Phase = 0.0f;     ///< 0 to below 1
    float osc2Increment = 0.0f;
    float osc2Phase = 0.0f;
    int releaseAt = 0;                    ///< samples after the step start before release; −1 never
    int sinceTrigger = 0;                 ///< samples rendered since the step start
    std::atomic<float> delaySend{0.5f};   ///< share sent to the delay, 0.001..0.8 (window)
    std::atomic<bool> square{false};      ///< true square, false saw (generators)
    float envRate = 0.0f;                 ///< the current step's envRates entry
    float env = 0.0f;                     ///< filter envelope, subtracted from the cutoff
    float lfoPhase = 0.0f;                ///< cutoff oscillator phase, 0..2π radians
    std::atomic<float> lfoRate{0.0001f};  ///< radians per sample (generators)
    std::atomic<float> lfoDepth{0.5f};    ///< amplitude of the cutoff oscillator (generators)
    std::atomic<float> cutoff{0.5f};      ///< base cutoff, 0.001..1 (window)
    std::atomic<float> resonance{0.5f};   ///< 0.001..0.97 (window)
    /// Smoothed cutoff the filter uses, 0.01..0.98 once running. Atomic because the sub-bass
    /// generator presets it while the audio thread moves it.
    std::atomic<float> cutoffNow{0.5f};
    std::atomic<float> inertia{0.0f};     ///< largest fall of cutoffNow per sample, 0.000001..0.001
    std::atomic<float> driveCeiling{0.5f}; ///< overdrive clip level, 0.05..0.999; output divided by it
    std::atomic<float> volume{0.5f};      ///< output gain, 0.001..0.4 (window)
    std::atomic<int> filterType{0};       ///< 0 low-pass, 1 high-pass, 2 ring modulator
    float feedback = 0.0f;                ///< resonance feedback, recomputed every sample
    float stage1 = 0.0f;                  ///< first filter stage
    float stage2 = 0.0f;                  ///< second filter stage
    /// Ring modulator carrier phase, radians, 0..2π. Kept apart from the filter stages so that
    /// switching the filter type never feeds a phase into the filter (which would click).
    float ringPhase = 0.0f;

private:
    static constexpr auto kRelaxed = std::memory_order_relaxed;
    static constexpr float kCutoffFloor = 0.01f;
    static constexpr float kCutoffCeiling = 0.98f; // keeps 1 − cutoffNow away from 0 in the feedback
    // A ceiling of 0 or below would divide by zero or invert the clip; nothing musical lies below.
    static constexpr float kMinDriveCeiling = 0.001f;

    TrackedSine lfoSine_;
    TrackedSine ringSine_;
    float ceilingInUse_ = 0.0f; // the drive ceiling whose reciprocal is cached
    float ceilingReciprocal_ = 0.0f;
};

// Defined here so that the engine's loop can inline them. The state is worked on in locals so that
// it stays in registers across a chunk.
inline void SynthVoice::render(float* out, int frames, float ramp) {
    const bool squareWave = square.load(kRelaxed);
    const float level1 = osc1Level.load(kRelaxed);
    const float level2 = osc2Level.load(kRelaxed);
    const float rate = lfoRate.load(kRelaxed);
    const float depth = lfoDepth.load(kRelaxed);
    const float baseCutoff = cutoff.load(kRelaxed);
    const float q = resonance.load(kRelaxed);
    const float fall = inertia.load(kRelaxed);
    const int type = filterType.load(kRelaxed);
    const float gain = volume.load(kRelaxed);
    const float ceiling = driveCeiling.load(kRelaxed);
    const float clip = ceiling >= kMinDriveCeiling ? ceiling : kMinDriveCeiling;
    if (ceiling != ceilingInUse_) {
        ceilingInUse_ = ceiling;
        ceilingReciprocal_ = 1.0f / clip;
    }
    const float makeUp = ceilingReciprocal_;

    float phase1 = osc1Phase;
    float phase2 = osc2Phase;
    float target0 = ampTarget;
    float level = amp;
    int since = sinceTrigger;
    float lfo = lfoPhase;
    float envelope = env;
    const float startCutoff = cutoffNow.load(kRelaxed);
    float smoothed = startCutoff;
    float fb = feedback;
    float s1 = stage1;
    float s2 = stage2;
    float ring = ringPhase;
    TrackedSine lfoSine = lfoSine_;
    TrackedSine ringSine = ringSine_;

    for (int i = 0; i < frames; ++i) {
        phase1 += osc1Increment;
        if (phase1 >= 1.0f)
            phase1 -= 1.0f;
        phase2 += osc2Increment;
        if (phase2 >= 1.0f)
            phase2 -= 1.0f;

        float o1;
        float o2;
        if (squareWave) {
            o1 = phase1 < 0.5f ? 0.5f : -0.5f;
            o2 = phase2 < 0.5f ? 0.5f : -0.5f;
        } else {
            o1 = phase1 - 0.5f;
            o2 = phase2 - 0.5f;
        }

        if (releaseAt != -1) {
            ++since;
            if (since > releaseAt)
                target0 = 0.0f;
        }

        if (level > target0) {
            level -= ramp;
            if (level < target0)
                level = target0;
        }
        if (level < target0) {
            level += ramp;
            if (level > target0)
                level = target0;
        }

        const float mix = o1 * level1 + o2 * level2;

        lfo += rate;
        if (lfo > kTwoPi)
            lfo -= kTwoPi;
        envelope += envRate;

        float target = static_cast<float>(lfoSine.next(lfo) * depth) + baseCutoff - envelope;
        if (target < kCutoffFloor)
            target = kCutoffFloor;
        else if (target > kCutoffCeiling)
            target = kCutoffCeiling;

        if (target < smoothed) {
            smoothed -= fall;
            if (smoothed < target)
                smoothed = target;
        } else if (target > smoothed) {
            smoothed = target;
        }

        fb = q + q / (1.0f - smoothed);

        float y;
        if (type == 2) {
            ring += smoothed;
            if (ring > kTwoPi)
                ring -= kTwoPi;
            y = static_cast<float>(ringSine.next(ring)) * mix;
        } else {
            // stage1 += f((m − stage1) + feedback(stage1 − stage2)); stage2 += f(stage1 − stage2),
            // expanded so that the terms that do not depend on the stages are formed off the
            // sample-to-sample dependency chain.
            const float f = smoothed;
            const float keep = 1.0f - f;
            const float next1 = (keep * s1 + f * mix) + (f * fb) * (s1 - s2);
            s2 = keep * s2 + f * next1;
            s1 = next1;
            y = type == 1 ? mix - s2 : s2;
        }

        y *= level;
        if (y > clip)
            y = clip;
        else if (y < -clip)
            y = -clip;
        out[i] = y * makeUp * gain;
    }

    osc1Phase = phase1;
    osc2Phase = phase2;
    ampTarget = target0;
    amp = level;
    sinceTrigger = since;
    lfoPhase = lfo;
    env = envelope;
    // A generator's preset written meanwhile wins over the rendered value.
    if (cutoffNow.load(kRelaxed) == startCutoff)
        cutoffNow.store(smoothed, kRelaxed);
    feedback = fb;
    stage1 = s1;
    stage2 = s2;
    ringPhase = ring;
    lfoSine_ = lfoSine;
    ringSine_ = ringSine;
}

inline float SynthVoice::renderSample(float ramp) {
    float y;
    render(&y, 1, ramp);
    return y;
}

inline void SynthVoice::computeFeedback(float cutoffValue, float resonanceValue) {
    feedback = resonanceValue + resonanceValue / (1.0f - cutoffValue);
}

} // namespace zintor
