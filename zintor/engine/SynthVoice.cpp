// Monophonic two-oscillator acid voice: oscillators, filter envelope with LFO, smoothed cutoff,
// three filter types, amplitude ramp and hard-clipping overdrive with make-up gain.
#include "zintor/engine/SynthVoice.h"

#include "zintor/engine/Sine.h"

#include <cmath>

namespace zintor {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kCutoffFloor = 0.01f;
constexpr float kCutoffCeiling = 0.98f; // keeps 1 − cutoffNow away from 0 in the feedback
// A ceiling of 0 or below would divide by zero or invert the clip; nothing musical lies below this.
constexpr float kMinDriveCeiling = 0.001f;
} // namespace

float SynthVoice::phaseIncrement(double semitones) {
    return static_cast<float>(std::exp2(semitones / 12.0) / 512.0);
}

void SynthVoice::triggerStep(int step, int samplesPerStep, int transpose, common::Random& random) {
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

void SynthVoice::computeFeedback(float cutoffValue, float resonanceValue) {
    feedback = resonanceValue + resonanceValue / (1.0f - cutoffValue);
}

float SynthVoice::renderSample(float ramp) {
    osc1Phase += osc1Increment;
    if (osc1Phase >= 1.0f)
        osc1Phase -= 1.0f;
    osc2Phase += osc2Increment;
    if (osc2Phase >= 1.0f)
        osc2Phase -= 1.0f;

    float o1;
    float o2;
    if (square.load(kRelaxed)) {
        o1 = osc1Phase < 0.5f ? 0.5f : -0.5f;
        o2 = osc2Phase < 0.5f ? 0.5f : -0.5f;
    } else {
        o1 = osc1Phase - 0.5f;
        o2 = osc2Phase - 0.5f;
    }

    if (releaseAt != -1) {
        ++sinceTrigger;
        if (sinceTrigger > releaseAt)
            ampTarget = 0.0f;
    }

    if (amp > ampTarget) {
        amp -= ramp;
        if (amp < ampTarget)
            amp = ampTarget;
    }
    if (amp < ampTarget) {
        amp += ramp;
        if (amp > ampTarget)
            amp = ampTarget;
    }

    const float mix = o1 * osc1Level.load(kRelaxed) + o2 * osc2Level.load(kRelaxed);

    lfoPhase += lfoRate.load(kRelaxed);
    if (lfoPhase > kTwoPi)
        lfoPhase -= kTwoPi;
    env += envRate;

    float target = static_cast<float>(sine(lfoPhase) * lfoDepth.load(kRelaxed)) + cutoff.load(kRelaxed) - env;
    if (target < kCutoffFloor)
        target = kCutoffFloor;
    else if (target > kCutoffCeiling)
        target = kCutoffCeiling;

    float smoothed = cutoffNow.load(kRelaxed);
    if (target < smoothed) {
        smoothed -= inertia.load(kRelaxed);
        if (smoothed < target)
            smoothed = target;
    } else if (target > smoothed) {
        smoothed = target;
    }
    cutoffNow.store(smoothed, kRelaxed);

    computeFeedback(smoothed, resonance.load(kRelaxed));

    float y;
    const int type = filterType.load(kRelaxed);
    if (type == 2) {
        ringPhase += smoothed;
        if (ringPhase > kTwoPi)
            ringPhase -= kTwoPi;
        y = static_cast<float>(sine(ringPhase)) * mix;
    } else {
        stage1 += smoothed * ((mix - stage1) + feedback * (stage1 - stage2));
        stage2 += smoothed * (stage1 - stage2);
        y = type == 1 ? mix - stage2 : stage2;
    }

    y *= amp;

    float ceiling = driveCeiling.load(kRelaxed);
    if (!(ceiling >= kMinDriveCeiling))
        ceiling = kMinDriveCeiling;
    if (y > ceiling)
        y = ceiling;
    else if (y < -ceiling)
        y = -ceiling;
    return y * (1.0f / ceiling) * volume.load(kRelaxed);
}

} // namespace zintor
