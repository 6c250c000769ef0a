// The native JACK backend against a private jackd (dummy driver): what a second client hears is exactly
// what the source gave, in order and without gaps; the ports connect to the playback ports only when
// asked; a server at another rate is refused; stop is prompt; a server that goes away leaves the
// output on the silent stand-in.
#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"
#include "audio/tests/JackTestServer.h"
#include "common/MidiBus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

using namespace std::chrono_literals;
using jacktest::Clock;
using jacktest::DummyJackServer;
using jacktest::Recorder;
using jacktest::waitFor;

const char* const kNoJackd = "jackd did not start (the jackd2 package provides it)";

/// A pull function's state: a ramp, left = n, right = −n, n = 1, 2, … 30000, 1, …
struct Ramp {
    int next = 1;
    std::atomic<long> frames{0};
    static void pull(std::int16_t* out, int count, void* context) {
        auto* self = static_cast<Ramp*>(context);
        for (int i = 0; i < count; ++i) {
            out[2 * i] = static_cast<std::int16_t>(self->next);
            out[2 * i + 1] = static_cast<std::int16_t>(-self->next);
            self->next = CountingSource::after(self->next);
        }
        self->frames += count;
    }
};

/// A pull function that plays silence and MIDI: a note-on on every 1000th frame of the stream (its
/// number counting up), and keeps the frames of what comes in.
struct MidiTicker {
    common::MidiBus bus;
    std::vector<std::int64_t> arrivals = std::vector<std::int64_t>(4096);
    std::atomic<int> arrived{0};
    static void pull(std::int16_t* out, int count, void* context) {
        auto* self = static_cast<MidiTicker*>(context);
        std::fill(out, out + 2 * count, std::int16_t{0});
        common::MidiMessage in;
        while (self->bus.receive(in)) {
            const int at = self->arrived.load(std::memory_order_relaxed);
            if (at < static_cast<int>(self->arrivals.size())) {
                self->arrivals[static_cast<std::size_t>(at)] = in.frame;
                self->arrived.store(at + 1, std::memory_order_release);
            }
        }
        for (int i = 0; i < count; ++i) {
            const std::int64_t frame = self->bus.renderFrame() + i;
            if (frame % 1000 == 0)
                self->bus.send(i, common::midi::kNoteOn, static_cast<std::uint8_t>(frame / 1000 % 128), 100);
        }
        self->bus.endBlock(count);
    }
};

/// Starts a private server named after the test, with JACK_DEFAULT_SERVER naming it for our backend.
class JackBackendTest : public testing::Test {
  protected:
    /// False when jackd is missing or does not answer: the test then skips.
    bool startServer(int rate = 44100) {
        // One name for every server of this process: libjack keeps to the first server it met.
        const std::string name = "vzj" + std::to_string(getpid());
        server_ = std::make_unique<DummyJackServer>(name, rate);
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        return server_->start();
    }
    void TearDown() override {
        server_.reset(); // stopped even when the test failed
        unsetenv("JACK_DEFAULT_SERVER");
    }

    static audio::DeviceRequest request(bool autoConnect) {
        audio::DeviceRequest r;
        r.blockFrames = 256;
        r.autoConnect = autoConnect;
        return r;
    }

    std::unique_ptr<DummyJackServer> server_;
};

TEST_F(JackBackendTest, ASecondClientHearsExactlyThePulledFramesInOrder) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    ASSERT_EQ(backend->deviceCount(), 1);
    EXPECT_STREQ(backend->deviceName(0), "jack");
    EXPECT_EQ(backend->deviceName(1), nullptr);

    Ramp ramp;
    std::string error;
    ASSERT_TRUE(backend->start(request(false), &Ramp::pull, &ramp, error)) << error;
    EXPECT_EQ(backend->openDeviceName(), "jack");
    constexpr std::size_t kFrames = 44100;
    Recorder recorder(server_->name(), kFrames);
    ASSERT_TRUE(recorder.ok());
    ASSERT_TRUE(recorder.connectFrom("vz-test"));
    ASSERT_TRUE(waitFor([&] { return recorder.frames() == kFrames; }, 10s)) << recorder.frames();
    backend->stop();

    // Every recorded frame is a whole 16-bit value over 32768, and each follows the one before.
    const auto value = [](float sample) { return static_cast<int>(std::lround(sample * 32768.0f)); };
    int breaks = 0;
    std::size_t firstBreak = 0;
    for (std::size_t i = 0; i < kFrames; ++i) {
        const int left = value(recorder.left()[i]);
        if (left == 0 && recorder.xruns() > 0)
            continue; // a missed cycle heard as silence
        ASSERT_EQ(recorder.left()[i] * 32768.0f, static_cast<float>(left)) << "frame " << i;
        ASSERT_EQ(value(recorder.right()[i]), -left) << "frame " << i;
        if (i > 0 && left != CountingSource::after(value(recorder.left()[i - 1])) && breaks++ == 0)
            firstBreak = i;
    }
    // A server that missed cycles (a loaded machine, no real-time) breaks the sequence once per miss
    // at most, at a period's edge; otherwise there is no break at all.
    EXPECT_LE(breaks, 2 * recorder.xruns())
        << "first at frame " << firstBreak << ": " << value(recorder.left()[firstBreak - 1]) << " then "
        << value(recorder.left()[firstBreak]);
    if (breaks > 0) {
        EXPECT_EQ(firstBreak % 256, 0u) << "a break inside a period";
    }
    EXPECT_NE(value(recorder.left()[0]), 0);
}

