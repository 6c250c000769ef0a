// What the synth sends as MIDI: the clock on its exact frames (the shuffle moving the notes, not the
// pulses), Start, Stop, Continue and the song position, the notes of its seven voices with their pitches
// and ends; the same whatever the block size, and the sound unchanged by it. And its steps on a master's
// sixteenths, played by a scripted master.
#include "zintor/engine/SynthEngine.h"

#include "common/MidiBus.h"
#include "common/tests/MidiTestSupport.h"
#include "common/tests/ScriptedMaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace zintor {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

using common::test::channelOf;
using common::test::isNoteOff;
using common::test::isNoteOn;
using common::test::ScriptedMaster;
using common::test::steadyGrid;
using Message = common::test::Sent;

/// An engine with a bus, rendering in blocks of a chosen size and collecting the audio and the MIDI.
struct Rig {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    std::unique_ptr<common::MidiBus> bus = std::make_unique<common::MidiBus>();
    std::vector<Message> midi;
    std::vector<std::int16_t> audio;

    explicit Rig(bool attach = true) {
        if (attach)
            engine->setMidi(bus.get());
    }

    void render(int frames, int blockFrames) {
        std::vector<std::int16_t> block(2 * static_cast<std::size_t>(blockFrames));
        for (int done = 0; done < frames;) {
            const int n = std::min(blockFrames, frames - done);
            engine->renderBlock(block.data(), n * 4);
            audio.insert(audio.end(), block.begin(), block.begin() + 2 * n);
            done += n;
            const std::vector<Message> taken = common::test::drain(*bus);
            midi.insert(midi.end(), taken.begin(), taken.end());
        }
        EXPECT_EQ(bus->dropped(), 0u);
    }

    std::vector<std::int64_t> pulses() const { return common::test::framesOf(midi, common::midi::kClock); }
    /// Frames where the drum with this note struck (the hat, 42, strikes every step).
    std::vector<std::int64_t> drum(int note) const {
        std::vector<std::int64_t> frames;
        for (const Message& m : midi)
            if (isNoteOn(m) && m.status == 0x99 && m.data1 == note)
                frames.push_back(m.frame);
        return frames;
    }
    std::vector<std::int64_t> hats() const { return drum(42); }
};

/// A phrase rolled from `seed`: notes −7..16 semitones, about half of the steps staccato.
PhraseState seededPhrase(std::uint32_t seed) {
    common::Random random(seed);
    PhraseState phrase;
    for (int i = 0; i < kPhraseSteps; ++i) {
        phrase.notes[i] = static_cast<std::int8_t>(random.below(24) - 7);
        phrase.staccato[i] = static_cast<std::uint8_t>(random.below(2));
        phrase.envRates[i] = 0.0001f;
    }
    return phrase;
}

/// Three seeded phrases, a transpose, a shuffle and an odd tempo: a scene where much can go wrong.
void setUpScene(SynthEngine& engine, int shuffle = 77) {
    for (int voice = 0; voice < kSynthVoices; ++voice)
        engine.sendPhrase(voice, seededPhrase(11 + static_cast<std::uint32_t>(voice)));
    engine.settle();
    engine.params.globalTranspose.store(3, kRelaxed);
    engine.params.shuffleAmount.store(shuffle, kRelaxed);
    engine.params.samplesPerStep.store(4725, kRelaxed); // 140 BPM
    engine.synthLine1.volume.store(0.2f, kRelaxed);
    engine.params.playing.store(true, kRelaxed);
}

