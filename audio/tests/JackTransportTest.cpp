// Following and leading JACK transport without a server: bar, beat and tick to sixteenths, and the
// follower fed the periods a backend would hear from a transport driven here.
#include "audio/JackTransport.h"
#include "audio/JackTransportFollower.h"
#include "audio/TransportLead.h"
#include "common/MidiBus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using audio::Bbt;
using common::TransportEvent;

Bbt bbtOf(int bar, int beat, double tick, double beatsPerBar, double beatType, double bpm = 120.0) {
    Bbt bbt;
    bbt.bar = bar;
    bbt.beat = beat;
    bbt.tick = tick;
    bbt.beatsPerBar = beatsPerBar;
    bbt.beatType = beatType;
    bbt.beatsPerMinute = bpm;
    return bbt;
}

TEST(BarsBeatsAndTicks, CountSixteenthsOfTheBeatTypeFromTheSongsStart) {
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(1, 1, 0, 4, 4)), 0.0);
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(3, 2, 960, 4, 4)), (2 * 4 + 1 + 0.5) * 4);
    // Eighth-note beats are two sixteenths, half-note beats eight.
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 4, 0, 6, 8)), (6 + 3) * 2.0);
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 2, 480, 2, 2)), (2 + 1 + 0.25) * 8.0);
    // A beat type that is no note value counts as a quarter note.
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 1, 0, 4, 0)), 16.0);
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 1, 0, 4, -8)), 16.0);
}

TEST(BarsBeatsAndTicks, TempoInFramesASixteenthAndQuarterNotesAMinute) {
    EXPECT_DOUBLE_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, 120), 44100), 5512.5);
    // 120 eighths a minute are 60 quarter notes: a sixteenth lasts twice as long.
    EXPECT_DOUBLE_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 6, 8, 120), 44100), 11025.0);
    EXPECT_DOUBLE_EQ(audio::quarterNotesPerMinute(bbtOf(1, 1, 0, 6, 8, 120)), 60.0);
    EXPECT_DOUBLE_EQ(audio::quarterNotesPerMinute(bbtOf(1, 1, 0, 2, 2, 90)), 180.0);
    EXPECT_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, 0), 44100), 0.0);
    EXPECT_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, NAN), 44100), 0.0);
}

TEST(BarsBeatsAndTicks, APositionWrittenAsBarsReadsBackAsTheSameSixteenth) {
    for (double s : {0.0, 3.999, 4.0, 15.5, 16.0, 1234.25}) {
        const Bbt bbt = audio::bbtOfSixteenth(s, 133.0);
        EXPECT_NEAR(audio::sixteenthOf(bbt), s, 1e-9) << s;
        EXPECT_GE(bbt.beat, 1);
        EXPECT_LE(bbt.beat, 4);
        EXPECT_LT(bbt.tick, bbt.ticksPerBeat);
    }
    EXPECT_EQ(audio::bbtOfSixteenth(16.0, 120.0).bar, 2);
}

/// A transport driven period by period, as the backend would hear it: a timebase master (or none) at a
/// steady tempo whose ticks are cut to whole ones, and the follower taking the periods.
struct DrivenTransport {
    audio::JackTransport transport;
    audio::JackTransportFollower follower{transport};
    common::MidiBus bus;
    int period = 256;
    std::int64_t streamFrame = 1000; // the stream did not begin with the transport
    std::uint32_t position = 0;
    bool rolling = false;
    bool master = true;
    bool exactTick = false;
    double bpm = 120.0;
    double beatType = 4.0;
    double ownFrames = 5000.0;
    double songOffset = 0.0; // sixteenths the master's song lies ahead of its frames
    std::vector<TransportEvent> events;

    DrivenTransport() {
        transport.setOwnTempo(
            [](const void* self) { return static_cast<const DrivenTransport*>(self)->ownFrames; }, this);
    }

    /// Where the master's song is at a transport frame, in sixteenths.
    double sixteenthAt(std::uint32_t frame) const {
        return songOffset + frame * bpm * (16.0 / beatType) / (60.0 * 44100.0);
    }

    void cycle() {
        audio::TransportPeriod p;
        p.streamFrame = streamFrame;
        p.rolling = rolling;
        p.position = position;
        p.frameRate = 44100.0;
        p.hasBbt = master;
        p.exactTick = exactTick;
        if (master) {
            const double beats = sixteenthAt(position) / (16.0 / beatType);
            const double ticks = (beats - std::floor(beats)) * 1920.0;
            p.bbt = bbtOf(static_cast<int>(std::floor(beats / 4.0)) + 1,
                          static_cast<int>(std::fmod(std::floor(beats), 4.0)) + 1,
                          exactTick ? ticks : std::floor(ticks), 4, beatType, bpm);
        }
        transport.heard(p);
        streamFrame += period;
        if (rolling)
            position += static_cast<std::uint32_t>(period);
    }

