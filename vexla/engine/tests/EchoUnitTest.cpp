// Echo: impulse response at the exact delay, the delays alterEcho chooses, the cap, cross-thread alters.
#include "vexla/engine/EchoUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace vexla {
namespace {

/// A generator whose next below(5) gives k.
common::Random randomGiving(int k) {
    for (std::uint32_t seed = 1;; ++seed)
        if (common::Random(seed).below(5) == k)
            return common::Random(seed);
}

/// Sends 1.0 into the left line on the first frame; expects 1.0, 0.7, 0.49, … exactly at multiples of
/// `delay` on the left, and silence everywhere else on both sides.
void expectRepeats(EchoUnit& echo, int delay, int repeats) {
    float expected = 1.0f;
    for (int frame = 0; frame <= repeats * delay; ++frame) {
        const float sendLeft = frame == 0 ? 1.0f : 0.0f, sendRight = 0.0f;
        float left = 0.0f, right = 0.0f;
        echo.render(&sendLeft, &sendRight, &left, &right, 1);
        ASSERT_EQ(right, 0.0f) << "no cross-feed, frame " << frame;
        if (frame > 0 && frame % delay == 0) {
            ASSERT_EQ(left, expected) << "repeat at frame " << frame;
            expected *= 0.7f;
        } else {
            ASSERT_EQ(left, 0.0f) << "frame " << frame;
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
        echo->setReadPos(EchoUnit::chooseDelay(random, 5000));
        expectRepeats(*echo, (k + 1) * 5000 - 1, 2);
    }
}

TEST(EchoUnit, LongestDelayIsCappedAtTheLine) {
    auto echo = std::make_unique<EchoUnit>(20000);
    common::Random random = randomGiving(4);
    echo->setReadPos(EchoUnit::chooseDelay(random, 20000));
    expectRepeats(*echo, 65535, 2);
}

TEST(EchoUnit, RunsOfEveryLengthKeepTheImpulseAtTheExactDelayAcrossTheWrap) {
    // Runs of every length from 1 to 64, so that runs start and end on both sides of the line's wrap point.
    // 64 and 65472 (65536 − 64) are the shortest and longest delays whose runs never read what they wrote.
    for (const int delay : {1, 3, 63, 64, 65, 1999, 65471, 65472, 65473, 65535}) {
        auto echo = std::make_unique<EchoUnit>(5000);
        echo->setReadPos((EchoUnit::kPositionMask - delay) & EchoUnit::kPositionMask);
        const int frames = 3 * delay + 2;
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
        for (int frame = 0; frame < frames; ++frame) {
            const int repeat = frame % delay == 0 ? frame / delay : 0;
            float expectedLeft = 0.0f, expectedRight = 0.0f;
            for (int k = 1; k <= repeat; ++k) {
                expectedLeft = k == 1 ? 1.0f : expectedLeft * EchoUnit::kFeedback;
                expectedRight = k == 1 ? -0.5f : expectedRight * EchoUnit::kFeedback;
            }
            wrong += left[static_cast<std::size_t>(frame)] != expectedLeft;
            wrong += right[static_cast<std::size_t>(frame)] != expectedRight;
        }
        EXPECT_EQ(wrong, 0) << "delay " << delay;
    }
}

} // namespace
} // namespace vexla
