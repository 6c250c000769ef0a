// The loop engine following a master clock: each step on the master's sixteenth, at a fixed tempo, at
// another and through a ramp, its Play and Stop on their frames, and the step played the master's
// sixteenth modulo the step count. Measured from the kick in the audio, the MIDI clock out's pulses
// and the engine's step reports.
#include "common/MidiBus.h"
#include "common/StepMaster.h"
#include "common/tests/ScriptedMaster.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/MidiTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace vexla {
namespace {

using common::MidiBus;
using common::test::ScriptedMaster;
using common::test::steadyGrid;
using common::test::tempoGrid;
namespace midi = common::midi;

/// The kick's strikes after the first frame (the first from silence shows as none).
std::vector<int> strikes(const std::vector<std::int16_t>& audio) {
    std::vector<int> frames = testing::kickTriggerFrames(testing::leftChannel(audio));
    std::erase(frames, 0);
    return frames;
}

TEST(VexlaFollow, StepsBeginOnTheMastersSixteenthsAtAnyTempo) {
    const struct {
        const char* name;
        std::function<double(std::int64_t)> tempo;
    } masters[] = {
        {"100 BPM", [](std::int64_t) { return 100.0; }},
        {"140 BPM", [](std::int64_t) { return 140.0; }},
        {"ramp",
         [](std::int64_t s) {
             return 100.0 + 40.0 * static_cast<double>(std::min<std::int64_t>(s, 48)) / 48.0;
         }},
    };
    for (const auto& m : masters) {
        std::vector<common::test::Sent> firstMidi;
        std::vector<std::int16_t> firstAudio;
        for (const int block : {256, 7, 1024}) {
            // The engine's own tempo (5001 frames a step) is none of the master's. In blocks of 1024 no
            // bus is attached: the master is followed all the same.
            auto engine = testing::makeKickOnlyEngine();
            MidiBus bus;
            MidiBus* const used = block == 1024 ? nullptr : &bus;
            ScriptedMaster master(m.tempo(0));
            const ScriptedMaster::Grid grid = tempoGrid(m.tempo, 1000);
            master.play(1000, 0, grid);
            engine->setMidi(used);
            engine->setMaster(&master);
            const int sixteenths = 60;
            const int frames = static_cast<int>(grid(sixteenths));
            const testing::Take take = testing::render(*engine, used, frames, block);

            // The kick strikes every fourth step: on the master's sixteenths 4, 8, ... (the first rises from
            // silence, where no strike shows).
            std::vector<int> expected;
            for (int s = 4; s < sixteenths; s += 4)
                expected.push_back(static_cast<int>(grid(s)));
            EXPECT_EQ(strikes(take.audio), expected) << m.name;
            EXPECT_FLOAT_EQ(engine->params.followedBpm, static_cast<float>(master.bpm()));
            EXPECT_TRUE(engine->params.masterPlaying);
            if (!used) {
                EXPECT_TRUE(take.audio == firstAudio) << m.name << ", without a bus";
                continue;
            }

            // Start where sixteenth 0 begins; six pulses to each sixteenth, spread over it to the frame.
            EXPECT_EQ(testing::framesOf(take.midi, midi::kStart), std::vector<std::int64_t>{1000}) << m.name;
            const auto pulses = testing::framesOf(take.midi, midi::kClock);
            ASSERT_EQ(pulses.size(), static_cast<std::size_t>(6 * sixteenths)) << m.name;
            for (int k = 0; k < 6 * sixteenths; ++k) {
                const std::int64_t begins = grid(k / 6);
                const std::int64_t length = grid(k / 6 + 1) - begins;
                ASSERT_EQ(pulses[static_cast<std::size_t>(k)], begins + (k % 6) * length / 6)
                    << m.name << " pulse " << k;
            }

            if (firstMidi.empty()) {
                firstMidi = take.midi;
                firstAudio = take.audio;
            } else {
                EXPECT_EQ(take.midi, firstMidi) << m.name << ", blocks of " << block;
                EXPECT_TRUE(take.audio == firstAudio) << m.name << ", blocks of " << block;
            }
        }
    }
}

TEST(VexlaFollow, PlayAndStopOnTheirFramesAndTheStepIsTheMastersSixteenthModTheCount) {
    const int length = 4725; // a sixteenth at 140 BPM
    auto engine = testing::makeKickOnlyEngine();
    engine->params.stepCount = 6;
    MidiBus bus;
    ScriptedMaster master(140.0);
    // Play from sixteenth 8; Run off and on again in between (the engine joins on the next sixteenth);
    // Stop; Play again from sixteenth 8.
    const auto first = [&](int s) { return 3000 + (s - 8) * length; };
    const int runOff = first(11) + 100, runOn = first(13) + 2000;
    const int stop = first(18) + 1234, again = stop + 20000;
    const auto second = [&](int s) { return again + (s - 8) * length; };
    master.play(3000, 8, steadyGrid(140.0, 3000, 8));
    master.stop(stop);
    master.play(again, 8, steadyGrid(140.0, again, 8));
    engine->setMidi(&bus);
    engine->setMaster(&master);

    std::vector<std::pair<int, int>> steps; // frame where a step began, and the step
    std::vector<std::pair<int, bool>> masterPlaying;
    int reported = engine->params.playingStep;
    const testing::Take take = testing::render(*engine, &bus, second(14), 1, {runOff, runOn}, [&](int frame) {
        if (engine->params.playingStep != reported)
            steps.emplace_back(frame, reported = engine->params.playingStep);
        if (masterPlaying.empty() || masterPlaying.back().second != engine->params.masterPlaying)
            masterPlaying.emplace_back(frame, engine->params.masterPlaying);
    });

    std::vector<std::pair<int, int>> expected;
    for (int s : {8, 9, 10, 11, 14, 15, 16, 17, 18})
        expected.emplace_back(first(s), s % 6);
    for (int s = 8; s < 14; ++s)
        expected.emplace_back(second(s), s % 6);
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(masterPlaying,
              (std::vector<std::pair<int, bool>>{{0, false}, {3000, true}, {stop, false}, {again, true}}));

    // Silent while stopped or switched off.
    const auto left = testing::leftChannel(take.audio);
    const auto silent = [&](int from, int to) {
        return std::all_of(left.begin() + from, left.begin() + to, [](std::int16_t s) { return s == 0; });
    };
    EXPECT_TRUE(silent(0, 3000));
    EXPECT_FALSE(silent(3000, runOff));
    EXPECT_TRUE(silent(runOff, first(14)));
    EXPECT_TRUE(silent(stop, again));
    EXPECT_FALSE(silent(again, again + length));

    // The clock out: the song position of the sixteenth and Continue where each stretch of playing
    // begins, Stop where it ends.
    std::vector<std::pair<std::int64_t, int>> positions;
    for (const common::test::Sent& m : take.midi)
        if (m.status == midi::kSongPosition)
            positions.emplace_back(m.frame, m.data1 | m.data2 << 7);
    EXPECT_EQ(positions, (std::vector<std::pair<std::int64_t, int>>{{3000, 8}, {first(14), 14}, {again, 8}}));
    EXPECT_EQ(testing::framesOf(take.midi, midi::kContinue),
              (std::vector<std::int64_t>{3000, first(14), again}));
    EXPECT_EQ(testing::framesOf(take.midi, midi::kStop), (std::vector<std::int64_t>{runOff, stop}));
    EXPECT_TRUE(testing::framesOf(take.midi, midi::kStart).empty());

    // Back to its own clock: the steps go on from where they were, 5001 frames each.
    engine->setMaster(nullptr);
    engine->params.stepCount = 16;
    const auto own = testing::render(*engine, nullptr, 10 * 5001, 64);
    EXPECT_FALSE(engine->params.masterPlaying);
    EXPECT_EQ(engine->params.followedBpm, 0.0f);
    const auto kicks = strikes(own.audio);
    ASSERT_GE(kicks.size(), 2u);
    EXPECT_EQ(kicks[1] - kicks[0], 4 * 5001);
}

} // namespace
} // namespace vexla
