// Stretch loopers: index rounding, the stretch over a pass, stereo and mono, the filtered loopers.
#include "vexla/engine/StretchLooper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "vexla/engine/tests/SlotFactory.h"

namespace vexla {
namespace {

std::int16_t ramp(std::int32_t i) { return static_cast<std::int16_t>(i % 30000); }

TEST(StretchLooper, SpeedOneHearsEverySecondFrameTwice) {
    SampleSlot slot;
    test::fillSlot(slot, 3 * 2000, ramp);
    StretchLooper looper(slot);
    looper.restart(3, 2000);
    EXPECT_EQ(looper.speed(), 1.0);
    // Odd positions round to the even index below: 0, 0, 2, 2, 4, 4, …
    for (int frame = 0; frame < 6000; ++frame) {
        const StereoFrame out = looper.render(1.0f);
        ASSERT_EQ(out.left, static_cast<float>(frame - frame % 2)) << "frame " << frame;
        ASSERT_EQ(out.right, out.left);
    }
    EXPECT_EQ(looper.render(1.0f).left, 0.0f);
}

TEST(StretchLooper, SampleSpansThePassLessOneFramePerStep) {
    SampleSlot slot;
    test::fillSlot(slot, 44100, [](std::int32_t) { return std::int16_t{1000}; });
    StretchLooper looper(slot);
    looper.restart(16, 5000);
    EXPECT_DOUBLE_EQ(looper.speed(), 0.55125);
    // A pass of 16 steps lasts 16 × 5001 frames; the sample sounds for the first 16 × 5000 of them.
    int lastSounding = -1;
    for (int frame = 0; frame < 16 * 5001; ++frame)
        if (looper.render(0.5f).left != 0.0f) lastSounding = frame;
    EXPECT_EQ(lastSounding, 16 * 5000 - 1);
}

TEST(StretchLooper, SoundsForStepCountTimesSamplesPerStepWhateverTheLength) {
    for (std::int32_t length : {1, 2, 3, 777, 5000, 44100, 123457, 1000000}) {
        SampleSlot slot;
        test::fillSlot(slot, length, [](std::int32_t) { return std::int16_t{-7}; });
        StretchLooper looper(slot);
        for (auto [steps, samplesPerStep] : {std::pair{3, 2000}, std::pair{16, 5000}, std::pair{64, 20000}}) {
            looper.restart(steps, samplesPerStep);
            long sounding = 0;
            const long pass = static_cast<long>(steps) * (samplesPerStep + 1);
            for (long frame = 0; frame < pass; ++frame)
                if (looper.render(1.0f).left != 0.0f) ++sounding;
            const long expected = static_cast<long>(steps) * samplesPerStep;
            EXPECT_EQ(sounding, expected) << "length " << length << ", " << steps << " × " << samplesPerStep;
        }
    }
}

TEST(StretchLooper, StereoKeepsChannelsAndGain) {
    SampleSlot slot;
    test::fillSlot(slot, 4000, [](std::int32_t) { return std::int16_t{1000}; },
                   [](std::int32_t) { return std::int16_t{-3000}; });
    StretchLooper looper(slot);
    looper.restart(4, 2000);
    const StereoFrame out = looper.render(0.25f);
    EXPECT_EQ(out.left, 250.0f);
    EXPECT_EQ(out.right, -750.0f);
}

TEST(StretchLooper, SilentWhenEmptyStoppedOrNotYetRestarted) {
    SampleSlot empty;
    StretchLooper emptyLooper(empty);
    emptyLooper.restart(16, 5000);
    EXPECT_EQ(emptyLooper.render(1.0f).left, 0.0f);

    SampleSlot slot;
    test::fillSlot(slot, 100, [](std::int32_t) { return std::int16_t{500}; });
    StretchLooper looper(slot);
    EXPECT_EQ(looper.render(1.0f).left, 0.0f) << "a looper is silent until its first restart";
    looper.restart(0, 5000);
    EXPECT_EQ(looper.render(1.0f).left, 0.0f) << "a pass of no frames plays nothing";
    looper.restart(3, 2000);
    EXPECT_EQ(looper.render(1.0f).left, 500.0f);
    looper.stop();
    EXPECT_EQ(looper.position(), 0.0);
    EXPECT_EQ(looper.length(), 0.0);
    EXPECT_EQ(looper.render(1.0f).left, 0.0f);
    looper.restart(3, 2000);
    EXPECT_EQ(looper.render(1.0f).left, 500.0f) << "the next pass start plays again";
}

TEST(StretchLooper, SlotIsReadOnlyAtRestart) {
    SampleSlot slot;
    test::fillSlot(slot, 6000, [](std::int32_t) { return std::int16_t{100}; });
    StretchLooper looper(slot);
    looper.restart(3, 2000);
    // The loader stops the loopers before it swaps arrays; a change of length alone is not seen mid-pass.
    slot.length = 10;
    int sounding = 0;
    for (int frame = 0; frame < 6003; ++frame)
        if (looper.render(1.0f).left != 0.0f) ++sounding;
    EXPECT_EQ(sounding, 6000);
}

TEST(StretchLooper, MonoSampleIsFilteredOnceAndSentToBothSides) {
    SampleSlot slot;
    test::fillSlot(slot, 2000, [](std::int32_t i) { return static_cast<std::int16_t>((i % 50) < 25 ? 8000 : -8000); });
    StretchLooper looper(slot, true);
    looper.restart(1, 2000);
    ResonantLowpass reference{0.3f, 1.2f};
    for (int frame = 0; frame < 2000; ++frame) {
        const StereoFrame out = looper.render(0.5f, 0.3f, 1.2f);
        const float expected = reference.process(static_cast<float>(slot.left[static_cast<std::size_t>(frame & ~1)])) * 0.5f;
        ASSERT_EQ(out.left, expected) << "frame " << frame;
        ASSERT_EQ(out.right, out.left) << "frame " << frame;
    }
}

TEST(StretchLooper, StereoSampleHasOneFilterPerChannel) {
    SampleSlot slot;
    test::fillSlot(slot, 1000, [](std::int32_t i) { return static_cast<std::int16_t>(i % 2 ? 4000 : -4000); },
                   [](std::int32_t i) { return static_cast<std::int16_t>(i * 20); });
    StretchLooper looper(slot, true);
    looper.restart(1, 1000);
    ResonantLowpass refLeft{0.7f, 1.9f};
    ResonantLowpass refRight{0.7f, 1.9f};
    for (int frame = 0; frame < 1000; ++frame) {
        const StereoFrame out = looper.render(1.0f, 0.7f, 1.9f);
        const auto index = static_cast<std::size_t>(frame & ~1);
        ASSERT_EQ(out.left, refLeft.process(slot.left[index]));
        ASSERT_EQ(out.right, refRight.process(slot.right[index]));
    }
}

TEST(StretchLooper, FiltersRestWhileSilent) {
    SampleSlot slot;
    test::fillSlot(slot, 100, [](std::int32_t) { return std::int16_t{10000}; });
    StretchLooper looper(slot, true);
    ResonantLowpass reference{0.5f, 1.5f};
    looper.restart(1, 100);
    for (int frame = 0; frame < 100; ++frame) reference.process(slot.left[static_cast<std::size_t>(frame & ~1)]);
    for (int frame = 0; frame < 150; ++frame) looper.render(1.0f, 0.5f, 1.5f);
    looper.restart(1, 100);
    // The next pass continues from the filter memory left by the last sounding frame.
    EXPECT_EQ(looper.render(1.0f, 0.5f, 1.5f).left, reference.process(10000.0f));
}

TEST(VcfFilterFromSliders, ClampsAndDerivesFeedback) {
    const VcfFilterSetting middle = vcfFilterFromSliders(64, 64);
    EXPECT_EQ(middle.cutoff, 0.5f);
    EXPECT_EQ(middle.feedback, 1.5f);
    const VcfFilterSetting bright = vcfFilterFromSliders(128, 0);
    EXPECT_FLOAT_EQ(bright.cutoff, 0.95f);
    EXPECT_NEAR(bright.feedback, 1.05f, 1e-5f);
    const VcfFilterSetting dark = vcfFilterFromSliders(0, 128);
    EXPECT_FLOAT_EQ(dark.cutoff, 0.05f);
    EXPECT_NEAR(dark.feedback, 1.95f, 1e-5f);
    const VcfFilterSetting outside = vcfFilterFromSliders(-40, 500);
    EXPECT_FLOAT_EQ(outside.cutoff, 0.05f);
    EXPECT_NEAR(outside.feedback, 1.95f, 1e-5f);
}

TEST(AlterSecondLooper, DrawsEchoThenAmSendInSteps) {
    common::Random random(12345);
    common::Random twin(12345);
    SecondLooperSends sends;
    alterSecondLooper(sends, random);
    EXPECT_EQ(sends.secondLooperEchoSend.load(), static_cast<float>(twin.below(512)) / 256.0f);
    EXPECT_EQ(sends.secondLooperAmSend.load(), static_cast<float>(twin.below(512)) / 256.0f);
    EXPECT_EQ(random.state(), twin.state()) << "exactly two draws";
    for (int i = 0; i < 1000; ++i) {
        alterSecondLooper(sends, random);
        const float echo = sends.secondLooperEchoSend.load();
        EXPECT_GE(echo, 0.0f);
        EXPECT_LE(echo, 1.99609375f);
        EXPECT_EQ(echo * 256.0f, std::floor(echo * 256.0f));
    }
}

} // namespace
} // namespace vexla
