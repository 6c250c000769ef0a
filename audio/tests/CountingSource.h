// A test source for the sound output: a counting signal whose every frame can be checked.
// render() runs on the audio thread; the counters may be read from any thread.
#pragma once

#include "audio/Output.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

/// Writes a counting signal (left = n, right = −n, n from 1) and records what it was asked for.
struct CountingSource final : audio::Source {
    std::atomic<int> calls{0};
    std::atomic<int> lastFrames{-1};
    std::atomic<bool> inside{false};
    int next = 1;
    std::chrono::microseconds work{0}; ///< busy time per call, to load the audio thread

    /// The value that follows n: 1, 2, … 30000, 1, …
    static int after(int n) { return n % 30000 + 1; }

    void render(std::int16_t* interleavedStereo, int frames) override {
        inside = true;
        calls++;
        lastFrames = frames;
        for (int frame = 0; frame < frames; ++frame) {
            interleavedStereo[2 * frame] = static_cast<std::int16_t>(next);
            interleavedStereo[2 * frame + 1] = static_cast<std::int16_t>(-next);
            next = after(next);
        }
        const auto end = std::chrono::steady_clock::now() + work;
        while (std::chrono::steady_clock::now() < end) {
        }
        inside = false;
    }

    /// The call count stays put for a while, and no call is under way.
    bool staysSilent() const {
        const int before = calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return calls == before && !inside;
    }
};
