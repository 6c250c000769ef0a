// Echo: impulse response at the exact delay, the delays alterEcho chooses, the cap, cross-thread alters.
#include "vexla/engine/EchoUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace vexla {
namespace {

/// A generator whose next below(5) gives k.
common::Random randomGiving(int k) {
    for (std::uint32_t seed = 1;; ++seed) {
        common::Random probe(seed);
        if (probe.below(5) == k) return common::Random(seed);
    }
}

/// Sends an impulse of 1.0 into one channel and returns `frames` outputs of both channels.
std::vector<StereoFrame> impulseResponse(EchoUnit& echo, int frames, bool intoLeft = true) {
    std::vector<StereoFrame> out;
    out.reserve(static_cast<std::size_t>(frames));
    for (int frame = 0; frame < frames; ++frame) {
        const float send = frame == 0 ? 1.0f : 0.0f;
        out.push_back(echo.process(intoLeft ? send : 0.0f, intoLeft ? 0.0f : send));
    }
    return out;
}

/// Checks 1.0, 0.7, 0.49, … exactly at multiples of `delay` and silence everywhere else.
void expectRepeats(const std::vector<StereoFrame>& out, int delay, bool left) {
    float expected = 1.0f;
    for (std::size_t frame = 0; frame < out.size(); ++frame) {
        const float value = left ? out[frame].left : out[frame].right;
        const float other = left ? out[frame].right : out[frame].left;
        ASSERT_EQ(other, 0.0f) << "no cross-feed, frame " << frame;
        if (frame > 0 && frame % static_cast<std::size_t>(delay) == 0) {
            ASSERT_EQ(value, expected) << "repeat at frame " << frame;
            expected *= EchoUnit::kFeedback;
        } else {
            ASSERT_EQ(value, 0.0f) << "frame " << frame;
        }
    }
}

TEST(EchoUnit, StartsWithThreeStepsLessOneFrame) {
    auto echo = std::make_unique<EchoUnit>(5000);
    EXPECT_EQ(echo->readPos(), 50536);
    EXPECT_EQ(echo->delayFrames(), 14999);
    const auto out = impulseResponse(*echo, 4 * 14999 + 10);
    expectRepeats(out, 14999, true);
    EXPECT_EQ(out[14999].left, 1.0f);
    EXPECT_EQ(out[2 * 14999].left, 0.7f);
    EXPECT_EQ(out[3 * 14999].left, 0.7f * 0.7f);
}

TEST(EchoUnit, RightChannelIsIndependent) {
    auto echo = std::make_unique<EchoUnit>(5000);
    expectRepeats(impulseResponse(*echo, 3 * 14999 + 1, false), 14999, false);
}

TEST(EchoUnit, AlterEchoChoosesOneToFiveStepsLessOneFrame) {
    for (int k = 0; k < 5; ++k) {
        auto echo = std::make_unique<EchoUnit>(5000);
        common::Random random = randomGiving(k);
        ASSERT_EQ(echo->alterEcho(random, 5000), k);
        const int delay = (k + 1) * 5000 - 1;
        expectRepeats(impulseResponse(*echo, 2 * delay + 5), delay, true);
        EXPECT_EQ(echo->delayFrames(), delay);
    }
}

TEST(EchoUnit, LongestDelayIsCappedAtTheLine) {
    auto echo = std::make_unique<EchoUnit>(20000);
    EXPECT_EQ(echo->readPos(), 5536);
    common::Random random = randomGiving(4);
    echo->alterEcho(random, 20000);
    const auto out = impulseResponse(*echo, 2 * 65535 + 3);
    EXPECT_EQ(echo->readPos(), (2 * 65535 + 3) & EchoUnit::kPositionMask);
    expectRepeats(out, 65535, true);
}

TEST(EchoUnit, EveryTempoAndChoiceGivesAPositionInsideTheLines) {
    for (int samplesPerStep = 2000; samplesPerStep <= 20000; ++samplesPerStep)
        for (int k = 0; k < 5; ++k) {
            const std::int32_t pos = EchoUnit::readPosFor(k, samplesPerStep);
            ASSERT_GE(pos, 0);
            ASSERT_LE(pos, 65535);
            const int expectedDelay = std::min((k + 1) * samplesPerStep - 1, 65535);
            ASSERT_EQ((65535 - pos) & EchoUnit::kPositionMask, expectedDelay);
        }
}

TEST(EchoUnit, AlterEchoMakesThreeDraws) {
    auto echo = std::make_unique<EchoUnit>(5000);
    common::Random random(7);
    common::Random twin(7);
    echo->alterEcho(random, 5000);
    twin.below(5);
    twin.below(5);
    twin.below(256);
    EXPECT_EQ(random.state(), twin.state());
}

TEST(EchoUnit, MaterialInTheLinesIsHeardFromTheNewPositions) {
    auto echo = std::make_unique<EchoUnit>(5000);
    // Frame f writes at position f − 1: an impulse on frame 62001 lies at 62000.
    for (int frame = 0; frame <= 62001; ++frame) echo->process(frame == 62001 ? 1.0f : 0.0f, 0.0f);
    common::Random random = randomGiving(0);
    echo->alterEcho(random, 5000);
    // Reads now start at 60536 and reach 62000 after 1464 frames, before the new writes from 65535 do.
    const auto out = impulseResponse(*echo, 1500);
    for (int frame = 0; frame < 1500; ++frame)
        ASSERT_EQ(out[static_cast<std::size_t>(frame)].left, frame == 1464 ? 1.0f : 0.0f) << frame;
}

TEST(EchoUnit, ClearSilencesTheLines) {
    auto echo = std::make_unique<EchoUnit>(5000);
    for (int frame = 0; frame < 100; ++frame) echo->process(1.0f, -1.0f);
    echo->clear();
    for (int frame = 0; frame < 20000; ++frame) {
        const StereoFrame out = echo->process(0.0f, 0.0f);
        ASSERT_EQ(out.left, 0.0f);
        ASSERT_EQ(out.right, 0.0f);
    }
}

TEST(EchoUnit, AltersFromAnotherThreadNeverSplitTheDelay) {
    auto echo = std::make_unique<EchoUnit>(5000);
    std::atomic<bool> done{false};
    std::thread window([&] {
        common::Random random(3);
        while (!done.load()) echo->alterEcho(random, 5000);
    });
    bool allValid = true;
    for (int frame = 0; frame < 200000; ++frame) {
        echo->process(0.0f, 0.0f);
        if (echo->writeLeft() != echo->writeRight()) allValid = false;
        if ((echo->delayFrames() + 1) % 5000 != 0) allValid = false;
    }
    done = true;
    window.join();
    EXPECT_TRUE(allValid) << "left and right share one delay of whole steps less one frame";
}

} // namespace
} // namespace vexla
