// The sound output's contract, driven through a fake device and the silent output.
#include "audio/AudioOutput.h"
#include "audio/AudioBackend.h"
#include "audio/tests/CountingSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

/// A device the test drives: it records what it was asked for, pulls when the test says so or from its
/// own thread, can refuse to open, and its stop can hang as a lost device's does. The output gets a
/// stand-in that shares it, so that a device call the output gave up waiting for may still finish
/// after the test; the test ends the device's thread itself (see ~AudioOutputTest).
class FakeDevice : public std::enable_shared_from_this<FakeDevice> {
  public:
    std::vector<std::string> events;
    audio::DeviceRequest request;
    bool failStart = false;
    bool hangStop = false;

    ~FakeDevice() {
        releaseStop();
        endPump();
    }

    std::unique_ptr<audio::Backend> backend() { return std::make_unique<StandIn>(shared_from_this()); }

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

    /// Lets a hanging stop return.
    void releaseStop() {
        std::call_once(releaseOnce_, [this] { release_.set_value(); });
    }

  private:
    class StandIn final : public audio::Backend {
      public:
        explicit StandIn(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {}
        int deviceCount() override { return 2; }
        const char* deviceName(int index) override {
            return index == 0 ? "Fake: default" : index == 1 ? "Fake: second" : nullptr;
        }
        std::string openDeviceName() override { return deviceName(device_->request.deviceIndex); }
        bool start(const audio::DeviceRequest& request, audio::PullFunction pull, void* context,
                   std::string& error) override {
            return device_->start(request, pull, context, error);
        }
        void stop() override { device_->stop(); }
        void leadTransport(bool lead) override { device_->events.push_back(lead ? "lead" : "follow"); }
        void rollTransport(bool roll, bool fromStart) override {
            device_->events.push_back(roll ? (fromStart ? "roll from start" : "roll") : "halt");
        }

      private:
        std::shared_ptr<FakeDevice> device_;
    };

    bool start(const audio::DeviceRequest& request, audio::PullFunction pull, void* context,
               std::string& error) {
        events.push_back("start");
        this->request = request;
        if (failStart) {
            error = "refused";
            return false;
        }
        pull_ = pull;
        context_ = context;
        return true;
    }

    void stop() {
        events.push_back("stop");
        if (hangStop) {
            // A lost device: the stop does not come back, and its thread may still be calling.
            std::shared_future<void> released = released_;
            released.wait();
            return;
        }
        endPump();
        pull_ = nullptr;
    }

    audio::PullFunction pull_ = nullptr;
    void* context_ = nullptr;
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
    std::once_flag releaseOnce_;
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
        device->releaseStop();
        device->endPump();
    }

    audio::StreamSettings settings(int blockFrames, int deviceIndex = 0) const {
        return {deviceIndex, blockFrames, 40};
    }

    CountingSource first;
    CountingSource second;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    audio::AudioOutput output{device->backend(), 2000ms};
};

class BlockLengthTest : public AudioOutputTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlockLengthTest, DeviceHearsEveryRenderedFrameInOrderWhateverSlicesItAsksFor) {
    const int blockFrames = GetParam();
    output.start(first, settings(blockFrames, 1));
    EXPECT_EQ(device->request.blockFrames, blockFrames);
    EXPECT_EQ(device->request.deviceIndex, 1);
    EXPECT_EQ(device->request.sampleRate, 44100);
    EXPECT_DOUBLE_EQ(device->request.latencySeconds, 0.040);
    EXPECT_EQ(output.playingDevice(), "Fake: second");

    const int slices[] = {1, 7, 64, 513, 4096, 2};
    int expected = 1;
    int pulled = 0;
    for (int round = 0; round < 12; ++round) {
        const int frames = slices[round % 6];
        const std::vector<std::int16_t> out = device->pullFrames(frames);
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(out[2 * i], expected) << "frame " << pulled + i;
            ASSERT_EQ(out[2 * i + 1], -expected) << "frame " << pulled + i;
            expected = CountingSource::after(expected);
        }
        pulled += frames;
    }
    EXPECT_EQ(first.lastFrames, blockFrames);
    EXPECT_EQ(first.calls, (pulled + blockFrames - 1) / blockFrames);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockLengthTest, ::testing::Values(1, 1000, 2048));

