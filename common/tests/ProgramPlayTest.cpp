// The program playing live without a window (--play), run as a user runs it: through a private JACK
// server to a recording client, where it must sound exactly as its --render of the same seed; with its
// MIDI clock and notes to a MIDI client; following that client's MIDI clock or a JACK transport, or
// leading the transport; and until a signal when no length is given. Built once per program
// (PROGRAM_NAME, PROGRAM_PATH).
#include "audio/tests/JackTestServer.h"
#include "common/tests/ProgramProcess.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using jacktest::DummyJackServer;
using jacktest::MidiPeer;
using jacktest::Program;
using jacktest::Recorder;
using jacktest::TransportClient;
using jacktest::waitFor;
using Periods = std::vector<TransportClient::Period>;

/// The frames of the messages whose status byte is `status`, in order.
std::vector<std::int64_t> framesOf(const std::vector<MidiPeer::Message>& messages, std::uint8_t status) {
    std::vector<std::int64_t> frames;
    for (const MidiPeer::Message& m : messages)
        if (!m.bytes.empty() && m.bytes[0] == status)
            frames.push_back(m.frame);
    return frames;
}

/// The first message with status `status` on server frame `frame` or later; −1 when none.
std::int64_t firstAtOrAfter(const std::vector<MidiPeer::Message>& messages, std::uint8_t status,
                            std::int64_t frame) {
    for (const std::int64_t f : framesOf(messages, status))
        if (f >= frame)
            return f;
    return -1;
}

/// The first period from `from` on that `is` says yes to; periods.size() when none does.
std::size_t firstPeriod(const Periods& periods, std::size_t from,
                        const std::function<bool(const TransportClient::Period&)>& is) {
    while (from < periods.size() && !is(periods[from]))
        ++from;
    return from;
}

class ProgramPlay : public testing::Test {
  protected:
    void SetUp() override {
        if (!server_.start())
            GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    }
    /// The program on the server with seed 3, blocks of 256 frames and `more` options.
    Program play(const std::vector<std::string>& more) {
        std::vector<std::string> args{"--play", "--device", "jack", "--seed", "3", "--block", "256"};
        args.insert(args.end(), more.begin(), more.end());
        return Program(args, name_);
    }

    const std::string name_ = "vzp" + std::to_string(getpid());
    const std::string midiOut_ = std::string(PROGRAM_NAME) + ":midi_out";
    DummyJackServer server_{name_};
};

TEST_F(ProgramPlay, ThroughJackItSoundsExactlyAsItsRenderOfTheSameSeed) {
    constexpr int kFrames = 44100;
    Recorder recorder(name_, 2 * kFrames);
    ASSERT_TRUE(recorder.ok());
    Program play({"--play", "--seconds", "1", "--device", "jack", "--seed", "3"}, name_);
    ASSERT_TRUE(recorder.connectFrom(PROGRAM_NAME)) << play.err();
    ASSERT_EQ(play.wait(), 0) << play.err();
    EXPECT_NE(play.out().find("played 44100 frames"), std::string::npos) << play.out();

    const std::string wav = (play.dir() / "x.wav").string();
    Program render({"--render", wav, "--seed", "3", "--frames", "44100"}, name_);
    ASSERT_EQ(render.wait(), 0) << render.err();
    SF_INFO info;
    const std::vector<short> stereo = common::test::readSound(wav, info);
    ASSERT_EQ(info.frames, kFrames);
    std::vector<int> rendered, recorded;
    for (std::size_t i = 0; i < stereo.size(); i += 2)
        rendered.push_back(stereo[i]);
    for (std::size_t i = 0; i < recorder.frames(); ++i)
        recorded.push_back(static_cast<int>(std::lround(recorder.left()[i] * 32768.0f)));

    // The recorder joined a little after the first frames: find where it came in, then compare the rest.
    constexpr long kMatch = 2048;
    const auto firstSound = std::find_if(recorded.begin(), recorded.end(), [](int s) { return s != 0; });
    ASSERT_GE(recorded.end() - firstSound, kMatch) << "nothing but silence was heard";
    const auto joined = std::search(rendered.begin(), rendered.end(), firstSound, firstSound + kMatch);
    ASSERT_NE(joined, rendered.end()) << "the heard sound is nowhere in the render";
    EXPECT_LT(joined - rendered.begin(), 22050) << "the recorder missed half a second";
    // From there on: every rendered frame, in order, then silence — exactly the length, no more.
    const long compared = std::min(rendered.end() - joined, recorded.end() - firstSound);
    if (!std::equal(joined, joined + compared, firstSound) && recorder.xruns() > 0)
        GTEST_SKIP() << "the server missed " << recorder.xruns()
                     << " cycles (a loaded machine without real-time): the recording is broken";
    EXPECT_TRUE(std::equal(joined, joined + compared, firstSound));
    EXPECT_TRUE(std::all_of(firstSound + compared, recorded.end(), [](int s) { return s == 0; }))
        << "sound after the length";
}

