// MIDI beside the sound: messages on their exact frames through the bus, a clock out that never drifts
// from the steps, and notes out that never leave a note hanging.
#include "common/MidiBus.h"
#include "common/MidiClockOut.h"
#include "common/MidiNotesOut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace common {
namespace {

std::vector<MidiMessage> drain(MidiBus& bus) {
    std::vector<MidiMessage> out;
    MidiMessage message;
    while (bus.takeBefore(MidiBus::kEndOfTime, message))
        out.push_back(message);
    return out;
}

std::vector<std::int64_t> framesOf(const std::vector<MidiMessage>& messages, std::uint8_t status) {
    std::vector<std::int64_t> frames;
    for (const MidiMessage& m : messages)
        if (m.bytes[0] == status)
            frames.push_back(m.frame);
    return frames;
}

// The bus.

TEST(MidiBus, SentMessagesKeepTheirFramesAcrossBlocksAndTheirOrder) {
    MidiBus bus;
    bus.send(10, midi::kNoteOn, 60, 100);
    bus.send(10, midi::kNoteOff, 60, 0);
    bus.endBlock(64);
    EXPECT_EQ(bus.renderFrame(), 64);
    bus.send(5, midi::kClock);
    bus.send(3, midi::kStop); // earlier than its predecessor: moved up to frame 69, still after it
    bus.endBlock(64);

    MidiMessage m;
    EXPECT_FALSE(bus.takeBefore(10, m)) << "a message goes out no sooner than its frame";
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].frame, 10);
    EXPECT_EQ(out[0].bytes[0], midi::kNoteOn);
    EXPECT_EQ(out[0].size, 3);
    EXPECT_EQ(out[1].frame, 10);
    EXPECT_EQ(out[1].bytes[0], midi::kNoteOff);
    EXPECT_EQ(out[2].frame, 69);
    EXPECT_EQ(out[2].bytes[0], midi::kClock);
    EXPECT_EQ(out[2].size, 1);
    EXPECT_EQ(out[3].frame, 69);
    EXPECT_EQ(out[3].bytes[0], midi::kStop);
}

TEST(MidiBus, AFullQueueDropsAndCountsInsteadOfWaiting) {
    MidiBus bus;
    for (int i = 0; i < MidiBus::kCapacity + 5; ++i)
        bus.send(0, midi::kClock);
    EXPECT_EQ(bus.dropped(), 5u);
    EXPECT_EQ(drain(bus).size(), static_cast<std::size_t>(MidiBus::kCapacity));

    const std::uint8_t clock = midi::kClock;
    for (int i = 0; i < MidiBus::kCapacity + 3; ++i)
        bus.arrived(i, &clock, 1);
    EXPECT_EQ(bus.dropped(), 8u);
    MidiMessage m;
    int received = 0;
    std::int64_t last = -1;
    while (bus.receive(m)) {
        EXPECT_EQ(m.frame, last + 1) << "the oldest are kept, in order";
        last = m.frame;
        ++received;
    }
    EXPECT_EQ(received, MidiBus::kCapacity);
}

TEST(MidiBus, OnlyWholeShortMessagesComeIn) {
    MidiBus bus;
    const std::uint8_t noteOn[] = {0x91, 64, 90};
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0xF7};
    const std::uint8_t songPosition[] = {midi::kSongPosition, 5, 1};
    const std::uint8_t clock = midi::kClock;
    bus.arrived(1, noteOn, 2);       // cut short
    bus.arrived(2, sysex, 3);        // system exclusive
    bus.arrived(3, noteOn + 1, 2);   // a data byte first
    bus.arrived(4, noteOn, 0);       // nothing
    bus.arrived(5, songPosition, 1); // cut short
    bus.arrived(6, &clock, 1);
    bus.arrived(7, noteOn, 3);
    bus.arrived(8, songPosition, 3);

    MidiMessage m;
    ASSERT_TRUE(bus.receive(m));
    EXPECT_EQ(m.frame, 6);
    EXPECT_EQ(m.size, 1);
    ASSERT_TRUE(bus.receive(m));
    EXPECT_EQ(m.frame, 7);
    EXPECT_EQ(m.bytes, (std::array<std::uint8_t, 3>{0x91, 64, 90}));
    ASSERT_TRUE(bus.receive(m));
    EXPECT_EQ(m.frame, 8);
    EXPECT_EQ(m.bytes, (std::array<std::uint8_t, 3>{midi::kSongPosition, 5, 1}));
    EXPECT_FALSE(bus.receive(m));
    EXPECT_EQ(bus.dropped(), 0u);
}

