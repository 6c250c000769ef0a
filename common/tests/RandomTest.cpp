// The shared random generator: the well-known sequence. below(), the scaled draw every re-roll makes,
// is held by the golden renders of both programs.
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

} // namespace