TEST_F(AudioOutputTest, RepeatedStartStopsTheOldSourceBeforeTheNewOneOpens) {
    output.start(first, settings(2048));
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return first.calls >= 2; }));

    output.start(second, settings(1024));
    EXPECT_EQ(device->events, (std::vector<std::string>{"start", "stop", "start"}));
    EXPECT_TRUE(first.staysSilent()) << "the old source was called after the new start";
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return second.calls >= 2; }));
    EXPECT_TRUE(first.staysSilent());
    EXPECT_EQ(second.lastFrames, 1024);
}

TEST_F(AudioOutputTest, StopReturnsOnlyOnceNoRenderRuns) {
    first.work = 5ms;
    output.start(first, settings(256));
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return first.inside.load(); }));
    output.stop();
    EXPECT_FALSE(first.inside);
    EXPECT_TRUE(first.staysSilent());
    output.stop(); // a second stop is harmless
    EXPECT_FLOAT_EQ(output.cpuLoadPercent(), 0.0f);

    // A stopped source can play again.
    output.start(first, settings(256));
    device->pullFrames(256);
    EXPECT_GT(first.calls, 0);
}

TEST_F(AudioOutputTest, DeviceThatFailsToOpenLeavesTheSilentOutputCallingInRealTime) {
    device->failStart = true;
    const auto begin = Clock::now();
    testing::internal::CaptureStderr();
    output.start(first, settings(441)); // 10 ms blocks
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("running without a device"), std::string::npos) << said;
    EXPECT_TRUE(output.playsSilently());
    EXPECT_EQ(output.playingDevice(), "");
    EXPECT_TRUE(waitFor([&] { return first.calls >= 3; })) << "the clock must keep running without a device";
    std::this_thread::sleep_for(200ms);
    const int calls = first.calls;
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    // At most one block per 10 ms elapsed, plus the one it starts with.
    EXPECT_LE(calls, static_cast<int>(elapsed / 0.010) + 1);
}

TEST_F(AudioOutputTest, LostDeviceWhoseStopHangsDoesNotHangTheWindow) {
    audio::AudioOutput quick{device->backend(), 300ms};
    device->hangStop = true;
    quick.start(first, settings(64));
    ASSERT_FALSE(quick.playsSilently());
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return first.calls >= 2; }));

    quick.stop();
    // The lost device's thread still calls, but the source hears nothing of it.
    EXPECT_TRUE(first.staysSilent());

    quick.start(first, settings(64));
    EXPECT_TRUE(quick.playsSilently());
    EXPECT_TRUE(waitFor([&] { return first.calls >= 4; }));
}

TEST_F(AudioOutputTest, DeviceThatStopsCallingIsReplacedByTheSilentOutputOnTheLoadPoll) {
    audio::AudioOutput quick{device->backend(), 300ms};
    quick.start(first, {0, 64, 0});
    ASSERT_FALSE(quick.playsSilently());
    device->startPump();
    ASSERT_TRUE(waitFor([&] { return first.calls >= 2; }));
    quick.cpuLoadPercent();
    EXPECT_FALSE(quick.playsSilently()) << "a device that plays is kept";

    device->endPump();
    EXPECT_TRUE(waitFor([&] {
        quick.cpuLoadPercent();
        std::this_thread::sleep_for(20ms);
        return quick.playsSilently();
    }));
    const int before = first.calls;
    EXPECT_TRUE(waitFor([&] { return first.calls >= before + 2; })) << "the clock must keep running";
}

TEST_F(AudioOutputTest, LoadIsTheShareOfRealTimeSpentInRender) {
    output.start(first, settings(441));
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
    output.start(first, settings(64));
    EXPECT_FALSE(device->request.leadTransport) << "the stream's settings say what it leads";
    output.leadTransport(true);
    output.rollTransport(true, true);
    output.rollTransport(false);
    EXPECT_EQ(device->events, (std::vector<std::string>{"start", "lead", "roll from start", "halt"}));
}

} // namespace
