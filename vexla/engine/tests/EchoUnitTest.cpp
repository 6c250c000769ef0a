// Echo: impulse response at the exact delay, the delays alterEcho chooses, the cap, cross-thread alters.
#include "vexla/engine/EchoUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace vexla {
namespace {

/// A generator whose next below(5) gives k.
common::Random randomGiving(int k) {
    for (std::uint32_t seed = 1;; ++seed)
        if (common::Random(seed).below(5) == k) return common::Random(seed);
}

/// Sends 1.0 into the left line on the first frame; expects 1.0, 0.7, 0.49, … exactly at multiples of
/// `delay` on the left, and silence everywhere else on both sides.
void expectRepeats(EchoUnit& echo, int delay, int repeats) {
    float expected = 1.0f;
    for (int frame = 0; frame <= repeats * delay; ++frame) {
        const StereoFrame out = echo.process(frame == 0 ? 1.0f : 0.0f, 0.0f);
        ASSERT_EQ(out.right, 0.0f) << "no cross-feed, frame " << frame;
        if (frame > 0 && frame % delay == 0) {
            ASSERT_EQ(out.left, expected) << "repeat at frame " << frame;
            expected *= 0.7f;
        } else {
            ASSERT_EQ(out.left, 0.0f) << "frame " << frame;
        }
    }
}

TEST(EchoUnit, StartsWithThreeStepsLessOneFrame) {
    auto echo = std::make_unique<EchoUnit>(5000);
    expectRepeats(*echo, 14999, 4);
}

TEST(EchoUnit, AlterEchoChoosesOneToFiveStepsLessOneFrame) {
    for (int k = 0; k < 5; ++k) {
        auto echo = std::make_unique<EchoUnit>(5000);
        common::Random random = randomGiving(k);
        ASSERT_EQ(echo->alterEcho(random, 5000), k);
        expectRepeats(*echo, (k + 1) * 5000 - 1, 2);
    }
}

TEST(EchoUnit, LongestDelayIsCappedAtTheLine) {
    auto echo = std::make_unique<EchoUnit>(20000);
    common::Random random = randomGiving(4);
    echo->alterEcho(random, 20000);
    expectRepeats(*echo, 65535, 2);
}

TEST(EchoUnit, AltersFromAnotherThreadNeverSplitTheDelay) {
    auto echo = std::make_unique<EchoUnit>(5000);
    std::atomic<bool> done{false};
    std::thread window([&] {
        common::Random random(3);
        while (!done.load()) echo->alterEcho(random, 5000);
    });
    int invalid = 0;
    for (int frame = 0; frame < 200000; ++frame) {
        echo->process(0.0f, 0.0f);
        invalid += echo->writeLeft() != echo->writeRight() || (echo->delayFrames() + 1) % 5000 != 0;
    }
    done = true;
    window.join();
    EXPECT_EQ(invalid, 0) << "both lines share one delay of whole steps less one frame";
}

TEST(EchoUnit, RunsGiveTheFrameByFrameOutputAcrossTheWrapAndForAnyDelay) {
    // Delays from under a run's length (frame by frame) to the whole line; runs of every length from 1 to
    // 64, so that stretches start and end on both sides of the line's wrap point.
    for (const int delay : {0, 1, 3, 63, 64, 1999, 65472, 65535}) {
        auto byFrame = std::make_unique<EchoUnit>(5000);
        auto byRun = std::make_unique<EchoUnit>(5000);
        const std::int32_t readPos = (EchoUnit::kPositionMask - delay) & EchoUnit::kPositionMask;
        byFrame->postReadPos(readPos);
        byRun->postReadPos(readPos);
        common::Random random(static_cast<std::uint32_t>(delay) + 7);
        int mismatches = 0;
        for (int frame = 0, n = 1; frame < 140000; frame += n, n = n % 64 + 1) {
            float left[64], right[64];
            StereoFrame expected[64];
            for (int i = 0; i < n; ++i) {
                left[i] = static_cast<float>(random.next() - 16384);
                right[i] = static_cast<float>(random.next() - 16384) * 0.3f;
                expected[i] = byFrame->process(left[i], right[i]);
            }
            byRun->processRun(left, right, n);
            for (int i = 0; i < n; ++i)
                mismatches += left[i] != expected[i].left || right[i] != expected[i].right;
        }
        EXPECT_EQ(mismatches, 0) << "delay " << delay;
        EXPECT_EQ(byRun->readPos(), byFrame->readPos()) << "delay " << delay;
        EXPECT_EQ(byRun->writeRight(), byFrame->writeRight()) << "delay " << delay;
    }
}

} // namespace
} // namespace vexla
