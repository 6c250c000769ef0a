// For the long soak runs: how long to run, and how much memory the process holds.
#pragma once

#include "common/Random.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace common::test {

/// Seconds of audio a soak renders: VZ_SOAK_SECONDS, or ten minutes.
inline double soakSeconds() {
    const char* text = std::getenv("VZ_SOAK_SECONDS");
    const double seconds = text ? std::atof(text) : 0.0;
    return seconds > 0 ? seconds : 600.0;
}

/// Resident memory of this process in KiB.
inline long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

/// What a soak hears, with the program's own limits: `largest` is the highest magnitude a sample may
/// have, and an output whose every sample over 10 s is at `stuck` (or beyond) has stuck there.
struct SoakLimits {
    int largest;
    int stuck;
};

/// The soak both programs run: `seconds` of audio in blocks of 1 to 4096 frames rendered by
/// `render(buffer, bytes)`, with `change()` called every 1 to 5 s of audio (random draws from `random`);
/// expects no sample beyond the limits, no 10 s stuck at the clip and memory flat after `warmUpShare`
/// of the run; then `plain()` and 5 s that must still sound.
template <class Render, class Change, class Plain>
void soak(double seconds, SoakLimits limits, double warmUpShare, common::Random& random, Render render,
          Change change, Plain plain) {
    std::vector<std::int16_t> buffer(2 * 4096);
    const auto totalFrames = static_cast<long long>(seconds * 44100);
    constexpr long long kWindowFrames = 10LL * 44100; // stuck output is judged over 10 s of audio
    long long done = 0, nextChange = 0, windowStart = 0, windowsStuck = 0, windows = 0, outOfRange = 0;
    bool windowAllStuck = true;
    long rssAfterWarmUp = 0, rssHighest = 0;
    while (done < totalFrames) {
        if (done >= nextChange) {
            change();
            nextChange = done + 44100 + random.below(4 * 44100); // every 1 to 5 s
        }
        const int frames = 1 + random.below(4096);
        render(buffer.data(), frames * 4);
        for (int i = 0; i < 2 * frames; ++i) {
            const int magnitude = std::abs(int{buffer[static_cast<std::size_t>(i)]});
            outOfRange += magnitude > limits.largest;
            windowAllStuck = windowAllStuck && magnitude >= limits.stuck;
        }
        done += frames;
        if (done - windowStart >= kWindowFrames) {
            ++windows;
            windowsStuck += windowAllStuck;
            windowAllStuck = true;
            windowStart = done;
            const long rss = residentKiB();
            if (rssAfterWarmUp == 0 && done >= static_cast<long long>(totalFrames * warmUpShare))
                rssAfterWarmUp = rss;
            rssHighest = std::max(rssHighest, rss);
        }
    }
    const long rssEnd = residentKiB();
    std::printf("soak: %.0f s of audio, %lld windows of 10 s, resident %ld KiB after warm-up, %ld KiB "
                "highest, %ld KiB at the end\n",
                seconds, windows, rssAfterWarmUp, rssHighest, rssEnd);
    EXPECT_EQ(outOfRange, 0);
    EXPECT_EQ(windowsStuck, 0) << "the output stuck at the clip (a NaN in the state)";
    if (rssAfterWarmUp > 0) {
        EXPECT_LT(rssEnd - rssAfterWarmUp, 4096) << "memory grew during the run";
    }

    // At plain settings it still plays: no unit is left broken.
    plain();
    int lowest = 32767, highest = -32768;
    for (int block = 0; block < 5 * 44100 / 1024; ++block) {
        render(buffer.data(), 4096);
        for (int i = 0; i < 2048; ++i) {
            lowest = std::min<int>(lowest, buffer[static_cast<std::size_t>(i)]);
            highest = std::max<int>(highest, buffer[static_cast<std::size_t>(i)]);
        }
    }
    EXPECT_GT(highest - lowest, 1000) << "silent or stuck after the soak";
}

} // namespace common::test
