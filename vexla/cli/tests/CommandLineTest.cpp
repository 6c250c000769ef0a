// The headless renderer: refusals (status 2, one line, no file), failures while running (status 1),
// and the file it writes. What the render sounds like is guarded by the golden test.
#include "vexla/cli/CommandLine.h"

#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vexla {
namespace {

namespace fs = std::filesystem;
using common::test::Bytes;
using common::test::le32;
using common::test::readBytes;

struct Result {
    int status;
    std::string err;
    std::string out;
};

Result run(const std::vector<std::string>& args) {
    std::vector<std::string> storage{"vexla"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    const int status = runCommandLine(static_cast<int>(argv.size()), argv.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    return {status, ::testing::internal::GetCapturedStderr(), out};
}

class CommandLine : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return dir_.file(name); }
    common::test::ScratchDir dir_{"vexla_cli"};
};

TEST_F(CommandLine, BadInputGivesOneLineWithItsReasonStatus2AndNoFile) {
    const std::string out = path("out.wav");
    std::ofstream(path("notes.wav")) << "not audio at all\n";
    std::ofstream(path("zintor.json")) << R"({"format":"Zintor scene","version":1})";
    // Each with a part of its message (empty: any). The shared parser's refusals are common/tests'.
    const auto rendering = [&out](std::vector<std::string> options) {
        options.insert(options.begin(), {"--render", out, "--seconds", "1"});
        return options;
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {rendering({"--set", "loudness=3"}), ""},
        {rendering({"--set", "kickVolume"}), ""},
        {rendering({"--set", "stepCount=65"}), ""},
        {rendering({"--set", "recordedBytes=0"}), ""}, // a flag the engine reports is not a control
        {rendering({"--press", "Bassline 3"}), ""},
        {rendering({"--block", "0"}), ""},
        {rendering({"--load", "dry=" + path("notes.wav")}), "not a sound file"},
        {rendering({"--load", "vcf1=" + path("missing.wav")}), "file not found"},
        {rendering({"--load", "drums=" + path("notes.wav")}), "unknown sample slot \"drums\""},
        {rendering({"--load", "second"}), "--load needs SLOT=PATH"},
        {rendering({"--load", "slicer="}), "--load needs SLOT=PATH"},
        {rendering({"--scene", path("zintor.json")}), "cannot open scene"},
        {rendering({"--scene", path("absent.json")}), "cannot open scene"},
        {rendering({"--scene", path("a"), "--scene", path("b")}), ""},
        {{"--render", out, "--seconds", "-1"}, ""},
        {{"--render", out, "--seconds", "0"}, ""},
    };
    for (const auto& [args, reason] : cases) {
        std::string joined;
        for (const std::string& a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        const Result r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("vexla: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(CommandLine, WhatCannotBeWrittenIsAFailureWithStatus1AndLeavesNoOtherFile) {
    Result r =
        run({"--render", path("no/such/dir/out.wav"), "--frames", "10", "--save-scene", path("t.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("vexla: cannot write", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(path("t.json")));

    r = run({"--render", path("out.wav"), "--frames", "10", "--save-scene", path("no/such/dir/s.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot save scene"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out.wav")));
}

TEST_F(CommandLine, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
    ASSERT_EQ(run({"--render", path("tone.wav"), "--frames", "30000", "--seed", "1"}).status, 0);
    const Bytes tone = readBytes(path("tone.wav"));
    ASSERT_EQ(run({"--render", path("s.json"), "--frames", "1", "--save-scene", path("scene.json"), "--load",
                   "dry=" + path("tone.wav")})
                  .status,
              0);
    fs::create_symlink(path("tone.wav"), path("link.wav"));
    const std::vector<std::vector<std::string>> cases = {
        {"--render", path("tone.wav"), "--frames", "10", "--load", "dry=" + path("tone.wav")},
        {"--render", path("link.wav"), "--frames", "10", "--load",
         "vcf1=" + path("tone.wav")},                                                    // another name
        {"--render", path("tone.wav"), "--frames", "10", "--scene", path("scene.json")}, // a scene's sample
        {"--render", path("scene.json"), "--frames", "10", "--scene", path("scene.json")},
        {"--render", path("new.wav"), "--frames", "10", "--save-scene", path("new.wav")},
    };
    const Bytes scene = readBytes(path("scene.json"));
    for (const auto& args : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(path("tone.wav")), tone);
    EXPECT_EQ(readBytes(path("scene.json")), scene);
    EXPECT_FALSE(fs::exists(path("new.wav")));
}

TEST_F(CommandLine, AnInterruptedRenderStopsWithItsFileFinished) {
    const std::string out = path("long.wav");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(run({"--render", out, "--seconds", "3000", "--seed", "1"}).status);
    while (!fs::exists(out) || fs::file_size(out) < 4u << 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    const Bytes bytes = readBytes(out);
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8); // the sizes describe every frame in the file
    EXPECT_EQ(le32(bytes, 40), bytes.size() - 44);
}

// A length given in frames is the golden renders' (whole files against their checksums).
TEST_F(CommandLine, WritesAWavOfTheLengthInSecondsAndHelpListsTheFields) {
    const std::string seconds = path("seconds.wav");
    ASSERT_EQ(run({"--render", seconds, "--seconds", "0.5", "--seed", "3"}).status, 0);
    EXPECT_EQ(fs::file_size(seconds), 44u + 4u * 22050u);

    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--render OUT.wav"), std::string::npos);
    EXPECT_NE(help.out.find("vcf1Feedback"), std::string::npos); // the fields come from the control table
}

} // namespace
} // namespace vexla
