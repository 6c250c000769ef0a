// Following and leading JACK transport without a server: bar, beat and tick to sixteenths, and the
// follower fed the periods a backend would hear from a transport driven here.
#include "audio/JackTransport.h"
#include "audio/JackTransportFollower.h"
#include "audio/TransportLead.h"
#include "common/MidiBus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace {

using audio::Bbt;
using common::TransportEvent;
constexpr auto Play = TransportEvent::Play;
constexpr auto Stop = TransportEvent::Stop;

Bbt bbtOf(int bar, int beat, double tick, double beatsPerBar, double beatType, double bpm = 120.0) {
    return {bar, beat, tick, 1920.0, beatsPerBar, beatType, bpm};
}

TEST(BarsBeatsAndTicks, CountSixteenthsOfTheBeatTypeAndTempoInQuarterNotes) {
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(3, 2, 960, 4, 4)), (2 * 4 + 1 + 0.5) * 4);
    // Eighth-note beats are two sixteenths; a beat type that is no note value counts as a quarter note.
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 4, 0, 6, 8)), (6 + 3) * 2.0);
    EXPECT_DOUBLE_EQ(audio::sixteenthOf(bbtOf(2, 1, 0, 4, 0)), 16.0);
    // 120 eighths a minute are 60 quarter notes: a sixteenth lasts twice as long as at 120 quarters.
    EXPECT_DOUBLE_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, 120), 44100), 5512.5);
    EXPECT_DOUBLE_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 6, 8, 120), 44100), 11025.0);
    EXPECT_DOUBLE_EQ(audio::quarterNotesPerMinute(bbtOf(1, 1, 0, 6, 8, 120)), 60.0);
    EXPECT_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, 0), 44100), 0.0);
    EXPECT_EQ(audio::framesPerSixteenth(bbtOf(1, 1, 0, 4, 4, NAN), 44100), 0.0);
    // Written as bars, a position reads back as the same sixteenth, with a beat of the bar.
    for (double s : {0.0, 3.999, 4.0, 15.5, 16.0, 1234.25}) {
        const Bbt bbt = audio::bbtOfSixteenth(s, 133.0);
        EXPECT_NEAR(audio::sixteenthOf(bbt), s, 1e-9) << s;
        EXPECT_TRUE(bbt.beat >= 1 && bbt.beat <= 4 && bbt.tick < bbt.ticksPerBeat) << s;
    }
}

/// A transport driven period by period, as the backend would hear it: a 4/4 timebase master at a steady
/// tempo whose ticks are cut to whole ones (or a lead's bars, or no master), and the follower taking the
/// periods.
struct DrivenTransport {
    audio::JackTransport transport;
    audio::JackTransportFollower follower{transport};
    common::MidiBus bus;
    audio::TransportLead* lead = nullptr; ///< gives the bars, with exact ticks, at the own tempo
    int period = 256;
    std::int64_t streamFrame = 1000; // the stream did not begin with the transport
    std::uint32_t position = 0;
    bool rolling = false;
    bool master = true;
    bool exactTick = false;
    double bpm = 120.0;
    double ownFrames = 5000.0;
    double songOffset = 0.0; // sixteenths the master's song lies ahead of its frames
    std::vector<TransportEvent> events;

    DrivenTransport() {
        transport.setOwnTempo(
            [](const void* self) { return static_cast<const DrivenTransport*>(self)->ownFrames; }, this);
    }

    /// Where the master's song is at a transport frame, in sixteenths.
    double sixteenthAt(std::uint32_t frame) const {
        return songOffset + frame * bpm * 4.0 / (60.0 * 44100.0);
    }

