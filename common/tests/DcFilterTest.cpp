// The DC blocker as a listener meets it: offsets gone, the music left alone, and no click when it is
// switched.
#include "common/DcFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <vector>

namespace common {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

/// A sine of `hz` at `level` on an offset of `offset`, `frames` long.
std::vector<float> offsetSine(double hz, double level, double offset, int frames) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(offset + level * std::sin(kTwoPi * hz * i / 44100.0));
    return samples;
}

double mean(const float* samples, int count) {
    return std::accumulate(samples, samples + count, 0.0) / count;
}

double peak(const float* samples, int count) {
    return std::abs(*std::max_element(samples, samples + count,
                                      [](float a, float b) { return std::abs(a) < std::abs(b); }));
}

double largestJump(const std::vector<float>& samples) {
    double largest = 0.0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        largest = std::max(largest, static_cast<double>(std::abs(samples[i] - samples[i - 1])));
    return largest;
}

TEST(DcFilter, TakesTheOffsetOffAndLeavesTheMusic) {
    // An offset of a quarter of full scale under a 220 Hz tone, filtered from the first sample.
    std::vector<float> samples = offsetSine(220.0, 4000.0, 8000.0, 3 * 44100);
    DcFilter filter;
    filter.render(samples.data(), static_cast<int>(samples.size()), 1, true);
    const float* lastSecond = samples.data() + 2 * 44100;
    EXPECT_LT(std::abs(mean(lastSecond, 44100)), 0.5);
    EXPECT_NEAR(peak(lastSecond, 44100), 4000.0, 4000.0 * 0.001); // 220 Hz passes within 0.01 dB

    // Near the corner a tone loses about 3 dB; an octave below it, about 7.
    for (const auto& [hz, gain] : {std::pair{5.0, 0.707}, std::pair{2.5, 0.447}}) {
        std::vector<float> low = offsetSine(hz, 1000.0, 0.0, 10 * 44100);
        DcFilter lowFilter;
        lowFilter.render(low.data(), static_cast<int>(low.size()), 1, true);
        EXPECT_NEAR(peak(low.data() + 8 * 44100, 2 * 44100) / 1000.0, gain, 0.01) << hz << " Hz";
    }
}

TEST(DcFilter, OffLeavesEverySampleAsItIsAndStrideReachesOneChannel) {
    const std::vector<float> plain = offsetSine(100.0, 3000.0, 9000.0, 5000);
    std::vector<float> samples = plain;
    DcFilter filter;
    filter.render(samples.data(), 5000, 1, false);
    EXPECT_EQ(samples, plain);

    // Interleaved: filtering the left channel leaves the right one untouched, and blocks of any size
    // give the same output.
    std::vector<float> stereo(2 * plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        stereo[2 * i] = plain[i];
        stereo[2 * i + 1] = -plain[i];
    }
    std::vector<float> whole = stereo, pieces = stereo;
    DcFilter wholeFilter, piecesFilter;
    wholeFilter.render(whole.data(), 5000, 2, true);
    for (int at = 0, size = 1; at < 5000; at += size, size = size * 3 % 511 + 1)
        piecesFilter.render(pieces.data() + 2 * at, std::min(size, 5000 - at), 2, true);
    EXPECT_EQ(whole, pieces);
    for (std::size_t i = 0; i < plain.size(); ++i)
        ASSERT_EQ(whole[2 * i + 1], -plain[i]);
}

TEST(DcFilter, SwitchingOnOrOffGlidesInsteadOfJumping) {
    // A quarter of full scale of offset under a quiet tone: switched on after a second and off after two,
    // the output never moves by more than the tone alone does from sample to sample, plus the glide.
    std::vector<float> samples = offsetSine(110.0, 500.0, 8000.0, 4 * 44100);
    const double toneJump = 500.0 * kTwoPi * 110.0 / 44100.0;
    DcFilter filter;
    filter.render(samples.data(), 44100, 1, false);
    filter.render(samples.data() + 44100, 2 * 44100, 1, true);
    filter.render(samples.data() + 3 * 44100, 44100, 1, false);
    EXPECT_LT(largestJump(samples), toneJump + 2.0 * 8000.0 / kDcFilterFadeFrames);
    // The glides end: the offset is gone before the switch off, and back at the end.
    EXPECT_LT(std::abs(mean(samples.data() + 2 * 44100, 44100)), 1.0);
    EXPECT_NEAR(mean(samples.data() + 3 * 44100 + 22050, 22050), 8000.0, 30.0);
}

TEST(DcFilter, ANonFiniteSampleDoesNotStayInTheFilter) {
    std::vector<float> samples = offsetSine(440.0, 1000.0, 0.0, 2 * 44100);
    samples[100] = std::numeric_limits<float>::quiet_NaN();
    DcFilter filter;
    filter.render(samples.data(), 512, 1, true);
    filter.render(samples.data() + 512, 2 * 44100 - 512, 1, true);
    for (std::size_t i = 512; i < samples.size(); ++i)
        ASSERT_TRUE(std::isfinite(samples[i])) << "frame " << i;
}

} // namespace
} // namespace common