TEST(MidiBus, RestartEmptiesBothWaysAndTheFramesCountOn) {
    MidiBus bus;
    bus.endBlock(1000);
    bus.send(0, midi::kStart);
    const std::uint8_t clock = midi::kClock;
    bus.arrived(999, &clock, 1);
    bus.restart();
    EXPECT_EQ(bus.renderFrame(), 1000);
    MidiMessage m;
    EXPECT_FALSE(bus.receive(m));
    bus.send(3, midi::kClock);
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].frame, 1003);
}

// Clock out.

/// Plays from step 0 for `steps` steps of `stepFrames` each, starting on frame `startFrame`, rendered in
/// blocks of `block` frames; returns all that went out.
std::vector<MidiMessage> clockRun(std::int64_t stepFrames, int steps, int block, int startFrame = 0) {
    MidiBus bus;
    MidiClockOut clock;
    std::vector<MidiMessage> out;
    const std::int64_t end = startFrame + stepFrames * steps;
    std::int64_t nextStep = startFrame;
    int step = 0;
    while (bus.renderFrame() < end) {
        const std::int64_t blockEnd = bus.renderFrame() + block;
        while (step < steps && nextStep < blockEnd) {
            const int at = static_cast<int>(nextStep - bus.renderFrame());
            if (step == 0)
                clock.play(bus, at, 0);
            clock.beginSteps(bus, at, stepFrames, 1);
            ++step;
            nextStep += stepFrames;
        }
        clock.sendUntil(bus, block);
        bus.endBlock(block);
        MidiMessage m;
        while (bus.takeBefore(bus.renderFrame(), m)) // as the device takes them
            out.push_back(m);
    }
    return out;
}

TEST(MidiClockOut, PulsesAreSixAStepOnWholeFramesAndNeverDrift) {
    for (const std::int64_t stepFrames : {5001, 5000}) {
        SCOPED_TRACE(stepFrames);
        const int steps = 1000;
        const auto pulses = framesOf(clockRun(stepFrames, steps, 256), midi::kClock);
        ASSERT_EQ(pulses.size(), static_cast<std::size_t>(6 * steps));
        for (int s = 0; s < steps; ++s)
            ASSERT_EQ(pulses[static_cast<std::size_t>(6 * s)], s * stepFrames) << "step " << s;
        for (std::size_t k = 1; k < pulses.size(); ++k) {
            const std::int64_t gap = pulses[k] - pulses[k - 1];
            if (stepFrames == 5001) // 833.5 frames a pulse
                ASSERT_EQ(gap, k % 2 == 1 ? 833 : 834) << "pulse " << k;
            else // 833.33 frames a pulse
                ASSERT_EQ(gap, k % 3 == 0 ? 834 : 833) << "pulse " << k;
        }
    }
}

TEST(MidiClockOut, TheBlockSizeChangesNothing) {
    const auto reference = clockRun(5001, 40, 1, 3);
    for (const int block : {7, 64, 512, 1024, 4096}) {
        const auto out = clockRun(5001, 40, block, 3);
        ASSERT_EQ(out.size(), reference.size()) << block;
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].frame, reference[i].frame) << block << " message " << i;
            EXPECT_EQ(out[i].bytes, reference[i].bytes) << block << " message " << i;
        }
    }
}

TEST(MidiClockOut, StartComesOnTheFrameOfStepZeroBeforeItsFirstPulse) {
    const auto out = clockRun(5001, 2, 64, 100);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0].bytes[0], midi::kStart);
    EXPECT_EQ(out[0].frame, 100);
    EXPECT_EQ(out[1].bytes[0], midi::kClock);
    EXPECT_EQ(out[1].frame, 100);
}

