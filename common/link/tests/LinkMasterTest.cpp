// Following a Link session without the network: the stream's frames on the host clock, the session's
// beats on those frames (bars on sixteenth 0 mod 16), and the user's tempo and start/stop committed.
#include "common/link/LinkMaster.h"
#include "common/link/FrameClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace common {
namespace {

constexpr double kRate = 44100.0;
constexpr double kMicrosPerFrame = 1e6 / kRate;

TEST(FrameClock, FitsThroughJitteredWakeUpsAndStartsAgainAfterAJump) {
    FrameClock clock(kRate);
    EXPECT_FALSE(clock.known());
    const std::int64_t origin = 5'000'000'000;
    // Wake-ups up to 300 µs late, one block in eight; the truth is the line through the on-time ones.
    for (int block = 0; block < 200; ++block) {
        const std::int64_t frame = 256LL * block;
        const auto late = block % 8 == 3 ? 300 : 0;
        clock.sample(frame, origin + std::llround(frame * kMicrosPerFrame) + late);
    }
    EXPECT_NEAR(clock.microsAt(256 * 200), origin + 256 * 200 * kMicrosPerFrame, 300.0 / 8 + 1);
    EXPECT_NEAR(static_cast<double>(clock.frameAt(origin + 10'000'000.0)), 441000.0, 2.0);

    // The stream began afresh a second later than the line says: the new line holds at once.
    clock.sample(256 * 200, origin + std::llround(256 * 200 * kMicrosPerFrame) + 1'000'000);
    EXPECT_NEAR(clock.microsAt(256 * 201), origin + 256 * 201 * kMicrosPerFrame + 1'000'000, 1.0);
}

TEST(FrameClock, FollowsADeviceSlowerThanItsNominalRateWithoutLagging) {
    // A dummy server on a loaded machine measured 0.35 % slow: 22.7559 µs a frame.
    FrameClock clock(kRate);
    const double truePerFrame = 22.7559;
    const std::int64_t origin = 7'000'000'000;
    for (int block = 0; block < 300; ++block)
        clock.sample(256LL * block, origin + std::llround(256 * block * truePerFrame) + (block % 5) * 40);
    // A block ahead, and two seconds' frames ahead, where the beats are placed.
    EXPECT_NEAR(clock.microsAt(256 * 300), origin + 256 * 300 * truePerFrame + 80, 30.0);
    EXPECT_NEAR(static_cast<double>(clock.frameAt(origin + (256 * 300 + 88200) * truePerFrame + 80)),
                256 * 300 + 88200, 2.0);
}

TEST(FrameClock, ACycleTheDeviceMissedMovesTheLineWithinAFewBlocks) {
    FrameClock clock(kRate);
    const std::int64_t origin = 9'000'000'000;
    const double period = 256 * kMicrosPerFrame; // the frames of a missed cycle come a period later
    for (int block = 0; block < 200; ++block)
        clock.sample(256LL * block,
                     origin + std::llround(256 * block * kMicrosPerFrame + (block >= 100 ? period : 0)) +
                         (block % 3) * 300);
    EXPECT_NEAR(clock.microsAt(256 * 200), origin + 256 * 200 * kMicrosPerFrame + period + 300, 200.0);
    for (int block = 200; block < 206; ++block)
        clock.sample(256LL * block,
                     origin + std::llround(256 * block * kMicrosPerFrame + 2 * period) + (block % 3) * 300);
    EXPECT_NEAR(clock.microsAt(256 * 206), origin + 256 * 206 * kMicrosPerFrame + 2 * period + 300, 600.0);
}

/// A master of its own session (not on the network), fed blocks on a steady host clock.
struct Rig {
    int blockFrames = 512;
    LinkMaster master{kRate};
    MidiBus bus;
    std::int64_t originMicros = 0;

    explicit Rig(double bpm, int block = 512) : blockFrames(block) {
        master.open(bpm);
        originMicros = master.hostMicros();
    }
    /// Renders `count` blocks.
    void block(int count = 1) {
        for (; count > 0; --count) {
            master.updateAt(bus, blockFrames,
                            originMicros + std::llround(bus.renderFrame() * kMicrosPerFrame));
            bus.endBlock(blockFrames);
        }
    }
    std::vector<TransportEvent> events() {
        std::vector<TransportEvent> taken;
        TransportEvent event;
        while (master.nextEvent(MidiBus::kEndOfTime, event))
            taken.push_back(event);
        return taken;
    }
};

TEST(LinkMaster, PlaysAloneFromABarAtTheUsersTempoAndStopsWhereAsked) {
    Rig rig(120.0);
    rig.block(4);
    EXPECT_DOUBLE_EQ(rig.master.bpm(), 120.0);
    EXPECT_TRUE(rig.events().empty()) << "a session nobody started does not play";

    rig.master.requestTempo(133.0);
    rig.master.requestPlaying(true);
    const std::int64_t asked = rig.bus.renderFrame();
    rig.block();
    EXPECT_DOUBLE_EQ(rig.master.bpm(), 133.0);
    std::vector<TransportEvent> events = rig.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TransportEvent::Play);
    EXPECT_EQ(events[0].sixteenth, 0) << "alone, the start is a bar";
    EXPECT_NEAR(static_cast<double>(events[0].frame), static_cast<double>(asked), 1.0);

