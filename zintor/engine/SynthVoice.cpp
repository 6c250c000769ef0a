// Monophonic two-oscillator acid voice: the step trigger.
#include "zintor/engine/SynthVoice.h"

#include <cmath>

namespace zintor {

float SynthVoice::phaseIncrement(double semitones) {
    return static_cast<float>(std::exp2(semitones / 12.0) / 512.0);
}

void SynthVoice::triggerStep(int step, int samplesPerStep, int transpose, common::Random& random) {
    step &= kPhraseSteps - 1; // a wrong index from the caller must not read outside the phrase
    state.ampTarget = 1.0f;
    state.env = -0.1f;
    state.envRate = phrase.envRates[step];
    const double note = phrase.notes[step] + transpose;
    state.osc1Increment = phaseIncrement(note);
    state.osc2Increment = phaseIncrement(note + phrase.detune);
    state.sinceTrigger = 0;
    if (phrase.staccato[step] != 0)
        state.releaseAt = random.next() / 16384 == 0 ? samplesPerStep / 3 : samplesPerStep / 2;
    else
        state.releaseAt = -1;
}

} // namespace zintor