TEST(SynthMidiClock, PulsesFallOnTheUnshuffledGridAndTheShuffleMovesOnlyTheNotes) {
    // 5000 frames a step, 24 pulses a quarter: 833 or 834 frames apart, never drifting. The first step
    // keeps the start length; from step 2 on the shuffle moves the odd steps' notes by 100/256 of a step.
    Rig rig;
    rig.engine->params.samplesPerStep.store(5000, kRelaxed);
    rig.engine->params.shuffleAmount.store(100, kRelaxed);
    rig.engine->params.playing.store(true, kRelaxed);
    rig.render(2 * 80000 + 10, 512);
    ASSERT_EQ(rig.midi.front().status, common::midi::kStart);
    const std::vector<std::int64_t> hats = rig.hats();
    ASSERT_GE(hats.size(), 30u);
    const std::int64_t stepTwo = hats[2];
    for (std::size_t step = 2; step < hats.size(); ++step)
        EXPECT_EQ(hats[step] - stepTwo, static_cast<std::int64_t>(step - 2) * 5000 + (step % 2 ? 1953 : 0))
            << "step " << step;
    const std::vector<std::int64_t> pulses = rig.pulses();
    const auto first = std::lower_bound(pulses.begin(), pulses.end(), stepTwo);
    ASSERT_GE(pulses.end() - first, 150);
    for (auto it = first; it != pulses.end(); ++it)
        ASSERT_EQ(*it - stepTwo, (it - first) * 10000 / 12) << "pulse " << it - first;
}

TEST(SynthMidiClock, OddStepCountsKeepSixPulsesAStepAndOneOnEveryStretchStart) {
    Rig rig;
    rig.engine->params.samplesPerStep.store(4725, kRelaxed);
    rig.engine->params.stepCount.store(5, kRelaxed);
    rig.engine->params.shuffleAmount.store(128, kRelaxed);
    rig.engine->params.playing.store(true, kRelaxed);
    rig.render(4725 * 5 * 6, 300);
    const std::vector<std::int64_t> pulses = rig.pulses();
    const std::vector<std::int64_t> steps = rig.hats(); // the hat strikes every step
    ASSERT_GE(steps.size(), 25u);
    // Steps 0, 2 and 4 (the last, without a partner) begin the clock's stretches: a pulse on each.
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        if (i % 5 % 2 != 0)
            continue;
        EXPECT_TRUE(std::find(pulses.begin(), pulses.end(), steps[i]) != pulses.end()) << "step " << i;
    }
    // A whole pattern of five steps holds 30 pulses, however the shuffle split its steps.
    for (std::size_t i = 0; i + 5 < steps.size(); i += 5) {
        const auto from = std::lower_bound(pulses.begin(), pulses.end(), steps[i]);
        const auto to = std::lower_bound(pulses.begin(), pulses.end(), steps[i + 5]);
        EXPECT_EQ(to - from, 30) << "pattern from step " << i;
    }
}

