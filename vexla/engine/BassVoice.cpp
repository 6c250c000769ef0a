// The basslines' pattern generator, step load and slow oscillators.
#include "vexla/engine/BassVoice.h"

#include "vexla/engine/FastSine.h"

#include <cmath>

namespace vexla {

namespace {
constexpr float kOneThreeHundredth = 0.0033333334f;
constexpr float kLfoWrap = 6.28f; // not 2π: the slow oscillators wrap at 6.28 radians
constexpr int kOddNotes[7] = {1, 3, 5, 12, 13, -2, -5};
} // namespace

int randomNote(common::Random& random) {
    // All three numbers are drawn whatever the first gives: later draws depend on it.
    const int a = random.below(3);
    const int b = random.below(3);
    const int c = random.below(7);
    if (a == 0)
        return 0;
    if (a == 1)
        return 12 * b;
    return kOddNotes[c];
}

int randomGate(common::Random& random, int samplesPerStep) {
    switch (random.below(4)) {
    case 2:
        return samplesPerStep - samplesPerStep / 2;
    case 3:
        return samplesPerStep;
    default:
        return samplesPerStep - samplesPerStep / 3;
    }
}

void BassVoice::generate(BassPattern& pattern, BassKind kind, common::Random& random, int stepCount,
                         int samplesPerStep) {
    pattern.clip = static_cast<float>(random.below(8192));
    pattern.mode = random.below(4);
    pattern.echoSend = static_cast<float>(random.below(200)) * kOneThreeHundredth;
    float q = static_cast<float>(random.below(200)) * 0.005f;
    const float lowest = kind == BassKind::Bass1 ? 0.1f : 0.8f;
    if (q < lowest)
        q = lowest;
    else if (q > 0.98f)
        q = 0.98f;
    pattern.resonance = q;
    // bass2 draws this number too and never reads it, so that both voices draw alike.
    pattern.envelopeRate = static_cast<float>(random.below(200)) * 0.00005f;
    pattern.pwmLfoDepth = static_cast<float>(random.below(200));
    pattern.pwmLfoRate = static_cast<float>(random.below(128)) * 0.0001f;
    pattern.cutoffLfoDepth = static_cast<float>(random.below(128)) / 128.0f;
    pattern.cutoffLfoRate = static_cast<float>(random.below(128)) * 0.0001f;
    const int count = stepCount < 0 ? 0 : (stepCount > kStepTableSize ? kStepTableSize : stepCount);
    for (int i = 0; i < count; ++i) {
        pattern.notes[i] = randomNote(random);
        pattern.gates[i] = randomGate(random, samplesPerStep);
    }
}

void BassVoice::stepLoad(int s, int stepCount, int transpose) {
    gateLength_ = pattern.gates[s];
    float e = static_cast<float>(pattern.notes[s] - (kind_ == BassKind::Bass1 ? 12 : 0));
    if (kind_ == BassKind::Bass1)
        envelope_ = 0.0f;
    if (s < stepCount / 2) {
        switch (pattern.mode) {
        case 1:
            e += 5.0f;
            break;
        case 2:
            e += 1.0f;
            break;
        case 3:
            e += 3.0f;
            break;
        default:
            break;
        }
    }
    increment_ = static_cast<float>(
        std::pow(2.0, static_cast<double>((static_cast<float>(transpose) + e) * kOneTwelfth)));
}

// The resonance is taken first (the comma in voice_'s initialiser), so that the copied filter has it.
BassVoice::Run::Run(BassVoice& voice, float volume, int firstCounter, int samplesPerStep)
    : voice_((voice.takeResonance(), voice)), phase_(voice.phase_), pwmOffset_(voice.pwmOffset_),
      amp_(voice.amp_), filter_(voice.filter_), lfoCounter_(voice.lfoCounter_), increment_(voice.increment_),
      volume_(volume), clip_(voice.pattern.clip), gateLength_(voice.gateLength_), firstCounter_(firstCounter),
      samplesPerStep_(samplesPerStep), bass1_(voice.kind_ == BassKind::Bass1) {}

void BassVoice::takeResonance() {
    const float q = pattern.resonance;
    if (q != feedbackResonance_) // the feedback changes only with q or at a slow update
        updateFeedback(q);
}

void BassVoice::render(float* out, int n, float volume, int firstCounter, int samplesPerStep) {
    Run run(*this, volume, firstCounter, samplesPerStep);
    for (int i = 0; i < n; ++i)
        out[i] = run.next(i);
    run.finish();
}

void BassVoice::slowUpdate() {
    pwmLfoPhase_ += pattern.pwmLfoRate;
    if (pwmLfoPhase_ >= kLfoWrap)
        pwmLfoPhase_ -= kLfoWrap;
    cutoffLfoPhase_ += pattern.cutoffLfoRate;
    if (cutoffLfoPhase_ >= kLfoWrap)
        cutoffLfoPhase_ -= kLfoWrap;
    // The slow values are worked out in double and stored in single precision; hence the widened 0.3f.
    // The two sines side by side, so that the compiler works them out in one pair of lanes.
    const double phases[2] = {static_cast<double>(pwmLfoPhase_), static_cast<double>(cutoffLfoPhase_)};
    double sines[2];
    for (int k = 0; k < 2; ++k)
        sines[k] = preciseSin(phases[k]);
    pwmOffset_ = static_cast<float>(sines[0] * pattern.pwmLfoDepth);
    const double sweep = sines[1] * pattern.cutoffLfoDepth;
    if (kind_ == BassKind::Bass1) {
        envelope_ += pattern.envelopeRate;
        cutoff_ = static_cast<float>(sweep + 0.5 - envelope_);
    } else {
        cutoff_ = static_cast<float>(sweep + static_cast<double>(0.3f));
    }
    if (cutoff_ < 0.05f)
        cutoff_ = 0.05f;
    else if (cutoff_ > 0.95f)
        cutoff_ = 0.95f;
    updateFeedback(pattern.resonance);
}

} // namespace vexla
