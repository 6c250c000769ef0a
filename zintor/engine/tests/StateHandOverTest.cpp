// The render's side of scenes, undo and recording: the playing step it publishes, a posted state taken
// whole at the next step boundary, and every output frame handed to the recorder.
#include "zintor/engine/SynthEngine.h"

#include "common/WavRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

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

/// A playing engine with a phrase that sounds on every step.
std::unique_ptr<SynthEngine> playingEngine() {
    auto e = std::make_unique<SynthEngine>();
    for (int i = 0; i < SynthVoice::kPhraseSteps; ++i) {
        e->synthLine1.notes[i].store(static_cast<std::int8_t>(i % 12), kRelaxed);
        e->synthLine2.notes[i].store(static_cast<std::int8_t>(-(i % 7)), kRelaxed);
    }
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

TEST(StateHandOver, APostedStateIsTakenWholeAtTheNextStepBoundary) {
    // Posted in mid-step, the state must sound exactly as if it had been written between the steps.
    auto posted = playingEngine();
    const SynthState state = otherState(*posted);
    auto reference = playingEngine();
    auto immediate = playingEngine();

    std::vector<std::int16_t> a = render(*posted, 2500, 64);
    posted->postState(state, kStateEverything);
    SynthState waiting;
    unsigned parts = 0;
    EXPECT_TRUE(posted->statePending(waiting, parts));
    EXPECT_EQ(parts, static_cast<unsigned>(kStateEverything));
    EXPECT_EQ(captureState(*posted).controls.samplesPerStep, 5000); // not yet in the engine
    const auto rest = render(*posted, 30000, 64);
    a.insert(a.end(), rest.begin(), rest.end());
    EXPECT_FALSE(posted->statePending(waiting, parts));
    EXPECT_EQ(captureState(*posted), state);

    std::vector<std::int16_t> b = render(*reference, 5000); // step 0 is 5000 frames long
    applyState(*reference, state, kStateEverything);
    const auto restB = render(*reference, 27500);
    b.insert(b.end(), restB.begin(), restB.end());
    EXPECT_TRUE(a == b);

    std::vector<std::int16_t> c = render(*immediate, 2500);
    applyState(*immediate, state, kStateEverything);
    const auto restC = render(*immediate, 30000);
    c.insert(c.end(), restC.begin(), restC.end());
    EXPECT_FALSE(a == c); // a write in mid-step is heard at once: the hand-over waited
}

TEST(StateHandOver, IsTakenAtTheNextBlockWhileStoppedAndMergesLaterPosts) {
    auto e = playingEngine();
    e->params.playing.store(false, kRelaxed);
    SynthState first = otherState(*e);
    SynthState second = captureState(*e);
    for (auto& note : second.synthLine2.phrase.notes)
        note = -3;
    e->postState(first, kStateEverything);
    e->postState(second, kStateLine2Phrase); // the newer part wins, the rest of the first stays
    std::int16_t frame[2];
    e->renderBlock(frame, 4);
    SynthState expected = first;
    expected.synthLine2.phrase = second.synthLine2.phrase;
    EXPECT_EQ(captureState(*e), expected);
}

TEST(StateHandOver, PostsAndSettlesAgainstARunningRenderLoseNothing) {
    // The window posts and settles while the audio thread renders; the last post must end up whole.
    auto e = playingEngine();
    e->params.samplesPerStep.store(700, kRelaxed);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::int16_t block[2 * 64];
        while (!stop.load())
            e->renderBlock(block, sizeof block);
    });
    SynthState state = captureState(*e);
    for (int i = 0; i < 2000; ++i) {
        for (auto& note : state.synthLine2.phrase.notes)
            note = static_cast<std::int8_t>(i % 24);
        state.controls.stepCount = 1 + i % 200;
        e->postState(state, i % 3 == 0 ? kStateEverything : kStateLine2Phrase);
        if (i % 7 == 0)
            e->settlePostedState();
    }
    e->settlePostedState();
    stop = true;
    audio.join();
    const SynthState taken = captureState(*e);
    EXPECT_EQ(taken.synthLine2.phrase, state.synthLine2.phrase);
    EXPECT_EQ(taken.controls.stepCount, 1 + 1998 % 200); // the last whole post
}

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RecorderTap, EveryOutputFrameReachesTheFileUntilUnhooked) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("zintor-tap-" + std::to_string(::getpid()) + ".wav"))
            .string();
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

    const std::vector<char> bytes = fileBytes(path);
    std::remove(path.c_str());
    ASSERT_EQ(bytes.size(), 44 + heard.size() * 2);
    std::vector<std::int16_t> data(heard.size());
    std::memcpy(data.data(), bytes.data() + 44, heard.size() * 2);
    EXPECT_TRUE(data == heard);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](std::int16_t s) { return s != 0; }));
}

} // namespace
} // namespace zintor
