// What a rendered file's DC offset looks like to a listener's meters: the mean of every one-second
// stretch of each channel, in full scale.
#pragma once

#include "common/tests/GoldenRender.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace headroom {

/// The largest |mean| of any one-second window from `fromSecond` on (moved 10 ms at a time, both
/// channels of a 16-bit stereo file), and with `wholeFile` the mean of the whole file instead; as a share
/// of full scale, -1 when the file cannot be read.
inline double worstSecondMean(const std::string& path, int fromSecond = 0, bool wholeFile = false) {
    SF_INFO info;
    const std::vector<short> frames = common::test::readSound(path, info);
    if (frames.empty())
        return -1.0;
    const long window = wholeFile ? info.frames : 44100;
    const long hop = 441;
    double worst = 0.0;
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<double> sums(static_cast<std::size_t>(info.frames) + 1, 0.0);
        for (long i = 0; i < info.frames; ++i)
            sums[static_cast<std::size_t>(i + 1)] =
                sums[static_cast<std::size_t>(i)] + frames[2 * i + channel];
        for (long start = wholeFile ? 0 : fromSecond * 44100L; start + window <= info.frames; start += hop) {
            const double sum =
                sums[static_cast<std::size_t>(start + window)] - sums[static_cast<std::size_t>(start)];
            worst = std::max(worst, std::abs(sum / window) / 32768.0);
        }
    }
    return worst;
}

/// What each program's DC filter test measures, with `run(args)` its command line: 20 s of seed 7 plain,
/// with --set dcFilter=1 (its scene saved), and reopened from that scene. Returns the worst one-second
/// means of the plain and the filtered render (the filtered one from `fromSecond` on), and the filtered
/// render's whole mean; the reopened render must be the filtered one, byte for byte.
struct Offsets {
    double plainWorst = -1.0;
    double filteredWorst = -1.0;
    double filteredWhole = -1.0;
};
template <class Run> Offsets measureDcFilter(Run run, const std::string& folder, int fromSecond) {
    const auto at = [&](const char* name) { return folder + "/" + name; };
    const auto render = [&](const std::string& output, std::vector<std::string> more) {
        std::vector<std::string> args = {"--render", output, "--seconds", "20", "--seed", "7"};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    Offsets offsets;
    EXPECT_EQ(render(at("plain.wav"), {}), 0);
    EXPECT_EQ(render(at("filtered.wav"), {"--set", "dcFilter=1", "--save-scene", at("scene.json")}), 0);
    EXPECT_EQ(render(at("reopened.wav"), {"--scene", at("scene.json")}), 0);
    EXPECT_EQ(golden::fileChecksum(at("reopened.wav")), golden::fileChecksum(at("filtered.wav")));
    offsets.plainWorst = worstSecondMean(at("plain.wav"));
    offsets.filteredWorst = worstSecondMean(at("filtered.wav"), fromSecond);
    offsets.filteredWhole = worstSecondMean(at("filtered.wav"), 0, true);
    return offsets;
}

} // namespace headroom