TEST(SynthMidiTransport, StartOnStepZerosFirstSampleStopAndAllOffOnPauseContinueOnResume) {
    Rig rig;
    setUpScene(*rig.engine, 0);
    rig.engine->params.playing.store(false, kRelaxed);
    rig.render(1234, 1234); // stopped: no MIDI
    EXPECT_TRUE(rig.midi.empty());
    rig.engine->params.playing.store(true, kRelaxed);
    // The engine's first step keeps the start tempo's length (5000); step 2 begins at 1234 + 9725.
    const std::int64_t stepTwo = 1234 + 5000 + 4725;
    rig.render(4725 * 2 + 1000, 100); // 725 frames into step 2

    // Start where step 0's first sample sounds (the kick's click), then its first pulse.
    EXPECT_EQ(rig.audio[2 * 1233], 0);
    EXPECT_NE(rig.audio[2 * 1234], 0);
    ASSERT_GE(rig.midi.size(), 2u);
    EXPECT_EQ(rig.midi[0], (Message{1234, common::midi::kStart, 0, 0}));
    EXPECT_EQ(rig.midi[1], (Message{1234, common::midi::kClock, 0, 0}));

    // A pause within step 2: Stop, every held note released, "All notes off" on the four channels.
    rig.midi.clear();
    rig.engine->params.playing.store(false, kRelaxed);
    rig.render(5000, 100);
    const std::int64_t paused = 1234 + 4725 * 2 + 1000;
    ASSERT_FALSE(rig.midi.empty());
    EXPECT_EQ(rig.midi[0], (Message{paused, common::midi::kStop, 0, 0}));
    std::vector<int> allOff;
    for (const Message& m : rig.midi) {
        EXPECT_EQ(m.frame, paused);
        EXPECT_FALSE(isNoteOn(m));
        if ((m.status & 0xF0) == 0xB0 && m.data1 == 123)
            allOff.push_back(channelOf(m));
    }
    EXPECT_EQ(allOff, (std::vector<int>{1, 2, 3, 10}));

    // Resumed within step 2: the song position of step 3 and Continue; the pulses go on from step 3.
    // Every synth voice's gate is still open 725 frames in: their notes sound again; the drums wait.
    rig.midi.clear();
    rig.engine->params.playing.store(true, kRelaxed);
    rig.render(4725, 100);
    const std::int64_t resumed = paused + 5000;
    ASSERT_GE(rig.midi.size(), 2u);
    EXPECT_EQ(rig.midi[0], (Message{resumed, common::midi::kSongPosition, 3, 0}));
    EXPECT_EQ(rig.midi[1], (Message{resumed, common::midi::kContinue, 0, 0}));
    std::vector<int> restruck;
    for (const Message& m : rig.midi)
        if (isNoteOn(m) && m.frame == resumed)
            restruck.push_back(channelOf(m));
    EXPECT_EQ(restruck, (std::vector<int>{1, 2, 3}));
    const std::int64_t stepThree = resumed + 4725 - (paused - stepTwo);
    ASSERT_FALSE(rig.pulses().empty());
    EXPECT_EQ(rig.pulses().front(), stepThree);
    EXPECT_EQ(rig.hats().front(), stepThree);

    // Stopped on a step's first frame and started again there: the position of that step.
    Rig again;
    setUpScene(*again.engine, 0);
    again.render(5000 + 4725 * 4, 100); // to the end of step 4
    again.engine->params.playing.store(false, kRelaxed);
    again.render(100, 100);
    again.midi.clear();
    again.engine->params.playing.store(true, kRelaxed);
    again.render(100, 100);
    const std::int64_t stepFive = 5000 + 4725 * 4 + 100;
    ASSERT_GE(again.midi.size(), 3u);
    EXPECT_EQ(again.midi[0], (Message{stepFive, common::midi::kSongPosition, 5, 0}));
    EXPECT_EQ(again.midi[2], (Message{stepFive, common::midi::kClock, 0, 0}));
}

TEST(SynthMidiTransport, ABusRestartedForANewStreamGoesOnAsIfNothingHappened) {
    // The device reopened its stream: the queues are emptied, the frames count on.
    Rig restarted, steady;
    for (Rig* rig : {&restarted, &steady}) {
        setUpScene(*rig->engine, 0);
        rig->render(5000 + 4725 + 1000, 100); // 1000 frames into step 2
        if (rig == &restarted)
            rig->bus->restart();
        rig->midi.clear();
        rig->render(4725 * 2, 100);
    }
    ASSERT_FALSE(restarted.pulses().empty());
    EXPECT_EQ(restarted.midi, steady.midi);
}

