// The loop engine's MIDI out, measured on the bus against what the render plays: clock pulses on their
// frames, Start and Continue where steps sound, notes at the voices' pitches and gates, and a sound that
// never changes with a bus attached. Then the engine following a master clock: each step on the master's
// sixteenth at a fixed tempo, at another and through a ramp, its Play and Stop on their frames, and the
// step played the master's sixteenth modulo the step count.
#include "common/MidiBus.h"
#include "common/MidiNotesOut.h"
#include "common/StepMaster.h"
#include "common/tests/MidiTestSupport.h"
#include "common/tests/ScriptedMaster.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace vexla {
namespace {

using common::MidiBus;
using common::test::channelOf;
using common::test::isNoteOff;
using common::test::isNoteOn;
using MidiMessage = common::test::Sent;
using common::test::framesOf;
using common::test::ScriptedMaster;
using common::test::steadyGrid;
using common::test::tempoGrid;
namespace midi = common::midi;

struct Take {
    std::vector<std::int16_t> audio; ///< interleaved left, right
    std::vector<MidiMessage> midi;
};

/// Renders `frames` frames in blocks of `blockFrames`, draining the bus after each block as a device
/// would. At each frame of `toggles` (block starts) the engine's Run switch flips; after each block
/// `afterBlock` is told the frame where the block began.
Take render(LoopEngine& engine, MidiBus* bus, int frames, int blockFrames,
            const std::vector<int>& toggles = {}, const std::function<void(int)>& afterBlock = {}) {
    Take take;
    take.audio.resize(static_cast<std::size_t>(frames) * 2);
    for (int done = 0; done < frames; done += blockFrames) {
        if (std::find(toggles.begin(), toggles.end(), done) != toggles.end())
            engine.params.running = !engine.params.running;
        const int n = std::min(blockFrames, frames - done);
        engine.renderBlock(take.audio.data() + static_cast<std::size_t>(done) * 2, n * 4);
        if (bus) {
            const std::vector<MidiMessage> taken = common::test::drain(*bus);
            take.midi.insert(take.midi.end(), taken.begin(), taken.end());
        }
        if (afterBlock)
            afterBlock(done);
    }
    return take;
}

// ---- the clock -------------------------------------------------------------------------------------

TEST(VexlaMidiClock, PulsesSitOnExactFramesOfTheStepsForTheWholeRender) {
    for (const int samplesPerStep : {5000, 2000, 4409, 7777}) {
        auto engine = testing::makeQuietEngine();
        engine->params.samplesPerStep = samplesPerStep;
        MidiBus bus;
        engine->setMidi(&bus);
        const std::int64_t stepFrames = samplesPerStep + 1;
        const Take take = render(*engine, &bus, static_cast<int>(40 * stepFrames), 256);
        ASSERT_FALSE(take.midi.empty());
        EXPECT_EQ(take.midi.front(), (MidiMessage{0, midi::kStart}));
        const auto pulses = framesOf(take.midi, midi::kClock);
        ASSERT_EQ(pulses.size(), 40u * 6u) << samplesPerStep;
        // Pulse k on frame k × step / 6 rounded down: the intervals alternate, and never drift.
        for (std::size_t k = 0; k < pulses.size(); ++k)
            ASSERT_EQ(pulses[k], static_cast<std::int64_t>(k) * stepFrames / 6)
                << "pulse " << k << " at " << samplesPerStep;
    }
}

TEST(VexlaMidiClock, StartAndContinueLandWhereTheStepSoundsAndStopWhereTheSoundStops) {
    // Kick-only engine, 16 steps of 5001 frames: the kick strikes on steps 0, 4, 8 and 12.
    auto engine = testing::makeKickOnlyEngine();
    engine->params.running = false;
    MidiBus bus;
    engine->setMidi(&bus);
    // Stopped for 3000 frames; Run; stopped inside step 3 and resumed; stopped inside step 15 and resumed.
    const int pause1 = 3000 + 3 * 5001 + 1000, resume1 = pause1 + 7000;
    const int step4 = resume1 + 4001;
    const int pause2 = step4 + 12 * 5001 - 500, resume2 = pause2 + 3000;
    const Take take = render(*engine, &bus, resume2 + 2 * 5001, 1, {3000, pause1, resume1, pause2, resume2});
    const auto kicks = testing::kickTriggerFrames(testing::leftChannel(take.audio));

    // Run from step 0: Start where the first kick sounds (it rises from silence after the frame of sin 0).
    const auto& audio = take.audio;
    const auto firstSound = std::find_if(audio.begin(), audio.end(), [](std::int16_t s) { return s != 0; });
    ASSERT_NE(firstSound, audio.end());
    const std::int64_t stepZero = (firstSound - audio.begin()) / 2 - 1;
    EXPECT_EQ(stepZero, 3000);
    EXPECT_EQ(framesOf(take.midi, midi::kStart).front(), stepZero);

    // Resumed inside step 3: the song position of step 4 and Continue where step 4's kick strikes; a
    // resume inside the last step starts again from step 0 where its kick strikes.
    const auto resumedAt = [&](int from) {
        return *std::find_if(kicks.begin(), kicks.end(), [&](int k) { return k >= from; });
    };
    std::vector<std::int64_t> songPositions;
    for (const MidiMessage& m : take.midi)
        if (m.status == midi::kSongPosition) {
            songPositions.push_back(m.data1 | m.data2 << 7);
            EXPECT_EQ(m.frame, resumedAt(resume1));
        }
    EXPECT_EQ(songPositions, std::vector<std::int64_t>{4});
    EXPECT_EQ(framesOf(take.midi, midi::kContinue), std::vector<std::int64_t>{resumedAt(resume1)});
    EXPECT_EQ(framesOf(take.midi, midi::kStart), (std::vector<std::int64_t>{3000, resumedAt(resume2)}));
    EXPECT_EQ(resumedAt(resume1), step4);
    EXPECT_EQ(resumedAt(resume2) - resume2, 500); // the rest of step 15, then step 0
    EXPECT_EQ(framesOf(take.midi, midi::kStop), (std::vector<std::int64_t>{pause1, pause2}));

    // The clock runs only while the steps do: each pulse where the last Start or Continue put it.
    const auto pulses = framesOf(take.midi, midi::kClock);
    for (const std::int64_t begin : {std::int64_t{3000}, std::int64_t{resumedAt(resume1)}}) {
        const auto first = std::lower_bound(pulses.begin(), pulses.end(), begin);
        ASSERT_NE(first, pulses.end());
        EXPECT_EQ(*first, begin);
        EXPECT_EQ(first[6] - first[0], 5001);
    }
    for (const MidiMessage& m : take.midi)
        EXPECT_FALSE(m.frame > pause1 && m.frame < resumedAt(resume1)) << "message while paused";
}

// ---- notes -----------------------------------------------------------------------------------------

/// The notes of one MIDI channel (and note number, for drums): each note-on with the frame it ends.
struct Note {
    std::int64_t on = 0, off = -1;
    int number = 0, velocity = 0;
};
std::vector<Note> notesOf(const std::vector<MidiMessage>& midi, int channel, int number = -1) {
    std::vector<Note> notes;
    for (const MidiMessage& m : midi) {
        if (channelOf(m) != channel || (number >= 0 && m.data1 != number))
            continue;
        if (isNoteOn(m))
            notes.push_back({m.frame, -1, m.data1, m.data2});
        else if (isNoteOff(m) && !notes.empty() && notes.back().number == m.data1 && notes.back().off < 0)
            notes.back().off = m.frame;
    }
    return notes;
}

/// Semitones (MIDI numbering, fractional) of the strongest period near the one `note` claims: a note a
/// semitone or more wrong cannot measure as itself.
double measuredSemitones(const std::vector<std::int16_t>& left, std::int64_t from, std::int64_t to,
                         int note) {
    const double period = kSampleRate / (440.0 * std::pow(2.0, (note - 69) / 12.0));
    const std::vector<std::int16_t> part(left.begin() + from, left.begin() + to);
    const double hertz = testing::frequencyByAutocorrelation(part, static_cast<int>(period * 0.8),
                                                             static_cast<int>(period * 1.25) + 1);
    return 69.0 + 12.0 * std::log2(hertz / 440.0);
}

TEST(VexlaMidiNotes, NumbersAreThePitchesTheVoicesPlayTransposeIncluded) {
    struct Voice {
        const char* name;
        int channel;
        void (*solo)(LoopEngine&);
    };
    const Voice voices[] = {
        {"bassline 1", 1, [](LoopEngine& e) { e.bass1.pattern.clip = 8191.0f; }},
        {"bassline 2", 2, [](LoopEngine& e) { e.bass2.pattern.clip = 8191.0f; }},
        {"sine", 3,
         [](LoopEngine& e) {
             // A steady level, so that the sine stays clean for the whole step.
             e.params.sineVolume = 1.0f;
             e.sine.pattern.levels.fill(0.75f);
             e.sine.pattern.decays.fill(0.0f);
         }},
    };
    for (const int transpose : {-7, 5}) {
        for (const Voice& voice : voices) {
            auto engine = testing::makeQuietEngine();
            common::Random random(11);
            // Long steps, so that even the lowest bass note plays several periods within its gate.
            engine->params.samplesPerStep = 20000;
            engine->params.transpose = transpose;
            BassVoice::generate(engine->bass1.pattern, BassKind::Bass1, random, 16, 20000);
            BassVoice::generate(engine->bass2.pattern, BassKind::Bass2, random, 16, 20000);
            SineVoice::generate(engine->sine.pattern, random, 16);
            engine->bass1.pattern.clip = engine->bass2.pattern.clip = 0.0f;
            // Heard without the echo of the notes before, and the basslines without their sweeps.
            for (BassPattern* bass : {&engine->bass1.pattern, &engine->bass2.pattern})
                bass->pwmLfoDepth = bass->cutoffLfoDepth = bass->envelopeRate = 0.0f;
            engine->bass1.pattern.echoSend = engine->bass2.pattern.echoSend = engine->sine.pattern.echoSend =
                0.0f;
            voice.solo(*engine);
            MidiBus bus;
            engine->setMidi(&bus);
            const Take take = render(*engine, &bus, 16 * 20001, 512);
            const auto left = testing::leftChannel(take.audio);
            const auto notes = notesOf(take.midi, voice.channel);
            ASSERT_EQ(notes.size(), 16u) << voice.name;
            std::map<int, int> distinct;
            for (const Note& note : notes) {
                // The settled part of the note: past the level's rise, before the gate closes.
                const std::int64_t end = note.off >= 0 ? note.off : note.on + 20001;
                const double heard = measuredSemitones(left, note.on + 500, end, note.number);
                EXPECT_NEAR(heard, note.number, 0.5)
                    << voice.name << " at " << note.on << ", transpose " << transpose;
                ++distinct[note.number];
            }
            EXPECT_GE(distinct.size(), 3u) << voice.name; // the seed gives a line, not one note
        }
    }
}

TEST(VexlaMidiNotes, GatesEndWhereTheBasslineFallsSilent) {
    // Bassline 2 (no envelope closing its filter), steady, one note held into the next.
    auto engine = testing::makeQuietEngine();
    common::Random random(5);
    BassPattern& pattern = engine->bass2.pattern;
    BassVoice::generate(pattern, BassKind::Bass2, random, 16, 5000);
    pattern.clip = 8191.0f;
    pattern.echoSend = pattern.pwmLfoDepth = pattern.cutoffLfoDepth = 0.0f;
    pattern.gates[3] = 5000;
    MidiBus bus;
    engine->setMidi(&bus);
    const Take take = render(*engine, &bus, 16 * 5001, 64);
    const auto left = testing::leftChannel(take.audio);
    const auto peak = [&](std::int64_t from, std::int64_t to) {
        int most = 0;
        for (std::int64_t i = from; i < to; ++i)
            most = std::max(most, std::abs(static_cast<int>(left[static_cast<std::size_t>(i)])));
        return most;
    };
    const auto bass = notesOf(take.midi, 2);
    ASSERT_EQ(bass.size(), 16u);
    int gated = 0, legato = 0;
    for (std::size_t i = 0; i + 1 < bass.size(); ++i) {
        const Note& note = bass[i];
        const Note& next = bass[i + 1];
        EXPECT_EQ(next.on - note.on, 5001);
        const int loud = peak(note.on + 200, note.on + 2400);
        if (note.off == next.on) { // held into the next note
            ++legato;
            EXPECT_GT(peak(next.on - 300, next.on), loud / 4) << "note at " << note.on;
            continue;
        }
        ++gated;
        EXPECT_GT(peak(note.off - 300, note.off), loud / 4) << "note at " << note.on;
        EXPECT_LT(peak(note.off + 300, next.on), loud / 50 + 1) << "note at " << note.on;
    }
    EXPECT_GE(gated, 4);
    EXPECT_GE(legato, 1);
}

TEST(VexlaMidiNotes, DrumsOnTheirGeneralMidiNotesLastASixteenth) {
    auto engine = testing::makeQuietEngine();
    common::Random random(5);
    engine->params.kickVolume = 8192.0f;
    engine->params.hatVolume = 0.5f;
    HatVoice::generate(engine->hats.pattern, random, 16);
    engine->hats.pattern.levels.fill(0.5f);
    engine->hats.pattern.levels[5] = 0.0f; // a rest
    MidiBus bus;
    engine->setMidi(&bus);
    const Take take = render(*engine, &bus, 16 * 5001, 64);
    const auto kicks = notesOf(take.midi, 10, 36);
    ASSERT_EQ(kicks.size(), 4u);
    for (const Note& kick : kicks) {
        EXPECT_EQ(kick.on % (4 * 5001), 0);
        EXPECT_EQ(kick.off - kick.on, 5001);
        EXPECT_EQ(kick.velocity, 64); // the slider halfway
    }
    const auto hats = notesOf(take.midi, 10, 42);
    ASSERT_EQ(hats.size(), 15u); // every step but the rest
    for (std::size_t i = 0; i + 1 < hats.size(); ++i) {
        EXPECT_NE(hats[i].on, 5 * 5001);
        EXPECT_EQ(hats[i].off - hats[i].on, 5001);
    }
}

TEST(VexlaMidiNotes, EachVoiceLetsGoBeforeItsNextNoteAndStoppingLeavesNothingHeld) {
    auto engine = testing::makeRichEngine(23);
    engine->params.sineVolume = 0.5f;
    engine->params.hatVolume = 0.5f;
    MidiBus bus;
    engine->setMidi(&bus);
    const int stop = 64 * 2100; // inside step 30
    const Take take = render(*engine, &bus, stop + 20000, 64, {stop});
    // Voices: channels 1, 2 and 3, and the kick and the hi-hats on 10.
    std::map<std::pair<int, int>, int> held; // (channel, voice note or 0) -> note held
    const auto voiceOf = [](const MidiMessage& m) {
        return std::pair{channelOf(m), channelOf(m) == 10 ? m.data1 : 0};
    };
    bool stopped = false;
    std::map<int, int> channelsAllOff;
    for (const MidiMessage& m : take.midi) {
        if (isNoteOn(m)) {
            ASSERT_FALSE(stopped) << "note after Stop";
            EXPECT_EQ(held.count(voiceOf(m)), 0u) << "channel " << channelOf(m) << " at " << m.frame;
            held[voiceOf(m)] = m.data1;
        } else if (isNoteOff(m)) {
            const auto it = held.find(voiceOf(m));
            ASSERT_NE(it, held.end()) << "off without on at " << m.frame;
            EXPECT_EQ(it->second, m.data1);
            held.erase(it);
        } else if (m.status == midi::kStop) {
            EXPECT_EQ(m.frame, stop);
            stopped = true;
        } else if ((m.status & 0xF0) == midi::kControlChange && m.data1 == midi::kAllNotesOff) {
            EXPECT_TRUE(stopped);
            EXPECT_EQ(m.frame, stop);
            ++channelsAllOff[channelOf(m)];
        }
    }
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(channelsAllOff, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {10, 1}}));
}

