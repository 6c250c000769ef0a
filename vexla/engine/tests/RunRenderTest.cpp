// Rendering in runs: players rendered a run at a time match their frame-by-frame render, the step clock
// keeps its boundaries when a block spans several runs, and the peak hold follows its per-frame rule.
#include "common/Random.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/SlotFactory.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace vexla {
namespace {

constexpr int kRunSizes[] = {1, 7, 64, 33, 2, 64, 50};

std::int16_t ramp(std::int32_t i) { return static_cast<std::int16_t>((i * 37) % 20000 - 10000); }
std::int16_t otherRamp(std::int32_t i) { return static_cast<std::int16_t>(9000 - (i * 11) % 18000); }

TEST(RunRender, LoopersMatchTheirFrameByFrameRenderUpToAndPastTheEnd) {
    // Slower and faster than one stored frame per frame.
    for (const std::int32_t length : {4567, 20011})
    for (bool stereo : {false, true}) {
        for (bool filtered : {false, true}) {
            SampleSlot slot;
            test::fillSlot(slot, length, ramp, stereo ? std::function<std::int16_t(std::int32_t)>(otherRamp) : nullptr);
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

TEST(RunRender, VcfLoopersInTheEngineMatchTheirOwnFrameByFrameRender) {
    // Mono, stereo and empty slots in either VCF looper; each sample ends inside a run, the filters change
    // between passes, and blocks of 61 frames put runs of every phase against the four-frame groups.
    struct Case {
        std::int32_t vcf1Length, vcf2Length;
        bool vcf1Stereo, vcf2Stereo;
    };
    for (const Case c : {Case{4001, 15000, false, true}, Case{7777, 0, true, false}, Case{0, 3001, false, false},
                         Case{5000, 9000, true, true}}) {
        auto engine = testing::makeQuietEngine();
        EngineParams& p = engine->params;
        p.stepCount = 3;
        p.samplesPerStep = 2000;
        p.masterGain = 1.0f;
        p.vcf1Gain = 0.5f;
        p.vcf2Gain = 0.75f;
        const auto fill = [](SampleSlot& slot, std::int32_t length, bool stereo) {
            if (length > 0)
                test::fillSlot(slot, length, ramp, stereo ? std::function<std::int16_t(std::int32_t)>(otherRamp) : nullptr);
        };
        fill(engine->vcf1Slot, c.vcf1Length, c.vcf1Stereo);
        fill(engine->vcf2Slot, c.vcf2Length, c.vcf2Stereo);
        StretchLooper vcf1(engine->vcf1Slot, true), vcf2(engine->vcf2Slot, true);
        const int passFrames = 3 * 2001;
        std::vector<std::int16_t> expected;
        for (int frame = 0; frame < 3 * passFrames; ++frame) {
            if (frame % passFrames == 0) {
                vcf1.restart(3, 2000);
                vcf2.restart(3, 2000);
            }
            const float q = frame < passFrames ? 0.3f : 0.8f; // from the second pass on
            const StereoFrame a = vcf1.render(0.5f, 0.2f, q);
            const StereoFrame b = vcf2.render(0.75f, 0.6f, 1.0f + q);
            bool clipped = false;
            expected.push_back(clipAndConvert(1.0f * (b.left + a.left), clipped));
            expected.push_back(clipAndConvert(1.0f * (b.right + a.right), clipped));
        }
        std::vector<std::int16_t> got;
        for (int pass = 0; pass < 3; ++pass) {
            const float q = pass == 0 ? 0.3f : 0.8f;
            p.vcf1Cutoff = 0.2f;
            p.vcf1Feedback = q;
            p.vcf2Cutoff = 0.6f;
            p.vcf2Feedback = 1.0f + q;
            const auto out = testing::renderInBlocks(*engine, passFrames, 61);
            got.insert(got.end(), out.begin(), out.end());
        }
        ASSERT_EQ(got.size(), expected.size());
        int mismatches = 0, sounding = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            mismatches += got[i] != expected[i];
            sounding += expected[i] != 0;
        }
        EXPECT_EQ(mismatches, 0) << "lengths " << c.vcf1Length << ", " << c.vcf2Length;
        EXPECT_GT(sounding, passFrames) << "lengths " << c.vcf1Length << ", " << c.vcf2Length;
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

TEST(RunRender, RunConversionMatchesTheSingleValueOneBitForBitAndFlagsEveryClipPosition) {
    // Odd and even integers, halves, values just off integers and the clip bounds, infinities and NaN.
    std::vector<float> values = {0.0f, -0.0f, 1.0f, 2.0f, 3.0f, -1.0f, -2.0f, -3.0f, 0.5f, -0.5f, 1.5f, -1.5f,
                                 1e-10f, -1e-10f, 0.9999999f, -0.9999999f, 32765.0f, 32766.0f, 32766.002f,
                                 -32765.0f, -32766.0f, -32766.002f, 32767.0f, -32768.0f, 1e9f, -1e9f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), 12345.5f, -12345.5f, 12344.75f};
    common::Random random;
    for (int i = 0; i < 4000; ++i) // ±40000 with fractions down to 1/32768
        values.push_back(static_cast<float>(random.next() - 16384) * 2.5f + static_cast<float>(random.next()) / 32768.0f);
    const auto count = static_cast<int>(values.size());
    std::vector<float> right(values.rbegin(), values.rend());
    std::vector<OutputFrame> out(values.size());
    ASSERT_TRUE(clipAndConvertRun(values.data(), right.data(), out.data(), count));
    for (int i = 0; i < count; ++i) {
        bool clipped = false;
        ASSERT_EQ(out[i].left, clipAndConvert(values[i], clipped)) << "input " << values[i];
        ASSERT_EQ(out[i].right, clipAndConvert(right[i], clipped)) << "input " << right[i];
    }
    // The flag is raised by one clipped value wherever it sits in the run, on either channel, and only then.
    for (int n : {1, 3, 4, 5, 8, 13}) {
        for (int at = 0; at < n; ++at) {
            for (int channel = 0; channel < 2; ++channel) {
                std::vector<float> l(static_cast<std::size_t>(n), 100.25f), r(static_cast<std::size_t>(n), -100.25f);
                EXPECT_FALSE(clipAndConvertRun(l.data(), r.data(), out.data(), n));
                (channel == 0 ? l : r)[static_cast<std::size_t>(at)] = at % 2 ? -40000.0f : std::numeric_limits<float>::quiet_NaN();
                EXPECT_TRUE(clipAndConvertRun(l.data(), r.data(), out.data(), n)) << "n " << n << " at " << at;
                EXPECT_EQ((channel == 0 ? out[static_cast<std::size_t>(at)].left : out[static_cast<std::size_t>(at)].right), -32766);
            }
        }
    }
}

} // namespace
} // namespace vexla