TEST(SynthMidiNotes, PitchesVelocitiesAndEndsFollowWhatTheVoicesPlay) {
    Rig rig;
    setUpScene(*rig.engine);
    rig.engine->params.stepCount.store(32, kRelaxed);
    // Frame by frame, so that each step's start and each gate's end are seen where the voice has them.
    std::vector<std::int64_t> gateEnds[kSynthVoices];
    std::vector<std::int64_t> noteStarts[kSynthVoices];
    float lastTarget[kSynthVoices] = {};
    for (int frame = 0; frame < 4725 * 40 - 2000; ++frame) {
        const std::size_t before = rig.midi.size();
        rig.render(1, 1);
        for (int v = 0; v < kSynthVoices; ++v) {
            const float target = rig.engine->voice(v).state.ampTarget;
            if (lastTarget[v] > 0.0f && target == 0.0f)
                gateEnds[v].push_back(frame); // the voice released on this frame
            lastTarget[v] = target;
        }
        for (std::size_t i = before; i < rig.midi.size(); ++i) {
            const Message& m = rig.midi[i];
            if (!isNoteOn(m) || channelOf(m) > 3)
                continue;
            // 86.1328125 Hz × 2^(semitones / 12): MIDI note 40.77 + semitones, rounded; transpose 3.
            const int v = channelOf(m) - 1;
            const int step = rig.engine->currentStep();
            const int octave[kSynthVoices] = {0, 12, -12};
            EXPECT_EQ(m.data1, 41 + rig.engine->phrase(v).notes[step] + 3 + octave[v]) << "step " << step;
            // Velocity from the volume: line 1 at half of its top, line 2 at its start value (above it).
            if (v < 2) {
                EXPECT_EQ(m.data2, v == 0 ? 64 : 127);
            }
            noteStarts[v].push_back(m.frame);
        }
    }

    // Each voice's note ends where its gate closes, or at its next note; one note at a time per channel.
    for (int v = 0; v < kSynthVoices; ++v) {
        ASSERT_GE(noteStarts[v].size(), 39u);
        int held = -1;
        std::vector<std::int64_t> gateOffs;
        for (const Message& m : rig.midi) {
            if (channelOf(m) != v + 1)
                continue;
            if (isNoteOn(m)) {
                ASSERT_EQ(held, -1) << "voice " << v << " note-on at " << m.frame << " over a held note";
                held = m.data1;
            } else if (isNoteOff(m)) {
                ASSERT_EQ(m.data1, held) << "voice " << v << " at " << m.frame;
                held = -1;
                if (!std::binary_search(noteStarts[v].begin(), noteStarts[v].end(), m.frame))
                    gateOffs.push_back(m.frame);
            }
        }
        EXPECT_EQ(gateOffs, gateEnds[v]) << "voice " << v;
        EXPECT_GT(gateOffs.size(), 5u);
    }

    // Drums on channel 10: kick on every fourth step and the fills, hit, snare and hat.
    std::map<int, int> hits;
    for (const Message& m : rig.midi)
        if (channelOf(m) == 10 && isNoteOn(m))
            ++hits[m.data1];
    EXPECT_EQ(hits[42], 40);
    EXPECT_GE(hits[36], 10);
    EXPECT_EQ(hits[39], 10);
    EXPECT_EQ(hits[38], 5);
}

/// Sixteenths speeding up from 100 to 140 BPM over the first 32, then steady.
ScriptedMaster::Grid rampGrid(std::int64_t frame) {
    return common::test::tempoGrid(
        [](std::int64_t n) { return 100.0 + 40.0 * std::min<std::int64_t>(n, 32) / 32.0; }, frame);
}

TEST(SynthFollowing, StepsAndPulsesLandOnTheMastersSixteenthsAsItSpeedsUp) {
    Rig rig;
    setUpScene(*rig.engine, 0);
    rig.engine->params.stepCount.store(12, kRelaxed);
    rig.engine->params.samplesPerStep.store(3000, kRelaxed); // the engine's own tempo has no say
    ScriptedMaster master(140.0);
    const ScriptedMaster::Grid grid = rampGrid(1000);
    master.play(1000, 0, grid);
    rig.engine->setMaster(&master);
    // Frame by frame: the step the engine plays is read where each starts (the hat strikes each).
    std::vector<std::int64_t> starts;
    for (int frame = 0; frame < 1000 + 6615 * 40; ++frame) {
        const std::size_t before = rig.midi.size();
        rig.render(1, 1);
        for (std::size_t i = before; i < rig.midi.size(); ++i)
            if (isNoteOn(rig.midi[i]) && rig.midi[i].status == 0x99 && rig.midi[i].data1 == 42) {
                EXPECT_EQ(rig.engine->params.playingStep.load(kRelaxed),
                          static_cast<int>(starts.size() % 12));
                starts.push_back(rig.midi[i].frame);
            }
    }
    EXPECT_EQ(rig.audio[2 * 999], 0); // nothing before the master's Play, whatever "Play" says
    EXPECT_NE(rig.audio[2 * 1000], 0);
    EXPECT_EQ(rig.midi.front(), (Message{1000, common::midi::kStart, 0, 0}));
    const std::vector<std::int64_t> pulses = rig.pulses();
    ASSERT_GE(starts.size(), 40u);
    ASSERT_GT(pulses.size(), 6 * (starts.size() - 1));
    for (std::size_t n = 0; n < starts.size(); ++n) {
        EXPECT_EQ(starts[n], grid(static_cast<std::int64_t>(n))) << "sixteenth " << n;
        EXPECT_EQ(pulses[6 * n], starts[n]) << "sixteenth " << n;
    }
    EXPECT_EQ(rig.engine->params.followedBpm.load(), 140.0f);
    EXPECT_TRUE(rig.engine->params.masterPlaying.load());
}

