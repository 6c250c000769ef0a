// Following a MIDI clock master as a render would: a master's messages arrive on exact stream frames,
// the follower is read block by block, and its tempo, transport and sixteenths are measured against the
// master's own.
#include "common/MidiClockFollower.h"
#include "common/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace common {
namespace {

constexpr double kRate = 44100.0;
constexpr double kOneMs = kRate / 1000.0;
constexpr double kPulseFramesAt1Bpm = kRate * 60.0 / 24.0;

struct Sent {
    std::int64_t frame;
    std::array<std::uint8_t, 3> bytes;
    int size;
};

/// What a master sends, in order, and the truth behind its pulses.
struct Master {
    std::vector<Sent> messages;
    std::vector<std::int64_t> pulseFrames;
    std::vector<double> pulseBpm; // the master's tempo at each pulse

    /// `count` pulses, the tempo going from `fromBpm` to `toBpm` evenly over them (equal: steady), the
    /// first one a pulse of the tempo before after the last, or on `start` when there is none; each
    /// frame moved by up to `jitter` frames either way.
    void pulses(int count, double fromBpm, double toBpm, double start = 0.0, int jitter = 0) {
        double time = pulseFrames.empty() ? start : exact_ + kPulseFramesAt1Bpm / lastBpm_;
        for (int k = 0; k < count; ++k) {
            const double bpm = fromBpm + (toBpm - fromBpm) * k / std::max(count - 1, 1);
            if (k > 0)
                time += kPulseFramesAt1Bpm / bpm; // tempo rising along the pulses
            auto frame = static_cast<std::int64_t>(std::floor(time));
            if (jitter)
                frame += random_.below(2 * jitter + 1) - jitter;
            send(frame, {0xF8, 0, 0}, 1);
            pulseFrames.push_back(frame);
            pulseBpm.push_back(bpm);
            exact_ = time;
            lastBpm_ = bpm;
        }
    }
    /// Silence for `frames` frames after the last pulse: the next pulse comes no sooner.
    void quiet(double frames) { exact_ += frames; }
    /// A transport message `after` frames after the last pulse.
    void transport(std::uint8_t status, std::int64_t after, int position = 0) {
        if (status == 0xF2)
            send(pulseFrames.back() + after,
                 {status, static_cast<std::uint8_t>(position & 0x7F),
                  static_cast<std::uint8_t>(position >> 7)},
                 3);
        else
            send(pulseFrames.back() + after, {status, 0, 0}, 1);
    }
    int heardPulses(std::int64_t before) const {
        return static_cast<int>(std::lower_bound(pulseFrames.begin(), pulseFrames.end(), before) -
                                pulseFrames.begin());
    }

