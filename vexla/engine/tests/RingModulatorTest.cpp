// Ring modulator: silence before the first alter, carrier pitch, the swept-carrier arithmetic.
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/tests/OneFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vexla {
namespace {

/// Frequency in Hz of the output for a constant input of 1, from rising zero crossings over one second.
double measuredFrequency(RingModulator& modulator) {
    int first = -1, last = -1, crossings = 0;
    float previous = testing::renderOne(modulator, 1.0f);
    for (int frame = 1; frame < 44100; ++frame) {
        const float current = testing::renderOne(modulator, 1.0f);
        if (previous < 0.0f && current >= 0.0f) {
            if (first < 0)
                first = frame;
            last = frame;
            ++crossings;
        }
        previous = current;
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 44100.0 / (last - first);
}

TEST(RingModulator, SilentUntilFirstAlter) {
    RingModulator modulator;
    for (int frame = 0; frame < 10000; ++frame)
        ASSERT_EQ(testing::renderOne(modulator, static_cast<float>(frame) - 5000.0f), 0.0f);
    EXPECT_EQ(modulator.setting.amEchoSend, 0.0f);
}

TEST(RingModulator, CarrierKeepsItsPitchWhenTheSweepDrivesItDownwardForLong) {
    RingModulator modulator;
    // Park the sweep at 4 radians (sine −0.757) under a deep sweep: the carrier runs backwards at about
    // 2647 Hz for as long as the sweep stands still.
    modulator.setting.sweepRate = 4.0f;
    testing::renderOne(modulator, 0.0f);
    modulator.setting.sweepRate = 0.0f;
    modulator.setting.sweepDepth = 0.498046875f;
    const double expected = 0.498046875 * std::sin(4.0f) * -44100.0 / RingModulator::kPhaseWrap;
    EXPECT_NEAR(measuredFrequency(modulator), expected, 3.0);
    for (int frame = 0; frame < 10000000; ++frame)
        testing::renderOne(modulator, 0.0f); // about four minutes
    EXPECT_NEAR(measuredFrequency(modulator), expected, 3.0);
}

TEST(RingModulator, FollowsTheSweptCarrierArithmetic) {
    common::Random random(2024);
    for (int trial = 0; trial < 8; ++trial) {
        RingModulator modulator;
        RingModulator::alterAm(modulator.setting, random);
        modulator.setting.sweepRate =
            modulator.setting.sweepRate * 50.0f + 0.0001f; // several turns in the test
        const float sweepRate = modulator.setting.sweepRate, sweepDepth = modulator.setting.sweepDepth;
        const float carrierRate = modulator.setting.carrierRate;
        float sweepPhase = 0.0f, carrierPhase = 0.0f;
        double worst = 0.0;
        for (int frame = 0; frame < 441000; ++frame) {
            sweepPhase += sweepRate;
            if (sweepPhase > 6.28f)
                sweepPhase -= 6.28f;
            carrierPhase += std::sin(sweepPhase) * sweepDepth + carrierRate;
            if (carrierPhase > 6.28f)
                carrierPhase -= 6.28f;
            else if (carrierPhase < -6.28f)
                carrierPhase += 6.28f;
            worst = std::max(worst, std::fabs(static_cast<double>(testing::renderOne(modulator, 1000.0f) -
                                                                  std::sin(carrierPhase) * 1000.0f)));
        }
        // Rounding may make one side wrap a frame before the other: 6.28 differs from 2π by 0.0032 radians.
        EXPECT_LT(worst, 5.0) << "trial " << trial;
    }
}

// A silent input lets the render skip the sines (and, for a modulator never set, its phases); the carrier
// must still stand exactly where a modulator that worked every frame has it. The other modulator's input
// is 1e-30: silent to the ear, but not zero, so it takes the full route.
TEST(RingModulator, ASilentStretchLeavesTheCarrierWhereAFullRenderLeavesIt) {
    common::Random random(7);
    RingModulator skipping, working;
    float silent[64] = {}, faint[64], loud[64], skipped[64], worked[64];
    std::fill(std::begin(faint), std::end(faint), 1e-30f);
    for (int i = 0; i < 64; ++i)
        loud[i] = static_cast<float>(i) * 100.0f - 3000.0f;
    for (int round = 0; round < 4; ++round) {
        // Round 0 starts with neither modulator ever set; each later one after a new "AM Alter".
        for (int run = 0; run < 300; ++run) {
            const int n = 1 + (run * 37) % 64;
            skipping.render(silent, skipped, n);
            working.render(faint, worked, n);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(skipped[i], 0.0f) << "round " << round << ", run " << run;
        }
        EXPECT_EQ(skipping.carrierPhase(), working.carrierPhase()) << "round " << round;
        EXPECT_EQ(skipping.sweepPhase(), working.sweepPhase()) << "round " << round;
        for (int run = 0; run < 50; ++run) {
            skipping.render(loud, skipped, 64);
            working.render(loud, worked, 64);
            ASSERT_TRUE(std::equal(skipped, skipped + 64, worked)) << "round " << round << ", run " << run;
        }
        RingModulator::alterAm(working.setting, random);
        skipping.setting = working.setting;
    }
}

} // namespace
} // namespace vexla
