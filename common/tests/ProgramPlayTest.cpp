// The program playing live without a window (--play), run as a user runs it: through a private JACK
// server to a recording client, where it must sound exactly as its --render of the same seed; with its
// MIDI clock and notes to a MIDI client, and following that client's clock; on the silent output where
// no device plays; and until a signal when no length is given. Built once per program (PROGRAM_NAME,
// PROGRAM_PATH).
#include "audio/tests/JackTestServer.h"
#include "common/tests/ProgramProcess.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
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

/// The left channel of a 16-bit WAV file.
std::vector<int> leftOf(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<short> frames(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_short(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<int> left;
    for (std::size_t i = 0; i < frames.size(); i += 2)
        left.push_back(frames[i]);
    return left;
}

class ProgramPlay : public testing::Test {
  protected:
    /// False when jackd is missing or does not answer: the test then skips.
    bool startServer() {
        name_ = "vzp" + std::to_string(getpid());
        server_ = std::make_unique<DummyJackServer>(name_);
        return server_->start();
    }
    void TearDown() override { server_.reset(); }

    std::string name_ = "vzn" + std::to_string(getpid()); // no server of that name runs
    std::unique_ptr<DummyJackServer> server_;
};

TEST_F(ProgramPlay, ThroughJackItSoundsExactlyAsItsRenderOfTheSameSeed) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    constexpr int kFrames = 44100;
    Recorder recorder(name_, 2 * kFrames);
    ASSERT_TRUE(recorder.ok());
    Program play({"--play", "--seconds", "1", "--device", "jack", "--seed", "3"}, name_);
    ASSERT_TRUE(recorder.connectFrom(PROGRAM_NAME)) << play.err();
    ASSERT_EQ(play.wait(), 0) << play.err();
    EXPECT_NE(play.out().find(std::string(PROGRAM_NAME) + ": playing on jack, seed 3"), std::string::npos)
        << play.out();
    EXPECT_NE(play.out().find("played 44100 frames"), std::string::npos) << play.out();

    Program render({"--render", (play.dir() / "x.wav").string(), "--seed", "3", "--frames", "44100"}, name_);
    ASSERT_EQ(render.wait(), 0) << render.err();
    const std::vector<int> rendered = leftOf(play.dir() / "x.wav");
    ASSERT_EQ(rendered.size(), static_cast<std::size_t>(kFrames));

    // The recorder joined a little after the first frames: find where it came in, then compare the rest.
    const std::size_t heard = recorder.frames();
    std::vector<int> recorded(heard);
    for (std::size_t i = 0; i < heard; ++i)
        recorded[i] = static_cast<int>(std::lround(recorder.left()[i] * 32768.0f));
    std::size_t firstSound = 0;
    while (firstSound < heard && recorded[firstSound] == 0)
        ++firstSound;
    ASSERT_LT(firstSound, heard) << "nothing but silence was heard";
    constexpr std::size_t kMatch = 2048;
    ASSERT_GE(heard - firstSound, kMatch);
    std::optional<std::size_t> offset;
    for (std::size_t at = 0; at + kMatch <= rendered.size() && !offset; ++at)
        if (std::equal(recorded.begin() + static_cast<long>(firstSound),
                       recorded.begin() + static_cast<long>(firstSound + kMatch),
                       rendered.begin() + static_cast<long>(at)))
            offset = at;
    ASSERT_TRUE(offset) << "the heard sound is nowhere in the render";
    EXPECT_LT(*offset, 22050u) << "the recorder missed half a second";
    RecordProperty("joinedAtFrame", static_cast<int>(*offset));
    RecordProperty("heardFrames", static_cast<int>(heard));
    // From there on: every rendered frame, in order, then silence — exactly the length, no more.
    std::size_t mismatches = 0;
    for (std::size_t i = *offset; i < rendered.size() && firstSound + (i - *offset) < heard; ++i)
        mismatches += recorded[firstSound + (i - *offset)] != rendered[i];
    if (mismatches > 0 && recorder.xruns() > 0)
        GTEST_SKIP() << "the server missed " << recorder.xruns()
                     << " cycles (a loaded machine without real-time): the recording is broken";
    EXPECT_EQ(mismatches, 0u);
    const std::size_t end = firstSound + (kFrames - *offset);
    for (std::size_t i = end; i < heard; ++i)
        ASSERT_EQ(recorded[i], 0) << "sound after the length, " << i - end << " frames on";
}

/// The frames of the messages whose status byte is `status`, in order.
std::vector<std::int64_t> framesOf(const std::vector<MidiPeer::Message>& messages, std::uint8_t status) {
    std::vector<std::int64_t> frames;
    for (const MidiPeer::Message& m : messages)
        if (!m.bytes.empty() && m.bytes[0] == status)
            frames.push_back(m.frame);
    return frames;
}

TEST_F(ProgramPlay, OnItsOwnItSendsAnEvenClockAndNotesThenStopAndAllNotesOff) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    MidiPeer peer(name_);
    ASSERT_TRUE(peer.ok());
    Program play({"--play", "--seconds", "2", "--device", "jack", "--seed", "3", "--block", "256"}, name_);
    ASSERT_TRUE(peer.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    ASSERT_EQ(play.wait(), 0) << play.err();
    const std::vector<MidiPeer::Message> heard = peer.received();

    // The clock: its pulses a whole number of frames apart, at most one frame between the shortest and
    // the longest gap (a steady tempo's step split into six).
    const std::vector<std::int64_t> pulses = framesOf(heard, 0xF8);
    ASSERT_GT(pulses.size(), 48u) << "less than two beats of clock in 2 s";
    std::int64_t shortest = INT64_MAX, longest = 0;
    for (std::size_t i = 1; i < pulses.size(); ++i) {
        shortest = std::min(shortest, pulses[i] - pulses[i - 1]);
        longest = std::max(longest, pulses[i] - pulses[i - 1]);
    }
    RecordProperty("pulseGaps", std::to_string(shortest) + ".." + std::to_string(longest));
    if (peer.xruns() == 0) {
        EXPECT_LE(longest - shortest, 1) << shortest << ".." << longest;
    }

    // Notes: each note-on released on its channel before the end; the end is Stop, then "All notes off".
    std::map<int, int> held; // channel × 128 + note → notes on
    int notesOn = 0;
    std::size_t stopAt = heard.size();
    for (std::size_t i = 0; i < heard.size(); ++i) {
        const auto& b = heard[i].bytes;
        if (b[0] == 0xFC && stopAt == heard.size())
            stopAt = i;
        if (b.size() == 3 && (b[0] & 0xF0) == 0x90 && b[2] > 0) {
            EXPECT_EQ(stopAt, heard.size()) << "a note after Stop";
            ++held[(b[0] & 0x0F) * 128 + b[1]];
            ++notesOn;
        }
        if (b.size() == 3 && ((b[0] & 0xF0) == 0x80 || ((b[0] & 0xF0) == 0x90 && b[2] == 0)))
            --held[(b[0] & 0x0F) * 128 + b[1]];
    }
    EXPECT_GT(notesOn, 8);
    for (const auto& [key, count] : held)
        EXPECT_LE(count, 0) << "channel " << key / 128 + 1 << " note " << key % 128 << " never released";
    ASSERT_LT(stopAt, heard.size()) << "no Stop at the end";
    bool allOff = false;
    for (std::size_t i = stopAt; i < heard.size(); ++i)
        allOff = allOff || (heard[i].bytes.size() == 3 && (heard[i].bytes[0] & 0xF0) == 0xB0 &&
                            heard[i].bytes[1] == 123);
    EXPECT_TRUE(allOff) << "no All notes off after Stop";
}

TEST_F(ProgramPlay, FollowingAMidiClockItsStepsAndItsOwnClockLandOnTheMastersSixteenths) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    MidiPeer master(name_);
    ASSERT_TRUE(master.ok());
    Program play(
        {"--play", "--seconds", "10", "--device", "jack", "--sync", "midi", "--seed", "3", "--block", "256"},
        name_);
    ASSERT_TRUE(master.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    ASSERT_TRUE(master.playTo(std::string(PROGRAM_NAME) + ":midi_in")) << play.err();

    // Start, four beats at 100 BPM, four ramping to 140, six at 140, Stop.
    std::vector<MidiPeer::Message> script{{0, {0xFA}}};
    double frame = 100.0;
    const auto pulsesAt = [&](int count, double fromBpm, double toBpm) {
        for (int i = 0; i < count; ++i) {
            script.push_back({static_cast<std::int64_t>(std::lround(frame)), {0xF8}});
            const double bpm = fromBpm + (toBpm - fromBpm) * i / count;
            frame += 44100.0 * 60.0 / (24.0 * bpm);
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
    play.signal(SIGTERM);
    play.wait();
    const std::vector<MidiPeer::Message> sent = master.script();
    const std::vector<MidiPeer::Message> heard = master.received();
    if (missed > 4)
        GTEST_SKIP() << "the server missed " << missed << " cycles (a loaded machine without real-time)";

    const std::vector<std::int64_t> theirs = framesOf(sent, 0xF8);
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
        (ramping ? worstRamp : worstSteady) = std::max(ramping ? worstRamp : worstSteady, off);
    }
    RecordProperty("worstSteadyFrames", std::to_string(worstSteady));
    RecordProperty("worstRampFrames", std::to_string(worstRamp));
    RecordProperty("missedCycles", missed);
    EXPECT_LE(worstSteady, 1.0);
    EXPECT_LE(worstRamp, 44.1);
    // Our clock's tempo over the last two beats of the master's 140: the median pulse interval, which a
    // missed cycle cannot move.
    std::vector<std::int64_t> gaps;
    for (std::size_t i = count - 48; i < count; ++i)
        gaps.push_back(ours[i] - ours[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    double meanOfMiddle = 0.0;
    for (std::size_t i = 12; i < 36; ++i)
        meanOfMiddle += static_cast<double>(gaps[i]) / 24.0;
    const double ourBpm = 44100.0 * 60.0 / (24.0 * meanOfMiddle);
    RecordProperty("followedBpm", std::to_string(ourBpm));
    EXPECT_NEAR(ourBpm, 140.0, 0.05);
    // The master's Stop stops us.
    EXPECT_FALSE(framesOf(heard, 0xFC).empty());
}

/// The first period from `from` on that `is` says yes to; periods.size() when none does.
std::size_t firstPeriod(const std::vector<TransportClient::Period>& periods, std::size_t from,
                        const std::function<bool(const TransportClient::Period&)>& is) {
    while (from < periods.size() && !is(periods[from]))
        ++from;
    return from;
}

/// The first message with status `status` on server frame `frame` or later; −1 when none.
std::int64_t firstAtOrAfter(const std::vector<MidiPeer::Message>& messages, std::uint8_t status,
                            std::int64_t frame) {
    for (const MidiPeer::Message& m : messages)
        if (m.bytes[0] == status && m.frame >= frame)
            return m.frame;
    return -1;
}

TEST_F(ProgramPlay, FollowingJackTransportItStartsMovesAndStopsWithItOnTheMastersSixteenths) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    // A timebase master at 120 BPM: a sixteenth every 5512.5 frames, its ticks cut to whole ones.
    constexpr double kSixteenth = 5512.5;
    TransportClient master(name_, 120.0);
    MidiPeer peer(name_);
    ASSERT_TRUE(master.ok() && peer.ok());
    Program play(
        {"--play", "--seconds", "20", "--device", "jack", "--sync", "jack", "--seed", "3", "--block", "256"},
        name_);
    ASSERT_TRUE(peer.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    std::this_thread::sleep_for(500ms);
    const int xrunsBefore = peer.xruns();
    master.locate(0);
    std::this_thread::sleep_for(100ms);
    master.start();
    std::this_thread::sleep_for(2s);
    constexpr std::uint32_t kLocatedTo = 90 * 5512.5; // sixteenth 90's first frame
    master.locate(kLocatedTo);
    std::this_thread::sleep_for(2s);
    master.stop();
    std::this_thread::sleep_for(500ms);
    const int missed = peer.xruns() - xrunsBefore;
    play.signal(SIGTERM);
    play.wait();
    const std::vector<TransportClient::Period> periods = master.periods();
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
    const std::int64_t startFrame = periods[started].frame;
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
        for (std::size_t k = 0; k < pulses.size(); k += 6) {
            const double n = static_cast<double>(k / 6);
            const double expected =
                from + std::ceil((firstSixteenth + n) * kSixteenth) - firstSixteenth * kSixteenth;
            worst = std::max(worst, std::abs(static_cast<double>(pulses[k]) - expected));
            ++sixteenths;
        }
    };
    check(startFrame, locateFrame, 0.0);
    check(locateFrame, periods[stopped].frame, 90.0);
    RecordProperty("worstFrames", std::to_string(worst));
    RecordProperty("sixteenths", sixteenths);
    const bool onTime = start == startFrame && resumed == locateFrame && stop == periods[stopped].frame &&
                        worst <= 2.0 && sixteenths > 24;
    if (!onTime && missed > 0)
        GTEST_SKIP() << "the server missed " << missed << " cycles (a loaded machine without real-time)";
    EXPECT_EQ(start, startFrame);
    EXPECT_EQ(resumed, locateFrame);
    EXPECT_EQ(stop, periods[stopped].frame);
    EXPECT_GT(sixteenths, 24) << "less than three seconds of sixteenths";
    EXPECT_LE(worst, 2.0);
}

TEST_F(ProgramPlay, FollowingJackTransportWithoutATimebaseMasterItCountsItsOwnSixteenthsFromFrameZero) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    // The program's own step: Vexla's lasts samplesPerStep + 1 frames, Zintor's samplesPerStep.
    const double ownStep = std::string(PROGRAM_NAME) == "vexla" ? 5001.0 : 5000.0;
    TransportClient transport(name_);
    MidiPeer peer(name_);
    ASSERT_TRUE(transport.ok() && peer.ok());
    Program play(
        {"--play", "--seconds", "20", "--device", "jack", "--sync", "jack", "--seed", "3", "--block", "256"},
        name_);
    ASSERT_TRUE(peer.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    std::this_thread::sleep_for(500ms);
    const int xrunsBefore = peer.xruns();
    constexpr std::uint32_t kFrom = 12345; // within the third sixteenth: the fourth is the first played
    transport.locate(kFrom);
    std::this_thread::sleep_for(100ms);
    transport.start();
    std::this_thread::sleep_for(2s);
    transport.stop();
    std::this_thread::sleep_for(300ms);
    const int missed = peer.xruns() - xrunsBefore;
    play.signal(SIGTERM);
    play.wait();
    const std::vector<TransportClient::Period> periods = transport.periods();
    const std::vector<MidiPeer::Message> heard = peer.received();

    const std::size_t started = firstPeriod(periods, 0, [](const auto& p) { return p.rolling; });
    ASSERT_LT(started, periods.size()) << "the transport never rolled";
    // The first rolling period the test client saw: on a loaded machine it may have missed the very first.
    ASSERT_GE(periods[started].position, kFrom);
    const std::size_t stopped = firstPeriod(periods, started, [](const auto& p) { return !p.rolling; });
    ASSERT_LT(stopped, periods.size());
    // Where the transport's frame 0 would lie.
    const std::int64_t zero = periods[started].frame - static_cast<std::int64_t>(periods[started].position);
    const std::int64_t resumed = firstAtOrAfter(heard, 0xFB, 0);
    double worst = 0.0;
    int sixteenths = 0;
    std::vector<std::int64_t> pulses;
    for (std::int64_t f : framesOf(heard, 0xF8))
        if (f >= resumed && f < periods[stopped].frame)
            pulses.push_back(f);
    for (std::size_t k = 0; k < pulses.size(); k += 6, ++sixteenths)
        worst = std::max(worst, std::abs(static_cast<double>(pulses[k] - zero) -
                                         std::ceil((3.0 + static_cast<double>(k / 6)) * ownStep)));
    RecordProperty("worstFrames", std::to_string(worst));
    const bool onTime =
        resumed == zero + static_cast<std::int64_t>(3 * ownStep) && worst <= 1.0 && sixteenths > 12;
    if (!onTime && missed > 0)
        GTEST_SKIP() << "the server missed " << missed << " cycles (a loaded machine without real-time)";
    EXPECT_EQ(resumed, zero + static_cast<std::int64_t>(3 * ownStep)) << "not on the fourth sixteenth";
    EXPECT_GT(sixteenths, 12);
    EXPECT_LE(worst, 1.0);
}

TEST_F(ProgramPlay, LeadingJackTransportItRollsItWithItsTempoAndBarsThatKeepTimeWithItsClock) {
    if (!startServer())
        GTEST_SKIP() << "jackd did not start (the jackd2 package provides it)";
    TransportClient watcher(name_);
    MidiPeer peer(name_);
    ASSERT_TRUE(watcher.ok() && peer.ok());
    Program play({"--play", "--seconds", "4", "--device", "jack", "--sync", "jack-master", "--seed", "3",
                  "--block", "256"},
                 name_);
    ASSERT_TRUE(peer.listenTo(std::string(PROGRAM_NAME) + ":midi_out")) << play.err();
    const int xrunsBefore = peer.xruns();
    ASSERT_EQ(play.wait(), 0) << play.err();
    std::this_thread::sleep_for(100ms);
    const int missed = peer.xruns() - xrunsBefore;
    const std::vector<TransportClient::Period> periods = watcher.periods();
    const std::vector<MidiPeer::Message> heard = peer.received();

    // Rolling with bars; stopped again once the program has ended.
    std::size_t rolling = 0;
    for (const auto& p : periods)
        rolling += p.rolling && p.bbt;
    EXPECT_GT(rolling, 44100u * 3 / 256) << "less than three seconds rolling with bars";
    ASSERT_FALSE(periods.empty());
    EXPECT_FALSE(periods.back().rolling) << "the program left the transport rolling";

    // The clock's tempo, from its pulses, is the bars' tempo.
    const std::vector<std::int64_t> pulses = framesOf(heard, 0xF8);
    ASSERT_GT(pulses.size(), 96u);
    const double clockBpm = 44100.0 * 60.0 * static_cast<double>(pulses.size() - 1) /
                            (24.0 * static_cast<double>(pulses.back() - pulses.front()));
    double barsBpm = 0.0;
    for (const auto& p : periods)
        if (p.rolling && p.bbt)
            barsBpm = p.bpm;
    RecordProperty("clockBpm", std::to_string(clockBpm));
    RecordProperty("barsBpm", std::to_string(barsBpm));

    // Each rolling period's bars advance by its frames at that tempo, and every pulse of the clock lies on
    // a 24th of a beat where the bars put it.
    const double fps = 44100.0 * 60.0 / (4.0 * barsBpm);
    double worstAdvance = 0.0, worstPulse = 0.0;
    for (std::size_t i = 1; i < periods.size(); ++i) {
        const auto &a = periods[i - 1], &b = periods[i];
        if (!(a.rolling && b.rolling && a.bbt && b.bbt))
            continue;
        worstAdvance =
            std::max(worstAdvance, std::abs((b.sixteenth - a.sixteenth) * fps - (b.frame - a.frame)));
    }
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
    RecordProperty("worstAdvanceFrames", std::to_string(worstAdvance));
    RecordProperty("worstPulseFrames", std::to_string(worstPulse));
    if (!(worstAdvance <= 0.01 && worstPulse <= 1.0 && std::abs(clockBpm - barsBpm) <= 0.01) && missed > 0)
        GTEST_SKIP() << "the server missed " << missed
                     << " cycles (a loaded machine without real-time): " << worstAdvance << " " << worstPulse
                     << " " << clockBpm << " " << barsBpm;
    EXPECT_NEAR(clockBpm, barsBpm, 0.01);
    EXPECT_GT(placed, 96);
    EXPECT_LE(worstAdvance, 0.01);
    EXPECT_LE(worstPulse, 1.0);
}

TEST_F(ProgramPlay, WithoutADeviceItPlaysTheLengthOnTheSilentOutput) {
    // No JACK server of this name; a box without a sound card has no PortAudio device either.
    Program play({"--play", "--seconds", "1", "--seed", "3"}, name_);
    ASSERT_EQ(play.wait(), 0) << play.err();
    EXPECT_NE(play.out().find("played 44100 frames (1.00 s)"), std::string::npos) << play.out();
}

TEST_F(ProgramPlay, WithoutALengthItPlaysUntilTerminated) {
    Program play({"--play", "--seed", "3"}, name_);
    ASSERT_TRUE(waitFor([&] { return play.out().find(": playing on ") != std::string::npos; }, 20s))
        << play.err();
    std::this_thread::sleep_for(200ms);
    play.signal(SIGTERM);
    EXPECT_EQ(play.wait(), 128 + SIGTERM) << play.err();
    EXPECT_NE(play.out().find(": played "), std::string::npos) << play.out();
}

} // namespace
