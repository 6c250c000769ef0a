// Ring modulator: silence before the first alter, carrier frequency, the randomiser's draws.
#include "vexla/engine/RingModulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vexla {
namespace {

constexpr double kSampleRate = 44100.0;

/// Frequency of the modulator's output for a constant input of 1, from rising zero crossings.
double measuredFrequency(RingModulator& modulator, int frames) {
    int crossings = 0;
    int first = -1;
    int last = -1;
    float previous = modulator.render(1.0f);
    for (int frame = 1; frame < frames; ++frame) {
        const float current = modulator.render(1.0f);
        if (previous < 0.0f && current >= 0.0f) {
            if (first < 0) first = frame;
            last = frame;
            ++crossings;
        }
        previous = current;
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * kSampleRate / (last - first);
}

TEST(RingModulator, SilentUntilFirstAlter) {
    RingModulator modulator;
    for (int frame = 0; frame < 10000; ++frame) ASSERT_EQ(modulator.render(static_cast<float>(frame) - 5000.0f), 0.0f);
    EXPECT_EQ(modulator.amBassSineSend.load(), 0.0f);
    EXPECT_EQ(modulator.amHatSend.load(), 0.0f);
    EXPECT_EQ(modulator.amEchoSend.load(), 0.0f);
}

TEST(RingModulator, CarrierAdvancesByItsRatePerFrame) {
    RingModulator modulator;
    // One turn is 6.28 radians of advance: the wrap point, not 2π.
    modulator.carrierRate = static_cast<float>(RingModulator::kPhaseWrap * 1000.0 / kSampleRate);
    EXPECT_NEAR(measuredFrequency(modulator, 44100), 1000.0, 1.0);
}

TEST(RingModulator, OutputScalesWithInput) {
    RingModulator a;
    RingModulator b;
    for (RingModulator* m : {&a, &b}) {
        m->carrierRate = 0.01f;
        m->sweepRate = 0.001f;
        m->sweepDepth = 0.2f;
    }
    for (int frame = 0; frame < 5000; ++frame) {
        const float x = 1000.0f * std::sin(static_cast<float>(frame) * 0.05f);
        ASSERT_EQ(b.render(-2.0f * x), -2.0f * a.render(x));
    }
}

TEST(RingModulator, SweepRaisesAndLowersTheCarrier) {
    RingModulator modulator;
    // Move the sweep to π/2 in one frame and hold it there: the carrier then runs at rate + depth.
    modulator.sweepRate = 1.5707964f;
    modulator.render(0.0f);
    modulator.sweepRate = 0.0f;
    modulator.sweepDepth = static_cast<float>(RingModulator::kPhaseWrap * 2000.0 / kSampleRate);
    modulator.carrierRate = static_cast<float>(RingModulator::kPhaseWrap * 500.0 / kSampleRate);
    EXPECT_NEAR(measuredFrequency(modulator, 44100), 2500.0, 2.0);
}

TEST(RingModulator, CarrierKeepsItsPitchWhenTheSweepDrivesItDownwardForLong) {
    RingModulator modulator;
    // Park the sweep at 4 radians (sin −0.757) with a deep sweep and no carrier rate: the phase runs
    // backwards at 0.377 radians per frame, about 2647 Hz, for as long as the sweep stands still.
    modulator.sweepRate = 4.0f;
    modulator.render(0.0f);
    modulator.sweepRate = 0.0f;
    modulator.sweepDepth = 0.498046875f;
    const double expected = 0.498046875 * std::sin(4.0f) * -kSampleRate / RingModulator::kPhaseWrap;
    EXPECT_NEAR(measuredFrequency(modulator, 44100), expected, 3.0);
    for (int frame = 0; frame < 10000000; ++frame) modulator.render(0.0f);  // about four minutes
    EXPECT_GT(modulator.carrierPhase(), -2.0f * RingModulator::kPhaseWrap);
    EXPECT_NEAR(measuredFrequency(modulator, 44100), expected, 3.0);
}

TEST(RingModulator, FollowsTheSweptCarrierArithmetic) {
    // The unit's arithmetic written out plainly with the library sine, for every setting alterAm can give.
    common::Random random(2024);
    for (int trial = 0; trial < 8; ++trial) {
        RingModulator modulator;
        modulator.alterAm(random);
        // Exaggerate the sweep so that it turns several times within the test.
        modulator.sweepRate = modulator.sweepRate.load() * 50.0f + 0.0001f;
        const float sweepRate = modulator.sweepRate.load();
        const float sweepDepth = modulator.sweepDepth.load();
        const float carrierRate = modulator.carrierRate.load();
        float sweepPhase = 0.0f;
        float carrierPhase = 0.0f;
        double worst = 0.0;
        for (int frame = 0; frame < 441000; ++frame) {
            sweepPhase += sweepRate;
            if (sweepPhase > 6.28f) sweepPhase -= 6.28f;
            carrierPhase += std::sin(sweepPhase) * sweepDepth + carrierRate;
            if (carrierPhase > 6.28f) carrierPhase -= 6.28f;
            else if (carrierPhase < -6.28f) carrierPhase += 6.28f;
            const float expected = std::sin(carrierPhase) * 1000.0f;
            worst = std::max(worst, static_cast<double>(std::fabs(modulator.render(1000.0f) - expected)));
        }
        // Rounding differences may shift the carrier's phase by a few thousandths of a radian over ten seconds.
        EXPECT_LT(worst, 5.0) << "trial " << trial;
    }
}

TEST(AlterAm, SixDrawsInOrderWithoutResettingPhases) {
    RingModulator modulator;
    modulator.carrierRate = 0.1f;
    modulator.sweepRate = 0.2f;
    for (int frame = 0; frame < 10; ++frame) modulator.render(1.0f);
    const float carrierPhase = modulator.carrierPhase();
    const float sweepPhase = modulator.sweepPhase();

    common::Random random(4242);
    common::Random twin(4242);
    modulator.alterAm(random);
    EXPECT_EQ(modulator.amBassSineSend.load(), static_cast<float>(twin.below(256)) / 512.0f);
    EXPECT_EQ(modulator.amHatSend.load(), static_cast<float>(twin.below(360)) / 512.0f);
    EXPECT_EQ(modulator.carrierRate.load(), static_cast<float>(twin.below(128)) * 3.906249901319825e-07f);
    EXPECT_EQ(modulator.sweepRate.load(), static_cast<float>(twin.below(256)) * 3.906249901319825e-08f);
    EXPECT_EQ(modulator.sweepDepth.load(), static_cast<float>(twin.below(256)) / 512.0f);
    EXPECT_EQ(modulator.amEchoSend.load(), static_cast<float>(twin.below(276)) / 256.0f);
    EXPECT_EQ(random.state(), twin.state());
    EXPECT_EQ(modulator.carrierPhase(), carrierPhase);
    EXPECT_EQ(modulator.sweepPhase(), sweepPhase);
}

} // namespace
} // namespace vexla
