// The stream link: block hand-out, load measure, and the hand-shake that ends the source's callbacks.
#include "audio/StreamLink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace audio {
namespace {

using Clock = std::chrono::steady_clock;
// The load display follows about half a second of audio.
constexpr double kLoadSmoothingSeconds = 0.5;

} // namespace

StreamLink::StreamLink(Source& source, int blockFrames, int sampleRate)
    : source_(&source), blockFrames_(blockFrames),
      blockSeconds_(static_cast<double>(blockFrames) / sampleRate),
      block_(static_cast<size_t>(blockFrames) * 2), readFrame_(blockFrames) {}

void StreamLink::pull(std::int16_t* out, int frames, void* context) {
    auto* link = static_cast<StreamLink*>(context);
    // Sequentially consistent with detach(): either detach sees busy, or this sees no source.
    link->busy_.store(true);
    link->pulls_.store(link->pulls_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (Source* source = link->source_.load()) {
        link->play(*source, out, frames);
    } else {
        std::fill(out, out + static_cast<ptrdiff_t>(frames) * 2, std::int16_t{0});
    }
    link->busy_.store(false, std::memory_order_release);
}

void StreamLink::detach() {
    source_.store(nullptr);
    for (int spins = 0; busy_.load(); ++spins) {
        if (spins < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

void StreamLink::play(Source& source, std::int16_t* out, int frames) {
    while (frames > 0) {
        if (readFrame_ == blockFrames_ && frames >= blockFrames_) {
            // A whole block the device asks for is rendered straight into the device's buffer.
            renderBlock(source, out);
            out += static_cast<ptrdiff_t>(blockFrames_) * 2;
            frames -= blockFrames_;
            continue;
        }
        if (readFrame_ == blockFrames_) {
            renderBlock(source, block_.data());
            readFrame_ = 0;
        }
        const int count = std::min(frames, blockFrames_ - readFrame_);
        std::memcpy(out, block_.data() + static_cast<ptrdiff_t>(readFrame_) * 2,
                    static_cast<size_t>(count) * 2 * sizeof(std::int16_t));
        out += static_cast<ptrdiff_t>(count) * 2;
        readFrame_ += count;
        frames -= count;
    }
}

void StreamLink::renderBlock(Source& source, std::int16_t* block) {
    // A source that leaves frames unwritten plays silence there, not what the buffer held before.
    std::fill(block, block + static_cast<ptrdiff_t>(blockFrames_) * 2, std::int16_t{0});
    const auto begin = Clock::now();
    source.render(block, blockFrames_);
    const double load = std::chrono::duration<double>(Clock::now() - begin).count() / blockSeconds_;
    const double alpha = std::min(1.0, blockSeconds_ / kLoadSmoothingSeconds);
    smoothedLoad_ += static_cast<float>(alpha * (load - smoothedLoad_));
    loadPercent_.store(smoothedLoad_ * 100.0f, std::memory_order_relaxed);
}

} // namespace audio