TEST_F(ProgramPlay, OnItsOwnItSendsNotesThenStopAndAllNotesOff) {
    MidiPeer peer(name_);
    ASSERT_TRUE(peer.ok());
    Program program = play({"--seconds", "2"});
    ASSERT_TRUE(peer.listenTo(midiOut_)) << program.err();
    ASSERT_EQ(program.wait(), 0) << program.err();
    const std::vector<MidiPeer::Message> heard = peer.received();

    // Notes: each note-on released on its channel before Stop; after Stop, "All notes off".
    std::map<int, int> held; // channel × 128 + note → notes on
    int notesOn = 0;
    bool stopped = false, allOff = false;
    for (const MidiPeer::Message& m : heard) {
        const auto& b = m.bytes;
        const int kind = b[0] & 0xF0;
        stopped = stopped || b[0] == 0xFC;
        allOff = allOff || (stopped && b.size() == 3 && kind == 0xB0 && b[1] == 123);
        if (b.size() == 3 && kind == 0x90 && b[2] > 0) {
            EXPECT_FALSE(stopped) << "a note after Stop";
            ++held[(b[0] & 0x0F) * 128 + b[1]];
            ++notesOn;
        } else if (b.size() == 3 && (kind == 0x80 || kind == 0x90)) {
            --held[(b[0] & 0x0F) * 128 + b[1]];
        }
    }
    EXPECT_GT(notesOn, 8);
    for (const auto& [key, count] : held)
        EXPECT_LE(count, 0) << "channel " << key / 128 + 1 << " note " << key % 128 << " never released";
    EXPECT_TRUE(stopped && allOff) << "no Stop, then All notes off, at the end";
}

