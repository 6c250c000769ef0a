// The audio output service's contract, driven through a fake device and the paced null output.
#include "audio/AudioBackend.h"
#include "audio/AudioOutput.h"
#include "audio/tests/CountingSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

/// A device the test drives: it records what it was asked for and pulls when the test says so,
/// or from its own thread; it can refuse to open, and its stop can hang like a lost device's.
class FakeDevice final : public audio::Backend {
public:
    std::vector<std::string> events;
    audio::DeviceRequest request;
    bool failStart = false;
    bool hangStop = false;
    std::promise<void> releaseStop;

    ~FakeDevice() override { endPump(); }

    int deviceCount() override { return 2; }
    const char* deviceName(int index) override { return index == 0 ? "Fake: default" : "Fake: second"; }
    std::string openDeviceName() override { return deviceName(request.deviceIndex); }

    bool start(const audio::DeviceRequest& r, audio::PullFunction p, void* c, std::string& error) override {
        events.push_back("start");
        request = r;
        if (failStart) {
            error = "refused";
            return false;
        }
        pull = p;
        context = c;
        return true;
    }

    void stop() override {
        events.push_back("stop");
        if (hangStop) {
            // A lost device: the stop never comes back, and its thread may still be calling.
            releaseStop.get_future().wait();
            return;
        }
        endPump();
        pull = nullptr;
    }

    std::vector<std::int16_t> pullFrames(int frames) {
        std::vector<std::int16_t> out(static_cast<size_t>(frames) * 2, 0x5555);
        pull(out.data(), frames, context);
        return out;
    }

    /// Pulls 64 frames every half millisecond from its own thread until stopped.
    void startPump() {
        pumping = true;
        auto p = pull;
        auto c = context;
        pump = std::thread([this, p, c] {
            std::vector<std::int16_t> out(128);
            while (pumping) {
                p(out.data(), 64, c);
                std::this_thread::sleep_for(500us);
            }
        });
    }

    void endPump() {
        pumping = false;
        if (pump.joinable()) pump.join();
    }

    audio::PullFunction pull = nullptr;
    void* context = nullptr;

private:
    std::atomic<bool> pumping{false};
    std::thread pump;
};

class AudioOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeDevice>();
        fake = owned.get();
        audio::setBackendForTesting(std::move(owned));
        audio::setDeviceTimeoutForTesting(2000ms);
    }

    void TearDown() override {
        for (FSOUND_STREAM* stream : created) FSOUND_Stream_Close(stream);
        audio::setBackendForTesting(nullptr);
    }

    FSOUND_STREAM* create(CountingSource& source, int lengthBytes) {
        FSOUND_STREAM* stream = FSOUND_Stream_Create(&CountingSource::render, lengthBytes, 121, 44100, &source);
        created.push_back(stream);
        return stream;
    }

    void startOutput(int bufferMilliseconds = 40, int driver = 0) {
        FSOUND_SetOutput(2);
        FSOUND_SetBufferSize(bufferMilliseconds);
        FSOUND_SetDriver(driver);
        ASSERT_TRUE(FSOUND_Init(44100, 16, 0));
    }

    static bool waitFor(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    /// Callback count stays put for a while.
    static bool staysSilent(const CountingSource& source) {
        const int before = source.calls;
        std::this_thread::sleep_for(30ms);
        return source.calls == before && !source.inside;
    }

    FakeDevice* fake = nullptr;
    std::vector<FSOUND_STREAM*> created;
};

class BlockLengthTest : public AudioOutputTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlockLengthTest, DeviceHearsEveryWrittenFrameInOrderWhateverSlicesItAsksFor) {
    const int lengthBytes = GetParam();
    const int blockFrames = lengthBytes / 4;
    CountingSource source;
    startOutput();
    FSOUND_STREAM* stream = create(source, lengthBytes);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(FSOUND_Stream_Play(-1, stream), 0);
    EXPECT_EQ(fake->request.blockFrames, blockFrames);

    const int slices[] = {1, 7, 64, 513, 4096, 2};
    int expected = 1;
    int pulled = 0;
    for (int round = 0; round < 12; ++round) {
        const int frames = slices[round % 6];
        const std::vector<std::int16_t> out = fake->pullFrames(frames);
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(out[2 * i], expected) << "frame " << pulled + i;
            ASSERT_EQ(out[2 * i + 1], -expected) << "frame " << pulled + i;
            expected = CountingSource::after(expected);
        }
        pulled += frames;
    }
    EXPECT_EQ(source.lastLength, lengthBytes);
    EXPECT_EQ(source.calls, (pulled + blockFrames - 1) / blockFrames);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockLengthTest, ::testing::Values(4, 7, 4001, 8192));

