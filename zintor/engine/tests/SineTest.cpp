// The voices' sine agrees with the C library's to double precision over every range it is given.
#include "zintor/engine/Sine.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zintor {
namespace {

TEST(Sine, MatchesTheLibrarySine) {
    struct Range {
        double from;
        double to;
    };
    // The LFO and ring phases (0..2π), and the kick's unwrapped phase (up to 1.5 / (1 − 0.999)).
    for (const Range r : {Range{0.0, 6.2831855}, Range{-10.0, 10.0}, Range{0.0, 1600.0}}) {
        double worst = 0.0;
        constexpr int kPoints = 1000003;
        for (int i = 0; i <= kPoints; ++i) {
            const double x = r.from + (r.to - r.from) * i / kPoints;
            worst = std::max(worst, std::abs(sine(x) - std::sin(x)));
        }
        EXPECT_LT(worst, 1e-15) << "range " << r.from << ".." << r.to;
    }
    for (const double x : {0.0, M_PI / 2, M_PI, 1.5 * M_PI, 2 * M_PI})
        EXPECT_NEAR(sine(x), std::sin(x), 1e-15) << x;
}

// A float phase advanced and wrapped as the voices do, with the rate changed and the phase set
// from outside now and then: the tracked value stays on the exact sine throughout.
TEST(TrackedSine, FollowsTheExactSineThroughWrapsAndRateChanges) {
    TrackedSine tracked;
    float phase = 0.0f;
    double worst = 0.0;
    for (const float rate : {0.0000125f, 0.02f, 0.0f, 0.9f, 0.0001f}) {
        for (int i = 0; i < 400000; ++i) {
            phase += rate;
            if (phase > 6.2831855f)
                phase -= 6.2831855f;
            if (i == 123457)
                phase = 3.0f; // written from outside
            worst = std::max(worst, std::abs(tracked.next(phase) - std::sin(static_cast<double>(phase))));
        }
    }
    EXPECT_LT(worst, 1e-13);
}

} // namespace
} // namespace zintor
