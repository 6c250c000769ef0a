// The loop engine's frame: clock, clip flag, silence, requests, block-size invariance, peaks, and the
// window's changes against a running render.
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace vexla {
namespace {

using testing::kickTriggerFrames;
using testing::makeKickOnlyEngine;
using testing::makeQuietEngine;
using testing::renderInBlocks;

// The conversion works in single precision and integers; the rule it keeps is lrint of v − 0.5 in double
// precision, clipped at ±32766 with the flag set (non-finite input clips too). Every float whose rounding
// could differ is checked: each one near zero (tiny magnitudes, where v − 0.5 in float would round), a
// dense run of whole and half numbers, and the last steps below and above the clip level.
TEST(ClipAndConvert, RoundsVMinusHalfInDoublePrecisionAndClipsAtPlusMinus32766) {
    const auto reference = [](float v) {
        const float level = v > kClipLevel ? kClipLevel : (v >= -kClipLevel ? v : -kClipLevel);
        return static_cast<int>(std::lrint(static_cast<double>(level) - 0.5));
    };
    int mismatches = 0;
    const auto check = [&](float v) {
        int clipped = 0;
        const int out = clipAndConvert(v, clipped);
        if ((out != reference(v) || (clipped != 0) != !(std::fabs(v) <= kClipLevel)) && ++mismatches <= 5)
            ADD_FAILURE() << "input " << v << " gave " << out << ", clipped " << clipped;
    };
    // v − 0.5 rounds to −0.5 in double precision for the first, not for the second.
    for (const float v :
         {-0x1p-54f, -0x1.000002p-54f, 40000.0f, -40000.0f, std::numeric_limits<float>::quiet_NaN(),
          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()})
        check(v);
    // Floats of magnitude below 4, both signs: every 61st bit pattern (so that every binade and every
    // low-bit pattern is met), and each of the smallest 4096 (subnormals).
    for (std::uint32_t bits = 0; bits < 0x40800000u; bits += 61) {
        check(std::bit_cast<float>(bits));
        check(-std::bit_cast<float>(bits));
    }
    for (std::uint32_t bits = 0; bits < 4096; ++bits) {
        check(std::bit_cast<float>(bits));
        check(-std::bit_cast<float>(bits));
    }
    for (int k = -32766; k <= 32766; ++k) {
        const float whole = static_cast<float>(k);
        check(whole);
        check(whole + 0.5f);
        check(std::nextafter(whole, 40000.0f));
        check(std::nextafter(whole, -40000.0f));
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(StepClock, TheKickStrikesOnStepZeroAndEveryFourthStepAtExactFrames) {
    // 5001 frames a step: with 16 steps a strike every 4 steps, with 3 only on step 0 of each pass.
    for (const int steps : {16, 3}) {
        const int apart = std::min(steps, 4) * 5001;
        auto engine = makeKickOnlyEngine();
        engine->params.stepCount = steps;
        const auto left = testing::leftChannel(renderInBlocks(*engine, 8 * apart + 10, 256));
        std::vector<int> strikes;
        for (int frame = 0; frame <= 8 * apart; frame += apart)
            strikes.push_back(frame);
        EXPECT_EQ(kickTriggerFrames(left), strikes) << steps << " steps";
    }
}

TEST(StepClock, ShorterStepsOrFewerOfThemTakeEffectAtTheRightFrame) {
    auto engine = makeQuietEngine();
    renderInBlocks(*engine, 10 * 5001 + 1, 64); // inside step 10
    EXPECT_EQ(engine->currentStep(), 11);
    engine->params.stepCount = 3;
    renderInBlocks(*engine, 5000, 64);
    EXPECT_EQ(engine->currentStep(), 11);
    renderInBlocks(*engine, 1, 1); // the boundary wraps to step 0
    EXPECT_EQ(engine->currentStep(), 0);

    engine = makeQuietEngine();
    renderInBlocks(*engine, 3000, 64); // inside step 0
    ASSERT_EQ(engine->currentStep(), 1);
    engine->params.samplesPerStep = 2000;
    // One block of two frames: the first ends step 0 (counter past 2000 reads 0), the second starts step 1.
    renderInBlocks(*engine, 2, 2);
    EXPECT_EQ(engine->currentStep(), 2);
    EXPECT_EQ(engine->sampleInStep(), 1);
    renderInBlocks(*engine, 2000, 512); // step 1 lasts 2001 frames, whatever the block size
    EXPECT_EQ(engine->currentStep(), 2);
    renderInBlocks(*engine, 1, 512);
    EXPECT_EQ(engine->currentStep(), 3);
}

TEST(Clip, OverloadSetsClippedAndItStaysSet) {
    auto engine = makeKickOnlyEngine();
    engine->kick.pattern.slide1 = 0.0f;
    engine->params.masterGain = 8.0f;
    renderInBlocks(*engine, 2000, 500);
    EXPECT_TRUE(engine->params.clipped);
    engine->params.masterGain = 0.0f;
    renderInBlocks(*engine, 100, 100);
    EXPECT_TRUE(engine->params.clipped); // latched until the window clears it
}

TEST(Stopped, RendersSilenceRecordsZerosAndFreezesTheClock) {
    common::Random random;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, random, 42);
    engine->params.recording = true;
    const auto out = renderInBlocks(*engine, 1000, 128);
    for (std::int16_t v : out)
        ASSERT_EQ(v, 0);
    EXPECT_EQ(engine->params.recordedBytes, 4000);
    EXPECT_EQ(engine->sampleInStep(), 0);
    EXPECT_EQ(engine->currentStep(), 0);
    EXPECT_EQ(engine->audioRandom.state(), 1u); // hi-hats drew nothing
}

TEST(RenderBlock, ShortLengthsLeaveTheRestOfTheBufferUntouched) {
    auto engine = makeKickOnlyEngine();
    engine->kick.pattern.slide1 = 0.0f;
    renderInBlocks(*engine, 30, 30); // a non-zero kick from here on
    unsigned char buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    engine->renderBlock(buffer, 3);
    for (unsigned char b : buffer)
        EXPECT_EQ(b, 0xAB);
    const int stepBefore = engine->sampleInStep();
    engine->renderBlock(buffer, 7);
    EXPECT_EQ(engine->sampleInStep(), stepBefore + 1);
    EXPECT_FALSE(buffer[0] == 0xAB && buffer[1] == 0xAB);
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(buffer[i], 0xAB);
}

TEST(Requests, AreServedAtTheNextStepBoundaryAndNotBefore) {
    common::Random random;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, random, 7);
    engine->params.running = true;
    renderInBlocks(*engine, 2500, 100); // mid step 0
    const float clipBefore = engine->bass1.pattern.clip;
    const float incrementAtStep1 = [&] {
        // The step after the boundary still plays the old pattern's note for step 1.
        BassVoice probe(BassKind::Bass1);
        probe.pattern.notes[1] = engine->bass1.pattern.notes[1];
        probe.pattern.mode = engine->bass1.pattern.mode;
        probe.stepLoad(1, 16, 0);
        return probe.increment();
    }();
    engine->request(Request::Bass1);
    renderInBlocks(*engine, 5001 - 2500, 1); // up to the last frame of step 0
    EXPECT_TRUE(engine->requestPending(Request::Bass1));
    EXPECT_EQ(engine->bass1.pattern.clip, clipBefore);
    EXPECT_EQ(engine->currentStep(), 1);

    renderInBlocks(*engine, 1, 1); // the boundary frame
    EXPECT_FALSE(engine->requestPending(Request::Bass1));
    EXPECT_EQ(engine->bass1.increment(), incrementAtStep1);
    EXPECT_EQ(engine->currentStep(), 2);
    // The render's pattern reaches the window's copy when the window collects, not before.
    EXPECT_NE(engine->bass1.pattern, captureScene(*engine).bass1);
    engine->collectChanges();
    EXPECT_EQ(engine->bass1.pattern, captureScene(*engine).bass1);
}

// A scene with every unit sounding, a served request and window-thread randomisers between blocks.
std::vector<std::int16_t> renderScene(int blockFrames) {
    common::Random random;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, random, 1234);
    testing::makeEverythingSound(*engine, random);
    engine->request(Request::Sine);
    engine->request(Request::Kick);
    auto first = renderInBlocks(*engine, 28672, blockFrames);
    pressButton(*engine, random, "Sequence");
    pressButton(*engine, random, "AM Alter");
    pressButton(*engine, random, "Echo Alter");
    pressButton(*engine, random, "Slicer");
    engine->params.transpose = 5;
    const auto second = renderInBlocks(*engine, 28672 * 2, blockFrames);
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(BlockSize, OutputIsIdenticalForBlocksOf1_7_64_512) {
    const auto reference = renderScene(512);
    int loud = 0;
    for (std::int16_t v : reference)
        loud += std::abs(v) > 1000;
    EXPECT_GT(loud, static_cast<int>(reference.size() / 4));
    for (int block : {1, 7, 64}) {
        const auto out = renderScene(block);
        ASSERT_EQ(out.size(), reference.size());
        const auto differs = std::mismatch(out.begin(), out.end(), reference.begin()).first;
        EXPECT_EQ(differs, out.end()) << "block " << block << " differs at sample " << differs - out.begin();
    }
}

TEST(Peaks, AfterEachBlockFollowThePerFrameRule) {
    for (int block : {1, 100, 5000}) {
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

/// Notes its number in the order the render applies it.
class NumberedChange final : public common::Change<LoopEngine> {
  public:
    NumberedChange(std::vector<int>& applied, int number) : applied_(applied), number_(number) {}
    void apply(LoopEngine&) override { applied_.push_back(number_); } // reserved: never allocates
  private:
    std::vector<int>& applied_;
    int number_;
};

TEST(Mailbox, ManyChangesPostedWhileTheRenderRunsAreAllAppliedInOrder) {
    // Far more changes than the mailbox's ring holds: the overflow waits on the window side, none is lost.
    // Re-rolls and requests go between them; in the end the render's patterns are the window's copy.
    constexpr int kChanges = 5000;
    auto engine = testing::makeQuietEngine();
    engine->params.samplesPerStep = 300; // many step boundaries, so that requests are served
    engine->params.running = true;
    std::vector<int> applied;
    applied.reserve(kChanges);
    auto audio = std::make_unique<testing::RenderThread>(*engine);
    common::Random window(5);
    for (int i = 0; i < kChanges; ++i) {
        engine->post(std::make_unique<NumberedChange>(applied, i));
        if (i % 7 == 0)
            pressButton(*engine, window,
                        kEngineButtons[static_cast<std::size_t>(i / 7) % std::size(kEngineButtons)].caption);
        if (i % 13 == 0)
            engine->regenerateAll(window);
        if (i % 100 == 0) {
            engine->collectChanges();
            std::this_thread::yield();
        }
    }
    EXPECT_TRUE(testing::settle(*engine)) << "the render serves every request";
    audio.reset();
    engine->settleChanges();
    engine->collectChanges();
    ASSERT_EQ(applied.size(), static_cast<std::size_t>(kChanges));
    for (int i = 0; i < kChanges; ++i)
        ASSERT_EQ(applied[static_cast<std::size_t>(i)], i);
    SceneState played = captureScene(*engine);
    captureUnitPatterns(*engine, played, kScenePatterns);
    EXPECT_TRUE(played == captureScene(*engine));
}

// ---- the basslines, kick and sine: pitches measured, the kick's re-roll heard from the next block ------

// One bassline alone: notes 0, mode 0, gates always open, a clip level that never bites.
std::unique_ptr<LoopEngine> makeBassOnlyEngine(BassKind kind) {
    auto engine = makeQuietEngine();
    BassVoice& voice = kind == BassKind::Bass1 ? engine->bass1 : engine->bass2;
    for (int i = 0; i < kStepTableSize; ++i) {
        voice.pattern.notes[i] = 0;
        voice.pattern.gates[i] = 5000;
    }
    voice.pattern.mode = 0;
    voice.pattern.clip = 8191.0f;
    voice.pattern.resonance = 0.5f;
    voice.pattern.echoSend = 0.0f;
    return engine;
}

TEST(BassPitch, Bass2PlaysNoteZeroAt86HzAndBass1AnOctaveLower) {
    auto bass2 = makeBassOnlyEngine(BassKind::Bass2);
    const auto out2 = testing::leftChannel(renderInBlocks(*bass2, 20000, 256));
    EXPECT_NEAR(testing::frequencyByAutocorrelation({out2.begin() + 2000, out2.end()}, 300, 800), 86.13, 0.1);
    EXPECT_EQ(bass2->bass2.increment(), 1.0f);

    auto bass1 = makeBassOnlyEngine(BassKind::Bass1);
    const auto out1 = testing::leftChannel(renderInBlocks(*bass1, 20000, 256));
    EXPECT_NEAR(testing::frequencyByAutocorrelation({out1.begin() + 2000, out1.end()}, 700, 1400), 43.07,
                0.03);
}

TEST(Kick, GenerateSilencesTheFirstPartialAtTheNextBlockUntilTheNextTrigger) {
    auto engine = testing::makeQuietEngine();
    engine->kick.pattern.startFreq = 0.06f;
    engine->kick.pattern.slide1 = 0.0f;
    testing::renderInBlocks(*engine, 10, 10); // the trigger at step 0
    ASSERT_EQ(engine->kick.freq1(), 0.06f);
    common::Random window(3);
    engine->generateKick(window); // on the window thread: pattern and silence go through the mailbox
    EXPECT_EQ(engine->kick.freq1(), 0.06f) << "not before the next block";
    EXPECT_EQ(engine->kick.pattern.startFreq, 0.06f) << "not before the next block";
    EXPECT_NE(captureScene(*engine).kick, engine->kick.pattern) << "the window sees it at once";
    testing::renderInBlocks(*engine, 1, 1);
    EXPECT_EQ(engine->kick.freq1(), 0.0f);
    EXPECT_GT(engine->kick.freq2(), 0.0f);
    EXPECT_EQ(engine->kick.pattern, captureScene(*engine).kick);
    engine->kick.pattern.slide1 = 0.0f;              // so that the next trigger's frequency holds
    testing::renderInBlocks(*engine, 4 * 5001, 512); // the next trigger, four steps on
    EXPECT_EQ(engine->kick.freq1(), engine->kick.pattern.startFreq);
}

TEST(Sine, NoteZeroSoundsAt344Hz) {
    auto engine = makeQuietEngine();
    engine->params.sineVolume = 1.0f;
    for (int i = 0; i < kStepTableSize; ++i) {
        engine->sine.pattern.notes[i] = 0;
        engine->sine.pattern.levels[i] = 0.5f;
        engine->sine.pattern.decays[i] = 0.0f;
    }
    engine->sine.pattern.echoSend = 0.0f;
    const auto left = testing::leftChannel(renderInBlocks(*engine, 44100, 441));
    int crossings = 0;
    for (std::size_t i = 1000; i < left.size(); ++i)
        crossings += (left[i - 1] < 0) != (left[i] < 0);
    const double seconds = (left.size() - 1000) / 44100.0;
    EXPECT_NEAR(crossings / 2.0 / seconds, 344.53, 1.0);
}

} // namespace
} // namespace vexla
