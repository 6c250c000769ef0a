// Proves that the shared pieces the render calls on the audio thread neither allocate nor free: the MIDI
// bus both ways, clock and notes out, and a followed master's transport, tempo and sixteenths, whether a
// MIDI clock or a Link session, also while the user's tempo and start/stop are committed to the session.
#include "common/MidiBus.h"
#include "common/MidiClockFollower.h"
#include "common/MidiClockOut.h"
#include "common/MidiNotesOut.h"
#include "common/link/LinkMaster.h"
#include "common/tests/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>

namespace common {
namespace {

TEST(MidiAllocation, TheAudioThreadsMidiWorkAllocatesNothing) {
    ASSERT_TRUE(test::allocationCounterWorks());
    auto bus = std::make_unique<MidiBus>();
    auto follower = std::make_unique<MidiClockFollower>(44100.0);
    MidiClockOut clock;
    MidiNotesOut notes;
    const std::uint8_t pulse = midi::kClock, start = midi::kStart, stop = midi::kStop;
    const std::uint8_t position[] = {midi::kSongPosition, 9, 0};
    constexpr int kBlock = 256;
    std::int64_t sum = 0;

    const auto counted = test::countAllocations([&] {
        for (int block = 0; block < 2000; ++block) {
            const std::int64_t first = bus->renderFrame();
            // A master at 120 BPM that starts, stops and moves, overflowing the input now and then.
            for (std::int64_t frame = first; frame < first + kBlock; ++frame) {
                if (frame % 919 == 0)
                    bus->arrived(frame, &pulse, 1);
                if (frame % 50000 == 100)
                    bus->arrived(frame, &start, 1);
                if (frame % 50000 == 40000) {
                    bus->arrived(frame, &stop, 1);
                    bus->arrived(frame, position, 3);
                }
            }
            if (block % 500 == 499)
                for (int k = 0; k < MidiBus::kCapacity + 10; ++k)
                    bus->arrived(first + kBlock - 1, &pulse, 1);
            follower->update(*bus, kBlock);
            TransportEvent event;
            while (follower->nextEvent(first + kBlock, event)) {
                if (event.kind == TransportEvent::Play)
                    clock.play(*bus, 0, static_cast<int>(event.sixteenth));
                else
                    clock.stop(*bus, 0);
            }
            const std::int64_t next = follower->frameOfSixteenth(block / 8);
            clock.beginSteps(*bus, 0, std::max<std::int64_t>(next - first, 1), 1);
            notes.noteOn(*bus, 10, block % MidiNotesOut::kVoices, 1 + block % 16, 60, 100);
            if (block % 100 == 0)
                notes.allOff(*bus, 20);
            clock.sendUntil(*bus, kBlock);
            bus->endBlock(kBlock);
            MidiMessage message;
            while (bus->takeBefore(bus->renderFrame(), message))
                sum += message.bytes[0];
            sum += static_cast<std::int64_t>(follower->bpm());
        }
    });
    EXPECT_EQ(counted.allocations, 0);
    EXPECT_EQ(counted.frees, 0);
    EXPECT_EQ(counted.locks, 0);
    EXPECT_GT(sum, 0);
    EXPECT_GT(follower->bpm(), 0.0);
}

TEST(LinkAllocation, TheRendersCallsAllocateNothing) {
    ASSERT_TRUE(test::allocationCounterWorks());
    auto master = std::make_unique<LinkMaster>(44100.0);
    auto bus = std::make_unique<MidiBus>();
    master->open(120.0);
    master->setOutputLatencyFrames(1280);
    constexpr int kBlock = 256;
    std::int64_t sum = 0;
    const std::int64_t origin = master->hostMicros();
    const auto counted = test::countAllocations([&] {
        for (int block = 0; block < 3000; ++block) {
            if (block % 100 == 10)
                master->requestTempo(100.0 + block / 100);
            if (block % 300 == 0)
                master->requestPlaying(block % 600 == 0);
            if (block % 2 == 0)
                master->update(*bus, kBlock);
            else
                master->updateAt(*bus, kBlock, origin + block * 5805);
            TransportEvent event;
            while (master->nextEvent(bus->renderFrame() + kBlock, event))
                sum += event.sixteenth;
            sum += master->frameOfSixteenth(block) + static_cast<std::int64_t>(master->bpm());
            bus->endBlock(kBlock);
        }
    });
    EXPECT_EQ(counted.allocations, 0);
    EXPECT_EQ(counted.frees, 0);
    EXPECT_NE(sum, 0);
}

} // namespace
} // namespace common