// ---- the render itself -----------------------------------------------------------------------------

TEST(VexlaMidiRender, SameMidiWhateverTheBlockSizeAndTheSameSoundAsWithoutABus) {
    // Stopped and started again on block boundaries of every size tried (multiples of 7 × 1024).
    const std::vector<int> toggles = {7 * 1024 * 6, 7 * 1024 * 9};
    const int frames = 7 * 1024 * 14;
    std::vector<std::int16_t> silent;
    {
        auto engine = testing::makeRichEngine(41);
        silent = render(*engine, nullptr, frames, 1024, toggles).audio;
    }
    std::vector<MidiMessage> first;
    for (const int block : {1024, 7, 1}) {
        auto engine = testing::makeRichEngine(41);
        MidiBus bus;
        engine->setMidi(&bus);
        const Take take = render(*engine, &bus, frames, block, toggles);
        EXPECT_TRUE(take.audio == silent) << "blocks of " << block;
        if (first.empty()) {
            first = take.midi;
            EXPECT_GT(first.size(), 200u);
        } else {
            EXPECT_EQ(take.midi, first) << "blocks of " << block;
        }
    }
}

// ---- following a master clock ----------------------------------------------------------------------

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
        std::vector<MidiMessage> firstMidi;
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
            const Take take = render(*engine, used, frames, block);

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
            EXPECT_EQ(framesOf(take.midi, midi::kStart), std::vector<std::int64_t>{1000}) << m.name;
            const auto pulses = framesOf(take.midi, midi::kClock);
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
    const Take take = render(*engine, &bus, second(14), 1, {runOff, runOn}, [&](int frame) {
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
    for (const MidiMessage& m : take.midi)
        if (m.status == midi::kSongPosition)
            positions.emplace_back(m.frame, m.data1 | m.data2 << 7);
    EXPECT_EQ(positions, (std::vector<std::pair<std::int64_t, int>>{{3000, 8}, {first(14), 14}, {again, 8}}));
    EXPECT_EQ(framesOf(take.midi, midi::kContinue), (std::vector<std::int64_t>{3000, first(14), again}));
    EXPECT_EQ(framesOf(take.midi, midi::kStop), (std::vector<std::int64_t>{runOff, stop}));
    EXPECT_TRUE(framesOf(take.midi, midi::kStart).empty());

    // Back to its own clock: the steps go on from where they were, 5001 frames each.
    engine->setMaster(nullptr);
    engine->params.stepCount = 16;
    const auto own = render(*engine, nullptr, 10 * 5001, 64);
    EXPECT_FALSE(engine->params.masterPlaying);
    EXPECT_EQ(engine->params.followedBpm, 0.0f);
    const auto kicks = strikes(own.audio);
    ASSERT_GE(kicks.size(), 2u);
    EXPECT_EQ(kicks[1] - kicks[0], 4 * 5001);
}

} // namespace
} // namespace vexla
