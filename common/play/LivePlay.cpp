// Live play: a source that counts the frames it hands out, and the wait for them on the calling thread.
#include "common/play/LivePlay.h"

#include "audio/AudioOutput.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace common {
namespace {

constexpr int kSampleRate = 44100;
constexpr int kLatencyMilliseconds = 50;
// The load poll that also notices a lost device (the window polls twice a second; this is quicker).
constexpr std::chrono::milliseconds kPollInterval{10};

/// The engine's frames up to the length, then silence; counts what it handed out.
class CountedSource final : public audio::Source {
  public:
    CountedSource(const std::function<void(std::int16_t*, int)>& fill, std::int64_t length)
        : fill_(fill), length_(length) {}

    void render(std::int16_t* out, int frames) override {
        const std::int64_t done = played_.load(std::memory_order_relaxed);
        const int engineFrames =
            length_ > 0 ? static_cast<int>(std::min<std::int64_t>(frames, length_ - done)) : frames;
        if (engineFrames > 0)
            fill_(out, engineFrames);
        std::fill(out + 2 * static_cast<std::ptrdiff_t>(std::max(engineFrames, 0)), out + 2 * frames,
                  std::int16_t{0});
        played_.store(done + std::max(engineFrames, 0), std::memory_order_release);
    }

    std::int64_t played() const { return played_.load(std::memory_order_acquire); }

  private:
    const std::function<void(std::int16_t*, int)>& fill_;
    const std::int64_t length_;
    std::atomic<std::int64_t> played_{0};
};

} // namespace

int playLive(std::string_view program, const RenderArguments& args, std::uint32_t seed,
             audio::AudioOutput* given, const std::function<void(std::int16_t* out, int frames)>& fill,
             MidiBus* midi) {
    std::unique_ptr<audio::AudioOutput> own;
    audio::AudioOutput& output =
        given ? *given : *(own = std::make_unique<audio::AudioOutput>(std::string(program)));
    const InterruptCatcher interrupts;
    CountedSource source(fill, args.frames);
    output.start(source, {args.deviceIndex, args.blockFrames, kLatencyMilliseconds, true, midi});
    const std::string device = output.playsSilently() ? "no device (silent)" : output.playingDevice();
    std::printf("%.*s: playing on %s, seed %u\n", static_cast<int>(program.size()), program.data(),
                device.c_str(), static_cast<unsigned>(seed));
    std::fflush(stdout);

    // Once the last frame is handed out, the device still holds up to a block and its latency.
    const auto tail = std::chrono::milliseconds(kLatencyMilliseconds) +
                      std::chrono::milliseconds(1000LL * args.blockFrames / kSampleRate + 20);
    std::chrono::steady_clock::time_point allHandedOut{};
    while (!interrupts.caught()) {
        output.cpuLoadPercent();
        if (args.frames > 0 && source.played() >= args.frames) {
            const auto now = std::chrono::steady_clock::now();
            if (allHandedOut == std::chrono::steady_clock::time_point{})
                allHandedOut = now;
            if (now - allHandedOut >= tail)
                break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    output.stop();
    const std::int64_t played = source.played();
    std::printf("%.*s: played %lld frames (%.2f s)\n", static_cast<int>(program.size()), program.data(),
                static_cast<long long>(played), static_cast<double>(played) / kSampleRate);
    std::fflush(stdout);
    return interrupts.caught() ? 128 + interrupts.caught() : kExitOk;
}

} // namespace common
