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

namespace fs = std::filesystem;

int run(std::vector<std::string> args) {
    return golden::runProgram("zintor", runCommandLine, std::move(args));
}

TEST(Headroom, DcFilterTakesTheOffsetOff) {
    const common::test::ScratchDir scratch("zintor-headroom");
    const fs::path& dir = scratch.path();
    const std::string plain = (dir / "plain.wav").string();
    const std::string filtered = (dir / "filtered.wav").string();
    const std::string reopened = (dir / "reopened.wav").string();
    const std::string scene = (dir / "scene.json").string();
    const std::vector<std::string> common = {"--seconds", "20", "--seed", "7"};
    const auto render = [&](const std::string& output, std::vector<std::string> more) {
        std::vector<std::string> args = {"--render", output};
        args.insert(args.end(), common.begin(), common.end());
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    ASSERT_EQ(render(plain, {}), 0);
    ASSERT_EQ(render(filtered, {"--set", "dcFilter=1", "--save-scene", scene}), 0);
    // Without the filter the offset is there to take away: the measurement can fail. What stays is the
    // kick's resting level moving with the fills, below 5 Hz but part of the music: about 1 % at worst.
    EXPECT_GT(headroom::worstSecondMean(plain), 0.05);
    EXPECT_LE(headroom::worstSecondMean(filtered, 0, true), 0.001);
    EXPECT_LE(headroom::worstSecondMean(filtered), 0.02);
    ASSERT_EQ(render(reopened, {"--scene", scene}), 0);
    EXPECT_EQ(golden::fileChecksum(reopened), golden::fileChecksum(filtered));
}

} // namespace
} // namespace zintor
