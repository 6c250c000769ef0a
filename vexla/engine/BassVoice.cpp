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

void BassVoice::render(float* out, int n, float volume, int firstCounter, int samplesPerStep) {
    const float q = resonance.load(std::memory_order_relaxed);
    if (q != feedbackResonance_) // the feedback changes only with q or at a slow update
        updateFeedback(q);
    const float clipLevel = clip.load(std::memory_order_relaxed);
    const bool bass1 = kind_ == BassKind::Bass1;
    float phase = phase_, pwmOffset = pwmOffset_, amp = amp_;
    const float increment = increment_;
    ResonantLowpass filter = filter_;
    std::int32_t lfoCounter = lfoCounter_;
    for (int i = 0; i < n; ++i) {
        const float osc = (pwmOffset + 256.0f > phase) ? 2.0f * phase / 256.0f - 1.0f : 0.0f;
        phase += increment;
        if (phase >= 512.0f)
            phase -= 512.0f;
        if (lfoCounter == 0) [[unlikely]] {
            // The slow update reads none of the run's state and writes only these.
            slowUpdate();
            pwmOffset = pwmOffset_;
            filter.cutoff = filter_.cutoff;
            filter.feedback = filter_.feedback;
        }
        lfoCounter = lfoCounter > 32 ? 0 : lfoCounter + 1;
        // The step's last frame reads the counter as 0.
        const int counter = firstCounter + i > samplesPerStep ? 0 : firstCounter + i;
        const float target = counter <= gateLength_ ? volume : 1.0f;
        const float low = filter.process(osc);
        if (amp < target)
            amp += 16.0f;
        if (amp > target)
            amp -= 16.0f;
        const float y = bass1 ? low * amp : (low - osc) * amp;
        out[i] = y > clipLevel ? clipLevel : (y < -clipLevel ? -clipLevel : y);
    }
    phase_ = phase;
    amp_ = amp;
    filter_ = filter;
    lfoCounter_ = lfoCounter;
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
