// The render allocates, frees and locks nothing, stopped or playing, while it serves posted changes, while a
// recording runs and while it sends MIDI or follows a master: every allocator call made on the rendering
// thread is counted around renderBlock().
#include "zintor/engine/SynthEngine.h"

#include "common/MidiBus.h"
#include "common/WavRecorder.h"
#include "common/tests/AllocationCounter.h"
#include "common/tests/ScriptedMaster.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zintor {
namespace {

using common::test::countAllocations;

long renderCounted(SynthEngine& engine, std::vector<std::int16_t>& buffer, int blocks) {
    const auto count = countAllocations([&] {
        for (int block = 0; block < blocks; ++block)
            engine.renderBlock(buffer.data(), static_cast<int>(buffer.size()) * 2);
    });
    return count.allocations + count.frees + count.locks;
}

TEST(SynthEngineRender, AllocatesNothingStoppedPlayingServingChangesOrRecording) {
    ASSERT_TRUE(common::test::allocationCounterWorks()); // or a count of zero proves nothing
    auto engine = std::make_unique<SynthEngine>();
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.staccato[i] = static_cast<std::uint8_t>(i % 2);
        phrase.notes[i] = static_cast<std::int8_t>(i % 12);
    }
    engine->synthLine2.filterType.store(2, std::memory_order_relaxed);
    engine->subBass.filterType.store(1, std::memory_order_relaxed);
    std::vector<std::int16_t> buffer(2 * 1000);

    const std::string path =
        (std::filesystem::temp_directory_path() / ("zintor-alloc-" + std::to_string(::getpid()) + ".wav"))
            .string();
    // The test renders far faster than real time: a ring that holds the whole take keeps a slow writer
    // thread on a loaded machine from dropping frames, so the frame count below is exact.
    common::WavRecorder recorder(std::size_t{1} << 19);
    ASSERT_EQ(recorder.open(path.c_str(), kSampleRate, 16, 2), common::WavRecorder::kOk);
    engine->setRecorder(&recorder);
    SynthState state = captureState(*engine);
    state.controls.samplesPerStep = 700; // many boundaries in a short render

    engine->sendPhrase(kSynthLine1, phrase);
    engine->postState(state, kStateEverything); // taken while stopped
    long calls = renderCounted(*engine, buffer, 50);
    engine->params.playing.store(true, std::memory_order_relaxed);
    engine->params.shuffleAmount.store(200, std::memory_order_relaxed);
    for (int round = 0; round < 40; ++round) {
        engine->sendPhrase(kSynthLine2, phrase, 0.3f);
        if (round % 5 == 0)
            engine->postState(state, kStateLine2Phrase | kStateControls); // taken at a boundary
        calls += renderCounted(*engine, buffer, 5);
    }
    EXPECT_EQ(calls, 0);

    engine->setRecorder(nullptr);
    EXPECT_EQ(recorder.finish(), common::WavRecorder::kOk);
    EXPECT_EQ(recorder.framesWritten(), 250u * 1000u);
    std::remove(path.c_str());
}

TEST(SynthEngineRender, AllocatesNothingSendingMidiOrFollowingAMaster) {
    ASSERT_TRUE(common::test::allocationCounterWorks());
    auto engine = std::make_unique<SynthEngine>();
    auto bus = std::make_unique<common::MidiBus>();
    engine->setMidi(bus.get());
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i)
        phrase.staccato[i] = static_cast<std::uint8_t>(i % 3 == 0);
    engine->sendPhrase(kSynthLine1, phrase);
    engine->settle();
    engine->params.samplesPerStep.store(700, std::memory_order_relaxed);
    engine->params.stepCount.store(7, std::memory_order_relaxed);
    engine->params.shuffleAmount.store(90, std::memory_order_relaxed);
    std::vector<std::int16_t> buffer(2 * 1000);
    long calls = 0;
    common::MidiMessage message;
    for (int round = 0; round < 40; ++round) {
        engine->params.playing.store(round % 8 != 7, std::memory_order_relaxed); // pauses and resumes
        calls += renderCounted(*engine, buffer, 3);
        while (bus->takeBefore(common::MidiBus::kEndOfTime, message)) {
        }
    }
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(bus->dropped(), 0u);
    EXPECT_GT(bus->renderFrame(), 0);

    // Following a master's sixteenths, through its starts and stops.
    // A master at 100 BPM playing for 9000 frames and stopping for 3000, over and over.
    common::test::ScriptedMaster master(100.0);
    int cues = 0;
    for (std::int64_t at = bus->renderFrame(); at < bus->renderFrame() + 40 * 3 * 1000;
         at += 12000, cues += 2) {
        master.play(at, cues, common::test::steadyGrid(100.0, at, cues));
        master.stop(at + 9000);
    }
    engine->setMaster(&master);
    calls = 0;
    for (int round = 0; round < 40; ++round) {
        calls += renderCounted(*engine, buffer, 3);
        while (bus->takeBefore(common::MidiBus::kEndOfTime, message)) {
        }
    }
    EXPECT_EQ(calls, 0);
    EXPECT_GE(master.taken(), 4u);
    EXPECT_EQ(bus->dropped(), 0u);
}

} // namespace
} // namespace zintor