    /// `periods` periods, the render updating the follower every `periodsABlock` of them.
    void run(int periods, int periodsABlock = 1) {
        for (int i = 0; i < periods; ++i) {
            cycle();
            if ((i + 1) % periodsABlock == 0)
                update();
        }
    }
    void update() {
        // The render's block begins with the newest period.
        bus.endBlock(static_cast<int>(streamFrame - period - bus.renderFrame()));
        follower.update(bus, period);
        TransportEvent event;
        while (follower.nextEvent(common::MidiBus::kEndOfTime, event))
            events.push_back(event);
    }
    /// The stream frame where the transport, rolling on from now, reaches `frame`.
    std::int64_t streamFrameOf(double frame) const {
        return streamFrame + static_cast<std::int64_t>(std::ceil(frame)) - position;
    }
};

TEST(FollowingJackTransport, PlaysFromTheFrameItStartsOnAndStepsOnTheMastersSixteenths) {
    for (const bool exact : {false, true}) {
        DrivenTransport t;
        t.exactTick = exact;
        t.run(5);
        EXPECT_TRUE(t.events.empty()) << "nothing plays while the transport stands";
        t.rolling = true;
        const std::int64_t startFrame = t.streamFrame;
        t.run(1);
        ASSERT_EQ(t.events.size(), 1u);
        EXPECT_EQ(t.events[0].kind, TransportEvent::Play);
        EXPECT_EQ(t.events[0].frame, startFrame);
        EXPECT_EQ(t.events[0].sixteenth, 0);
        EXPECT_DOUBLE_EQ(t.follower.bpm(), 120.0);
        // A few periods on, whole ticks have narrowed the song's position to within a frame.
        t.run(20);
        double worst = 0.0;
        for (int n = 0; n < 200; ++n) {
            const double exactFrame = startFrame + std::ceil(n * 5512.5);
            worst = std::max(worst, std::abs(t.follower.frameOfSixteenth(n) - exactFrame));
        }
        EXPECT_LE(worst, 1.0) << (exact ? "exact ticks" : "whole ticks");
    }
}

TEST(FollowingJackTransport, ALocateWhileRollingPlaysFromTheNewSixteenthAndAStopStops) {
    DrivenTransport t;
    t.rolling = true;
    t.run(40);
    // On a sixteenth's first frame: that sixteenth, now.
    t.position = 90 * 5512.5;
    std::int64_t at = t.streamFrame;
    t.run(1);
    ASSERT_EQ(t.events.size(), 2u);
    EXPECT_EQ(t.events[1].kind, TransportEvent::Play);
    EXPECT_EQ(t.events[1].frame, at);
    EXPECT_EQ(t.events[1].sixteenth, 90);
    // Between two sixteenths: the next, on its first frame.
    t.run(10);
    t.position = 37 * 5512.5 + 1000;
    const std::int64_t next = t.streamFrameOf(38 * 5512.5);
    t.run(1);
    ASSERT_EQ(t.events.size(), 3u);
    EXPECT_EQ(t.events[2].sixteenth, 38);
    EXPECT_NEAR(static_cast<double>(t.events[2].frame), static_cast<double>(next), 12.0);
    t.run(30);
    EXPECT_NEAR(static_cast<double>(t.follower.frameOfSixteenth(40)),
                static_cast<double>(next + std::ceil(2 * 5512.5)), 1.0);
    // Stopped: a Stop on the period's first frame; a locate while stopped plays nothing until it rolls.
    t.rolling = false;
    at = t.streamFrame;
    t.run(1);
    ASSERT_EQ(t.events.size(), 4u);
    EXPECT_EQ(t.events[3].kind, TransportEvent::Stop);
    EXPECT_EQ(t.events[3].frame, at);
    t.position = 16 * 5512.5;
    t.run(10);
    EXPECT_EQ(t.events.size(), 4u);
    t.rolling = true;
    at = t.streamFrame;
    t.run(1);
    ASSERT_EQ(t.events.size(), 5u);
    EXPECT_EQ(t.events[4].frame, at);
    EXPECT_EQ(t.events[4].sixteenth, 16);
}

