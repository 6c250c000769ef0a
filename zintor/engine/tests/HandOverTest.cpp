// What crosses between the window and the render: the playing step the render publishes, phrases and
// states posted through the mailbox (in order, none lost, each at its time), and every output frame
// handed to the recorder.
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::vector<std::int16_t> render(SynthEngine& engine, int frames, int blockFrames = 1000) {
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> block(2 * static_cast<std::size_t>(blockFrames));
    for (int done = 0; done < frames;) {
        const int n = std::min(blockFrames, frames - done);
        engine.renderBlock(block.data(), n * 4);
        out.insert(out.end(), block.begin(), block.begin() + 2 * n);
        done += n;
    }
    return out;
}

PhraseState risingPhrase(int offset) {
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i)
        phrase.notes[i] = static_cast<std::int8_t>((i + offset) % 12);
    return phrase;
}

/// A playing engine with a phrase that sounds on every step.
std::unique_ptr<SynthEngine> playingEngine() {
    auto e = std::make_unique<SynthEngine>();
    e->sendPhrase(kSynthLine1, risingPhrase(0));
    PhraseState falling;
    for (int i = 0; i < kPhraseSteps; ++i)
        falling.notes[i] = static_cast<std::int8_t>(-(i % 7));
    e->sendPhrase(kSynthLine2, falling);
    e->settle();
    e->params.playing.store(true, kRelaxed);
    return e;
}

/// A state unlike the engine's: another tempo, step count, cutoff and line-1 phrase.
SynthState otherState(const SynthEngine& e) {
    SynthState s = captureState(e);
    s.controls.samplesPerStep = 3000;
    s.controls.stepCount = 8;
    s.synthLine1.sound.cutoff = 0.9f;
    for (auto& note : s.synthLine1.phrase.notes)
        note = 7;
    s.synthLine1.phrase.square = true;
    return s;
}

TEST(PlayingStep, IsPublishedOnTheFirstFrameOfEachShuffledStepWhateverTheBlockSize) {
    // samplesPerStep 5000, shuffle 128: step 0 lasts 5000 frames, then odd steps 2500 and even 7500;
    // with 16 steps the second pass's step 0 follows step 15 and is long.
    std::vector<int> expected; // the step of each frame
    expected.insert(expected.end(), 5000, 0);
    for (int index = 1; index <= 20; ++index)
        expected.insert(expected.end(), index % 2 == 0 ? 7500 : 2500, index % 16);

    for (int block : {1, 7, 512}) {
        auto e = playingEngine();
        e->params.shuffleAmount.store(128, kRelaxed);
        std::vector<std::int16_t> buffer(2 * static_cast<std::size_t>(block));
        int frame = 0;
        int mismatches = 0;
        while (frame + block <= static_cast<int>(expected.size())) {
            e->renderBlock(buffer.data(), block * 4);
            frame += block;
            if (e->params.playingStep.load(kRelaxed) != expected[static_cast<std::size_t>(frame - 1)])
                ++mismatches;
        }
        EXPECT_EQ(mismatches, 0) << "block " << block;
    }
}