    void cycle() {
        audio::TransportPeriod p;
        p.streamFrame = streamFrame;
        p.rolling = rolling;
        p.position = position;
        p.frameRate = 44100.0;
        p.hasBbt = master || lead;
        p.exactTick = exactTick || lead;
        if (lead) {
            p.bbt = lead->position(position, false, ownFrames, 44100.0);
        } else if (master) {
            p.bbt = audio::bbtOfSixteenth(sixteenthAt(position), bpm);
            p.bbt.tick = exactTick ? p.bbt.tick : std::floor(p.bbt.tick);
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
    /// The n-th event as kind, frame and sixteenth.
    std::tuple<TransportEvent::Kind, std::int64_t, std::int64_t> event(std::size_t n) const {
        return n < events.size() ? std::tuple(events[n].kind, events[n].frame, events[n].sixteenth)
                                 : std::tuple(Stop, std::int64_t{-1}, std::int64_t{-1});
    }
};

TEST(FollowingJackTransport, PlaysFromTheFrameItStartsOnAndStepsOnTheMastersSixteenths) {
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact ? "exact ticks" : "whole ticks");
        DrivenTransport t;
        t.exactTick = exact;
        t.run(5);
        EXPECT_TRUE(t.events.empty()) << "nothing plays while the transport stands";
        t.rolling = true;
        const std::int64_t startFrame = t.streamFrame;
        t.run(1);
        EXPECT_EQ(t.events.size(), 1u);
        EXPECT_EQ(t.event(0), std::tuple(Play, startFrame, 0));
        EXPECT_DOUBLE_EQ(t.follower.bpm(), 120.0);
        // A few periods on, whole ticks have narrowed the song's position to within a frame.
        t.run(20);
        for (int n = 0; n < 200; ++n)
            ASSERT_NEAR(t.follower.frameOfSixteenth(n), startFrame + std::ceil(n * 5512.5), 1.0) << n;
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
    EXPECT_EQ(t.event(1), std::tuple(Play, at, 90));
    // Between two sixteenths: the next, on its first frame.
    t.run(10);
    t.position = 37 * 5512.5 + 1000;
    const std::int64_t next = t.streamFrameOf(38 * 5512.5);
    t.run(1);
    EXPECT_EQ(std::get<2>(t.event(2)), 38);
    EXPECT_NEAR(std::get<1>(t.event(2)), next, 12.0);
    t.run(30);
    EXPECT_NEAR(t.follower.frameOfSixteenth(40), next + std::ceil(2 * 5512.5), 1.0);
    // Stopped: a Stop on the period's first frame; a locate while stopped plays nothing until it rolls.
    t.rolling = false;
    at = t.streamFrame;
    t.run(1);
    EXPECT_EQ(std::get<0>(t.event(3)), Stop);
    EXPECT_EQ(std::get<1>(t.event(3)), at);
    t.position = 16 * 5512.5;
    t.run(10);
    EXPECT_EQ(t.events.size(), 4u);
    t.rolling = true;
    at = t.streamFrame;
    t.run(1);
    EXPECT_EQ(t.event(4), std::tuple(Play, at, 16));
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
    EXPECT_NEAR(t.follower.frameOfSixteenth(static_cast<std::int64_t>(n)),
                t.streamFrameOf((n - 0.2) * 5512.5), 1.0);
    // A bar on (a master looping back, say): played from its next sixteenth.
    t.songOffset = 16.2;
    t.run(1);
    EXPECT_EQ(t.events.size(), 2u);
    EXPECT_EQ(std::get<2>(t.event(1)), static_cast<std::int64_t>(n) + 16);
}

TEST(FollowingJackTransport, PeriodsThisClientMissedMoveTheStepsOnWithoutAStartAgain) {
    for (const bool master : {true, false}) {
        SCOPED_TRACE(master ? "a master" : "no master");
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
        EXPECT_NEAR(t.follower.frameOfSixteenth(static_cast<std::int64_t>(n)),
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
    const double n = std::ceil(t.sixteenthAt(t.position - t.period));
    EXPECT_EQ(t.events[0].kind, Play);
    EXPECT_EQ(t.events[0].sixteenth, static_cast<std::int64_t>(n));
    EXPECT_GE(t.events[0].frame, t.streamFrame - t.period) << "before the block";
    EXPECT_NEAR(t.events[0].frame, t.streamFrameOf(n * 5512.5), 12.0);
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
    t.position = 10000; // the third sixteenth's first frame at 5000 frames a sixteenth
    t.rolling = true;
    std::int64_t at = t.streamFrame;
    t.run(1);
    EXPECT_EQ(t.event(0), std::tuple(Play, at, 2));
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
    EXPECT_EQ(t.event(2), std::tuple(Play, at + 4000 * 3 - 10001, 3));
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
    EXPECT_EQ(t.events.size(), 1u);
    EXPECT_EQ(std::get<0>(t.event(0)), Play);
}

TEST(LeadingJackTransport, BarsFromFramesAtTheOwnTempoOnWithoutAJumpWhenItChanges) {
    audio::TransportLead lead;
    // 5513 frames a sixteenth, from a locate to 10 sixteenths on.
    EXPECT_NEAR(audio::sixteenthOf(lead.position(5513 * 10, true, 5513.0, 44100.0)), 10.0, 1e-9);
    EXPECT_NEAR(audio::sixteenthOf(lead.position(5513 * 26, false, 5513.0, 44100.0)), 26.0, 1e-9);
    // Twice as fast from here on: the period before still ran at the old tempo.
    const double here = 26.0 + 2756.0 / 5513.0;
    EXPECT_NEAR(audio::sixteenthOf(lead.position(5513 * 26 + 2756, false, 2756.5, 44100.0)), here, 1e-9);
    EXPECT_NEAR(audio::sixteenthOf(lead.position(5513 * 26 + 2756 + 1000, false, 2756.5, 44100.0)),
                here + 1000.0 / 2756.5, 1e-9);
    // A locate counts from frame 0 at the tempo now.
    EXPECT_NEAR(audio::sixteenthOf(lead.position(2756 * 4 + 10, true, 2756.5, 44100.0)),
                (2756 * 4 + 10) / 2756.5, 1e-9);

    // A follower of the lead's bars (another program, or this one) steps on its frames.
    DrivenTransport t;
    audio::TransportLead fresh;
    t.lead = &fresh;
    t.ownFrames = 5513.0;
    t.rolling = true;
    const std::int64_t start = t.streamFrame;
    t.run(40);
    EXPECT_EQ(t.events.size(), 1u);
    EXPECT_EQ(t.event(0), std::tuple(Play, start, 0));
    for (int n = 0; n < 100; ++n)
        ASSERT_EQ(t.follower.frameOfSixteenth(n), start + 5513 * n) << n;
}

} // namespace
