// Rendering in runs: players rendered a run at a time match their frame-by-frame render, the step clock
// keeps its boundaries when a block spans several runs, and the peak hold follows its per-frame rule.
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/SlotFactory.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace vexla {
namespace {

constexpr int kRunSizes[] = {1, 7, 64, 33, 2, 64, 50};

std::int16_t ramp(std::int32_t i) { return static_cast<std::int16_t>((i * 37) % 20000 - 10000); }
std::int16_t otherRamp(std::int32_t i) { return static_cast<std::int16_t>(9000 - (i * 11) % 18000); }

TEST(RunRender, LoopersMatchTheirFrameByFrameRenderUpToAndPastTheEnd) {
    for (bool stereo : {false, true}) {
        for (bool filtered : {false, true}) {
            SampleSlot slot;
            test::fillSlot(slot, 4567, ramp, stereo ? std::function<std::int16_t(std::int32_t)>(otherRamp) : nullptr);
            StretchLooper byFrame(slot, filtered), byRun(slot, filtered);
            byFrame.restart(3, 2000);
            byRun.restart(3, 2000);
            byRun.setFilter(0.3f, 1.2f);
            float left[64], right[64];
            int frame = 0;
            for (int r = 0; frame < 6200; ++r) {
                const int n = kRunSizes[r % std::size(kRunSizes)];
                byRun.renderRun(left, right, n, 0.75f);
                for (int i = 0; i < n; ++i, ++frame) {
                    const StereoFrame expected = byFrame.render(0.75f, 0.3f, 1.2f);
                    ASSERT_EQ(left[i], expected.left) << "stereo " << stereo << " filtered " << filtered << " frame " << frame;
                    ASSERT_EQ(right[i], expected.right) << "stereo " << stereo << " filtered " << filtered << " frame " << frame;
                }
            }
            EXPECT_EQ(left[0], 0.0f); // 6000 frames, then silence
        }
    }
}

TEST(RunRender, SlicerMatchesItsFrameByFrameRenderAcrossTheSampleEnd) {
    for (bool stereo : {false, true}) {
        SampleSlot slot;
        test::fillSlot(slot, 3000, ramp, stereo ? std::function<std::int16_t(std::int32_t)>(otherRamp) : nullptr);
        SlicerVoice byFrame(slot), byRun(slot);
        for (SlicerVoice* voice : {&byFrame, &byRun}) {
            voice->slices[0] = 240;     // starts 187 frames before the end of the sample
            voice->sliceDecays[0] = 0.004f; // and reaches 0 after 250 frames: the clamp is crossed too
            voice->stepLoad(0);
        }
        float left[64], right[64];
        int frame = 0;
        for (int r = 0; frame < 400; ++r) {
            const int n = kRunSizes[r % std::size(kRunSizes)];
            byRun.renderRun(left, right, n);
            for (int i = 0; i < n; ++i, ++frame) {
                const StereoFrame expected = byFrame.render();
                ASSERT_EQ(left[i], expected.left) << "stereo " << stereo << " frame " << frame;
                ASSERT_EQ(right[i], expected.right) << "stereo " << stereo << " frame " << frame;
            }
        }
        EXPECT_EQ(byRun.position(), byFrame.position());
    }
}

TEST(RunRender, LoweringTheStepLengthBelowTheCounterEndsTheStepOnTheNextFrame) {
    auto engine = testing::makeQuietEngine();
    testing::renderInBlocks(*engine, 3000, 64); // inside step 0
    ASSERT_EQ(engine->currentStep(), 1);
    engine->params.samplesPerStep = 2000;
    // One block of two frames: the first ends step 0 (counter past 2000 reads 0), the second starts step 1.
    testing::renderInBlocks(*engine, 2, 2);
    EXPECT_EQ(engine->currentStep(), 2);
    EXPECT_EQ(engine->sampleInStep(), 1);
    // Step 1 now lasts 2001 frames, whatever the block size.
    testing::renderInBlocks(*engine, 2000, 512);
    EXPECT_EQ(engine->currentStep(), 2);
    EXPECT_EQ(engine->sampleInStep(), 0);
    testing::renderInBlocks(*engine, 1, 512);
    EXPECT_EQ(engine->currentStep(), 3);
}

TEST(RunRender, PeaksAfterEachBlockFollowThePerFrameRule) {
    for (int block : {256, 100, 5000}) {
        common::Random random(5);
        auto engine = std::make_unique<LoopEngine>();
        engine->regenerateAll(random);
        engine->generateSine(random);
        testing::makeEverythingSound(*engine, random);
        std::int32_t left = 0, right = 0, highest = 0;
        for (int done = 0; done < 30000; done += block) {
            const auto out = testing::renderInBlocks(*engine, block, block);
            for (std::size_t i = 0; i < out.size(); i += 2) {
                left = std::max({left - 1, std::abs(int{out[i]}), 0});
                right = std::max({right - 1, std::abs(int{out[i + 1]}), 0});
            }
            ASSERT_EQ(engine->params.peakLeft.load(), left) << "block " << block << " after " << done;
            ASSERT_EQ(engine->params.peakRight.load(), right) << "block " << block << " after " << done;
            highest = std::max(highest, left);
        }
        EXPECT_GT(highest, 1000) << "block " << block;
        // Stopped: the peaks fall by one a frame, also within a block.
        engine->params.running = false;
        testing::renderInBlocks(*engine, 700, 700);
        EXPECT_EQ(engine->params.peakLeft.load(), std::max(left - 700, 0));
    }
}

} // namespace
} // namespace vexla