TEST(SynthFollowing, AStepEndsWhereTheMastersLatestPredictionPutsIt) {
    Rig rig;
    setUpScene(*rig.engine, 0);
    ScriptedMaster master(100.0);
    const ScriptedMaster::Grid heard = steadyGrid(100.0, 1000);
    master.play(1000, 0, heard);
    // Within sixteenth 3 the master hears it faster: 140 BPM from there on.
    const ScriptedMaster::Grid faster = [heard](std::int64_t n) {
        return n <= 3 ? heard(n) : heard(3) + (n - 3) * 4725;
    };
    master.revise(21000, faster);
    rig.engine->setMaster(&master);
    rig.render(1000 + 6615 * 3 + 4725 * 6, 100);
    const std::vector<std::int64_t> starts = rig.hats();
    ASSERT_GE(starts.size(), 9u);
    for (std::size_t n = 0; n < starts.size(); ++n)
        EXPECT_EQ(starts[n], faster(static_cast<std::int64_t>(n))) << "sixteenth " << n;
}

TEST(SynthFollowing, ShuffleMovesTheOddStepsWithinTheMastersPairs) {
    Rig rig;
    setUpScene(*rig.engine, 64);
    ScriptedMaster master(100.0);
    const ScriptedMaster::Grid grid = steadyGrid(100.0, 500);
    master.play(500, 0, grid);
    rig.engine->setMaster(&master);
    rig.render(500 + 6615 * 24, 333);
    const std::vector<std::int64_t> starts = rig.hats();
    const std::vector<std::int64_t> pulses = rig.pulses();
    ASSERT_GE(starts.size(), 24u);
    for (std::size_t n = 0; n < starts.size(); ++n) { // 64/256 of the master's 6615-frame sixteenth
        const std::int64_t sixteenth = grid(static_cast<std::int64_t>(n));
        EXPECT_EQ(starts[n], sixteenth + (n % 2 == 1 ? 1653 : 0)) << "sixteenth " << n;
        if (6 * n < pulses.size()) {
            EXPECT_EQ(pulses[6 * n], sixteenth) << "sixteenth " << n;
        }
    }
}

TEST(SynthFollowing, StopAndPlayOnTheirFramesFromTheMastersSixteenth) {
    // Played from 0, played again from sixteenth 20 while playing, stopped, played from sixteenth 8.
    Rig rig;
    setUpScene(*rig.engine, 0);
    ScriptedMaster master(100.0);
    const std::int64_t jump = 1000 + 6615 * 2 + 100;
    const std::int64_t stopAt = jump + 6615 * 3 + 300;
    const std::int64_t playAt = stopAt + 10001;
    master.play(1000, 0, steadyGrid(100.0, 1000));
    master.play(jump, 20, steadyGrid(100.0, jump, 20));
    master.stop(stopAt);
    master.play(playAt, 8, steadyGrid(100.0, playAt, 8));
    rig.engine->setMaster(&master);
    rig.render(static_cast<int>(jump), 256);
    rig.midi.clear();
    rig.render(static_cast<int>(stopAt - jump), 256);

    // A Play while playing: Stop, then the new song position and Continue on its frame; sixteenth 20 is
    // step 4 of 16, which has the snare.
    ASSERT_FALSE(rig.midi.empty());
    EXPECT_EQ(rig.midi[0], (Message{jump, common::midi::kStop, 0, 0}));
    const auto position =
        std::find(rig.midi.begin(), rig.midi.end(), Message{jump, common::midi::kSongPosition, 20, 0});
    ASSERT_NE(position, rig.midi.end());
    EXPECT_EQ(*(position + 1), (Message{jump, common::midi::kContinue, 0, 0}));
    EXPECT_EQ(rig.drum(38), (std::vector<std::int64_t>{jump}));
    EXPECT_TRUE(rig.engine->params.masterPlaying.load());

    // Stopped as its own stop does: Stop and all notes off on the frame, then the last frame held.
    rig.midi.clear();
    rig.render(static_cast<int>(playAt - stopAt), 512);
    ASSERT_FALSE(rig.midi.empty());
    EXPECT_EQ(rig.midi.front(), (Message{stopAt, common::midi::kStop, 0, 0}));
    for (const Message& m : rig.midi)
        EXPECT_EQ(m.frame, stopAt);
    EXPECT_FALSE(rig.engine->params.masterPlaying.load());
    EXPECT_EQ(rig.audio[2 * static_cast<std::size_t>(playAt - 1)],
              rig.audio[2 * static_cast<std::size_t>(stopAt)]);

    // Played again from sixteenth 8: step 8 (a kick), its song position and Continue, on the Play's frame.
    rig.midi.clear();
    rig.render(6615 * 6, 512);
    ASSERT_GE(rig.midi.size(), 3u);
    EXPECT_EQ(rig.midi[0], (Message{playAt, common::midi::kSongPosition, 8, 0}));
    EXPECT_EQ(rig.midi[1], (Message{playAt, common::midi::kContinue, 0, 0}));
    EXPECT_EQ(rig.midi[2], (Message{playAt, common::midi::kClock, 0, 0}));
    ASSERT_FALSE(rig.drum(36).empty());
    EXPECT_EQ(rig.drum(36).front(), playAt);
    EXPECT_EQ(rig.drum(39), (std::vector<std::int64_t>{playAt + 2 * 6615})); // step 10
}

