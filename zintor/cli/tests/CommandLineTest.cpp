// Headless rendering: Zintor's own arguments and exit statuses. The shared parser's syntax is
// common/tests/CommandLineTest's; the file written, what the renders sound like and the scene options
// (saved, opened and changed) are the golden renders'.
#include "zintor/cli/CommandLine.h"

#include "common/tests/GoldenRender.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zintor {
namespace {

namespace fs = std::filesystem;
using common::test::readBytes;
using common::test::ScratchDir;

int run(std::vector<std::string> args) {
    return golden::runProgram("zintor", runCommandLine, std::move(args));
}

TEST(CommandLineArguments, RefusesWhatNoControlOrButtonCanGiveWithOneLine) {
    const std::vector<std::string> bad[] = {
        {"--set", "tempo=120"},               // no such control
        {"--set", "stepCount=257"},           // beyond the field's range
        {"--set", "stepCount=1.5"},           // a whole number
        {"--set", "samplesPerStep=20672"},    // slower than 32 BPM
        {"--press", "Synthline-2/FLAT Riff"}, // line 2 spells it "Flat riff"
    };
    for (const auto& action : bad) {
        std::vector<std::string> args = {"--render", "x.wav", "--frames", "10"};
        args.insert(args.end(), action.begin(), action.end());
        common::RenderArguments request;
        const std::string error = parseRenderArguments(args, request);
        EXPECT_FALSE(error.empty()) << action.back();
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    common::RenderArguments request;
    ASSERT_EQ(
        parseRenderArguments({"--render", "out.wav", "--seconds", "2.5", "--press", "Synthline-2/Flat riff",
                              "--set", "synthLine1.resonance=0.97", "--set", "samplesPerStep=646"},
                             request),
        "");
    EXPECT_EQ(request.frames, 110250);
    EXPECT_EQ(request.actions.size(), 3u);
}

TEST(CommandLineRun, BadInputOrAnInputAsOutputExitsWithTwoAFailedWriteWithOneAndNoneLeavesAFile) {
    ScratchDir dir("zintor-cli");
    const std::string out = dir.file("never.wav");
    std::ofstream(dir.file("bad.zscene")) << R"({"format": "Zintor scene", "version": 9})";
    const std::vector<std::string> bad[] = {
        {"--set", "stepCount=300"},
        {"--press", "Synthline-1/Flat riff"},
        {"--scene", dir.file("bad.zscene")},
        {"--scene", dir.file("none.zscene")},
        {"--scene"},
        {"--scene", "x", "--scene", "y"},
    };
    for (const auto& options : bad) {
        std::vector<std::string> args = {"--render", out, "--frames", "100"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(run(args), 2) << options.back();
    }
    EXPECT_FALSE(fs::exists(out));
    // The scene read is an input: never overwritten by the render.
    const std::string scene = dir.file("s.json");
    ASSERT_EQ(run({"--render", dir.file("a.wav"), "--frames", "100", "--seed", "1", "--save-scene", scene}),
              0);
    const std::vector<unsigned char> saved = readBytes(scene);
    EXPECT_EQ(run({"--render", scene, "--frames", "100", "--scene", scene}), 2);
    EXPECT_EQ(readBytes(scene), saved);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(run({"--render", "/nonexistent-dir/x.wav", "--frames", "100"}), 1);
    EXPECT_EQ(run({"--render", out, "--frames", "10", "--save-scene", dir.file("no/such/dir.zscene")}), 1);
}

} // namespace
} // namespace zintor
