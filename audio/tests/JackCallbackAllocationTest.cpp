// JACK's process thread while our client plays: from one pull to a later one (our callback's
// conversion, its MIDI both ways, the transport heard and followed, the timebase callback while it leads
// the transport through a start, stop and locate, and libjack's own cycle between the calls) no
// allocation, no free and no mutex.
#include "audio/AudioBackend.h"
#include "audio/JackTransportFollower.h"
#include "audio/tests/JackTestServer.h"
#include "common/MidiBus.h"
#include "common/tests/AllocationCounter.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;

/// Counts the JACK thread's allocator calls from its 20th pull to its 220th.
struct CountingPull {
    std::optional<common::test::AllocationScope> scope;
    common::test::AllocationCount counted;
    std::atomic<bool> done{false};
    common::MidiBus bus;
    std::atomic<int> received{0};
    audio::JackTransport transport;
    audio::JackTransportFollower follower{transport};
    std::atomic<int> calls{0};
    std::atomic<int> transportEvents{0};

    static void pull(std::int16_t* out, int frames, void* context) {
        auto* self = static_cast<CountingPull*>(context);
        for (int i = 0; i < 2 * frames; ++i)
            out[i] = static_cast<std::int16_t>(i);
        common::MidiMessage in;
        while (self->bus.receive(in))
            self->received.fetch_add(1, std::memory_order_relaxed);
        self->follower.update(self->bus, frames);
        common::TransportEvent event;
        while (self->follower.nextEvent(self->bus.renderFrame() + frames, event))
            self->transportEvents.fetch_add(1, std::memory_order_relaxed);
        if (self->follower.frameOfSixteenth(3) == 0 && self->follower.bpm() < 0.0)
            std::abort(); // read, so that neither is left out
        self->bus.send(frames / 2, common::midi::kClock);
        self->bus.endBlock(frames);
        self->calls.fetch_add(1);
        if (self->calls == 20)
            self->scope.emplace();
        if (self->calls == 220) {
            self->counted = self->scope->counted();
            self->scope.reset();
            self->done = true;
        }
    }
};

TEST(JackCallbackAllocation, ThePlayingThreadNeitherAllocatesNorFreesNorLocks) {
    ASSERT_TRUE(common::test::allocationCounterWorks());
    const std::string name = "vza" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    jacktest::DummyJackServer server(name);
    if (!server.start())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    auto backend = audio::makeJackBackend("vz-alloc");
    CountingPull counting;
    audio::DeviceRequest request;
    request.autoConnect = true;
    request.midi = &counting.bus;
    request.transport = &counting.transport;
    request.leadTransport = true;
    std::string error;
    ASSERT_TRUE(backend->start(request, &CountingPull::pull, &counting, error)) << error;
    backend->rollTransport(true, true);
    jacktest::MidiPeer peer(name);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.listenTo("vz-alloc:midi_out"));
    ASSERT_TRUE(peer.playTo("vz-alloc:midi_in"));
    std::vector<jacktest::MidiPeer::Message> clock;
    for (std::int64_t frame = 0; frame < 200000; frame += 100)
        clock.push_back({frame, {common::midi::kClock}});
    peer.play(clock, 0);
    // While counting: stopped, then started again from the top (a locate).
    ASSERT_TRUE(jacktest::waitFor([&] { return counting.calls.load() >= 80; }, 10s));
    backend->rollTransport(false, false);
    ASSERT_TRUE(jacktest::waitFor([&] { return counting.calls.load() >= 120; }, 10s));
    backend->rollTransport(true, true);
    ASSERT_TRUE(jacktest::waitFor([&] { return counting.done.load(); }, 10s));
    backend->stop();
    const common::test::AllocationCount& counted = counting.counted;
    EXPECT_EQ(std::tuple(counted.allocations, counted.frees, counted.locks), std::tuple(0, 0, 0));
    EXPECT_GT(counting.received.load(), 0) << "no MIDI came in while counting";
    EXPECT_FALSE(peer.received().empty()) << "no MIDI went out while counting";
    EXPECT_GE(counting.transportEvents.load(), 3) << "the transport did not start, stop and start";
}

} // namespace