TEST_F(JackBackendTest, MidiGoesOutAndComesInOnExactFrames) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    MidiTicker ticker;
    audio::DeviceRequest midiRequest = request(false);
    midiRequest.midi = &ticker.bus;
    std::string error;
    ASSERT_TRUE(backend->start(midiRequest, &MidiTicker::pull, &ticker, error)) << error;
    jacktest::MidiPeer peer(server_->name());
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.listenTo("vz-test:midi_out"));
    ASSERT_TRUE(peer.playTo("vz-test:midi_in"));
    // Clock pulses 777 frames apart, three periods' worth each at most, across period edges.
    std::vector<jacktest::MidiPeer::Message> script;
    for (int i = 0; i < 40; ++i)
        script.push_back({777LL * i, {common::midi::kClock}});
    peer.play(script);
    ASSERT_TRUE(waitFor([&] { return peer.played() && ticker.arrived.load() == 40; }, 10s))
        << ticker.arrived.load();
    ASSERT_TRUE(waitFor([&] { return peer.received().size() >= 40; }, 10s));
    backend->stop();

    // Out: on every 1000th frame of our stream, so exactly 1000 server frames apart, in order. In:
    // stamped with our stream's frames, exactly as far apart as the peer placed them. A cycle the
    // server missed (a loaded machine, no real-time) moves its frame time on by the time lost, which
    // breaks one interval each way.
    const auto received = peer.received();
    int off = 0;
    std::string offs;
    const auto check = [&](std::int64_t apart, std::int64_t expected, const std::string& what) {
        if (apart == expected)
            return;
        ++off;
        offs += " " + what + ": " + std::to_string(apart) + " frames apart;";
    };
    for (std::size_t i = 1; i < received.size(); ++i) {
        ASSERT_EQ(received[i].bytes.size(), 3u);
        EXPECT_EQ(received[i].bytes[1], (received[i - 1].bytes[1] + 1) % 128) << "message " << i;
        check(received[i].frame - received[i - 1].frame, 1000, "message " + std::to_string(i));
    }
    for (int i = 1; i < 40; ++i)
        check(ticker.arrivals[i] - ticker.arrivals[i - 1], 777, "pulse " + std::to_string(i));
    EXPECT_LE(off, 2 * peer.xruns()) << "intervals off without a missed cycle:" << offs;
}

TEST_F(JackBackendTest, OutputsGoToThePlaybackPortsUnlessAutoConnectIsOff) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    Recorder probe(server_->name(), 1);
    ASSERT_TRUE(probe.ok());
    const auto connections = [&](const char* port) {
        std::vector<std::string> names;
        if (const char** all =
                jack_port_get_all_connections(probe.client(), jack_port_by_name(probe.client(), port))) {
            for (const char** name = all; *name; ++name)
                names.emplace_back(*name);
            jack_free(all);
        }
        return names;
    };
    for (const bool autoConnect : {true, false}) {
        Ramp ramp;
        std::string error;
        ASSERT_TRUE(backend->start(request(autoConnect), &Ramp::pull, &ramp, error)) << error;
        if (autoConnect) {
            EXPECT_EQ(connections("vz-test:out_left"), std::vector<std::string>{"system:playback_1"});
            EXPECT_EQ(connections("vz-test:out_right"), std::vector<std::string>{"system:playback_2"});
        } else {
            EXPECT_TRUE(connections("vz-test:out_left").empty());
            EXPECT_TRUE(connections("vz-test:out_right").empty());
        }
        const auto begin = Clock::now();
        backend->stop();
        EXPECT_LT(Clock::now() - begin, 1s) << "stop waited";
        const long after = ramp.frames;
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(ramp.frames, after) << "pulled after stop";
    }
}

TEST_F(JackBackendTest, AServerAtAnotherRateIsRefusedSayingSo) {
    if (!startServer(48000))
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    Ramp ramp;
    std::string error;
    EXPECT_FALSE(backend->start(request(true), &Ramp::pull, &ramp, error));
    EXPECT_NE(error.find("48000 Hz"), std::string::npos) << error;
    EXPECT_NE(error.find("not resampled"), std::string::npos) << error;
    EXPECT_EQ(ramp.frames, 0);
}

TEST_F(JackBackendTest, WithoutAServerTheDeviceIsNotListed) {
    setenv("JACK_DEFAULT_SERVER", ("vz-none-" + std::to_string(getpid())).c_str(), 1);
    auto backend = audio::makeJackBackend("vz-test");
    EXPECT_EQ(backend->deviceCount(), 0);
    EXPECT_EQ(backend->deviceName(0), nullptr);
    Ramp ramp;
    std::string error;
    EXPECT_FALSE(backend->start(request(true), &Ramp::pull, &ramp, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(JackBackendTest, TheSystemListEndsWithJackWhenAServerAnswers) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    audio::AudioOutput output("vz-test");
    const std::vector<std::string> names = output.deviceNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "jack");
}

TEST_F(JackBackendTest, AServerThatGoesAwayLeavesTheSilentOutputPlaying) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    CountingSource source;
    audio::AudioOutput output(audio::makeJackBackend("vz-test"), 2000ms);
    output.start(source, {0, 256, 20, false});
    ASSERT_FALSE(output.playsSilently());
    EXPECT_EQ(output.playingDevice(), "jack");
    ASSERT_TRUE(waitFor([&] { return source.calls > 10; }, 5s));

    testing::internal::CaptureStderr();
    server_->stop();
    Clock::duration longestPoll{};
    const bool noticed = jacktest::pollUntilSilent(output, longestPoll);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(noticed);
    EXPECT_LT(longestPoll, 3s) << "a poll waited for the lost server";
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    const int before = source.calls;
    EXPECT_TRUE(waitFor([&] { return source.calls > before + 5; }, 3s)) << "the silent output does not pull";
    const auto begin = Clock::now();
    output.stop();
    EXPECT_LT(Clock::now() - begin, 3s);
    EXPECT_TRUE(source.staysSilent());
}

} // namespace
