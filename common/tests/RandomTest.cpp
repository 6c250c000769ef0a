// The shared random generator: the well-known sequence, and below() as the scaled draw.
#include "common/Random.h"

#include <gtest/gtest.h>

namespace {

TEST(Random, UnseededOrSeededWithOneGivesTheWellKnownSequence) {
    common::Random unseeded;
    common::Random reseeded(7);
    reseeded.next();
    reseeded.seed(1);
    for (const int expected : {41, 18467, 6334, 26500, 19169}) {
        EXPECT_EQ(unseeded.next(), expected);
        EXPECT_EQ(reseeded.next(), expected);
    }
}

TEST(Random, BelowIsTheScaledDraw) {
    common::Random a(99), b(99);
    for (int n : {1, 3, 200, 8192, 32768}) {
        int r = b.next();
        EXPECT_EQ(a.below(n), static_cast<int>((static_cast<long long>(n) * r) / 32768)) << n;
    }
}

} // namespace
