// The DC filter from the command line: the kicks' offset is on every render by design, and
// --set dcFilter=1 takes it off; a scene saved with the filter on opens with it on.
#include "common/tests/Headroom.h"
#include "common/tests/GoldenRender.h"
#include "common/tests/ScratchDir.h"
#include "zintor/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zintor {
namespace {

int run(std::vector<std::string> args) {
    return golden::runProgram("zintor", runCommandLine, std::move(args));
}

TEST(Headroom, DcFilterTakesTheOffsetOff) {
    const common::test::ScratchDir scratch("zintor-headroom");
    const headroom::Offsets offsets = headroom::measureDcFilter(run, scratch.path().string(), 0);
    // Without the filter the offset is there to take away: the measurement can fail. What stays is the
    // kick's resting level moving with the fills, below 5 Hz but part of the music: about 1 % at worst.
    EXPECT_GT(offsets.plainWorst, 0.05);
    EXPECT_LE(offsets.filteredWorst, 0.02);
    EXPECT_LE(offsets.filteredWhole, 0.001);
}

} // namespace
} // namespace zintor