TEST(MidiClockOut, OtherStepsAndResumingSendTheSongPositionThenContinue) {
    struct Case {
        int step;
        bool resumed;
        std::uint8_t low, high;
    };
    for (const Case c : {Case{37, false, 37, 0}, Case{200, false, 200 - 128, 1}, Case{0, true, 0, 0},
                         Case{37, true, 37, 0}}) {
        SCOPED_TRACE(c.step);
        MidiBus bus;
        MidiClockOut clock;
        bus.endBlock(512);
        clock.play(bus, 9, c.step, c.resumed);
        const auto out = drain(bus);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0].frame, 521);
        EXPECT_EQ(out[0].size, 3);
        EXPECT_EQ(out[0].bytes, (std::array<std::uint8_t, 3>{midi::kSongPosition, c.low, c.high}));
        EXPECT_EQ(out[1].frame, 521);
        EXPECT_EQ(out[1].bytes[0], midi::kContinue);
    }
}

TEST(MidiClockOut, StopSendsWhatWasDueThenStopAndNothingAfter) {
    MidiBus bus;
    MidiClockOut clock;
    clock.play(bus, 0, 0);
    clock.beginSteps(bus, 0, 5001, 1);
    clock.stop(bus, 2000); // pulses 0, 833 and 1667 were due
    EXPECT_FALSE(clock.playing());
    clock.sendUntil(bus, 6000);
    clock.beginSteps(bus, 6000, 5001, 1);
    clock.sendUntil(bus, 20000);
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(framesOf(out, midi::kClock), (std::vector<std::int64_t>{0, 833, 1667}));
    EXPECT_EQ(out[4].bytes[0], midi::kStop);
    EXPECT_EQ(out[4].frame, 2000);
}

TEST(MidiClockOut, AShortenedStretchSendsItsOwedPulsesSoEachStepKeepsSix) {
    MidiBus bus;
    MidiClockOut clock;
    clock.play(bus, 0, 0);
    clock.beginSteps(bus, 0, 5001, 1);
    clock.sendUntil(bus, 2000);
    clock.beginSteps(bus, 2000, 4000, 2); // the step was cut short at 2000: three pulses owed
    clock.sendUntil(bus, 6000);
    clock.beginSteps(bus, 6000, 3000, 1);
    clock.sendUntil(bus, 9000);
    const auto pulses = framesOf(drain(bus), midi::kClock);
    ASSERT_EQ(pulses.size(), 6u * 4u);
    EXPECT_EQ(std::vector<std::int64_t>(pulses.begin(), pulses.begin() + 6),
              (std::vector<std::int64_t>{0, 833, 1667, 2000, 2000, 2000}));
    EXPECT_EQ(pulses[6], 2000) << "the next step's first pulse on its first frame";
    EXPECT_EQ(pulses[12], 4000);
    EXPECT_EQ(pulses[18], 6000);
    EXPECT_EQ(pulses[23], 6000 + 5 * 3000 / 6);
}

// Notes out.

TEST(MidiNotesOut, AVoiceReleasesItsNoteBeforeItsNextAndOnlyItsOwn) {
    MidiBus bus;
    MidiNotesOut notes;
    notes.noteOn(bus, 0, 0, 1, 60, 100);
    notes.noteOn(bus, 5, 1, 2, 48, 90);
    notes.noteOn(bus, 10, 0, 1, 62, 80);
    EXPECT_EQ(notes.held(0), 62);
    EXPECT_EQ(notes.held(1), 48);
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].bytes, (std::array<std::uint8_t, 3>{0x90, 60, 100}));
    EXPECT_EQ(out[1].bytes, (std::array<std::uint8_t, 3>{0x91, 48, 90}));
    EXPECT_EQ(out[2].bytes, (std::array<std::uint8_t, 3>{0x80, 60, 0}));
    EXPECT_EQ(out[2].frame, 10);
    EXPECT_EQ(out[3].bytes, (std::array<std::uint8_t, 3>{0x90, 62, 80}));
    EXPECT_EQ(out[3].frame, 10);

    notes.noteOff(bus, 20, 0);
    notes.noteOff(bus, 21, 0); // already released: nothing more
    const auto offs = drain(bus);
    ASSERT_EQ(offs.size(), 1u);
    EXPECT_EQ(offs[0].bytes, (std::array<std::uint8_t, 3>{0x80, 62, 0}));
    EXPECT_EQ(notes.held(0), -1);
}

