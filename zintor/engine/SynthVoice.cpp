// Monophonic two-oscillator acid voice: the step trigger and the oscillator mix (the per-sample
// render is inline in the header).
#include "zintor/engine/SynthVoice.h"

#include <cmath>

namespace zintor {

float SynthVoice::phaseIncrement(double semitones) {
    return static_cast<float>(std::exp2(semitones / 12.0) / 512.0);
}

void SynthVoice::triggerStep(int step, int samplesPerStep, int transpose, common::Random& random) {
    step &= kPhraseSteps - 1; // a wrong index from the caller must not read outside the phrase
    ampTarget = 1.0f;
    env = -0.1f;
    envRate = envRates[step].load(kRelaxed);
    const double note = notes[step].load(kRelaxed) + transpose;
    osc1Increment = phaseIncrement(note);
    osc2Increment = phaseIncrement(note + detune.load(kRelaxed));
    sinceTrigger = 0;
    if (staccato[step].load(kRelaxed) != 0)
        releaseAt = random.next() / 16384 == 0 ? samplesPerStep / 3 : samplesPerStep / 2;
    else
        releaseAt = -1;
}

void SynthVoice::setOscMix(int position) {
    const float x = static_cast<float>(position) * 0.0078125f;
    osc2Level.store(x < 1.0f ? x : 1.0f, kRelaxed);
    const float level1 = 2.0f - x;
    osc1Level.store(level1 < 1.0f ? level1 : 1.0f, kRelaxed);
}

} // namespace zintor
