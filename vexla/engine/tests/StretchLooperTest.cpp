// Stretch loopers: index rounding, the stretch over a pass, silence, the filtered loopers.
#include "vexla/engine/StretchLooper.h"
#include "vexla/engine/VcfFilterSetting.h"
#include "vexla/engine/tests/OneFrame.h"

#include <gtest/gtest.h>

#include "vexla/engine/tests/SlotFactory.h"

namespace vexla {
namespace {

TEST(StretchLooper, SpeedOneHearsEverySecondFrameTwice) {
    SampleSlot slot;
    test::fillSlot(slot, 3 * 2000, [](std::int32_t i) { return static_cast<std::int16_t>(i); });
    StretchLooper looper(slot);
    looper.restart(3, 2000);
    for (int frame = 0; frame < 6000; ++frame) {
        const testing::StereoFrame out = testing::renderOne(looper, 1.0f);
        ASSERT_EQ(out.left, static_cast<float>(frame - frame % 2)) << "frame " << frame;
        ASSERT_EQ(out.right, out.left);
    }
    EXPECT_EQ(testing::renderOne(looper, 1.0f).left, 0.0f);
}

TEST(StretchLooper, SoundsForStepCountTimesSamplesPerStepWhateverTheLength) {
    for (std::int32_t length : {1, 3, 777, 44100, 1000000}) {
        SampleSlot slot;
        test::fillSlot(slot, length, [](std::int32_t) { return std::int16_t{-7}; });
        StretchLooper looper(slot);
        for (auto [steps, samplesPerStep] : {std::pair{3, 2000}, std::pair{16, 5000}, std::pair{64, 20000}}) {
            looper.restart(steps, samplesPerStep);
            long lastSounding = -1;
            for (long frame = 0; frame < static_cast<long>(steps) * (samplesPerStep + 1); ++frame)
                if (testing::renderOne(looper, 1.0f).left != 0.0f)
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
    EXPECT_EQ(testing::renderOne(emptyLooper, 1.0f).left, 0.0f);

    SampleSlot slot;
    test::fillSlot(
        slot, 100, [](std::int32_t) { return std::int16_t{500}; },
        [](std::int32_t) { return std::int16_t{-1000}; });
    StretchLooper looper(slot);
    looper.restart(0, 5000);
    EXPECT_EQ(testing::renderOne(looper, 1.0f).left, 0.0f);
    looper.restart(3, 2000);
    const testing::StereoFrame out = testing::renderOne(looper, 0.5f);
    EXPECT_EQ(out.left, 250.0f);
    EXPECT_EQ(out.right, -500.0f);
    looper.stop();
    EXPECT_EQ(testing::renderOne(looper, 1.0f).left, 0.0f);
}

TEST(StretchLooper, MonoSampleIsFilteredOnceAndSentToBothSides) {
    SampleSlot slot;
    test::fillSlot(slot, 2000,
                   [](std::int32_t i) { return static_cast<std::int16_t>((i % 50) < 25 ? 8000 : -8000); });
    StretchLooper looper(slot, true);
    looper.restart(1, 2000);
    ResonantLowpass reference{0.3f, 1.2f};
    for (int frame = 0; frame < 2000; ++frame) {
        const testing::StereoFrame out = (looper.setFilter(0.3f, 1.2f), testing::renderOne(looper, 0.5f));
        ASSERT_EQ(out.left, reference.process(slot.left[static_cast<std::size_t>(frame & ~1)]) * 0.5f)
            << frame;
        ASSERT_EQ(out.right, out.left) << frame;
    }
}

TEST(StretchLooper, FilterSlidersGiveCutoffAndFeedback) {
    EXPECT_EQ(vcfFilterFromSliders(64, 64).feedback, 1.5f);
    EXPECT_FLOAT_EQ(vcfFilterFromSliders(128, 0).cutoff, 0.95f);
    EXPECT_NEAR(vcfFilterFromSliders(128, 0).feedback, 1.05f, 1e-5f);
    EXPECT_FLOAT_EQ(vcfFilterFromSliders(-40, 500).cutoff, 0.05f);
    EXPECT_NEAR(vcfFilterFromSliders(-40, 500).feedback, 1.95f, 1e-5f);
}

} // namespace
} // namespace vexla
