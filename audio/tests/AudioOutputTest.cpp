// The sound output's contract, driven through a fake device and the silent output.
#include "audio/AudioOutput.h"
#include "audio/AudioBackend.h"
#include "audio/tests/CountingSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

/// A device the test drives: it records what it was asked for, pulls when the test says so or from its
/// own thread, and its stop can hang as a lost device's does. The output owns it, and never frees it
/// after a hung stop, so the call it gave up waiting for may still finish after the test (the test
/// ends the device's thread and the hang itself, see ~AudioOutputTest).
class FakeDevice final : public audio::Backend {
  public:
    std::vector<std::string> events;
    audio::DeviceRequest request;
    std::atomic<bool> hangStop{false}; ///< until set false again

    ~FakeDevice() override { endPump(); }

    int deviceCount() override { return 2; }
    const char* deviceName(int index) override {
        return index == 0 ? "Fake: default" : index == 1 ? "Fake: second" : nullptr;
    }
    std::string openDeviceName() override { return deviceName(request.deviceIndex); }
    void leadTransport(bool lead) override { events.push_back(lead ? "lead" : "follow"); }
    void rollTransport(bool roll, bool fromStart) override {
        events.push_back(roll ? (fromStart ? "roll from start" : "roll") : "halt");
    }

    bool start(const audio::DeviceRequest& r, audio::PullFunction pull, void* context,
               std::string&) override {
        events.push_back("start");
        request = r;
        pull_ = pull;
        context_ = context;
        return true;
    }

    void stop() override {
        events.push_back("stop");
        if (hangStop) {
            // A lost device: the stop does not come back, and its thread may still be calling.
            while (hangStop)
                std::this_thread::sleep_for(1ms);
            return;
        }
        endPump();
        pull_ = nullptr;
    }

    /// Pulls frames on the calling thread, as the device's thread would.
    std::vector<std::int16_t> pullFrames(int frames) {
        std::vector<std::int16_t> out(static_cast<size_t>(frames) * 2, 0x5555);
        pull_(out.data(), frames, context_);
        return out;
    }

    /// Pulls 64 frames every half millisecond from the device's own thread, until its stop.
    void startPump() {
        pumping_ = true;
        pump_ = std::thread([this, pull = pull_, context = context_] {
            std::vector<std::int16_t> out(128);
            while (pumping_) {
                pull(out.data(), 64, context);
                std::this_thread::sleep_for(500us);
            }
        });
    }

    void endPump() {
        pumping_ = false;
        if (pump_.joinable())
            pump_.join();
    }

  private:
    audio::PullFunction pull_ = nullptr;
    void* context_ = nullptr;
    std::atomic<bool> pumping_{false};
    std::thread pump_;
};

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + 5s;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class AudioOutputTest : public ::testing::Test {
  protected:
    ~AudioOutputTest() override {
        // Before the sources go (and even when a test failed half-way), no pull may reach them.
        device->hangStop = false;
        device->endPump();
    }

    /// Starts `source` at `blockFrames` on the second device and runs the device's own thread.
    void play(CountingSource& source, int blockFrames) {
        output.start(source, {1, blockFrames, 40});
        device->startPump();
        ASSERT_TRUE(waitFor([&] { return source.calls >= 2; }));
    }

    CountingSource first;
    CountingSource second;
    FakeDevice* device = new FakeDevice; // owned by the output
    audio::AudioOutput output{std::unique_ptr<audio::Backend>(device), 2000ms};
};

class BlockLengthTest : public AudioOutputTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlockLengthTest, DeviceHearsEveryRenderedFrameInOrderWhateverSlicesItAsksFor) {
    const int blockFrames = GetParam();
    output.start(first, {1, blockFrames, 40});
    const audio::DeviceRequest& r = device->request;
    EXPECT_EQ(std::tuple(r.blockFrames, r.deviceIndex, r.sampleRate), std::tuple(blockFrames, 1, 44100));
    EXPECT_DOUBLE_EQ(r.latencySeconds, 0.040);
    EXPECT_EQ(output.playingDevice(), "Fake: second");

