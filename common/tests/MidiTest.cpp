// MIDI beside the sound: messages on their exact frames through the bus, a clock out that never drifts
// from the steps, and notes out that never leave a note hanging.
#include "common/MidiBus.h"
#include "common/MidiClockOut.h"
#include "common/MidiNotesOut.h"
#include "common/tests/MidiTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace common {
namespace {

using test::drain;
using test::framesOf;
using test::Sent;

// The bus.

TEST(MidiBus, MessagesKeepTheirFramesAcrossBlocksAndTheirOrderAndOnlyWholeShortOnesComeIn) {
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
    std::vector<Sent> sent;
    while (bus.takeBefore(MidiBus::kEndOfTime, m)) {
        EXPECT_EQ(m.size,
                  m.bytes[0] < 0xF0 || m.bytes[0] == midi::kSongPosition ? 3 : 1); // notes, position: 3
        sent.push_back(test::sentOf(m));
    }
    EXPECT_EQ(
        sent,
        (std::vector<Sent>{
            {10, midi::kNoteOn, 60, 100}, {10, midi::kNoteOff, 60}, {69, midi::kClock}, {69, midi::kStop}}));

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
    std::vector<Sent> received;
    while (bus.receive(m)) {
        EXPECT_EQ(m.size,
                  m.bytes[0] < 0xF0 || m.bytes[0] == midi::kSongPosition ? 3 : 1); // notes, position: 3
        received.push_back(test::sentOf(m));
    }
    EXPECT_EQ(received,
              (std::vector<Sent>{{6, midi::kClock}, {7, 0x91, 64, 90}, {8, midi::kSongPosition, 5, 1}}));
    EXPECT_EQ(bus.dropped(), 0u);
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
    std::int64_t last = -1;
    while (bus.receive(m))
        EXPECT_EQ(m.frame, ++last) << "the oldest are kept, in order";
    EXPECT_EQ(last + 1, MidiBus::kCapacity);
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
    EXPECT_EQ(drain(bus), (std::vector<Sent>{{1003, midi::kClock}}));
}

// Clock out.

/// Plays from step 0 for `steps` steps of `stepFrames` each, starting on frame `startFrame`, rendered in
/// blocks of `block` frames; returns all that went out.
std::vector<Sent> clockRun(std::int64_t stepFrames, int steps, int block, int startFrame = 0) {
    MidiBus bus;
    MidiClockOut clock;
    std::vector<Sent> out;
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
            out.push_back(test::sentOf(m));
    }
    return out;
}

TEST(MidiClockOut, StartThenSixPulsesAStepOnWholeFramesThatNeverDriftWhateverTheBlockSize) {
    for (const std::int64_t stepFrames : {5001, 5000}) {
        SCOPED_TRACE(stepFrames);
        const int steps = 1000;
        const auto reference = clockRun(stepFrames, steps, 256, 3);
        ASSERT_GE(reference.size(), 2u);
        EXPECT_EQ(reference[0], (Sent{3, midi::kStart})) << "Start on step 0's frame, before its first pulse";
        const auto pulses = framesOf(reference, midi::kClock);
        ASSERT_EQ(pulses.size(), static_cast<std::size_t>(6 * steps));
        // Pulse k on frame k × step / 6 rounded down: 833 and 834 frames apart, never drifting.
        for (std::size_t k = 0; k < pulses.size(); ++k)
            ASSERT_EQ(pulses[k], 3 + static_cast<std::int64_t>(k) * stepFrames / 6) << "pulse " << k;
        for (const int block : {1, 7, 1024, 4096})
            EXPECT_EQ(clockRun(stepFrames, steps, block, 3), reference) << block;
    }
}

