// WAV recorder: file layout and sizes, failures reported, crash safety, nothing lost. That writing a frame
// allocates nothing is proved by the engines' render allocation tests, which record while they count.
#include "common/WavRecorder.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using common::WavRecorder;
using namespace common::test;
namespace fs = std::filesystem;

class WavRecorderTest : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return dir_.file(name); }
    ScratchDir dir_{"wavrec"};
};

// A frame pattern that covers the full 16-bit range, with left and right different.
int leftSample(int i) {
    return static_cast<int>((std::int64_t{i} * 7919) % 65536) - 32768;
}
int rightSample(int i) {
    return 32767 - static_cast<int>((std::int64_t{i} * 104729) % 65536);
}

/// The file holds the header and `dataBytes` bytes of audio, and both of its sizes say so.
void expectSizes(const Bytes& b, std::uint32_t dataBytes) {
    ASSERT_EQ(b.size(), 44u + dataBytes);
    EXPECT_EQ(le32(b, 4), 36u + dataBytes);
    EXPECT_EQ(le32(b, 40), dataBytes);
}

TEST_F(WavRecorderTest, NFramesGiveTheCanonicalHeaderExactSizesAndSamples) {
    constexpr int n = 50000; // more than one writer chunk
    WavRecorder rec(4096);   // a small ring: blocks wrap around it and wait for room
    rec.setBlockingWhenFull(true);
    ASSERT_EQ(rec.open(path("n.wav").c_str(), 44100, 16, 2), 0);
    // The first half frame by frame, the rest in blocks of odd sizes, as a render hands them over.
    for (int i = 0; i < n / 2; ++i)
        ASSERT_EQ(rec.writeFrame(leftSample(i), rightSample(i)), 0);
    std::vector<std::int16_t> block;
    for (int i = n / 2; i < n; i += 777) {
        block.clear();
        for (int j = i; j < std::min(n, i + 777); ++j) {
            block.push_back(static_cast<std::int16_t>(leftSample(j)));
            block.push_back(static_cast<std::int16_t>(rightSample(j)));
        }
        ASSERT_EQ(rec.writeFrames(block.data(), static_cast<int>(block.size() / 2)), 0);
    }
    ASSERT_EQ(rec.finish(), 0) << rec.lastError();
    EXPECT_EQ(rec.framesWritten(), static_cast<std::uint64_t>(n));
    EXPECT_EQ(rec.framesDropped(), 0u);

    // The canonical 44-byte header around the data.
    const auto b = readBytes(path("n.wav"));
    ASSERT_NO_FATAL_FAILURE(expectSizes(b, 4u * n));
    const Bytes header = wav16({}, 2, 44100);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 4, header.begin()) &&
                std::equal(b.begin() + 8, b.begin() + 40, header.begin() + 8));
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(le16s(b, 44 + 4 * i), leftSample(i)) << i;
        ASSERT_EQ(le16s(b, 46 + 4 * i), rightSample(i)) << i;
    }
    SF_INFO info;
    EXPECT_EQ(readSound(path("n.wav"), info).size(), 2u * n);
    EXPECT_EQ(info.samplerate, 44100);
}

TEST_F(WavRecorderTest, EachRecordingOfARunCarriesItsOwnSizesEvenEmptyAndQuittingFinishesOne) {
    {
        std::ofstream old(path("2.wav"), std::ios::binary); // a longer file is replaced, not overwritten
        old << std::string(100000, 'x');
    }
    WavRecorder rec;
    ASSERT_EQ(rec.open(path("0.wav").c_str(), 44100, 16, 2), 0);
    EXPECT_TRUE(rec.isRecording());
    ASSERT_EQ(rec.finish(), 0);
    EXPECT_FALSE(rec.isRecording());
    expectSizes(readBytes(path("0.wav")), 0u); // an empty recording is a whole file too
    ASSERT_EQ(rec.open(path("1.wav").c_str(), 44100, 16, 2), 0);
    for (int i = 0; i < 300; ++i)
        rec.writeFrame(i, -i);
    // Opening the next file while recording completes the first one.
    ASSERT_EQ(rec.open(path("2.wav").c_str(), 44100, 16, 2), 0);
    for (int i = 0; i < 7; ++i)
        rec.writeFrame(0x10000 + 1000 + i, 0); // only the low 16 bits count
    ASSERT_EQ(rec.finish(), 0);

    const auto first = readBytes(path("1.wav"));
    const auto second = readBytes(path("2.wav"));
    expectSizes(first, 1200u);
    ASSERT_NO_FATAL_FAILURE(expectSizes(second, 28u));
    EXPECT_EQ(le16s(second, 44), 1000); // nothing of the first recording leaks into the second

    { // the destructor finishes a running recording
        WavRecorder quitting;
        ASSERT_EQ(quitting.open(path("quit.wav").c_str(), 44100, 16, 2), 0);
        for (int i = 0; i < 1000; ++i)
            quitting.writeFrame(i, i);
    }
    expectSizes(readBytes(path("quit.wav")), 4000u);
}

