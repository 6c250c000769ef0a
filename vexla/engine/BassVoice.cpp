// The basslines' pattern generator, step load and slow oscillators.
#include "vexla/engine/BassVoice.h"

#include "vexla/engine/FastSine.h"

#include <cmath>

namespace vexla {

namespace {
constexpr float kOneTwelfth = 0.0833333358f; // single-precision 1/12, as the pitch formula has it
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

void BassVoice::generate(common::Random& random, int stepCount, int samplesPerStep) {
    constexpr auto r = std::memory_order_relaxed;
    clip.store(static_cast<float>(random.below(8192)), r);
    mode.store(random.below(4), r);
    echoSend.store(static_cast<float>(random.below(200)) * kOneThreeHundredth, r);
    float q = static_cast<float>(random.below(200)) * 0.005f;
    const float lowest = kind_ == BassKind::Bass1 ? 0.1f : 0.8f;
    if (q < lowest)
        q = lowest;
    else if (q > 0.98f)
        q = 0.98f;
    resonance.store(q, r);
    // bass2 draws this number too and never reads it, so that both voices draw alike.
    envelopeRate.store(static_cast<float>(random.below(200)) * 0.00005f, r);
    pwmLfoDepth.store(static_cast<float>(random.below(200)), r);
    pwmLfoRate.store(static_cast<float>(random.below(128)) * 0.0001f, r);
    cutoffLfoDepth.store(static_cast<float>(random.below(128)) / 128.0f, r);
    cutoffLfoRate.store(static_cast<float>(random.below(128)) * 0.0001f, r);
    const int count = stepCount < 0 ? 0 : (stepCount > kStepTableSize ? kStepTableSize : stepCount);
    for (int i = 0; i < count; ++i) {
        notes[i].store(randomNote(random), r);
        gates[i].store(randomGate(random, samplesPerStep), r);
    }
}

void BassVoice::stepLoad(int s, int stepCount, int transpose) {
    constexpr auto r = std::memory_order_relaxed;
    gateLength_ = gates[s].load(r);
    float e = static_cast<float>(notes[s].load(r) - (kind_ == BassKind::Bass1 ? 12 : 0));
    if (kind_ == BassKind::Bass1)
        envelope_ = 0.0f;
    if (s < stepCount / 2) {
        switch (mode.load(r)) {
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
      volume_(volume), clip_(voice.clip.load(std::memory_order_relaxed)), gateLength_(voice.gateLength_),
      firstCounter_(firstCounter), samplesPerStep_(samplesPerStep), bass1_(voice.kind_ == BassKind::Bass1) {}

void BassVoice::takeResonance() {
    const float q = resonance.load(std::memory_order_relaxed);
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
    constexpr auto r = std::memory_order_relaxed;
    pwmLfoPhase_ += pwmLfoRate.load(r);
    if (pwmLfoPhase_ >= kLfoWrap)
        pwmLfoPhase_ -= kLfoWrap;
    cutoffLfoPhase_ += cutoffLfoRate.load(r);
    if (cutoffLfoPhase_ >= kLfoWrap)
        cutoffLfoPhase_ -= kLfoWrap;
    // The slow values are worked out in double and stored in single precision; hence the widened 0.3f.
    pwmOffset_ = static_cast<float>(preciseSin(static_cast<double>(pwmLfoPhase_)) * pwmLfoDepth.load(r));
    const double sweep = preciseSin(static_cast<double>(cutoffLfoPhase_)) * cutoffLfoDepth.load(r);
    if (kind_ == BassKind::Bass1) {
        envelope_ += envelopeRate.load(r);
        cutoff_ = static_cast<float>(sweep + 0.5 - envelope_);
    } else {
        cutoff_ = static_cast<float>(sweep + static_cast<double>(0.3f));
    }
    if (cutoff_ < 0.05f)
        cutoff_ = 0.05f;
    else if (cutoff_ > 0.95f)
        cutoff_ = 0.95f;
    updateFeedback(resonance.load(r));
}

} // namespace vexla
