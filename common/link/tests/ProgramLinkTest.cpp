// The program following a Link session as a user runs it (--play --sync link), with a Link peer in a
// process of its own (vz_link_peer) beside it: the program starts and stops the session, follows the
// peer's tempo change, and its MIDI clock, recorded on a private JACK server, lands on the session's
// beats within a millisecond. Built once per program (PROGRAM_NAME, PROGRAM_PATH).
#include "audio/tests/JackTestServer.h"
#include "common/link/tests/LinkPeerProcess.h"
#include "common/tests/ProgramProcess.h"

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using jacktest::DummyJackServer;
using jacktest::Program;
using jacktest::waitFor;
using linktest::Peer;

/// Frames between the program's making a block and its being heard, as live play counts them: the block
/// and 50 ms of device buffering.
constexpr int kBlock = 256;
constexpr double kAssumedLatencyMicros = (kBlock + 2205) * 1e6 / 44100.0;

/// Link's clock (the same in every process of the machine), microseconds.
double linkMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec / 1000);
}

/// A JACK MIDI input that keeps the clock pulses it hears, on the server's frames, and Link's clock at
/// each of its cycles: the test's own measure of where the frames fall in time, whatever the server's
/// estimate of its rate (a loaded dummy driver runs slow and misses cycles).
class ClockListener : public jacktest::Client {
  public:
    explicit ClockListener(const std::string& server) : Client("vz-link-listener", server) {
        if (!client())
            return;
        in_ = jack_port_register(client(), "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        pulses_.reserve(1 << 16);
        cycles_.reserve(1 << 16);
        activate(&ClockListener::process, this);
    }
    ~ClockListener() { close(); } // before what its callback keeps goes

    bool ok() const { return client() && in_; }
    bool listenTo(const std::string& from) { return connect(from, "vz-link-listener:midi_in"); }

    /// Link's time of each pulse heard: the line through the cycles' (frame, time) within a quarter
    /// second of it.
    std::vector<double> pulseMicros() const {
        std::vector<double> times;
        for (const std::int64_t pulse : pulses_) {
            double n = 0, sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
            for (const auto& [frame, micros] : cycles_) {
                const double x = static_cast<double>(frame - pulse);
                if (std::abs(x) > 11025.0)
                    continue;
                n += 1;
                sumX += x;
                sumY += micros;
                sumXX += x * x;
                sumXY += x * micros;
            }
            if (n < 8)
                continue;
            const double slope = (n * sumXY - sumX * sumY) / (n * sumXX - sumX * sumX);
            times.push_back((sumY - slope * sumX) / n);
        }
        return times;
    }

  private:
    static int process(jack_nframes_t count, void* arg) {
        auto* self = static_cast<ClockListener*>(arg);
        const double now = linkMicros();
        const auto frame = static_cast<std::int64_t>(jack_last_frame_time(self->client()));
        void* in = jack_port_get_buffer(self->in_, count);
        const jack_nframes_t events = jack_midi_get_event_count(in);
        for (jack_nframes_t i = 0; i < events; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0 && event.size == 1 && event.buffer[0] == 0xF8 &&
                self->pulses_.size() < self->pulses_.capacity())
                self->pulses_.push_back(frame + event.time);
        }
        if (self->cycles_.size() < self->cycles_.capacity())
            self->cycles_.emplace_back(frame, now);
        return 0;
    }

    jack_port_t* in_ = nullptr;
    std::vector<std::int64_t> pulses_;
    std::vector<std::pair<std::int64_t, double>> cycles_;
};

// PROGRAM_SUITE names the suite after the program, so that the two programs' cases are told apart.
TEST(PROGRAM_SUITE, ItPlaysInTheSessionFollowsThePeersTempoAndItsClockLandsOnTheSessionsBeats) {
    const std::string server = "vzl" + std::to_string(getpid());
    DummyJackServer jack(server);
    if (!jack.start())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    Peer peer(120.0);
    ClockListener listener(server);
    ASSERT_TRUE(listener.ok());
    Program play({"--play", "--seconds", "9", "--device", "jack", "--sync", "link", "--seed", "3", "--block",
                  std::to_string(kBlock)},
                 server);
    ASSERT_TRUE(listener.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    if (const std::string why = peer.meet(); !why.empty())
        GTEST_SKIP() << why;

    // The program started the session; then the peer moves the tempo.
    EXPECT_EQ(peer.ask("wait-playing 1 5"), "playing 1");
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(peer.ask("tempo 133.3"), "ok");
    const double changed = linkMicros();
    std::this_thread::sleep_for(4s);
    // Its end stops the session.
    EXPECT_EQ(peer.ask("wait-playing 0 10"), "playing 0");
    ASSERT_EQ(play.wait(), 0) << play.err();

    // The clock's pulses from half a second after the change on, as heard: each on the session's grid of
    // 24 a beat, at the peer's tempo.
    listener.close();
    std::vector<double> heard;
    for (const double at : listener.pulseMicros())
        if (at + kAssumedLatencyMicros > changed + 500000.0)
            heard.push_back(at + kAssumedLatencyMicros);
    ASSERT_GT(heard.size(), 200u) << "less than two seconds of clock after the change";
    std::vector<double> offMs;
    for (std::size_t i = 0; i < heard.size(); i += 3) {
        const double beat = peer.number("beat " + std::to_string(std::llround(heard[i])));
        offMs.push_back(std::abs(std::remainder(beat * 24.0, 1.0)) / 24.0 * 60000.0 / 133.3);
    }
    std::sort(offMs.begin(), offMs.end());
    const double typical = offMs[offMs.size() * 95 / 100], worst = offMs.back();
    // The tempo: the median of the rates between each pulse of the first half and its partner half the
    // pulses on, so that a pulse the loaded server delayed does not count.
    const std::size_t half = heard.size() / 2;
    std::vector<double> rates;
    for (std::size_t i = 0; i < half; ++i)
        rates.push_back(static_cast<double>(half) / 24.0 * 60e6 / (heard[i + half] - heard[i]));
    std::nth_element(rates.begin(), rates.begin() + static_cast<std::ptrdiff_t>(half / 2), rates.end());
    const double bpm = rates[half / 2];
    // Link corrects for the clocks' drift between peers, so that the beats may pass at a hair from the
    // tempo shown: ours must pass as the peer's do.
    const double first = peer.number("beat " + std::to_string(std::llround(heard.front())));
    const double last = peer.number("beat " + std::to_string(std::llround(heard.back())));
    const double peerBpm = (last - first) * 60e6 / (heard.back() - heard.front());
    std::printf("[ measured ] clock at %.4f BPM, the peer's beats at %.4f (shown 133.3); pulses off the "
                "session's by %.3f ms (95 %%), %.3f ms at worst\n",
                bpm, peerBpm, typical, worst);
    if (listener.xruns() > 0 && (typical >= 1.0 || std::abs(bpm - peerBpm) > 0.01))
        GTEST_SKIP() << "the server missed " << listener.xruns()
                     << " cycles (a loaded machine without real-time): the pulses' timing is off";
    EXPECT_NEAR(bpm, peerBpm, 0.01);
    EXPECT_NEAR(peerBpm, 133.3, 0.2);
    EXPECT_LT(typical, 1.0);
    // A loaded machine makes the dummy server miss the odd cycle (a period, 5.8 ms), whose pulses then
    // come late.
    EXPECT_LT(worst, 10.0);
}

} // namespace