TEST_F(ProgramPlay, FollowingAMidiClockItsStepsAndItsOwnClockLandOnTheMastersSixteenths) {
    MidiPeer master(name_);
    ASSERT_TRUE(master.ok());
    Program program = play({"--seconds", "10", "--sync", "midi"});
    ASSERT_TRUE(master.listenTo(midiOut_)) << program.err();
    ASSERT_TRUE(master.playTo(std::string(PROGRAM_NAME) + ":midi_in")) << program.err();

    // Start, four beats at 100 BPM, four ramping to 140, six at 140, Stop.
    std::vector<MidiPeer::Message> script{{0, {0xFA}}};
    double frame = 100.0;
    const auto pulsesAt = [&](int count, double fromBpm, double toBpm) {
        for (int i = 0; i < count; ++i) {
            script.push_back({static_cast<std::int64_t>(std::lround(frame)), {0xF8}});
            frame += 44100.0 * 60.0 / (24.0 * (fromBpm + (toBpm - fromBpm) * i / count));
        }
    };
    pulsesAt(96, 100.0, 100.0);
    const std::size_t rampFrom = script.size() - 1, rampTo = rampFrom + 96;
    pulsesAt(96, 100.0, 140.0);
    pulsesAt(144, 140.0, 140.0);
    script.push_back({static_cast<std::int64_t>(std::lround(frame)), {0xFC}});
    const int xrunsBefore = master.xruns(); // the connections themselves may cost a cycle
    master.play(script);
    ASSERT_TRUE(waitFor([&] { return master.played(); }, 20s));
    std::this_thread::sleep_for(300ms);
    const int missed = master.xruns() - xrunsBefore; // before our client leaves, which may cost one
    program.signal(SIGTERM);
    program.wait();
    const std::vector<MidiPeer::Message> heard = master.received();
    if (missed > 4)
        GTEST_SKIP() << "the server missed " << missed << " cycles (a loaded machine without real-time)";

    const std::vector<std::int64_t> theirs = framesOf(master.script(), 0xF8);
    const std::vector<std::int64_t> starts = framesOf(heard, 0xFA);
    ASSERT_EQ(starts.size(), 1u) << "one Start, on the master's";
    std::vector<std::int64_t> ours;
    for (std::int64_t f : framesOf(heard, 0xF8))
        if (f >= starts[0])
            ours.push_back(f);
    ASSERT_GE(ours.size(), theirs.size() - 12) << "our clock stopped early";
    // Our Start goes out with the master's first pulse, one pass through the server later at most.
    EXPECT_GE(starts[0] - theirs[0], 0);
    EXPECT_LE(starts[0] - theirs[0], 2 * 256 + (missed > 0 ? 44100 : 0));
    // Each pair of sixteenths (where even a shuffled step begins) as far from the master's as the one
    // before: give or take a frame while its tempo is steady, within a millisecond while it ramps. A
    // cycle the server missed moves its frame time on by the time lost, between one pair and the next.
    const std::size_t count = std::min(ours.size(), theirs.size());
    double worstSteady = 0.0, worstRamp = 0.0;
    int broken = 0;
    for (std::size_t k = 24; k < count; k += 12) {
        const double off =
            std::abs(static_cast<double>((ours[k] - theirs[k]) - (ours[k - 12] - theirs[k - 12])));
        const bool ramping = k > rampFrom && k <= rampTo + 48; // the tempo settles two beats on
        if (off > (ramping ? 44.1 : 1.0) && broken++ < 2 * missed)
            continue;
        double& worst = ramping ? worstRamp : worstSteady;
        worst = std::max(worst, off);
    }
    EXPECT_LE(worstSteady, 1.0);
    EXPECT_LE(worstRamp, 44.1);
    // Our clock's tempo over the last two beats of the master's 140: the mean of the middle half of the
    // pulse intervals, which a missed cycle cannot move.
    std::vector<std::int64_t> gaps;
    for (std::size_t i = count - 48; i < count; ++i)
        gaps.push_back(ours[i] - ours[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    const double meanGap = std::accumulate(gaps.begin() + 12, gaps.begin() + 36, 0.0) / 24.0;
    const double ourBpm = 44100.0 * 60.0 / (24.0 * meanGap);
    RecordProperty("followedBpm", std::to_string(ourBpm));
    EXPECT_NEAR(ourBpm, 140.0, 0.05);
    EXPECT_FALSE(framesOf(heard, 0xFC).empty()) << "the master's Stop stops us";
}

TEST_F(ProgramPlay, FollowingJackTransportItStartsMovesAndStopsWithItOnTheMastersSixteenths) {
    // A timebase master at 120 BPM: a sixteenth every 5512.5 frames, its ticks cut to whole ones.
    constexpr double kSixteenth = 5512.5;
    TransportClient master(name_, 120.0);
    MidiPeer peer(name_);
    ASSERT_TRUE(master.ok() && peer.ok());
    Program program = play({"--seconds", "20", "--sync", "jack"});
    ASSERT_TRUE(peer.listenTo(midiOut_)) << program.err();
    std::this_thread::sleep_for(500ms);
    const int xrunsBefore = peer.xruns();
    master.locate(0);
    std::this_thread::sleep_for(100ms);
    master.start();
    std::this_thread::sleep_for(2s);
    constexpr std::uint32_t kLocatedTo = 90 * kSixteenth; // sixteenth 90's first frame
    master.locate(kLocatedTo);
    std::this_thread::sleep_for(2s);
    master.stop();
    std::this_thread::sleep_for(500ms);
    const int missed = peer.xruns() - xrunsBefore;
    program.signal(SIGTERM);
    program.wait();
    const Periods periods = master.periods();
    const std::vector<MidiPeer::Message> heard = peer.received();

    const std::size_t started = firstPeriod(periods, 0, [](const auto& p) { return p.rolling; });
    ASSERT_LT(started, periods.size()) << "the transport never rolled";
    ASSERT_EQ(periods[started].position, 0u);
    // A locate while rolling passes through a period where the transport stands (starting).
    const std::size_t located =
        firstPeriod(periods, started, [&](const auto& p) { return p.rolling && p.position >= kLocatedTo; });
    ASSERT_LT(located, periods.size());
    const std::size_t stopped = firstPeriod(periods, located, [](const auto& p) { return !p.rolling; });
    ASSERT_LT(stopped, periods.size());
    const std::int64_t startFrame = periods[started].frame, stopFrame = periods[stopped].frame;
    const std::int64_t locateFrame =
        periods[located].frame + static_cast<std::int64_t>(kLocatedTo) - periods[located].position;

    // Start on the transport's first rolling frame; after the locate, the clock goes on from the new
    // sixteenth's frame; Stop on the first frame it stands.
    const std::int64_t start = firstAtOrAfter(heard, 0xFA, 0);
    const std::int64_t resumed = std::min<std::uint64_t>(firstAtOrAfter(heard, 0xFB, startFrame + 1),
                                                         firstAtOrAfter(heard, 0xFA, startFrame + 1));
    const std::int64_t stop = firstAtOrAfter(heard, 0xFC, locateFrame);

    // Every sixteenth's pulse on the master's sixteenth, before the locate and after it.
    double worst = 0.0;
    int sixteenths = 0;
    const auto check = [&](std::int64_t from, std::int64_t to, double firstSixteenth) {
        std::vector<std::int64_t> pulses;
        for (std::int64_t f : framesOf(heard, 0xF8))
            if (f >= from && f < to)
                pulses.push_back(f);
        for (std::size_t k = 0; k < pulses.size(); k += 6, ++sixteenths) {
            const double n = static_cast<double>(k / 6);
            const double expected =
                from + std::ceil((firstSixteenth + n) * kSixteenth) - firstSixteenth * kSixteenth;
            worst = std::max(worst, std::abs(static_cast<double>(pulses[k]) - expected));
        }
    };
    check(startFrame, locateFrame, 0.0);
    check(locateFrame, stopFrame, 90.0);
    const bool onTime =
        start == startFrame && resumed == locateFrame && stop == stopFrame && worst <= 2.0 && sixteenths > 24;
    if (!onTime && missed > 0)
        GTEST_SKIP() << "the server missed " << missed << " cycles (a loaded machine without real-time)";
    EXPECT_EQ(start, startFrame);
    EXPECT_EQ(resumed, locateFrame);
    EXPECT_EQ(stop, stopFrame);
    EXPECT_GT(sixteenths, 24) << "less than three seconds of sixteenths";
    EXPECT_LE(worst, 2.0);
}

TEST_F(ProgramPlay, LeadingJackTransportItRollsItWithBarsWhoseTempoAndBeatsAreItsClocks) {
    TransportClient watcher(name_);
    MidiPeer peer(name_);
    ASSERT_TRUE(watcher.ok() && peer.ok());
    Program program = play({"--seconds", "4", "--sync", "jack-master"});
    ASSERT_TRUE(peer.listenTo(midiOut_)) << program.err();
    const int xrunsBefore = peer.xruns();
    ASSERT_EQ(program.wait(), 0) << program.err();
    std::this_thread::sleep_for(100ms);
    const int missed = peer.xruns() - xrunsBefore;
    const Periods periods = watcher.periods();
    const std::vector<std::int64_t> pulses = framesOf(peer.received(), 0xF8);

    // Rolling with bars; stopped again once the program has ended.
    const auto withBars =
        std::count_if(periods.begin(), periods.end(), [](auto& p) { return p.rolling && p.bbt; });
    EXPECT_GT(withBars, 44100 * 3 / 256) << "less than three seconds rolling with bars";
    ASSERT_FALSE(periods.empty());
    EXPECT_FALSE(periods.back().rolling) << "the program left the transport rolling";
    ASSERT_GT(pulses.size(), 96u);

    // The clock's tempo, from its pulses, is the bars' tempo, and every pulse lies on a 24th of a beat
    // where the bars put it.
    const double clockBpm = 44100.0 * 60.0 * static_cast<double>(pulses.size() - 1) /
                            (24.0 * static_cast<double>(pulses.back() - pulses.front()));
    double barsBpm = 0.0;
    for (const auto& p : periods)
        if (p.rolling && p.bbt)
            barsBpm = p.bpm;
    const double fps = 44100.0 * 60.0 / (4.0 * barsBpm); // frames a sixteenth
    double worstPulse = 0.0;
    std::size_t at = 0;
    int placed = 0;
    for (std::int64_t pulse : pulses) {
        while (at + 1 < periods.size() && periods[at + 1].frame <= pulse)
            ++at;
        const auto& p = periods[at];
        if (!(p.rolling && p.bbt) || pulse < p.frame || pulse >= p.frame + 256)
            continue;
        const double sixths = (p.sixteenth + (pulse - p.frame) / fps) * 6.0; // pulses since the song's start
        worstPulse = std::max(worstPulse, std::abs(sixths - std::round(sixths)) * fps / 6.0);
        ++placed;
    }
    if (!(worstPulse <= 1.0 && std::abs(clockBpm - barsBpm) <= 0.01) && missed > 0)
        GTEST_SKIP() << "the server missed " << missed
                     << " cycles (a loaded machine without real-time): " << worstPulse << " " << clockBpm
                     << " " << barsBpm;
    EXPECT_NEAR(clockBpm, barsBpm, 0.01);
    EXPECT_GT(placed, 96);
    EXPECT_LE(worstPulse, 1.0);
}

TEST(ProgramPlaySilent, WithoutALengthItPlaysOnTheSilentOutputUntilTerminated) {
    // No JACK server of this name; a box without a sound card has no PortAudio device either.
    Program play({"--play", "--seed", "3"}, "vzn" + std::to_string(getpid()));
    ASSERT_TRUE(waitFor([&] { return play.out().find(": playing on ") != std::string::npos; }, 20s))
        << play.err();
    std::this_thread::sleep_for(200ms);
    play.signal(SIGTERM);
    EXPECT_EQ(play.wait(), 128 + SIGTERM) << play.err();
    EXPECT_NE(play.out().find(": played "), std::string::npos) << play.out();
}

} // namespace
