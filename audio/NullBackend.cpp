// The paced null output: keeps the callbacks coming in real time when no device plays.
#include "audio/AudioBackend.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace audio {
namespace {

constexpr int kMinPeriodFrames = 64;
constexpr int kMaxPeriodFrames = 8192;
// Behind by more than this (the machine slept), the clock restarts instead of catching up in a burst.
constexpr std::chrono::milliseconds kMaxLag{250};

class NullBackend final : public Backend {
  public:
    ~NullBackend() override { stop(); }

    int deviceCount() override { return 0; }
    const char* deviceName(int) override { return nullptr; }
    std::string openDeviceName() override { return "no device"; }

    bool start(const DeviceRequest& request, PullFunction pull, void* context, std::string&) override {
        stop();
        const int period = std::clamp(request.blockFrames, kMinPeriodFrames, kMaxPeriodFrames);
        scratch_.assign(static_cast<size_t>(period) * 2, 0);
        running_ = true;
        const int rate = request.sampleRate > 0 ? request.sampleRate : 44100;
        thread_ = std::thread([this, pull, context, period, rate] { run(pull, context, period, rate); });
        return true;
    }

    void stop() override {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void run(PullFunction pull, void* context, int period, int rate) {
        using Clock = std::chrono::steady_clock;
        const auto periodDuration = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(period) / rate));
        auto next = Clock::now();
        std::unique_lock lock(mutex_);
        while (running_) {
            lock.unlock();
            pull(scratch_.data(), period, context);
            next += periodDuration;
            const auto now = Clock::now();
            if (now - next > kMaxLag)
                next = now;
            lock.lock();
            wake_.wait_until(lock, next, [this] { return !running_; });
        }
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    std::vector<std::int16_t> scratch_;
};

} // namespace

std::unique_ptr<Backend> makeNullBackend() {
    return std::make_unique<NullBackend>();
}

} // namespace audio
