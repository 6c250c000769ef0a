// A test source for the audio output service: a counting signal whose every frame can be checked.
// render() runs on the audio thread; the counters may be read from any thread.
#pragma once

#include "audio/AudioOutput.h"

#include <atomic>
#include <chrono>
#include <cstdint>

/// Writes a counting signal (left = n, right = −n, n from 1) and records what it was handed.
struct CountingSource {
    std::atomic<int> calls{0};
    std::atomic<int> lastLength{-1};
    std::atomic<bool> inside{false};
    int next = 1;
    std::chrono::microseconds work{0}; ///< busy time per callback, to load the audio thread

    /// The value that follows n: 1, 2, … 30000, 1, …
    static int after(int n) { return n % 30000 + 1; }

    static signed char render(FSOUND_STREAM*, void* buffer, int lengthBytes, void* user) {
        auto* self = static_cast<CountingSource*>(user);
        self->inside = true;
        self->calls++;
        self->lastLength = lengthBytes;
        auto* bytes = static_cast<unsigned char*>(buffer);
        for (int frame = 0; frame < lengthBytes / 4; ++frame) {
            const auto left = static_cast<std::uint16_t>(self->next);
            const auto right = static_cast<std::uint16_t>(-self->next);
            bytes[4 * frame + 0] = static_cast<unsigned char>(left & 0xff);
            bytes[4 * frame + 1] = static_cast<unsigned char>(left >> 8);
            bytes[4 * frame + 2] = static_cast<unsigned char>(right & 0xff);
            bytes[4 * frame + 3] = static_cast<unsigned char>(right >> 8);
            self->next = after(self->next);
        }
        if (self->work.count() > 0) {
            const auto end = std::chrono::steady_clock::now() + self->work;
            while (std::chrono::steady_clock::now() < end) {
            }
        }
        self->inside = false;
        return 1;
    }
};