TEST(FollowingJackTransport,
     AMasterThatMovesItsSongUnderRunningFramesIsPlayedFromThereAndSmallSlipsCorrected) {
    DrivenTransport t;
    t.rolling = true;
    t.run(40);
    // A fifth of a sixteenth: the steps move over, nothing starts again.
    t.songOffset = 0.2;
    t.run(10);
    EXPECT_EQ(t.events.size(), 1u);
    const double n = std::ceil(t.sixteenthAt(t.position));
    EXPECT_NEAR(static_cast<double>(t.follower.frameOfSixteenth(static_cast<std::int64_t>(n))),
                static_cast<double>(t.streamFrameOf((n - 0.2) * 5512.5)), 1.0);
    // A bar on (a master looping back, say): played from its next sixteenth.
    t.songOffset = 16.2;
    t.run(1);
    ASSERT_EQ(t.events.size(), 2u);
    EXPECT_EQ(t.events[1].kind, TransportEvent::Play);
    EXPECT_EQ(t.events[1].sixteenth, static_cast<std::int64_t>(n) + 16);
}

TEST(FollowingJackTransport, PeriodsThisClientMissedMoveTheStepsOnWithoutAStartAgain) {
    for (const bool master : {true, false}) {
        DrivenTransport t;
        t.master = master;
        t.ownFrames = 5512.5;
        t.rolling = true;
        t.run(40);
        t.position += 512; // two periods the server ran without this client
        const std::int64_t frame = t.streamFrame;
        const double n = std::ceil(t.sixteenthAt(t.position));
        t.run(20);
        EXPECT_EQ(t.events.size(), 1u) << "started again after missed periods";
        EXPECT_NEAR(static_cast<double>(t.follower.frameOfSixteenth(static_cast<std::int64_t>(n))),
                    frame + std::ceil(n * 5512.5) - (t.position - 20 * 256), 1.0);
    }
}

TEST(FollowingJackTransport, APlayHeardSixteenthsLateStartsOnTheNextSixteenthNotOnTheOldOne) {
    DrivenTransport t;
    t.rolling = true;
    for (int i = 0; i < 100; ++i) // the render followed another clock meanwhile
        t.cycle();
    t.update();
    ASSERT_EQ(t.events.size(), 1u);
    const std::int64_t blockStart = t.streamFrame - t.period;
    const double n = std::ceil(t.sixteenthAt(t.position - t.period));
    EXPECT_EQ(t.events[0].kind, TransportEvent::Play);
    EXPECT_EQ(t.events[0].sixteenth, static_cast<std::int64_t>(n));
    EXPECT_GE(t.events[0].frame, blockStart);
    EXPECT_NEAR(static_cast<double>(t.events[0].frame), static_cast<double>(t.streamFrameOf(n * 5512.5)),
                12.0);
}

TEST(FollowingJackTransport, TheSameEventsAndSixteenthsWhateverTheBlockHolds) {
    const auto script = [](int periodsABlock) {
        DrivenTransport t;
        t.run(8, periodsABlock);
        t.rolling = true;
        t.run(64, periodsABlock);
        t.position = 1234567;
        t.run(64, periodsABlock);
        t.rolling = false;
        t.run(8, periodsABlock);
        t.update();
        std::vector<std::int64_t> seen;
        for (const TransportEvent& e : t.events)
            seen.insert(seen.end(), {e.kind, e.frame, e.sixteenth});
        for (int n = 220; n < 240; ++n)
            seen.push_back(t.follower.frameOfSixteenth(n));
        return seen;
    };
    const std::vector<std::int64_t> eachPeriod = script(1);
    EXPECT_EQ(eachPeriod.size(), 3u * 3 + 20);
    EXPECT_EQ(script(4), eachPeriod);
    EXPECT_EQ(script(16), eachPeriod);
}

TEST(FollowingJackTransport, WithoutATimebaseMasterSixteenthsCountFromFrameZeroAtTheProgramsTempo) {
    DrivenTransport t;
    t.master = false;
    t.ownFrames = 5000.0;
    t.position = 10000; // the third sixteenth's first frame
    t.rolling = true;
    std::int64_t at = t.streamFrame;
    t.run(1);
    ASSERT_EQ(t.events.size(), 1u);
    EXPECT_EQ(t.events[0].frame, at);
    EXPECT_EQ(t.events[0].sixteenth, 2);
    EXPECT_EQ(t.follower.frameOfSixteenth(5), at + 15000);
    EXPECT_DOUBLE_EQ(t.follower.bpm(), 44100.0 * 60.0 / 20000.0);
    // A new own tempo goes on from where the song is (sixteenth 2.512 after ten periods), without a jump.
    t.run(9);
    t.ownFrames = 4000.0;
    const std::int64_t change = t.streamFrame;
    t.run(1);
    EXPECT_EQ(t.follower.frameOfSixteenth(3), change + 1952);
    EXPECT_EQ(t.follower.frameOfSixteenth(4), change + 1952 + 4000);
    EXPECT_EQ(t.events.size(), 1u);
    // Started between sixteenths: the next one, on its frame.
    t.rolling = false;
    t.run(1);
    t.position = 10001;
    t.rolling = true;
    at = t.streamFrame;
    t.run(1);
    ASSERT_EQ(t.events.size(), 3u);
    EXPECT_EQ(t.events[2].sixteenth, 3);
    EXPECT_EQ(t.events[2].frame, at + 4000 * 3 - 10001);
}

