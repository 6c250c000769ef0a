// Measurement helpers for the voice tests: frequency from upward zero crossings.
#pragma once

#include <cstddef>
#include <vector>

namespace zintor::test {

inline constexpr double kSampleRate = 44100.0;

/// Frequency in Hz from the first to the last upward zero crossing, each placed between its two
/// samples by linear interpolation. Returns 0 with fewer than two crossings.
inline double frequencyFromCrossings(const std::vector<float>& signal) {
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t i = 1; i < signal.size(); ++i) {
        const float a = signal[i - 1];
        const float b = signal[i];
        if (a < 0.0f && b >= 0.0f) {
            const double at = static_cast<double>(i - 1) + a / static_cast<double>(a - b);
            if (first < 0.0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) * kSampleRate / (last - first);
}

} // namespace zintor::test
