// The length of the voices' per-step tables and the count of entries a generator rewrites. Pure.
#pragma once

namespace vexla {

/// Entries of every per-step table: the longest sequence.
inline constexpr int kStepTableSize = 64;

/// stepCount limited to 0..kStepTableSize: how many entries a generator rewrites.
constexpr int clampedStepCount(int stepCount) {
    return stepCount < 0 ? 0 : (stepCount > kStepTableSize ? kStepTableSize : stepCount);
}

} // namespace vexla