TEST(FollowingJackTransport, KeepsTheLastMastersTempoWhenItGoesAndForgetsTheStreamBefore) {
    DrivenTransport t;
    t.bpm = 150.0;
    t.rolling = true;
    t.run(10);
    t.master = false;
    t.run(10);
    EXPECT_DOUBLE_EQ(t.follower.bpm(), 150.0);
    EXPECT_EQ(t.events.size(), 1u) << "the master leaving moves nothing";
    // A new stream: what rolled on the old one plays again only once this one is heard rolling.
    t.transport.restart();
    t.update();
    t.events.clear();
    t.rolling = false;
    t.run(2);
    EXPECT_TRUE(t.events.empty()) << "a Stop for a play the render has forgotten";
    t.rolling = true;
    t.run(1);
    ASSERT_EQ(t.events.size(), 1u);
    EXPECT_EQ(t.events[0].kind, TransportEvent::Play);
}

TEST(FollowingJackTransport, ASixEightMastersEighthsAreTwoSixteenthsEach) {
    DrivenTransport t;
    t.beatType = 8.0;
    t.bpm = 180.0; // eighths a minute: 90 quarter notes
    t.rolling = true;
    const std::int64_t start = t.streamFrame;
    t.run(30);
    EXPECT_DOUBLE_EQ(t.follower.bpm(), 90.0);
    const double fps = 44100.0 * 60.0 / (90.0 * 4.0);
    EXPECT_NEAR(static_cast<double>(t.follower.frameOfSixteenth(24)), start + std::ceil(24 * fps), 1.0);
}

TEST(LeadingJackTransport, BarsFromFramesAtTheOwnTempoOnWithoutAJumpWhenItChanges) {
    audio::TransportLead lead;
    // 5513 frames a sixteenth: a locate to 10 sixteenths is bar 1, beat 3, tick 960.
    Bbt bbt = lead.position(5513 * 10, true, 5513.0, 44100.0);
    EXPECT_EQ(bbt.bar, 1);
    EXPECT_EQ(bbt.beat, 3);
    EXPECT_NEAR(bbt.tick, 960.0, 1e-6);
    EXPECT_NEAR(bbt.beatsPerMinute, 44100.0 * 60.0 / (4 * 5513.0), 1e-9);
    bbt = lead.position(5513 * 26, false, 5513.0, 44100.0);
    EXPECT_NEAR(audio::sixteenthOf(bbt), 26.0, 1e-9);
    EXPECT_EQ(bbt.bar, 2);
    // Twice as fast from here on: the period before still ran at the old tempo.
    const double here = 26.0 + 2756.0 / 5513.0;
    bbt = lead.position(5513 * 26 + 2756, false, 2756.5, 44100.0);
    EXPECT_NEAR(audio::sixteenthOf(bbt), here, 1e-9);
    bbt = lead.position(5513 * 26 + 2756 + 1000, false, 2756.5, 44100.0);
    EXPECT_NEAR(audio::sixteenthOf(bbt), here + 1000.0 / 2756.5, 1e-9);
    // A locate counts from frame 0 at the tempo now.
    bbt = lead.position(2756 * 4 + 10, true, 2756.5, 44100.0);
    EXPECT_NEAR(audio::sixteenthOf(bbt), (2756 * 4 + 10) / 2756.5, 1e-9);
}

TEST(LeadingJackTransport, AFollowerOfTheLeadsBarsStepsOnItsFrames) {
    // The lead's bars, as another program (or this one) reads them each period.
    DrivenTransport t;
    audio::TransportLead lead;
    t.master = false;
    t.rolling = true;
    const std::int64_t start = t.streamFrame;
    for (int i = 0; i < 40; ++i) {
        audio::TransportPeriod p;
        p.streamFrame = t.streamFrame;
        p.rolling = true;
        p.position = t.position;
        p.frameRate = 44100.0;
        p.hasBbt = p.exactTick = true;
        p.bbt = lead.position(t.position, i == 0, 5513.0, 44100.0);
        t.transport.heard(p);
        t.update();
        t.streamFrame += 256;
        t.position += 256;
    }
    ASSERT_EQ(t.events.size(), 1u);
    EXPECT_EQ(t.events[0].frame, start);
    for (int n = 0; n < 100; ++n)
        EXPECT_EQ(t.follower.frameOfSixteenth(n), start + 5513 * n) << n;
}

} // namespace
