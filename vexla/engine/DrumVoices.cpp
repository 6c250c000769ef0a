// Generators of the kick, hi-hats and sine, and the sine's step load.
#include "vexla/engine/HatVoice.h"
#include "vexla/engine/KickVoice.h"
#include "vexla/engine/SineVoice.h"

#include <cmath>

namespace vexla {

namespace {
constexpr float kOneTwelfth = 0.0833333358f; // single-precision 1/12
constexpr float kOneThreeHundredth = 0.0033333334f;

int clampedCount(int stepCount) { return stepCount < 0 ? 0 : (stepCount > kStepTableSize ? kStepTableSize : stepCount); }
} // namespace

void KickVoice::generate(common::Random& random) {
    constexpr auto r = std::memory_order_relaxed;
    silenceRequests_.fetch_add(1, r);
    startFreq.store(static_cast<float>(random.below(64)) * (1.0f / 2048.0f) + 0.06f, r);
    slide1.store(static_cast<float>(random.below(1024)) * 0.000004859842f * 0.08f, r);
}

void HatVoice::generate(common::Random& random, int stepCount) {
    constexpr auto r = std::memory_order_relaxed;
    hatEchoSend.store(static_cast<float>(random.below(250)) * kOneThreeHundredth, r);
    const int count = clampedCount(stepCount);
    for (int i = 0; i < count; ++i) {
        hatLevels[i].store(static_cast<float>(random.below(256)) / 256.0f, r);
        hatDecays[i].store(static_cast<float>(random.below(256)) * 0.00001f, r);
    }
    accentOff.store(random.below(2), r);
}

void SineVoice::generate(common::Random& random, int stepCount) {
    constexpr auto r = std::memory_order_relaxed;
    sineEchoSend.store(static_cast<float>(random.below(250)) * kOneThreeHundredth, r);
    const int count = clampedCount(stepCount);
    for (int i = 0; i < count; ++i) {
        sineLevels[i].store(static_cast<float>(random.below(256)) / 256.0f, r);
        sineDecays[i].store(static_cast<float>(random.below(256)) * 0.000002f, r);
    }
    for (int i = 0; i < count; ++i)
        notes[i].store(randomNote(random), r);
}

void SineVoice::stepLoad(int s, int transpose) {
    constexpr auto r = std::memory_order_relaxed;
    state_.target = sineLevels[s].load(r);
    state_.targetDecay = sineDecays[s].load(r);
    const float exponent = static_cast<float>(notes[s].load(r) + transpose + 24) * kOneTwelfth;
    state_.increment = static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
}

} // namespace vexla