TEST(MidiClockOut, OtherStepsAndResumingSendTheSongPositionThenContinue) {
    struct Case {
        int step;
        bool resumed;
        int low, high;
    };
    for (const Case c : {Case{37, false, 37, 0}, Case{200, false, 200 - 128, 1}, Case{0, true, 0, 0},
                         Case{37, true, 37, 0}}) {
        MidiBus bus;
        MidiClockOut clock;
        bus.endBlock(512);
        clock.play(bus, 9, c.step, c.resumed);
        EXPECT_EQ(drain(bus),
                  (std::vector<Sent>{{521, midi::kSongPosition, c.low, c.high}, {521, midi::kContinue}}))
            << c.step;
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
    EXPECT_EQ(drain(bus), (std::vector<Sent>{{0, midi::kStart},
                                             {0, midi::kClock},
                                             {833, midi::kClock},
                                             {1667, midi::kClock},
                                             {2000, midi::kStop}}));
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
    EXPECT_EQ(std::vector<std::int64_t>(pulses.begin(), pulses.begin() + 7),
              (std::vector<std::int64_t>{0, 833, 1667, 2000, 2000, 2000, 2000}));
    EXPECT_EQ(pulses[12], 4000);
    EXPECT_EQ(pulses[18], 6000);
    EXPECT_EQ(pulses[23], 6000 + 5 * 3000 / 6);
}

// Notes out.

TEST(MidiNotesOut, AVoiceReleasesItsNoteBeforeItsNextAndAllOffReleasesWhatIsHeldThenClearsTheChannelsUsed) {
    MidiBus bus;
    MidiNotesOut notes;
    notes.noteOn(bus, 0, 0, 1, 60, 100);
    notes.noteOn(bus, 5, 1, 2, 48, 90);
    notes.noteOn(bus, 10, 0, 1, 62, 80);
    notes.noteOn(bus, 12, 3, 10, 36, 127);
    EXPECT_EQ(notes.held(0), 62);
    EXPECT_EQ(notes.held(1), 48);
    notes.noteOff(bus, 20, 0);
    notes.noteOff(bus, 21, 0); // already released: nothing more
    EXPECT_EQ(notes.held(0), -1);
    notes.allOff(bus, 30);
    EXPECT_EQ(drain(bus), (std::vector<Sent>{{0, 0x90, 60, 100},
                                             {5, 0x91, 48, 90},
                                             {10, 0x80, 60, 0},
                                             {10, 0x90, 62, 80},
                                             {12, 0x99, 36, 127},
                                             {20, 0x80, 62, 0},
                                             {30, 0x81, 48, 0},
                                             {30, 0x89, 36, 0},
                                             {30, 0xB0, midi::kAllNotesOff, 0},
                                             {30, 0xB1, midi::kAllNotesOff, 0},
                                             {30, 0xB9, midi::kAllNotesOff, 0}}));
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
    EXPECT_EQ(drain(bus), (std::vector<Sent>{{0, 0x9F, 127, 1}, {0, 0x9F, 0, 127}}));
    EXPECT_EQ(notes.held(0), 127);
}

TEST(MidiNotesOut, PitchesAndLevelsBecomeNotesAndVelocities) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // The nearest note, clamped to 0..127; what is no pitch, the lowest.
    const std::pair<double, int> notes[] = {{440.0, 69},
                                            {440.0 * std::pow(2.0, 0.49 / 12.0), 69},
                                            {440.0 * std::pow(2.0, 0.51 / 12.0), 70},
                                            {1.0, 0},
                                            {100000.0, 127},
                                            {0.0, 0},
                                            {-440.0, 0},
                                            {kNan, 0},
                                            {kInf, 127}};
    for (const auto& [hertz, note] : notes)
        EXPECT_EQ(midiNoteOf(hertz), note) << hertz;
    // 1..127: a note-on of velocity 0 would be a note-off.
    const std::pair<double, int> velocities[] = {{1.0, 127}, {0.5, 64}, {0.0, 1},
                                                 {3.0, 127}, {kNan, 1}, {kInf, 127}};
    for (const auto& [level, velocity] : velocities)
        EXPECT_EQ(midiVelocityOf(level), velocity) << level;
}

} // namespace
} // namespace common