TEST_F(AudioOutputTest, StreamShorterThanOneFrameGetsItsCallbackAndPlaysSilence) {
    CountingSource source;
    startOutput();
    FSOUND_STREAM* stream = create(source, 3);
    ASSERT_NE(stream, nullptr);
    ASSERT_GE(FSOUND_Stream_Play(0, stream), 0);
    const std::vector<std::int16_t> out = fake->pullFrames(300);
    EXPECT_EQ(source.lastLength, 3);
    EXPECT_GE(source.calls, 1);
    for (std::int16_t sample : out) ASSERT_EQ(sample, 0);
}

TEST_F(AudioOutputTest, BufferSizeDriverAndStreamLengthReachTheDevice) {
    CountingSource source;
    startOutput(40, 1);
    ASSERT_GE(FSOUND_Stream_Play(-1, create(source, 8192)), 0);
    EXPECT_EQ(fake->request.deviceIndex, 1);
    EXPECT_EQ(fake->request.blockFrames, 2048);
    EXPECT_EQ(fake->request.sampleRate, 44100);
    EXPECT_DOUBLE_EQ(fake->request.latencySeconds, 0.040);
    EXPECT_STREQ(audio::currentDeviceName(), "Fake: second");
    EXPECT_FALSE(audio::usingNullOutput());
}

TEST_F(AudioOutputTest, StreamCreatedBeforeInitPlaysAfterIt) {
    CountingSource source;
    FSOUND_STREAM* stream = create(source, 4000);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(0, stream), -1) << "no output before init";
    startOutput(50);
    ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
    fake->pullFrames(1000);
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(source.lastLength, 4000);
}

TEST_F(AudioOutputTest, RepeatedInitStopsTheOldStreamBeforeTheNewOneOpens) {
    CountingSource first;
    CountingSource second;
    startOutput();
    FSOUND_STREAM* old = create(first, 8192);
    ASSERT_GE(FSOUND_Stream_Play(-1, old), 0);
    fake->startPump();
    ASSERT_TRUE(waitFor([&] { return first.calls >= 2; }));

    startOutput();
    EXPECT_TRUE(staysSilent(first)) << "a callback of the old stream ran after the new init";
    FSOUND_STREAM* replacement = create(second, 4096);
    ASSERT_GE(FSOUND_Stream_Play(-1, replacement), 0);
    EXPECT_EQ(fake->events, (std::vector<std::string>{"start", "stop", "start"}));
    fake->startPump();
    ASSERT_TRUE(waitFor([&] { return second.calls >= 2; }));
    EXPECT_TRUE(staysSilent(first));
    EXPECT_EQ(second.lastLength, 4096);
}

TEST_F(AudioOutputTest, StopReturnsOnlyOnceNoCallbackRuns) {
    CountingSource source;
    source.work = 5ms;
    startOutput();
    FSOUND_STREAM* stream = create(source, 1024);
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    fake->startPump();
    ASSERT_TRUE(waitFor([&] { return source.inside.load(); }));
    EXPECT_TRUE(FSOUND_Stream_Stop(stream));
    EXPECT_FALSE(source.inside);
    EXPECT_TRUE(staysSilent(source));
    // A stopped stream can play again.
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    fake->pullFrames(256);
    EXPECT_GT(source.calls, 0);
}

TEST_F(AudioOutputTest, EveryOperationAcceptsNullAndStaleHandles) {
    EXPECT_EQ(FSOUND_Stream_Create(nullptr, 4000, 121, 44100, nullptr), nullptr);
    CountingSource source;
    EXPECT_EQ(FSOUND_Stream_Create(&CountingSource::render, 0, 121, 44100, &source), nullptr);
    EXPECT_EQ(FSOUND_Stream_Create(&CountingSource::render, -4, 121, 44100, &source), nullptr);
    startOutput();
    EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);
    EXPECT_FALSE(FSOUND_Stream_Stop(nullptr));
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr));

    FSOUND_STREAM* stream = FSOUND_Stream_Create(&CountingSource::render, 64, 121, 44100, &source);
    ASSERT_GE(FSOUND_Stream_Play(0, stream), 0);
    EXPECT_TRUE(FSOUND_Stream_Close(stream));
    // The same handle again, after it was closed, is refused rather than used.
    EXPECT_FALSE(FSOUND_Stream_Close(stream));
    EXPECT_EQ(FSOUND_Stream_Play(0, stream), -1);
    EXPECT_FALSE(FSOUND_Stream_Stop(stream));
    EXPECT_FLOAT_EQ(FSOUND_GetCPUUsage(), 0.0f);
    FSOUND_Close();
    FSOUND_Close();
}

