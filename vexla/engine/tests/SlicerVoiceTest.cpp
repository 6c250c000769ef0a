// Slicer: slice start positions (also for very long samples), envelope, end of sample.
#include "vexla/engine/SlicerVoice.h"
#include "vexla/engine/tests/OneFrame.h"

#include <gtest/gtest.h>

#include "vexla/engine/tests/SlotFactory.h"

namespace vexla {
namespace {

TEST(SlicerVoice, SlicePositionsWithoutOverflow) {
    EXPECT_EQ(SlicerVoice::slicePosition(128, 1000), 500);
    for (int slice = 0; slice < 256; ++slice)
        EXPECT_EQ(SlicerVoice::slicePosition(slice, 1), 0);
    EXPECT_EQ(SlicerVoice::slicePosition(249, 2000000000), 1945312500); // 249 × 2e9 needs 39 bits
}

TEST(SlicerVoice, PlaysItsSliceUnderADecayingEnvelope) {
    SampleSlot slot;
    test::fillSlot(
        slot, 1000, [](std::int32_t i) { return static_cast<std::int16_t>(i); },
        [](std::int32_t i) { return static_cast<std::int16_t>(-i); });
    SlicerVoice slicer(slot);
    slicer.pattern.slices[3] = 128;
    slicer.pattern.decays[3] = 0.25f;
    slicer.stepLoad(3);
    const float expected[] = {500.0f, 501 * 0.75f, 502 * 0.5f, 503 * 0.25f, 0.0f, 0.0f};
    for (float left : expected) {
        const testing::StereoFrame out = testing::renderOne(slicer);
        EXPECT_EQ(out.left, left);
        EXPECT_EQ(out.right, -left);
    }
    EXPECT_EQ(slicer.position(), 506);
}

TEST(SlicerVoice, SilentPastTheEndAndWhenTheSampleShrinks) {
    SampleSlot slot;
    test::fillSlot(slot, 1000, [](std::int32_t) { return std::int16_t{300}; });
    SlicerVoice slicer(slot);
    slicer.pattern.slices[0] = 249; // starts at 972: 28 frames before the end
    slicer.stepLoad(0);
    int sounding = 0;
    for (int frame = 0; frame < 100; ++frame)
        sounding += testing::renderOne(slicer).left != 0.0f;
    EXPECT_EQ(sounding, 28);
    slicer.stepLoad(0);
    test::fillSlot(slot, 10, [](std::int32_t) { return std::int16_t{300}; });
    EXPECT_EQ(testing::renderOne(slicer).left, 0.0f)
        << "a shorter sample loaded mid-step is not read past its end";
}

} // namespace
} // namespace vexla