TEST(SynthFollowing, APlayHeardLateStartsOnTheBlocksFirstFrame) {
    Rig rig;
    setUpScene(*rig.engine, 0);
    ScriptedMaster master(140.0);
    const ScriptedMaster::Grid grid = steadyGrid(140.0, 900, 2);
    master.play(900, 2, grid, 1100); // told only in the block that holds frame 1100
    rig.engine->setMaster(&master);
    rig.render(1024 + 4725 * 2, 1024);
    ASSERT_GE(rig.midi.size(), 2u);
    EXPECT_EQ(rig.midi[0], (Message{1024, common::midi::kSongPosition, 2, 0}));
    const std::vector<std::int64_t> starts = rig.hats();
    ASSERT_GE(starts.size(), 2u);
    EXPECT_EQ(starts[0], 1024);
    EXPECT_EQ(starts[1], grid(3)); // the shortened step ends on the master's next sixteenth
}

TEST(SynthMidiOut, SameMidiAndSoundForAnyBlockSizeOnItsOwnClockOrFollowingAndTheSoundUnchangedByIt) {
    // Pauses and stops on frames where every block size begins a block, so that the outputs compare.
    const auto run = [](Rig& rig, bool following, int blockFrames) {
        ScriptedMaster master(100.0);
        setUpScene(*rig.engine, following ? 100 : 77);
        if (!following) {
            rig.render(7168 * 2, blockFrames);
            rig.engine->params.playing.store(false, kRelaxed);
            rig.render(7168, blockFrames);
            rig.engine->params.playing.store(true, kRelaxed);
            rig.render(7168 * 6, blockFrames);
            return;
        }
        master.play(777, 0, rampGrid(777));
        master.stop(7168 * 8); // the last frame held until the block ends, as the engine's own stop does
        master.play(70003, 8, steadyGrid(123.0, 70003, 8));
        rig.engine->setMaster(&master); // without a bus the engine counts the master's frames itself
        rig.render(7168 * 16, blockFrames);
        rig.engine->setMaster(nullptr);
    };
    for (const bool following : {false, true}) {
        SCOPED_TRACE(following ? "following" : "own clock");
        Rig without(false);
        run(without, following, 1024);
        Rig reference;
        run(reference, following, 1024);
        EXPECT_EQ(reference.audio, without.audio);
        EXPECT_GT(reference.pulses().size(), 70u);
        EXPECT_GT(reference.midi.size() - reference.pulses().size(), 100u); // the notes too
        for (const int blockFrames : {1, 7}) {
            Rig rig;
            run(rig, following, blockFrames);
            EXPECT_EQ(rig.midi, reference.midi) << blockFrames << "-frame blocks";
            EXPECT_EQ(rig.audio, reference.audio) << blockFrames << "-frame blocks";
        }
    }
}

} // namespace
} // namespace zintor