  private:
    void send(std::int64_t frame, std::array<std::uint8_t, 3> bytes, int size) {
        messages.push_back({frame, bytes, size});
    }
    double exact_ = 0.0;
    double lastBpm_ = 120.0;
    Random random_{7};
};

/// Plays the master's messages into a bus and reads the follower in blocks of `block` frames until
/// `end`, as the render does; `afterBlock(blockEnd)` looks at the follower after each block. Returns the
/// transport changes taken.
std::vector<TransportEvent> follow(const Master& master, MidiClockFollower& follower, int block,
                                   std::int64_t end,
                                   const std::function<void(std::int64_t)>& afterBlock = {}) {
    MidiBus bus;
    std::vector<TransportEvent> events;
    std::size_t next = 0;
    while (bus.renderFrame() < end) {
        const std::int64_t blockEnd = bus.renderFrame() + block;
        for (; next < master.messages.size() && master.messages[next].frame < blockEnd; ++next)
            bus.arrived(master.messages[next].frame, master.messages[next].bytes.data(),
                        master.messages[next].size);
        follower.update(bus, block);
        TransportEvent event;
        while (follower.nextEvent(blockEnd, event)) {
            EXPECT_GE(event.frame, bus.renderFrame()) << "taken in the block where it happens";
            events.push_back(event);
        }
        if (afterBlock)
            afterBlock(blockEnd);
        bus.endBlock(block);
    }
    return events;
}

/// Largest tempo error, heard sixteenths given wrongly, and largest errors of the next sixteenth's
/// prediction (the one a step's length needs) and of those after it, in frames.
struct Accuracy {
    double bpmError = 0.0;
    int heardMismatches = 0;
    double nextError = 0.0;
    double laterError = 0.0;
};

/// After each block from `measureFrom` pulses on, compares the follower with the master, its song
/// begun on pulse `songStart`: the tempo, every sixteenth heard lately, and the next four to come.
Accuracy measure(const Master& master, int block, int songStart, int measureFrom, int measureUntil) {
    MidiClockFollower follower(kRate);
    Accuracy accuracy;
    follow(master, follower, block, master.pulseFrames.back() + 1, [&](std::int64_t end) {
        const int heard = master.heardPulses(end);
        if (heard < measureFrom || heard > measureUntil)
            return;
        accuracy.bpmError =
            std::max(accuracy.bpmError,
                     std::abs(follower.bpm() - master.pulseBpm[static_cast<std::size_t>(heard - 1)]));
        const int lastSixteenth = (heard - 1 - songStart) / 6;
        for (int s = std::max(0, lastSixteenth - 8); s <= lastSixteenth + 4; ++s) {
            const std::size_t pulse = static_cast<std::size_t>(songStart + 6 * s);
            if (pulse >= master.pulseFrames.size())
                break;
            const std::int64_t truth = master.pulseFrames[pulse];
            if (s <= lastSixteenth)
                accuracy.heardMismatches += follower.frameOfSixteenth(s) != truth;
            else {
                double& error = s == lastSixteenth + 1 ? accuracy.nextError : accuracy.laterError;
                error = std::max(error, std::abs(static_cast<double>(follower.frameOfSixteenth(s) - truth)));
            }
        }
    });
    return accuracy;
}

constexpr int kBlocks[] = {1, 64, 1024};

TEST(MidiClockFollower, JitterStillGivesTheTempoAfterTwoBeatsAndAJumpWithinOne) {
    // A frame either way, and a master on a USB cable: half a millisecond either way. A pulse taken for a
    // new tempo would throw the tempo off by whole BPM.
    const struct {
        double bpm;
        int jitter, beats;
        double tolerance;
    } cases[] = {{100.0, 1, 20, 0.05},
                 {140.0, 1, 20, 0.05},
                 {87.3, 1, 20, 0.05},
                 {100.0, 22, 40, 0.5},
                 {140.0, 22, 40, 0.5}};
    for (const auto& c : cases) {
        Master master;
        master.pulses(24 * c.beats, c.bpm, c.bpm, 0.0, c.jitter);
        EXPECT_LE(measure(master, 64, 0, 48, 1 << 30).bpmError, c.tolerance) << c.bpm << " ± " << c.jitter;
    }
    // A jump from 100 to 140 BPM is taken within a beat.
    Master master;
    master.pulses(96, 100.0, 100.0);
    master.pulses(96, 140.0, 140.0);
    EXPECT_LE(measure(master, 64, 0, 96 + 24, 1 << 30).bpmError, 0.05);
}

TEST(MidiClockFollower, ARampIsFollowedWithoutFallingBehindAndTheSteadyTempoAfterItExactly) {
    for (const int block : kBlocks) {
        SCOPED_TRACE(block);
        Master master;
        master.pulses(48, 100.0, 100.0);
        master.transport(0xFA, 5);
        master.pulses(24 * 8, 100.0, 140.0); // the song begins with the ramp, on pulse 48
        master.pulses(24 * 4, 140.0, 140.0);
        const int rampEnd = 48 + 24 * 8;
        const Accuracy ramp = measure(master, block, 48, 48 + 24, rampEnd);
        const Accuracy after = measure(master, block, 48, rampEnd + 48, 1 << 30);
        // A parabola through two beats of a rising tempo lags it by little; a straight line would lag a
        // whole beat, some 5 BPM here.
        EXPECT_LE(ramp.bpmError, 0.5);
        EXPECT_EQ(ramp.heardMismatches, 0);
        EXPECT_LE(ramp.nextError, 1.5 * kOneMs);
        EXPECT_LE(after.bpmError, 0.05) << "steady again two beats after the ramp";
        EXPECT_EQ(after.heardMismatches, 0);
        EXPECT_LE(std::max(after.nextError, after.laterError), kOneMs);
    }
}

TEST(MidiClockFollower, TransportTakesEffectOnTheRightPulsesAndFrames) {
    Master master;
    master.pulses(12, 120.0, 120.0, 300.0);
    master.transport(0xFA, 3);              // Start: pulse 12 is sixteenth 0
    master.pulses(6 * 5 + 2, 120.0, 120.0); // sixteenths 0..4 and two pulses of the sixth
    master.transport(0xFC, 20);             // Stop after pulse 43
    master.pulses(5, 120.0, 120.0);         // the clock runs on while stopped: 44..48
    master.transport(0xF2, 1, 37);          // song position 37
    master.transport(0xFB, 2);              // Continue: pulse 49 is sixteenth 37
    master.pulses(13, 120.0, 120.0);        // 49..61
    master.transport(0xF2, 1, 5);           // moved while playing: ignored
    master.transport(0xFC, 2);              // Stop after pulse 61 (37 × 6 + 13 pulses played)
    master.pulses(2, 120.0, 120.0);         // 62, 63
    master.transport(0xFB, 1);              // Continue without a position: the next whole sixteenth, 40
    master.pulses(10, 120.0, 120.0);        // 64..73
    master.transport(0xFA, 1);              // Start while playing: pulse 74 is the downbeat again
    master.pulses(8, 120.0, 120.0);         // 74..81
    master.transport(0xFB, 1);              // Continue while playing: nothing
    master.pulses(2, 120.0, 120.0);         // 82, 83
    master.transport(0xFA, 1);              // Start while playing...
    master.transport(0xFC, 2);              // ...and Stop before its first pulse: what plays stops
    master.pulses(1, 120.0, 120.0);         // 84
    master.transport(0xF2, 1, 3);           // song position 3,
    master.transport(0xFC, 2);              // kept by a second Stop
    master.transport(0xFB, 3);              // Continue: pulse 85 is sixteenth 3
    master.pulses(7, 120.0, 120.0);         // 85..91

    for (const int block : kBlocks) {
        SCOPED_TRACE(block);
        MidiClockFollower follower(kRate);
        std::int64_t sixteenth38 = -1;
        const auto followed =
            follow(master, follower, block, master.pulseFrames.back() + 1, [&](std::int64_t end) {
                if (sixteenth38 < 0 && master.heardPulses(end) >= 49 + 7)
                    sixteenth38 = follower.frameOfSixteenth(38);
            });
        EXPECT_EQ(sixteenth38, master.pulseFrames[55]) << "heard sixteenths count on from the song position";
        // Each change as (Play: its sixteenth, Stop: −1) and its frame.
        using Change = std::pair<std::int64_t, std::int64_t>;
        std::vector<Change> taken;
        for (const TransportEvent& e : followed)
            taken.emplace_back(e.kind == TransportEvent::Play ? e.sixteenth : -1, e.frame);
        const auto& p = master.pulseFrames;
        const std::vector<Change> expected = {{0, p[12]},  {-1, p[43] + 20}, {37, p[49]},     {-1, p[61] + 2},
                                              {40, p[64]}, {0, p[74]},       {-1, p[83] + 2}, {3, p[85]}};
        EXPECT_EQ(taken, expected);
        EXPECT_EQ(follower.frameOfSixteenth(4), master.pulseFrames[91]);
    }
}

TEST(MidiClockFollower, AQuietMasterLeavesItsTempoAndPredictionsGoOn) {
    for (const int block : kBlocks) {
        SCOPED_TRACE(block);
        Master master;
        master.pulses(24, 100.0, 100.0);
        master.transport(0xFA, 1);
        master.pulses(24 * 4, 100.0, 100.0); // sixteenths 0..15 from pulse 24
        MidiClockFollower follower(kRate);
        const std::int64_t silenceEnd = master.pulseFrames.back() + 10 * 44100;
        follow(master, follower, block, silenceEnd);
        EXPECT_NEAR(follower.bpm(), 100.0, 0.05);
        // Where a master going on at 100 BPM would have put a sixteenth ten seconds on.
        const std::int64_t far = 16 + 160;
        const double truth =
            static_cast<double>(master.pulseFrames[24]) + far * 6 * kPulseFramesAt1Bpm / 100.0;
        EXPECT_NEAR(static_cast<double>(follower.frameOfSixteenth(far)), truth, kOneMs);
    }

    // It comes back at another tempo: the silence is no pulse interval, and the new tempo is taken.
    Master master;
    master.pulses(48, 100.0, 100.0);
    master.quiet(5 * 44100.0);
    master.pulses(2, 140.0, 140.0);
    MidiClockFollower follower(kRate);
    follow(master, follower, 64, master.pulseFrames[48] + 1);
    EXPECT_NEAR(follower.bpm(), 100.0, 0.05) << "one pulse after a silence measures nothing";
    master.pulses(47, 140.0, 140.0);
    const Accuracy a = measure(master, 64, 0, 48 + 49, 1 << 30);
    EXPECT_LE(a.bpmError, 0.05);
}

TEST(MidiClockFollower, AnOverflowingInputOrFramesOutOfOrderDoNoHarm) {
    MidiBus bus;
    MidiClockFollower follower(kRate);
    const std::uint8_t clock = 0xF8, start = 0xFA;
    bus.arrived(0, &start, 1);
    for (int k = 0; k < 2 * MidiBus::kCapacity; ++k)
        bus.arrived(std::llround(k * 918.75), &clock, 1);
    EXPECT_GT(bus.dropped(), 0u);
    follower.update(bus, 64);
    EXPECT_NEAR(follower.bpm(), 120.0, 0.05);
    TransportEvent event;
    ASSERT_TRUE(follower.nextEvent(MidiBus::kEndOfTime, event));
    EXPECT_EQ(event.frame, 0);

    // A pulse stamped before its predecessor, and two on one frame.
    const std::int64_t last = std::llround((MidiBus::kCapacity - 2) * 918.75);
    for (const std::int64_t frame : {last - 5000, last - 5000, last + 1000})
        bus.arrived(frame, &clock, 1);
    follower.update(bus, 64);
    EXPECT_TRUE(std::isfinite(follower.bpm()));
    EXPECT_GT(follower.bpm(), 0.0);
    for (int k = 0; k < 48; ++k)
        bus.arrived(last + 2000 + std::llround(k * 918.75), &clock, 1);
    follower.update(bus, 64);
    EXPECT_NEAR(follower.bpm(), 120.0, 0.05);
}

} // namespace
} // namespace common