    int expected = 1;
    int pulled = 0;
    for (const int frames : {1, 7, 64, 513, 4096, 2, 1, 7, 64, 513, 4096, 2}) {
        const std::vector<std::int16_t> out = device->pullFrames(frames);
        for (int i = 0; i < frames; ++i, ++pulled) {
            ASSERT_EQ(out[2 * i], expected) << "frame " << pulled;
            ASSERT_EQ(out[2 * i + 1], -expected) << "frame " << pulled;
            expected = CountingSource::after(expected);
        }
    }
    EXPECT_EQ(first.lastFrames, blockFrames);
    EXPECT_EQ(first.calls, (pulled + blockFrames - 1) / blockFrames);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockLengthTest, ::testing::Values(1, 1000, 2048));

TEST_F(AudioOutputTest, RepeatedStartStopsTheOldSourceBeforeTheNewOneOpens) {
    play(first, 2048);
    output.start(second, {1, 1024, 40});
    EXPECT_EQ(device->events, (std::vector<std::string>{"start", "stop", "start"}));
    EXPECT_TRUE(first.staysSilent()) << "the old source was called after the new start";
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return second.calls >= 2; }));
    EXPECT_TRUE(first.staysSilent());
    EXPECT_EQ(second.lastFrames, 1024);
}

TEST_F(AudioOutputTest, StopReturnsOnlyOnceNoRenderRunsAndTheSourceCanPlayAgain) {
    first.work = 5ms;
    play(first, 256);
    ASSERT_TRUE(waitFor([&] { return first.inside.load(); }));
    output.stop();
    EXPECT_FALSE(first.inside);
    EXPECT_TRUE(first.staysSilent());
    output.stop(); // a second stop is harmless
    EXPECT_FLOAT_EQ(output.cpuLoadPercent(), 0.0f);
    output.start(first, {0, 256, 40});
    const int before = first.calls;
    device->pullFrames(256);
    EXPECT_EQ(first.calls, before + 1);
}

TEST_F(AudioOutputTest, LostDeviceIsReplacedByTheSilentOutputWithoutHangingTheWindow) {
    for (const bool hangs : {false, true}) {
        SCOPED_TRACE(hangs ? "its stop hangs" : "it stops calling");
        device->hangStop = hangs;
        play(first, 64);
        output.cpuLoadPercent();
        EXPECT_FALSE(output.playsSilently()) << "a device that plays is kept";
        if (hangs) {
            output.stop(); // gives up on the device after the timeout
            // The lost device's thread still calls, but the source hears nothing of it.
            EXPECT_TRUE(first.staysSilent());
            output.start(first, {0, 64, 40});
        } else {
            device->endPump();
            EXPECT_TRUE(waitFor([&] {
                output.cpuLoadPercent();
                std::this_thread::sleep_for(20ms);
                return output.playsSilently();
            }));
        }
        EXPECT_TRUE(output.playsSilently());
        const int before = first.calls;
        EXPECT_TRUE(waitFor([&] { return first.calls >= before + 2; })) << "the clock must keep running";
    }
}

TEST_F(AudioOutputTest, LoadIsTheShareOfRealTimeSpentInRender) {
    output.start(first, {0, 441, 40});
    for (int block = 0; block < 60; ++block)
        device->pullFrames(441);
    EXPECT_LT(output.cpuLoadPercent(), 20.0f);
    first.work = 6ms; // of every 10 ms block
    for (int block = 0; block < 60; ++block)
        device->pullFrames(441);
    EXPECT_GT(output.cpuLoadPercent(), 40.0f);
}

TEST_F(AudioOutputTest, TransportCallsReachOnlyTheDeviceThatPlays) {
    output.rollTransport(true); // nothing plays: nothing to ask
    output.leadTransport(true);
    EXPECT_TRUE(device->events.empty());
    output.start(first, {0, 64, 40});
    EXPECT_FALSE(device->request.leadTransport) << "the stream's settings say what it leads";
    output.leadTransport(true);
    output.rollTransport(true, true);
    output.rollTransport(false);
    EXPECT_EQ(device->events, (std::vector<std::string>{"start", "lead", "roll from start", "halt"}));
}

} // namespace