/// Renders `frames`, calls `change` after the first `before` of them, and returns the whole output.
template <typename Change>
std::vector<std::int16_t> renderChanged(SynthEngine& e, int before, int frames, int blockFrames,
                                        Change change) {
    std::vector<std::int16_t> out = render(e, before, blockFrames);
    change(e);
    const std::vector<std::int16_t> rest = render(e, frames - before, blockFrames);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

TEST(StateHandOver, APostedStateIsTakenWholeAtTheNextStepBoundary) {
    // Posted in mid-step, the state must sound exactly as if it had been written between the steps
    // (step 0 is 5000 frames long); the window sees it at once.
    auto posted = playingEngine();
    const SynthState state = otherState(*posted);
    const auto a = renderChanged(*posted, 2500, 32500, 64, [&](SynthEngine& e) {
        e.postState(state, kStateEverything);
        EXPECT_EQ(captureState(e), state);
        EXPECT_EQ(e.params.samplesPerStep.load(), 5000); // not yet in the engine
    });
    EXPECT_EQ(captureState(*posted), state);
    auto reference = playingEngine();
    const auto b = renderChanged(*reference, 5000, 32500, 1000,
                                 [&](SynthEngine& e) { applyState(e, state, kStateEverything); });
    EXPECT_TRUE(a == b);
}

TEST(StateHandOver, AControlSetAfterThePostKeepsTheWindowsValue) {
    auto e = playingEngine();
    SynthState state = otherState(*e);
    state.controls.masterGain = 9000.0f;
    render(*e, 100);
    e->postState(state, kStateEverything);
    e->synthLine1.cutoff.store(0.3f, kRelaxed); // the window moves a slider before the step ends
    render(*e, 5000);
    EXPECT_EQ(e->synthLine1.cutoff.load(), 0.3f);
    EXPECT_EQ(e->params.masterGain.load(), 9000.0f);
    EXPECT_EQ(e->params.samplesPerStep.load(), 3000);
}

TEST(PhraseHandOver, APhrasePostedMidStepIsHeardFromTheNextStep) {
    // A step's note is taken at its start: sent mid-step, the phrase must sound as if it had been written
    // exactly at the next boundary.
    auto midStep = playingEngine();
    const auto a = renderChanged(*midStep, 2500, 22500, 64,
                                 [](SynthEngine& e) { e.sendPhrase(kSynthLine1, risingPhrase(5)); });
    auto atBoundary = playingEngine();
    const auto b = renderChanged(*atBoundary, 5000, 22500, 1000, [](SynthEngine& e) {
        e.sendPhrase(kSynthLine1, risingPhrase(5));
        e.settle();
    });
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == render(*playingEngine(), 22500)); // the phrase is heard
}

TEST(PhraseHandOver, ManyPostsAgainstARunningRenderLoseNone) {
    // The window posts phrases and states while the audio thread renders; every one is applied, in order.
    auto e = playingEngine();
    e->params.samplesPerStep.store(700, kRelaxed);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::int16_t block[2 * 64];
        while (!stop.load())
            e->renderBlock(block, sizeof block);
    });
    SynthState state = captureState(*e);
    PhraseState last;
    for (int i = 0; i < 2000; ++i) {
        last = risingPhrase(i % 24);
        last.envRates[255] = static_cast<float>(i); // tells each post apart
        e->sendPhrase(kSynthLine2, last);
        if (i % 50 == 0) {
            state.controls.stepCount = 1 + i % 200;
            e->postState(state, kStateControls);
        }
    }
    stop = true;
    audio.join();
    e->settle(); // what the render had not taken yet
    EXPECT_EQ(e->voice(kSynthLine2).phrase, last);
    EXPECT_EQ(e->params.stepCount.load(), 1 + 1950 % 200); // the last state
    EXPECT_EQ(captureState(*e).synthLine2.phrase, last);
}

TEST(RecorderTap, EveryOutputFrameReachesTheFileUntilUnhooked) {
    const common::test::ScratchDir dir("zintor-tap");
    const std::string path = dir.file("tap.wav");
    auto e = playingEngine();
    common::WavRecorder recorder;
    recorder.setBlockingWhenFull(true);
    ASSERT_EQ(recorder.open(path.c_str(), kSampleRate, 16, 2), common::WavRecorder::kOk);
    e->setRecorder(&recorder);
    std::vector<std::int16_t> heard = render(*e, 10007, 333);
    e->params.playing.store(false, kRelaxed); // stopped frames are recorded too
    const auto stopped = render(*e, 100, 7);
    heard.insert(heard.end(), stopped.begin(), stopped.end());
    e->setRecorder(nullptr);
    render(*e, 500); // not recorded
    ASSERT_EQ(recorder.finish(), common::WavRecorder::kOk);

    const common::test::Bytes bytes = common::test::readBytes(path);
    ASSERT_EQ(bytes.size(), 44 + heard.size() * 2);
    std::vector<std::int16_t> data(heard.size());
    std::memcpy(data.data(), bytes.data() + 44, heard.size() * 2);
    EXPECT_TRUE(data == heard);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](std::int16_t s) { return s != 0; }));
}

} // namespace
} // namespace zintor
