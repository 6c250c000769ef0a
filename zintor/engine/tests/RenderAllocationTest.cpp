// The render allocates, frees and locks nothing, stopped or playing, while it serves posted changes, while a
// recording runs and while it sends MIDI or follows a master: every allocator call made on the rendering
// thread is counted around renderBlock().
#include "zintor/engine/SynthEngine.h"

#include "common/MidiBus.h"
#include "common/WavRecorder.h"
#include "common/tests/AllocationCounter.h"
#include "common/tests/MidiTestSupport.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/ScriptedMaster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

TEST(SynthEngineRender, AllocatesNothingServingChangesRecordingSendingMidiOrFollowingAMaster) {
    ASSERT_TRUE(common::test::allocationCounterWorks()); // or a count of zero proves nothing
    auto engine = std::make_unique<SynthEngine>();
    auto bus = std::make_unique<common::MidiBus>();
    engine->setMidi(bus.get());
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.staccato[i] = static_cast<std::uint8_t>(i % 2);
        phrase.notes[i] = static_cast<std::int8_t>(i % 12);
    }
    engine->synthLine2.filterType.store(2, kRelaxed);
    engine->subBass.filterType.store(1, kRelaxed);

    // The test renders far faster than real time: a ring that holds the whole take keeps a slow writer
    // thread on a loaded machine from dropping frames, so the frame count below is exact.
    const common::test::ScratchDir dir("zintor-alloc");
    common::WavRecorder recorder(std::size_t{1} << 19);
    ASSERT_EQ(recorder.open(dir.file("take.wav").c_str(), kSampleRate, 16, 2), common::WavRecorder::kOk);
    engine->setRecorder(&recorder);

    std::vector<std::int16_t> buffer(2 * 1000);
    long calls = 0;
    const auto render = [&](int blocks) {
        const auto count = common::test::countAllocations([&] {
            for (int block = 0; block < blocks; ++block)
                engine->renderBlock(buffer.data(), static_cast<int>(buffer.size()) * 2);
        });
        calls += count.allocations + count.frees + count.locks;
        common::test::drain(*bus); // as the MIDI device would, outside the count
    };

    SynthState state = captureState(*engine);
    state.controls.samplesPerStep = 700; // many boundaries in a short render
    engine->sendPhrase(kSynthLine1, phrase);
    engine->postState(state, kStateEverything); // taken while stopped
    render(50);
    engine->params.shuffleAmount.store(200, kRelaxed);
    for (int round = 0; round < 40; ++round) {
        engine->params.playing.store(round % 8 != 7, kRelaxed); // pauses and resumes
        engine->sendPhrase(kSynthLine2, phrase, 0.3f);
        if (round % 5 == 0)
            engine->postState(state, kStateLine2Phrase | kStateControls); // taken at a boundary
        render(5);
    }
    EXPECT_EQ(calls, 0);

    // Following a master at 100 BPM playing for 9000 frames and stopping for 3000, over and over.
    common::test::ScriptedMaster master(100.0);
    const std::int64_t from = bus->renderFrame();
    for (std::int64_t at = from, cue = 0; at < from + 120000; at += 12000, cue += 2) {
        master.play(at, cue, common::test::steadyGrid(100.0, at, cue));
        master.stop(at + 9000);
    }
    engine->setMaster(&master);
    for (int round = 0; round < 40; ++round)
        render(3);
    EXPECT_EQ(calls, 0);
    EXPECT_GE(master.taken(), 4u);
    EXPECT_EQ(bus->dropped(), 0u);

    engine->setRecorder(nullptr);
    EXPECT_EQ(recorder.finish(), common::WavRecorder::kOk);
    EXPECT_EQ(recorder.framesWritten(), 370u * 1000u);
}

} // namespace
} // namespace zintor