TEST_F(WavRecorderTest, FailuresAreReportedNotPretendedAndAPipeOrADeviceIsLeftAsItIs) {
    WavRecorder rec;
    // A path that cannot be created: status 3, a reason, no recording running.
    EXPECT_EQ(rec.open(path("no/such/folder/x.wav").c_str(), 44100, 16, 2), 3);
    EXPECT_FALSE(rec.isRecording());
    EXPECT_FALSE(rec.lastError().empty());
    EXPECT_EQ(rec.writeFrame(1, 1), 4);
    EXPECT_EQ(rec.finish(), 4);

    // A pipe or a device is refused at once (without a reader: no wait) and left as it is.
    const std::string pipe = path("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& target : {pipe, std::string("/dev/null")}) {
        EXPECT_EQ(rec.open(target.c_str(), 44100, 16, 2), 3) << target;
        EXPECT_NE(rec.lastError().find("not a regular file"), std::string::npos) << rec.lastError();
        EXPECT_FALSE(rec.isRecording());
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // Bad arguments.
    EXPECT_EQ(rec.open(nullptr, 44100, 16, 2), 4);
    EXPECT_EQ(rec.open(path("b.wav").c_str(), 44100, 24, 2), 4);
    EXPECT_EQ(rec.open(path("b.wav").c_str(), 44100, 16, 3), 4);
    EXPECT_EQ(rec.open(path("b.wav").c_str(), 0, 16, 2), 4);
    EXPECT_FALSE(fs::exists(path("b.wav")));

    // The recorder still works after all that.
    ASSERT_EQ(rec.open(path("ok.wav").c_str(), 44100, 16, 2), 0);
    EXPECT_TRUE(rec.lastError().empty());
    EXPECT_EQ(rec.finish(), 0);
}

TEST_F(WavRecorderTest, ARecordingCutOffByACrashIsStillReadable) {
    constexpr int n = 20000;
    const std::string file = path("crash.wav");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WavRecorder rec;
        if (rec.open(file.c_str(), 44100, 16, 2) != 0)
            ::_exit(1);
        for (int i = 0; i < n; ++i)
            rec.writeFrame(leftSample(i), rightSample(i));
        // Wait for the writer's periodic size rewrite, then die without finishing.
        for (int tries = 0; tries < 300 && rec.framesWritten() < n; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    SF_INFO info;
    const auto samples = readSound(file, info);
    ASSERT_EQ(info.frames, n);
    for (int i = 0; i < n; i += 997) {
        EXPECT_EQ(samples[2 * i], leftSample(i));
        EXPECT_EQ(samples[2 * i + 1], rightSample(i));
    }
    const auto b = readBytes(file);
    EXPECT_EQ(le32(b, 4), b.size() - 8);
}

TEST_F(WavRecorderTest, AKilledFastRecordingLeavesSizesCloseBehindItsData) {
    // An offline render writes far faster than real time: a kill must not leave megabytes of audio
    // under a header that says the file is nearly empty.
    const std::string file = path("killed.wav");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WavRecorder rec;
        rec.setBlockingWhenFull(true);
        if (rec.open(file.c_str(), 44100, 16, 2) != 0)
            ::_exit(1);
        std::vector<std::int16_t> block(2 * 4096, 1000);
        for (;;)
            rec.writeFrames(block.data(), 4096);
    }
    while (fs::exists(file) ? fs::file_size(file) < 8u << 20 : true)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto b = readBytes(file);
    const std::uint64_t data = b.size() - 44;
    EXPECT_GE(le32(b, 40) + (2u << 20), data) << "the header fell more than 2 MiB behind";
    EXPECT_LE(le32(b, 40), data);
}

TEST_F(WavRecorderTest, SizeLimitStopsCleanlyWithAValidFile) {
    WavRecorder rec(64, 4002); // a data chunk of at most 1000 whole frames
    rec.setBlockingWhenFull(true);
    ASSERT_EQ(rec.open(path("big.wav").c_str(), 44100, 16, 2), 0);
    int refused = 0;
    for (int i = 0; i < 3000; ++i)
        refused += rec.writeFrame(i, i) != 0;
    EXPECT_EQ(rec.finish(), 3);
    EXPECT_TRUE(rec.stoppedAtSizeLimit());
    EXPECT_FALSE(rec.lastError().empty());
    EXPECT_GT(refused, 0); // the render learns that its frames are no longer recorded
    EXPECT_EQ(rec.framesWritten(), 1000u);
    const auto b = readBytes(path("big.wav"));
    expectSizes(b, 4000u);

    // The next recording starts afresh.
    ASSERT_EQ(rec.open(path("next.wav").c_str(), 44100, 16, 2), 0);
    EXPECT_FALSE(rec.stoppedAtSizeLimit());
    EXPECT_EQ(rec.finish(), 0);
}

TEST_F(WavRecorderTest, EveryFrameIsWrittenOrCountedAsDropped) {
    constexpr int n = 20000;
    WavRecorder rec(2); // a tiny ring that the writer cannot keep up with
    ASSERT_EQ(rec.open(path("drop.wav").c_str(), 44100, 16, 2), 0);
    int refused = 0;
    for (int i = 0; i < n; ++i)
        refused += rec.writeFrame(i, i) == 3;
    EXPECT_EQ(rec.finish(), 3);
    EXPECT_GT(rec.framesDropped(), 0u);
    EXPECT_EQ(rec.framesDropped(), static_cast<std::uint64_t>(refused));
    EXPECT_EQ(rec.framesWritten() + rec.framesDropped(), static_cast<std::uint64_t>(n));
    EXPECT_NE(rec.lastError().find(std::to_string(rec.framesDropped())), std::string::npos)
        << rec.lastError();
    const auto b = readBytes(path("drop.wav"));
    EXPECT_EQ(le32(b, 40), 4 * rec.framesWritten());
}

} // namespace
