// The length of the voices' per-step tables, the count of entries a generator rewrites, and the draws
// two voices' patterns start with.
#pragma once

#include "common/Random.h"

namespace vexla {

/// Entries of every per-step table: the longest sequence.
inline constexpr int kStepTableSize = 64;

/// stepCount limited to 0..kStepTableSize: how many entries a generator rewrites.
constexpr int clampedStepCount(int stepCount) {
    return stepCount < 0 ? 0 : (stepCount > kStepTableSize ? kStepTableSize : stepCount);
}

/// How the hi-hats and the sine start their patterns: the echo send (randomBelow(250) / 300), then the
/// first stepCount levels (randomBelow(256) / 256) and decays (randomBelow(256) × decayStep) in pairs.
/// Returns how many steps it drew.
template <class Pattern>
int drawEchoLevelsAndDecays(Pattern& pattern, common::Random& random, int stepCount, float decayStep) {
    constexpr float kOneThreeHundredth = 0.0033333334f;
    pattern.echoSend = static_cast<float>(random.below(250)) * kOneThreeHundredth;
    const int count = clampedStepCount(stepCount);
    for (int i = 0; i < count; ++i) {
        pattern.levels[i] = static_cast<float>(random.below(256)) / 256.0f;
        pattern.decays[i] = static_cast<float>(random.below(256)) * decayStep;
    }
    return count;
}

} // namespace vexla
