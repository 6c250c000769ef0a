// The inline sine against the C library's over the angles the voices reach.
#include "vexla/engine/FastSine.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vexla {
namespace {

TEST(FastSine, DoubleSineStaysWithinItsBoundOverTheVoicesAngles) {
    // Below 8 radians: the wrapped phases. Up to 8192: the kick's unwrapped phase (at most about 7300).
    double worst = 0.0;
    for (double x = -8.0; x < 8.0; x += 1.0e-4)
        worst = std::max(worst, std::fabs(preciseSin(x) - std::sin(x)));
    for (double x = -8192.0; x < 8192.0; x += 3.1e-3)
        worst = std::max(worst, std::fabs(preciseSin(x) - std::sin(x)));
    EXPECT_LT(worst, 5e-14);
}

TEST(FastSine, FloatSineIsTheRoundedSineToWithinOneUnitInTheLastPlace) {
    int differing = 0, samples = 0;
    for (float x = -7300.0f; x < 7300.0f; x += 0.0173f) {
        const float expected = static_cast<float>(std::sin(static_cast<double>(x)));
        const float got = fastSin(x);
        ++samples;
        if (got != expected) {
            ++differing;
            ASSERT_EQ(std::fabs(got - expected), std::fabs(std::nextafter(expected, got) - expected))
                << "x = " << x;
        }
    }
    EXPECT_LT(differing, samples / 10000); // a rare last-bit difference, not a bias
}

} // namespace
} // namespace vexla
