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

} // namespace
} // namespace zintor
