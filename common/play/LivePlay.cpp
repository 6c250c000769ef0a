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
#include <vector>

namespace common {
namespace {

using audio::kSampleRate;
constexpr int kLatencyMilliseconds = 50;
// The load poll that also notices a lost device (the window polls twice a second; this is quicker).
constexpr std::chrono::milliseconds kPollInterval{10};

/// The engine's frames up to the length, then silence while the engine renders on unheard (its MIDI
/// still going out on its frames); counts what it handed out and its calls.
class CountedSource final : public audio::Source {
  public:
    CountedSource(const std::function<void(std::int16_t*, int)>& fill, std::int64_t length, int blockFrames)
        : fill_(fill), length_(length), unheard_(2 * static_cast<std::size_t>(blockFrames)) {}

    void render(std::int16_t* out, int frames) override {
        const std::int64_t done = played_.load(std::memory_order_relaxed);
        const int heard =
            length_ > 0 ? static_cast<int>(std::clamp<std::int64_t>(length_ - done, 0, frames)) : frames;
        if (heard > 0)
            fill_(out, heard);
        std::fill(out + 2 * static_cast<std::ptrdiff_t>(heard), out + 2 * frames, std::int16_t{0});
        // The output asks for whole blocks: the scratch holds one.
        if (heard < frames && static_cast<std::size_t>(2 * (frames - heard)) <= unheard_.size())
            fill_(unheard_.data(), frames - heard);
        played_.store(done + heard, std::memory_order_release);
        calls_.fetch_add(1, std::memory_order_release);
    }

    std::int64_t played() const { return played_.load(std::memory_order_acquire); }
    std::uint64_t calls() const { return calls_.load(std::memory_order_acquire); }

  private:
    const std::function<void(std::int16_t*, int)>& fill_;
    const std::int64_t length_;
    std::vector<std::int16_t> unheard_;
    std::atomic<std::int64_t> played_{0};
    std::atomic<std::uint64_t> calls_{0};
};

} // namespace

/// The stream live play asks for, before its MIDI and transport.
audio::StreamSettings liveStream(const RenderArguments& args) {
    return {args.deviceIndex, args.blockFrames, kLatencyMilliseconds, true};
}

int liveLatencyFrames(const RenderArguments& args) {
    return audio::framesUntilHeard(liveStream(args));
}

int playLive(std::string_view program, const RenderArguments& args, std::uint32_t seed,
             audio::AudioOutput* given, const std::function<void(std::int16_t* out, int frames)>& fill,
             MidiBus* midi, const std::function<void()>& stopEngine, audio::JackTransport* transport,
             bool leadTransport) {
    std::unique_ptr<audio::AudioOutput> own;
    audio::AudioOutput& output =
        given ? *given : *(own = std::make_unique<audio::AudioOutput>(std::string(program)));
    const InterruptCatcher interrupts;
    CountedSource source(fill, args.frames, args.blockFrames);
    audio::StreamSettings stream = liveStream(args);
    stream.midi = midi;
    stream.transport = transport;
    stream.leadTransport = leadTransport;
    output.start(source, stream);
    if (leadTransport)
        output.rollTransport(true, true);
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
    if (leadTransport)
        output.rollTransport(false); // the engine follows it: its Stop goes out in the blocks below
    if (stopEngine) {
        // Two more blocks: the stop is taken in one, whatever block was being rendered when it came.
        stopEngine();
        const std::uint64_t calls = source.calls();
        const auto deadline = std::chrono::steady_clock::now() + tail + std::chrono::milliseconds(500);
        while (source.calls() < calls + 2 && std::chrono::steady_clock::now() < deadline) {
            output.cpuLoadPercent();
            std::this_thread::sleep_for(kPollInterval);
        }
        std::this_thread::sleep_for(tail); // the device plays what it holds of them
    }
    output.stop();
    const std::int64_t played = source.played();
    std::printf("%.*s: played %lld frames (%.2f s)\n", static_cast<int>(program.size()), program.data(),
                static_cast<long long>(played), static_cast<double>(played) / kSampleRate);
    std::fflush(stdout);
    return interrupts.caught() ? 128 + interrupts.caught() : kExitOk;
}

} // namespace common