TEST_F(AudioOutputTest, DeviceThatFailsToOpenLeavesThePacedNullOutputPlaying) {
    fake->failStart = true;
    CountingSource source;
    startOutput();
    ASSERT_GE(FSOUND_Stream_Play(-1, create(source, 512)), 0);
    EXPECT_TRUE(audio::usingNullOutput());
    EXPECT_STREQ(audio::currentDeviceName(), "");
    EXPECT_TRUE(waitFor([&] { return source.calls >= 3; })) << "the clock must keep running without a device";
}

TEST_F(AudioOutputTest, LostDeviceWhoseStopHangsDoesNotHangTheWindow) {
    audio::setDeviceTimeoutForTesting(100ms);
    fake->hangStop = true;
    CountingSource source;
    startOutput();
    FSOUND_STREAM* stream = create(source, 256);
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    FakeDevice* lost = fake;
    lost->startPump();
    ASSERT_TRUE(waitFor([&] { return source.calls >= 2; }));

    EXPECT_TRUE(FSOUND_Stream_Stop(stream));
    // The lost device's thread still calls, but the stream hears nothing of it.
    EXPECT_TRUE(staysSilent(source));

    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    EXPECT_TRUE(audio::usingNullOutput());
    EXPECT_TRUE(waitFor([&] { return source.calls >= 4; }));

    FSOUND_Close();
    lost->releaseStop.set_value();
    lost->endPump();
}

TEST_F(AudioOutputTest, DeviceThatStopsCallingIsReplacedByTheNullOutputOnTheLoadPoll) {
    audio::setDeviceTimeoutForTesting(100ms);
    CountingSource source;
    startOutput(0);
    ASSERT_GE(FSOUND_Stream_Play(-1, create(source, 256)), 0);
    fake->startPump();
    ASSERT_TRUE(waitFor([&] { return source.calls >= 2; }));
    FSOUND_GetCPUUsage();
    EXPECT_FALSE(audio::usingNullOutput()) << "a device that plays is kept";

    fake->endPump();
    EXPECT_TRUE(waitFor([] {
        FSOUND_GetCPUUsage();
        std::this_thread::sleep_for(20ms);
        return audio::usingNullOutput();
    }));
    const int before = source.calls;
    EXPECT_TRUE(waitFor([&] { return source.calls >= before + 2; })) << "the clock must keep running";
}

TEST_F(AudioOutputTest, OutputTypeZeroPlaysTheNullOutputNeverFasterThanRealTime) {
    CountingSource source;
    FSOUND_SetOutput(0);
    ASSERT_TRUE(FSOUND_Init(44100, 2, 0));
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_GE(FSOUND_Stream_Play(0, create(source, 441 * 4)), 0);
    EXPECT_TRUE(audio::usingNullOutput());
    EXPECT_TRUE(fake->events.empty()) << "sound off must not open the device";
    std::this_thread::sleep_for(200ms);
    const int calls = source.calls;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // 10 ms blocks: at most one per 10 ms elapsed, plus the one it starts with.
    EXPECT_LE(calls, static_cast<int>(elapsed / 0.010) + 1);
    EXPECT_GE(calls, 1);
}

TEST_F(AudioOutputTest, LoadIsTheShareOfRealTimeSpentInTheCallback) {
    CountingSource source;
    startOutput();
    ASSERT_GE(FSOUND_Stream_Play(0, create(source, 441 * 4)), 0);
    for (int i = 0; i < 60; ++i) fake->pullFrames(441);
    EXPECT_LT(FSOUND_GetCPUUsage(), 20.0f);

    // 6 ms of work per 10 ms block.
    source.work = 6ms;
    for (int i = 0; i < 60; ++i) fake->pullFrames(441);
    EXPECT_GT(FSOUND_GetCPUUsage(), 40.0f);
}

} // namespace