    // Sixteenths at 133 BPM from there, whole bars never drifting (Link holds a beat in whole
    // microseconds: 0.4 ppm, two frames by sixteenth 1000, 112 s on).
    const double sixteenthFrames = kRate * 60.0 / 133.0 / 4.0;
    rig.block(100);
    for (const std::int64_t sixteenth : {1, 16, 160, 1000})
        EXPECT_NEAR(static_cast<double>(rig.master.frameOfSixteenth(sixteenth) - events[0].frame),
                    sixteenth * sixteenthFrames, sixteenth < 1000 ? 1.0 : 2.5)
            << sixteenth;

    rig.master.requestPlaying(false);
    const std::int64_t stopped = rig.bus.renderFrame();
    rig.block();
    events = rig.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TransportEvent::Stop);
    EXPECT_NEAR(static_cast<double>(events[0].frame), static_cast<double>(stopped), 1.0);
    EXPECT_NEAR(static_cast<double>(events[0].sixteenth),
                std::floor(static_cast<double>(stopped - (asked)) / sixteenthFrames), 1.0);
}

TEST(LinkMaster, BeatsAreMadeEarlyByTheOutputsLatencySoThatTheyAreHeardOnTime) {
    Rig rig(100.0);
    rig.master.requestPlaying(true);
    rig.block(70);
    const std::int64_t heardAt = rig.master.frameOfSixteenth(64);
    // The same blocks, now heard 1000 frames after they are made: the window of blocks the clock fits
    // through must pass over before the shift has fully come.
    rig.master.setOutputLatencyFrames(1000);
    rig.block(FrameClock::kWindow + 2);
    EXPECT_NEAR(static_cast<double>(rig.master.frameOfSixteenth(64)), static_cast<double>(heardAt - 1000),
                1.0);
}

TEST(LinkMaster, ARenderThatComesBackHearsASessionStillPlayingAsANewPlayOnTheNextBar) {
    Rig rig(120.0);
    rig.master.requestPlaying(true);
    rig.block();
    ASSERT_EQ(rig.events().size(), 1u);
    rig.block();
    EXPECT_TRUE(rig.events().empty());
    // The render followed another master for 30000 frames, then this one again.
    rig.bus.endBlock(30000);
    const std::int64_t back = rig.bus.renderFrame();
    rig.block();
    const std::vector<TransportEvent> events = rig.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TransportEvent::Play);
    // 120 BPM from frame 0: a bar every 88200 frames.
    EXPECT_EQ(events[0].sixteenth, 16);
    EXPECT_NEAR(static_cast<double>(events[0].frame), 88200.0, 1.0);
    EXPECT_GT(events[0].frame, back);

    // Away and back again, and stopped before the start's bar: the start never happens, and no Stop
    // follows a Play never taken.
    rig.bus.endBlock(30000);
    rig.block();
    TransportEvent event;
    EXPECT_FALSE(rig.master.nextEvent(rig.bus.renderFrame(), event)) << "the start waits for its bar";
    rig.master.requestPlaying(false);
    rig.block();
    EXPECT_TRUE(rig.events().empty());
}

TEST(LinkMaster, SixteenthsLandOnTheSameFramesWhateverTheBlockSize) {
    std::vector<std::int64_t> frames[2];
    const int blocks[2] = {64, 1500};
    for (int i = 0; i < 2; ++i) {
        Rig rig(128.0, blocks[i]);
        rig.master.requestPlaying(true);
        while (rig.bus.renderFrame() < 300000)
            rig.block();
        ASSERT_EQ(rig.events().size(), 1u);
        for (std::int64_t sixteenth = 0; sixteenth < 200; sixteenth += 7)
            frames[i].push_back(rig.master.frameOfSixteenth(sixteenth));
    }
    for (std::size_t k = 0; k < frames[0].size(); ++k)
        EXPECT_NEAR(static_cast<double>(frames[0][k]), static_cast<double>(frames[1][k]), 1.0) << k;
}

TEST(LinkMaster, UnopenedItIsAStoppedMasterOfUnknownTempo) {
    LinkMaster master(kRate);
    MidiBus bus;
    master.requestPlaying(true);
    master.update(bus, 256);
    TransportEvent event;
    EXPECT_FALSE(master.nextEvent(MidiBus::kEndOfTime, event));
    EXPECT_EQ(master.bpm(), 0.0);
    EXPECT_FALSE(master.joined());
    EXPECT_EQ(master.peers(), 0u);
}

} // namespace
} // namespace common
