// The sample players and effects: the stretch over a pass, slice positions and the end of a sample,
// the ring modulator's carrier pitch, the echo's impulse at the exact delay, and the inline sines.
#include "vexla/engine/EchoUnit.h"
#include "vexla/engine/RingModulator.h"
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/StretchLooper.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include "vexla/engine/FastSine.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace vexla {
namespace {

using testing::fillSlotWith;
using testing::renderOne;

TEST(StretchLooper, SpeedOneHearsEverySecondFrameTwice) {
    SampleSlot slot;
    fillSlotWith(slot, 3 * 2000, [](std::int32_t i) { return static_cast<std::int16_t>(i); });
    StretchLooper looper(slot);
    looper.restart(3, 2000);
    for (int frame = 0; frame < 6000; ++frame) {
        const testing::StereoFrame out = renderOne(looper);
        ASSERT_EQ(out.left, static_cast<float>(frame - frame % 2)) << "frame " << frame;
        ASSERT_EQ(out.right, out.left);
    }
    EXPECT_EQ(renderOne(looper).left, 0.0f);
}

TEST(StretchLooper, SoundsForStepCountTimesSamplesPerStepWhateverTheLength) {
    for (std::int32_t length : {1, 3, 777, 44100, 1000000}) {
        SampleSlot slot;
        fillSlotWith(slot, length, [](std::int32_t) { return std::int16_t{-7}; });
        StretchLooper looper(slot);
        for (auto [steps, samplesPerStep] : {std::pair{3, 2000}, std::pair{16, 5000}, std::pair{64, 20000}}) {
            looper.restart(steps, samplesPerStep);
            long lastSounding = -1;
            for (long frame = 0; frame < static_cast<long>(steps) * (samplesPerStep + 1); ++frame)
                if (renderOne(looper).left != 0.0f)
                    lastSounding = frame;
            // 44100 frames on 16 × 5000 play at 0.55125 and end 16 frames before the pass does.
            EXPECT_EQ(lastSounding, static_cast<long>(steps) * samplesPerStep - 1) << length << " frames";
        }
    }
}

TEST(StretchLooper, SilentWhenEmptyStoppedOrStretchedOverNothing) {
    SampleSlot empty;
    StretchLooper emptyLooper(empty);
    emptyLooper.restart(16, 5000);
    EXPECT_EQ(renderOne(emptyLooper).left, 0.0f);

    SampleSlot slot;
    fillSlotWith(
        slot, 100, [](std::int32_t) { return std::int16_t{500}; },
        [](std::int32_t) { return std::int16_t{-1000}; });
    StretchLooper looper(slot);
    looper.restart(0, 5000);
    EXPECT_EQ(renderOne(looper).left, 0.0f);
    looper.restart(3, 2000);
    const testing::StereoFrame out = renderOne(looper, 0.5f);
    EXPECT_EQ(out.left, 250.0f);
    EXPECT_EQ(out.right, -500.0f);
    looper.stop();
    EXPECT_EQ(renderOne(looper).left, 0.0f);
}

TEST(SlicerVoice, SlicePositionsWithoutOverflow) {
    EXPECT_EQ(SlicerVoice::slicePosition(128, 1000), 500);
    for (int slice = 0; slice < 256; ++slice)
        EXPECT_EQ(SlicerVoice::slicePosition(slice, 1), 0);
    EXPECT_EQ(SlicerVoice::slicePosition(249, 2000000000), 1945312500); // 249 × 2e9 needs 39 bits
}

TEST(SlicerVoice, SilentPastTheEndAndWhenTheSampleShrinks) {
    SampleSlot slot;
    fillSlotWith(slot, 1000, [](std::int32_t) { return std::int16_t{300}; });
    SlicerVoice slicer(slot);
    slicer.pattern.slices[0] = 249; // starts at 972: 28 frames before the end
    slicer.stepLoad(0);
    int sounding = 0;
    for (int frame = 0; frame < 100; ++frame)
        sounding += renderOne(slicer).left != 0.0f;
    EXPECT_EQ(sounding, 28);
    slicer.stepLoad(0);
    fillSlotWith(slot, 10, [](std::int32_t) { return std::int16_t{300}; });
    EXPECT_EQ(renderOne(slicer).left, 0.0f) << "a shorter sample loaded mid-step is not read past its end";
}

float modulate(RingModulator& modulator, float input) {
    float out = 0.0f;
    modulator.render(&input, &out, 1);
    return out;
}

/// Frequency in Hz of the output for a constant input of 1, from rising zero crossings over one second.
double measuredFrequency(RingModulator& modulator) {
    int first = -1, last = -1, crossings = 0;
    float previous = modulate(modulator, 1.0f);
    for (int frame = 1; frame < 44100; ++frame) {
        const float current = modulate(modulator, 1.0f);
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

TEST(RingModulator, SilentUntilTheFirstAlterThenTheCarrierKeepsItsPitchForMinutes) {
    RingModulator modulator;
    for (int frame = 0; frame < 10000; ++frame)
        ASSERT_EQ(modulate(modulator, static_cast<float>(frame) - 5000.0f), 0.0f);
    // Park the sweep at 4 radians (sine −0.757) under a deep sweep: the carrier runs backwards at about
    // 2647 Hz for as long as the sweep stands still.
    modulator.setting.sweepRate = 4.0f;
    modulate(modulator, 0.0f);
    modulator.setting.sweepRate = 0.0f;
    modulator.setting.sweepDepth = 0.498046875f;
    const double expected = 0.498046875 * std::sin(4.0f) * -44100.0 / RingModulator::kPhaseWrap;
    EXPECT_NEAR(measuredFrequency(modulator), expected, 3.0);
    for (int frame = 0; frame < 10000000; ++frame)
        modulate(modulator, 0.0f); // about four minutes
    EXPECT_NEAR(measuredFrequency(modulator), expected, 3.0);
}

/// A generator whose next below(5) gives k.
common::Random randomGiving(int k) {
    for (std::uint32_t seed = 1;; ++seed)
        if (common::Random(seed).below(5) == k)
            return common::Random(seed);
}

// A silent input lets the render skip the sines (and, for a modulator never set, its phases); the carrier
// must still stand exactly where a modulator that worked every frame has it, which the next loud runs
// hear. The other modulator's input is 1e-30: silent to the ear, but not zero, so it takes the full route.
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
        for (int run = 0; run < 50; ++run) {
            skipping.render(loud, skipped, 64);
            working.render(loud, worked, 64);
            ASSERT_TRUE(std::equal(skipped, skipped + 64, worked)) << "round " << round << ", run " << run;
        }
        RingModulator::alterAm(working.setting, random);
        skipping.setting = working.setting;
    }
}

// 1.0 on the left and −0.5 on the right into the line on the first frame: repeats at exact multiples of
// the delay, each 0.7 of the one before, whatever the lengths of the runs (1 to 64 frames, so that runs
// start and end on both sides of the line's wrap point).
TEST(EchoUnit, RepeatsAtOneToFiveStepsLessOneFrameExactlyAcrossTheWrap) {
    struct Case {
        int samplesPerStep, choice; // choice −1: the delay the echo starts with; −2: the delay set directly
        int delay;
    };
    // 64 and 65472 (65536 − 64) are the shortest and longest delays whose runs never read what they wrote.
    std::vector<Case> cases = {
        {5000, -1, 14999}, {5000, 0, 4999}, {5000, 2, 14999}, {5000, 4, 24999}, {20000, 4, 65535}};
    for (const int delay : {1, 3, 63, 64, 65, 65471, 65472, 65473})
        cases.push_back({5000, -2, delay});
    for (const Case& c : cases) {
        auto echo = std::make_unique<EchoUnit>(c.samplesPerStep);
        if (c.choice >= 0) {
            common::Random random = randomGiving(c.choice);
            echo->setReadPos(EchoUnit::chooseDelay(random, c.samplesPerStep));
        } else if (c.choice == -2) {
            echo->setReadPos((EchoUnit::kPositionMask - c.delay) & EchoUnit::kPositionMask);
        }
        const int frames = 3 * c.delay + 2;
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        for (int frame = 0, n = 1; frame < frames; frame += n, n = n % 64 + 1) {
            n = std::min(n, frames - frame);
            float sendLeft[64] = {}, sendRight[64] = {};
            if (frame == 0) {
                sendLeft[0] = 1.0f;
                sendRight[0] = -0.5f;
            }
            echo->render(sendLeft, sendRight, &left[static_cast<std::size_t>(frame)],
                         &right[static_cast<std::size_t>(frame)], n);
        }
        int wrong = 0;
        float expectedLeft = 1.0f, expectedRight = -0.5f;
        for (int frame = 0; frame < frames; ++frame) {
            const bool repeat = frame > 0 && frame % c.delay == 0;
            wrong += left[static_cast<std::size_t>(frame)] != (repeat ? expectedLeft : 0.0f);
            wrong += right[static_cast<std::size_t>(frame)] != (repeat ? expectedRight : 0.0f);
            if (repeat) {
                expectedLeft *= EchoUnit::kFeedback;
                expectedRight *= EchoUnit::kFeedback;
            }
        }
        EXPECT_EQ(wrong, 0) << "delay " << c.delay;
    }
}

// ---- the inline sines against the C library's over the angles the voices reach ----------------------

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
