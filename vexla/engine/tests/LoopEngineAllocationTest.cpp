// Proves that renderBlock neither allocates, frees nor locks: not while requests are served, effects
// re-rolled, scenes taken at step boundaries, samples restarted and swapped (their old arrays are freed on
// the window thread), nor while a recording runs and MIDI clock and notes go out, stopped and started, nor
// while the steps follow a master clock.
#include "common/MidiBus.h"
#include "common/WavRecorder.h"
#include "common/tests/AllocationCounter.h"
#include "common/tests/ScriptedMaster.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace vexla {
namespace {

TEST(RenderAllocation, RenderBlockAllocatesNothing) {
    ASSERT_TRUE(common::test::allocationCounterWorks());
    common::Random window;
    auto engine = std::make_unique<LoopEngine>();
    startUp(*engine, window, 77);
    testing::makeEverythingSound(*engine, window);
    engine->params.samplesPerStep = 2000;
    std::vector<std::int16_t> buffer(2 * 512);

    const auto path =
        std::filesystem::temp_directory_path() / ("vexla-alloc-" + std::to_string(::getpid()) + ".wav");
    // The test renders far faster than real time: a ring that holds the whole take keeps a slow
    // writer thread on a loaded machine from dropping frames, so the count below is exact.
    common::WavRecorder recorder(std::size_t{1} << 19);
    ASSERT_EQ(recorder.open(path.c_str(), kSampleRate, 16, 2), 0);
    engine->setRecorder(&recorder);
    engine->params.recording = true;
    auto bus = std::make_unique<common::MidiBus>();
    engine->setMidi(bus.get());
    std::size_t midiMessages = 0;
    common::test::ScriptedMaster master(240.0); // a sixteenth shorter than a round
    master.play(205800, 3, common::test::steadyGrid(240.0, 205800, 3));
    master.stop(265800);
    master.play(285800, 3, common::test::steadyGrid(240.0, 285800, 3));

    const SceneState scene = captureScene(*engine);
    long total = 0;
    for (int round = 0; round < 100; ++round) {
        if (round == 50) // frame 204800
            engine->setMaster(&master);
        if (round % 10 == 7) // an opened scene or an undo step, taken at the next boundary
            engine->postScene(scene, kSceneEverything);
        // Every request pending at every boundary; window randomisers between blocks.
        for (Request which : {Request::Hats, Request::Sine, Request::Bass1, Request::Bass2, Request::Kick})
            engine->request(which);
        if (round % 10 == 3)
            for (const char* caption : {"Sequence", "AM Alter", "Echo Alter", "2nd Looper", "Slicer"})
                pressButton(*engine, window, caption);
        if (round % 10 == 5 || round % 10 == 6) // stopped for a round: Stop and all notes off, then Start
            engine->params.running = round % 10 == 6;
        if (round % 25 == 5) { // a sample swapped in, the old arrays freed on this thread
            SampleSlot loaded;
            testing::fillSlot(loaded, 1000 + round, round % 2 == 0, 20.0);
            engine->swapSample(engine->drySlot, std::move(loaded));
        }
        engine->collectChanges();
        // Counted on this thread only, so the recorder's writer thread does not disturb the count.
        const common::test::AllocationCount count = common::test::countAllocations([&] {
            for (int block = 0; block < 8; ++block)
                engine->renderBlock(buffer.data(), static_cast<int>(buffer.size() * 2));
        });
        total += count.allocations + count.frees + count.locks;
        common::MidiMessage message;
        while (bus->takeBefore(common::MidiBus::kEndOfTime, message))
            ++midiMessages;
    }
    EXPECT_EQ(total, 0);
    EXPECT_GT(midiMessages, 1000u);
    EXPECT_EQ(bus->dropped(), 0u);
    EXPECT_GE(master.taken(), 3u);
    EXPECT_FALSE(engine->requestPending(Request::Bass1)); // requests were served inside the counted renders
    SceneState posted;
    unsigned parts = 0;
    EXPECT_FALSE(engine->scenePending(posted, parts)); // and so was the scene
    engine->params.recording = false;
    engine->setRecorder(nullptr);
    EXPECT_EQ(recorder.finish(), 0);
    EXPECT_EQ(recorder.framesWritten(), 100u * 8u * 512u);
    engine->setMaster(nullptr);
    std::filesystem::remove(path);
}

} // namespace
} // namespace vexla
