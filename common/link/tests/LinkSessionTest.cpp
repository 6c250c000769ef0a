// Two Link peers in two processes of this machine: this test's LinkMaster, fed by a render on a steady
// clock, and a peer process (vz_link_peer). They must agree on the tempo within 0.01 BPM and on the beat
// phase within 1 ms, whichever side changes the tempo, and share start and stop. Host times are Link's
// clock, the same in both processes. Where the peers cannot find each other (no multicast on this
// machine's interfaces), the tests skip and say so.
#include "common/link/LinkMaster.h"
#include "common/link/tests/LinkPeerProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace common {
namespace {

using namespace std::chrono_literals;
constexpr double kRate = 44100.0;
constexpr double kMicrosPerFrame = 1e6 / kRate;
constexpr auto kDiscovery = 10s;
using linktest::Peer;

/// The master on a render thread whose blocks are made exactly on time (frame f at origin + f / rate),
/// as on a device without jitter and latency: a frame's host time is known exactly.
class Render {
  public:
    static constexpr int kBlock = 256;

    explicit Render(LinkMaster& master) : master_(master), origin_(master.hostMicros()) {
        thread_ = std::thread([this] { run(); });
    }
    ~Render() {
        running_ = false;
        thread_.join();
    }

    double bpm() const { return bpm_.load(); }
    /// Host time of sixteenth `sixteenth` as the render places it (asked of the render thread).
    double microsOfSixteenth(std::int64_t sixteenth) {
        asked_.store(sixteenth);
        answered_.store(false);
        while (!answered_.load())
            std::this_thread::sleep_for(1ms);
        return answer_.load();
    }
    /// The latest transport event the render took, and how many it took.
    TransportEvent lastEvent(int& count) {
        std::lock_guard lock(mutex_);
        count = events_;
        return last_;
    }
    double microsOfFrame(std::int64_t frame) const { return origin_ + frame * kMicrosPerFrame; }

  private:
    void run() {
        MidiBus bus;
        while (running_) {
            const std::int64_t frame = bus.renderFrame();
            // Made on time: never ahead of the host clock.
            while (master_.hostMicros() < microsOfFrame(frame) && running_)
                std::this_thread::sleep_for(500us);
            master_.updateAt(bus, kBlock, std::llround(microsOfFrame(frame)));
            TransportEvent event;
            while (master_.nextEvent(frame + kBlock, event)) {
                std::lock_guard lock(mutex_);
                last_ = event;
                ++events_;
            }
            bpm_.store(master_.bpm());
            if (!answered_.load()) {
                answer_.store(microsOfFrame(master_.frameOfSixteenth(asked_.load())));
                answered_.store(true);
            }
            bus.endBlock(kBlock);
        }
    }

    LinkMaster& master_;
    const std::int64_t origin_;
    std::atomic<bool> running_{true};
    std::atomic<double> bpm_{0.0};
    std::atomic<std::int64_t> asked_{0};
    std::atomic<double> answer_{0.0};
    std::atomic<bool> answered_{true};
    std::mutex mutex_;
    TransportEvent last_;
    int events_ = 0;
    std::thread thread_;
};

/// Milliseconds by which the peer's beat phase (four beats) at our sixteenth's host time is off.
double phaseErrorMs(Peer& peer, Render& render, LinkMaster& master, double bpm) {
    // A sixteenth a beat or so ahead of now, on the render's grid.
    const double sixteenthMicros = 15e6 / bpm;
    const auto probe = static_cast<std::int64_t>(
        std::ceil((static_cast<double>(master.hostMicros()) - render.microsOfSixteenth(0)) /
                  sixteenthMicros) +
        4);
    const double at = render.microsOfSixteenth(probe);
    const double beat = peer.number("beat " + std::to_string(std::llround(at)));
    double off = std::fmod(beat - probe / 4.0, 4.0);
    if (off >= 2.0)
        off -= 4.0;
    if (off < -2.0)
        off += 4.0;
    return off * 60000.0 / bpm;
}

TEST(LinkSession, TwoPeersShareTempoPhaseStartAndStopWhicheverSideMovesThem) {
    Peer peer(120.0);
    LinkMaster master(kRate);
    master.join(90.0);
    Render render(master);
    if (const std::string why = peer.meet(); !why.empty())
        GTEST_SKIP() << why;

    // The peer moves the tempo: ours follows.
    ASSERT_EQ(peer.ask("tempo 133.3"), "ok");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::abs(render.bpm() - 133.3) >= 0.005 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_NEAR(render.bpm(), 133.3, 0.01);
    std::this_thread::sleep_for(200ms);
    const double phase1 = phaseErrorMs(peer, render, master, 133.3);
    EXPECT_LT(std::abs(phase1), 1.0);

    // We move it: the peer's follows.
    master.requestTempo(97.5);
    EXPECT_NEAR(peer.number("wait-tempo 97.5 5"), 97.5, 0.01);
    std::this_thread::sleep_for(200ms);
    const double phase2 = phaseErrorMs(peer, render, master, 97.5);
    EXPECT_LT(std::abs(phase2), 1.0);
    std::printf("[ measured ] tempo %.4f / %.4f BPM, phase %+.3f ms (peer's change), %+.3f ms (ours)\n",
                render.bpm(), peer.number("state", 1), phase1, phase2);

    // The peer starts the session: we play from a bar, where the peer's bar begins too.
    ASSERT_EQ(peer.ask("play"), "ok");
    int count = 0;
    const auto started = std::chrono::steady_clock::now() + 5s;
    while (render.lastEvent(count), count == 0 && std::chrono::steady_clock::now() < started)
        std::this_thread::sleep_for(5ms);
    const TransportEvent play = render.lastEvent(count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(play.kind, TransportEvent::Play);
    EXPECT_EQ(play.sixteenth % 16, 0) << "step 0 on a bar";
    const double beat = peer.number("beat " + std::to_string(std::llround(render.microsOfFrame(play.frame))));
    EXPECT_LT(std::abs(std::remainder(beat, 4.0)) * 60000.0 / 97.5, 1.0) << "peer's beat " << beat;

    // We stop and start it.
    master.requestPlaying(false);
    EXPECT_EQ(peer.ask("wait-playing 0 5"), "playing 0");
    master.requestPlaying(true);
    EXPECT_EQ(peer.ask("wait-playing 1 5"), "playing 1");
}

} // namespace
} // namespace common