TEST(MidiNotesOut, AllOffReleasesHeldNotesThenClearsOnlyTheChannelsUsed) {
    MidiBus bus;
    MidiNotesOut notes;
    notes.noteOn(bus, 0, 0, 1, 60, 100);
    notes.noteOn(bus, 0, 3, 10, 36, 127);
    notes.noteOn(bus, 0, 4, 10, 42, 127);
    notes.noteOff(bus, 1, 4);
    drain(bus);
    notes.allOff(bus, 7);
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].bytes, (std::array<std::uint8_t, 3>{0x80, 60, 0}));
    EXPECT_EQ(out[1].bytes, (std::array<std::uint8_t, 3>{0x89, 36, 0}));
    EXPECT_EQ(out[2].bytes, (std::array<std::uint8_t, 3>{0xB0, midi::kAllNotesOff, 0}));
    EXPECT_EQ(out[3].bytes, (std::array<std::uint8_t, 3>{0xB9, midi::kAllNotesOff, 0}));
    for (const MidiMessage& m : out)
        EXPECT_EQ(m.frame, 7);
    for (int voice = 0; voice < MidiNotesOut::kVoices; ++voice)
        EXPECT_EQ(notes.held(voice), -1);
}

TEST(MidiNotesOut, OutOfRangeValuesAreClampedOrRefused) {
    MidiBus bus;
    MidiNotesOut notes;
    notes.noteOn(bus, 0, 0, 0, 60, 100);                     // channel 0
    notes.noteOn(bus, 0, 0, 17, 60, 100);                    // channel 17
    notes.noteOn(bus, 0, -1, 1, 60, 100);                    // no such voice
    notes.noteOn(bus, 0, MidiNotesOut::kVoices, 1, 60, 100); // no such voice
    notes.noteOff(bus, 0, MidiNotesOut::kVoices);
    EXPECT_TRUE(drain(bus).empty());

    notes.noteOn(bus, 0, 0, 16, 200, 0);
    notes.noteOn(bus, 0, 1, 16, -5, 300);
    const auto out = drain(bus);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes, (std::array<std::uint8_t, 3>{0x9F, 127, 1}));
    EXPECT_EQ(out[1].bytes, (std::array<std::uint8_t, 3>{0x9F, 0, 127}));
    EXPECT_EQ(notes.held(0), 127);
}

TEST(MidiNotesOut, PitchesAndLevelsBecomeNotesAndVelocities) {
    EXPECT_EQ(midiNoteOf(440.0), 69);
    EXPECT_EQ(midiNoteOf(261.63), 60);
    EXPECT_EQ(midiNoteOf(55.0), 33);
    EXPECT_EQ(midiNoteOf(440.0 * std::pow(2.0, 0.49 / 12.0)), 69) << "the nearest note";
    EXPECT_EQ(midiNoteOf(440.0 * std::pow(2.0, 0.51 / 12.0)), 70) << "the nearest note";
    EXPECT_EQ(midiNoteOf(1.0), 0);
    EXPECT_EQ(midiNoteOf(100000.0), 127);
    EXPECT_EQ(midiNoteOf(0.0), 0);
    EXPECT_EQ(midiNoteOf(-440.0), 0);
    EXPECT_EQ(midiNoteOf(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(midiNoteOf(std::numeric_limits<double>::infinity()), 127);

    EXPECT_EQ(midiVelocityOf(1.0), 127);
    EXPECT_EQ(midiVelocityOf(0.5), 64);
    EXPECT_EQ(midiVelocityOf(0.0), 1) << "a note-on of velocity 0 would be a note-off";
    EXPECT_EQ(midiVelocityOf(3.0), 127);
    EXPECT_EQ(midiVelocityOf(std::numeric_limits<double>::quiet_NaN()), 1);
    EXPECT_EQ(midiVelocityOf(std::numeric_limits<double>::infinity()), 127);
}

} // namespace
} // namespace common
