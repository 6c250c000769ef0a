#include "common/Random.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(Random, FirstValuesAfterSeedingWithOneAreTheWellKnownOnes) {
    common::Random r;
    r.seed(1);
    EXPECT_EQ(r.next(), 41);
    EXPECT_EQ(r.next(), 18467);
    EXPECT_EQ(r.next(), 6334);
    EXPECT_EQ(r.next(), 26500);
    EXPECT_EQ(r.next(), 19169);
}

TEST(Random, UnseededStartsAsIfSeededWithOneAndSeedRestarts) {
    common::Random unseeded;
    common::Random seeded(7);
    seeded.seed(1);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(unseeded.next(), seeded.next());
    seeded.seed(1);
    EXPECT_EQ(seeded.next(), 41);
}

TEST(Random, ValuesStayIn15BitsAndBelowStaysInRange) {
    common::Random r(12345);
    std::set<int> seen;
    for (int i = 0; i < 100000; ++i) {
        int v = r.next();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
        int b = r.below(7);
        ASSERT_GE(b, 0);
        ASSERT_LT(b, 7);
        seen.insert(b);
    }
    EXPECT_EQ(seen.size(), 7u);
}

TEST(Random, BelowIsTheScaledDraw) {
    common::Random a(99), b(99);
    for (int n : {1, 3, 200, 8192, 32768}) {
        int r = b.next();
        EXPECT_EQ(a.below(n), static_cast<int>((static_cast<long long>(n) * r) / 32768)) << n;
    }
}

} // namespace
