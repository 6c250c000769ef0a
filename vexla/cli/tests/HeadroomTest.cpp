// The DC filter from the command line: the kicks' offset is on every render by design, and
// --set dcFilter=1 takes it off; a scene saved with the filter on opens with it on.
#include "common/tests/Headroom.h"
#include "common/tests/GoldenRender.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"
#include "vexla/cli/CommandLine.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vexla {
namespace {

int run(std::vector<std::string> args) {
    return golden::runProgram("vexla", runCommandLine, std::move(args));
}

TEST(Headroom, DcFilterTakesTheOffsetOff) {
    const common::test::ScratchDir scratch("vexla-headroom");
    const headroom::Offsets offsets = headroom::measureDcFilter(run, scratch.path().string(), 1);
    // Without the filter the offset is there to take away: the measurement can fail. The first second
    // holds the offset's arrival, which a 5 Hz corner takes about a tenth of a second to follow.
    EXPECT_GT(offsets.plainWorst, 0.05);
    EXPECT_LE(offsets.filteredWorst, 0.001);
    EXPECT_LE(offsets.filteredWhole, 0.001);
}

TEST(Headroom, NoCutoffAndFeedbackPairRunsTheFilterAway) {
    // --set and scenes take each value in its own range; pairs the window never gives (a low cutoff under
    // a high feedback) once ran the looper's filter away until the output stuck at full scale.
    const common::test::ScratchDir scratch("vexla-filter-pairs");
    const std::string sample = scratch.file("loop.wav");
    ASSERT_TRUE(common::test::writeSound(sample, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 30000,
                                         [](int i, int c) { return 0.5 * std::sin(0.02 * i + c); }));
    for (const auto& [cutoff, feedback] : {std::pair{"0.05", "19"}, std::pair{"0.2", "19"},
                                           std::pair{"0.33", "2.77"}, std::pair{"0.5", "4"}}) {
        const std::string output = scratch.file("pair.wav");
        ASSERT_EQ(run({"--render", output, "--seconds", "6", "--seed", "3", "--load", "vcf2=" + sample,
                       "--set", "vcf2Gain=1", "--set", std::string("vcf2Cutoff=") + cutoff, "--set",
                       std::string("vcf2Feedback=") + feedback}),
                  0);
        SF_INFO info{};
        SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        std::vector<short> frames(static_cast<std::size_t>(info.frames) * 2);
        sf_readf_short(file, frames.data(), info.frames);
        sf_close(file);
        // The last second still moves: a stuck output holds one value.
        const auto last = frames.end() - 2 * 44100;
        const auto [low, high] = std::minmax_element(last, frames.end());
        EXPECT_GT(*high - *low, 1000) << cutoff << " / " << feedback;
        EXPECT_LT(std::count(last, frames.end(), short{-32766}), 44100) << cutoff << " / " << feedback;
    }
}

} // namespace
} // namespace vexla
