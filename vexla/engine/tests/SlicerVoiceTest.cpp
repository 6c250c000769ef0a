// Slicer: slice start positions (also for very long samples), envelope, end of sample, randomiser.
#include "vexla/engine/SlicerVoice.h"

#include <gtest/gtest.h>

#include <limits>

#include "vexla/engine/tests/SlotFactory.h"

namespace vexla {
namespace {

std::int16_t ramp(std::int32_t i) { return static_cast<std::int16_t>(i % 30000); }

TEST(SlicerVoice, SlicePositions) {
    EXPECT_EQ(SlicerVoice::slicePosition(128, 1000), 500);
    EXPECT_EQ(SlicerVoice::slicePosition(249, 1000), 972);
    for (int slice = 0; slice < 256; ++slice) EXPECT_EQ(SlicerVoice::slicePosition(slice, 1), 0);
    // Products beyond 32 bits: a sample of hours at 44100 frames per second.
    EXPECT_EQ(SlicerVoice::slicePosition(249, 2000000000), 1945312500);
    constexpr std::int32_t longest = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(SlicerVoice::slicePosition(255, longest), static_cast<std::int32_t>(255LL * longest / 256));
}

TEST(SlicerVoice, StepJumpsToItsSliceAndPlaysAtTheSamplesSpeed) {
    SampleSlot slot;
    test::fillSlot(slot, 1000, ramp);
    SlicerVoice slicer(slot);
    slicer.slices[3] = 128;
    slicer.sliceDecays[3] = 0.0f;
    slicer.stepLoad(3);
    for (int frame = 0; frame < 20; ++frame) {
        const StereoFrame out = slicer.render();
        ASSERT_EQ(out.left, static_cast<float>(500 + frame));
        ASSERT_EQ(out.right, out.left);
    }
}

TEST(SlicerVoice, LongSampleSliceReadsTheRightFrame) {
    // 9 million frames: 249 × 9000000 overflows 32 bits.
    SampleSlot slot;
    test::fillSlot(slot, 9000000, [](std::int32_t i) { return static_cast<std::int16_t>(i == 8753906 ? 1234 : 0); });
    SlicerVoice slicer(slot);
    slicer.slices[0] = 249;
    slicer.stepLoad(0);
    EXPECT_EQ(slicer.position(), 8753906);
    EXPECT_EQ(slicer.render().left, 1234.0f);
}

TEST(SlicerVoice, EnvelopeDecaysLinearlyAndStopsAtZero) {
    SampleSlot slot;
    test::fillSlot(slot, 100, [](std::int32_t) { return std::int16_t{1000}; },
                   [](std::int32_t) { return std::int16_t{-2000}; });
    SlicerVoice slicer(slot);
    slicer.sliceDecays[0] = 0.25f;
    slicer.stepLoad(0);
    const float expectedLeft[] = {1000.0f, 750.0f, 500.0f, 250.0f, 0.0f, 0.0f};
    for (float left : expectedLeft) {
        const StereoFrame out = slicer.render();
        EXPECT_EQ(out.left, left);
        EXPECT_EQ(out.right, -2.0f * left);
    }
    EXPECT_EQ(slicer.env(), 0.0f);
    slicer.stepLoad(0);
    EXPECT_EQ(slicer.render().left, 1000.0f) << "each step start resets the envelope to 1";
}

TEST(SlicerVoice, SilentPastTheEndAndForEmptyOrShrunkSlots) {
    SampleSlot slot;
    test::fillSlot(slot, 1000, [](std::int32_t) { return std::int16_t{300}; });
    SlicerVoice slicer(slot);
    slicer.slices[0] = 249;  // starts at 972: 28 frames before the end
    slicer.stepLoad(0);
    int sounding = 0;
    for (int frame = 0; frame < 100; ++frame)
        if (slicer.render().left != 0.0f) ++sounding;
    EXPECT_EQ(sounding, 28);

    // A shorter sample loaded mid-step: the old position is past its end and nothing is read.
    slicer.stepLoad(0);
    test::fillSlot(slot, 10, [](std::int32_t) { return std::int16_t{300}; });
    EXPECT_EQ(slicer.render().left, 0.0f);

    SampleSlot empty;
    SlicerVoice silent(empty);
    silent.slices[0] = 100;
    silent.stepLoad(0);
    EXPECT_EQ(silent.render().left, 0.0f);
}

TEST(SlicerVoice, OutOfRangeTableValuesStayInsideTheSample) {
    SampleSlot slot;
    test::fillSlot(slot, 256, ramp);
    SlicerVoice slicer(slot);
    slicer.slices[63] = -5;
    slicer.stepLoad(63);
    EXPECT_EQ(slicer.position(), 0);
    slicer.slices[63] = 100000;
    slicer.stepLoad(63);
    EXPECT_EQ(slicer.position(), 255);
    slicer.stepLoad(64);  // a step index past the tables reads the last entry
    EXPECT_EQ(slicer.position(), 255);
}

TEST(GenerateSlicer, DrawOrderRangesAndStepsWritten) {
    SampleSlot slot;
    SlicerVoice slicer(slot);
    slicer.slices[10] = 77;
    slicer.sliceDecays[10] = 0.5f;
    common::Random random(99);
    common::Random twin(99);
    slicer.generateSlicer(random, 10);
    EXPECT_EQ(slicer.slicerEchoSend.load(), static_cast<float>(twin.below(250)) * 0.0033333334f);
    EXPECT_EQ(slicer.slicerAmSend.load(), static_cast<float>(twin.below(250)) * 0.0033333334f);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(slicer.sliceDecays[static_cast<std::size_t>(i)].load(), static_cast<float>(twin.below(256)) * 0.000002f);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(slicer.slices[static_cast<std::size_t>(i)].load(), twin.below(250));
    EXPECT_EQ(random.state(), twin.state());
    EXPECT_EQ(slicer.slices[10].load(), 77) << "steps at and past stepCount are left as they were";
    EXPECT_EQ(slicer.sliceDecays[10].load(), 0.5f);

    for (int pass = 0; pass < 200; ++pass) {
        slicer.generateSlicer(random, 64);
        for (const auto& slice : slicer.slices) {
            EXPECT_GE(slice.load(), 0);
            EXPECT_LE(slice.load(), 249);
        }
    }
}

} // namespace
} // namespace vexla
