// The JACK device against a private jackd (dummy driver): what a second client hears is exactly what the
// source gave, in order and without gaps; MIDI goes both ways on exact frames; the ports connect to the
// playback ports only when asked; a server at another rate is refused; stop is prompt; a server that
// goes away, under the native backend or PortAudio's JACK host, leaves the output on the silent stand-in.
#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"
#include "audio/tests/JackTestServer.h"
#include "common/MidiBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using jacktest::Clock;
using jacktest::DummyJackServer;
using jacktest::Recorder;
using jacktest::waitFor;

const char* const kNoJackd = "jackd did not start (the jackd2 package provides it)";

/// A pull function that plays a CountingSource.
void pullCounting(std::int16_t* out, int count, void* source) {
    static_cast<CountingSource*>(source)->render(out, count);
}

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

    /// The ports our `port` ("out_left", say) is connected to, as another client sees them.
    static std::vector<std::string> connections(jack_client_t* client, const std::string& port) {
        std::vector<std::string> names;
        const std::string name = "vz-test:" + port;
        if (const char** all =
                jack_port_get_all_connections(client, jack_port_by_name(client, name.c_str()))) {
            for (const char** each = all; *each; ++each)
                names.emplace_back(*each);
            jack_free(all);
        }
        return names;
    }

    std::unique_ptr<DummyJackServer> server_;
};

TEST_F(JackBackendTest, ASecondClientHearsExactlyThePulledFramesInOrderAndStopIsPrompt) {
    if (!startServer())
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    ASSERT_EQ(backend->deviceCount(), 1);
    EXPECT_STREQ(backend->deviceName(0), "jack");
    EXPECT_EQ(backend->deviceName(1), nullptr);

    CountingSource source;
    std::string error;
    ASSERT_TRUE(backend->start(request(true), &pullCounting, &source, error)) << error;
    EXPECT_EQ(backend->openDeviceName(), "jack");
    constexpr std::size_t kFrames = 44100;
    Recorder recorder(server_->name(), kFrames);
    ASSERT_TRUE(recorder.ok());
    EXPECT_EQ(connections(recorder.client(), "out_left"), std::vector<std::string>{"system:playback_1"});
    EXPECT_EQ(connections(recorder.client(), "out_right"), std::vector<std::string>{"system:playback_2"});
    ASSERT_TRUE(recorder.connectFrom("vz-test"));
    ASSERT_TRUE(waitFor([&] { return recorder.frames() == kFrames; }, 10s)) << recorder.frames();
    const auto begin = Clock::now();
    backend->stop();
    EXPECT_LT(Clock::now() - begin, 1s) << "stop waited";
    EXPECT_TRUE(source.staysSilent()) << "pulled after stop";

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
    EXPECT_TRUE(connections(peer.client(), "out_left").empty()) << "connected although asked not to";
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

TEST_F(JackBackendTest, AServerAtAnotherRateIsRefusedSayingSo) {
    if (!startServer(48000))
        GTEST_SKIP() << kNoJackd;
    auto backend = audio::makeJackBackend("vz-test");
    CountingSource source;
    std::string error;
    EXPECT_FALSE(backend->start(request(true), &pullCounting, &source, error));
    EXPECT_NE(error.find("48000 Hz"), std::string::npos) << error;
    EXPECT_NE(error.find("not resampled"), std::string::npos) << error;
    EXPECT_EQ(source.calls, 0);
}

TEST_F(JackBackendTest, AServerThatGoesAwayLeavesTheSilentOutputPlaying) {
    for (const bool native : {true, false}) {
        SCOPED_TRACE(native ? "the native backend" : "PortAudio's JACK host");
        if (!startServer())
            GTEST_SKIP() << kNoJackd;
        auto output = native ? std::make_unique<audio::AudioOutput>(audio::makeJackBackend("vz-test"), 2000ms)
                             : std::make_unique<audio::AudioOutput>("vz-test");
        // The system's list is PortAudio's devices (JACK's host among them), then the native device.
        const std::vector<std::string> names = output->deviceNames();
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), "jack");
        const auto jack = std::find_if(names.begin(), names.end(), [](const std::string& name) {
            return name.find("JACK") != std::string::npos;
        });
        if (!native && jack == names.end())
            GTEST_SKIP() << "PortAudio lists no JACK device";
        CountingSource source;
        output->start(source, {native ? 0 : static_cast<int>(jack - names.begin()), 256, 20, false});
        ASSERT_FALSE(output->playsSilently()) << "the JACK device did not open";
        ASSERT_TRUE(waitFor([&] { return source.calls > 10; }, 5s));

        testing::internal::CaptureStderr();
        server_->stop();
        // The window polls the load twice a second; no poll may hang, and one of them notices the loss.
        Clock::duration longestPoll{};
        const bool noticed = waitFor(
            [&] {
                const auto begin = Clock::now();
                output->cpuLoadPercent();
                longestPoll = std::max(longestPoll, Clock::now() - begin);
                return output->playsSilently();
            },
            15s);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(noticed);
        EXPECT_LT(longestPoll, 5s) << "a poll waited for the lost server";
        EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
        const int before = source.calls;
        EXPECT_TRUE(waitFor([&] { return source.calls > before + 5; }, 3s))
            << "the silent output does not pull";
        const auto begin = Clock::now();
        output->stop();
        EXPECT_LT(Clock::now() - begin, 5s);
        EXPECT_TRUE(source.staysSilent()) << "a render came after stop";
        if (native) {
            // Without a server the device is not listed, and does not open.
            auto backend = audio::makeJackBackend("vz-test");
            EXPECT_EQ(backend->deviceCount(), 0);
            std::string error;
            EXPECT_FALSE(backend->start(request(true), &pullCounting, &source, error));
            EXPECT_FALSE(error.empty());
        }
    }
}

} // namespace
