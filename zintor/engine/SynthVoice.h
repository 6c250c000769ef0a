// Monophonic two-oscillator acid voice playing a 256-step phrase: its phrase, its state and its step
// trigger. SynthLines renders the three voices side by side with the parameters the engine read for the
// block. A plain unit: audio thread only.
#pragma once

#include "common/NoCopy.h"
#include "common/Random.h"
#include "zintor/engine/ControlFields.h"
#include "zintor/engine/Phrase.h"
#include "zintor/engine/Sine.h"

namespace zintor {

/// A voice's sound fields: as the engine read them for one block, and as a scene holds them.
struct VoiceParams {
#define ZN_PLAIN_FIELD(type, name, start) type name = start;
    ZINTOR_VOICE_FIELDS(ZN_PLAIN_FIELD)
#undef ZN_PLAIN_FIELD
    bool operator==(const VoiceParams&) const = default;
};

class SynthVoice : common::NoCopy {
  public:
    static constexpr float kTwoPi = 6.2831855f; ///< 2π as the float the phases wrap at

    virtual ~SynthVoice() = default;

    /// Starts the note of `step` (0..255; other values wrap into the phrase). `samplesPerStep` (≥ 1)
    /// sets the staccato release time, `transpose` is in semitones. Draws one number from `random`
    /// (the audio thread's generator) when the step is staccato, none otherwise.
    void triggerStep(int step, int samplesPerStep, int transpose, common::Random& random);

    /// Oscillator phase step per sample for a pitch in semitones: 2^(s/12) / 512,
    /// i.e. 86.1328125 × 2^(s/12) Hz at 44100 Hz.
    static float phaseIncrement(double semitones);

    /// What changes from sample to sample.
    struct State {
        float ampTarget = 0.0f; ///< 1 from each step start, 0 after the release time
        float amp = 0.0f;       ///< current amplitude, 0..1
        float osc1Increment = 0.0f;
        float osc1Phase = 0.0f; ///< 0 to below 1
        float osc2Increment = 0.0f;
        float osc2Phase = 0.0f;
        int releaseAt = 0;      ///< samples after the step start before release; −1 never
        int sinceTrigger = 0;   ///< samples rendered since the step start
        float envRate = 0.0f;   ///< the current step's envRates entry
        float env = 0.0f;       ///< filter envelope, subtracted from the cutoff
        float lfoPhase = 0.0f;  ///< cutoff oscillator phase, 0..2π radians
        float cutoffNow = 0.5f; ///< smoothed cutoff the filter uses, 0.01..0.98 once running
        float stage1 = 0.0f;    ///< first filter stage
        float stage2 = 0.0f;    ///< second filter stage
        /// Ring modulator carrier phase, radians, 0..2π. Kept apart from the filter stages so that
        /// switching the filter type never feeds a phase into the filter (which would click).
        float ringPhase = 0.0f;
        TrackedSine lfoSine;
        TrackedSine ringSine;
    };

    PhraseState phrase; ///< the phrase and character the generators rolled
    State state;

  private:
    template <int kFilterType> void renderWith(float* out, int frames, float ramp, const VoiceParams& params);
};

} // namespace zintor
