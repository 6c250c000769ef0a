// Headless rendering: argument checking, and the WAV file it writes.
#include "zintor/cli/CommandLine.h"

#include "common/tests/TestWav.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace zintor {
namespace {

namespace fs = std::filesystem;
using common::test::le32;
using common::test::readBytes;

class ScratchDir {
  public:
    ScratchDir() : path_(fs::temp_directory_path() / ("zintor_cli_" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~ScratchDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

int run(std::vector<std::string> args) {
    args.insert(args.begin(), "zintor");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return runCommandLine(static_cast<int>(args.size()), argv.data());
}

TEST(CommandLineArguments, RejectsBadInputWithOneLineAndAcceptsTheControlsRanges) {
    const std::vector<std::vector<std::string>> bad = {
        {"--render", "x.wav"},                                     // no length
        {"--render", "x.wav", "--seconds", "1", "--frames", "10"}, // two lengths
        {"--render", "x.wav", "--seconds", "nan"},
        {"--render", "x.wav", "--frames", "12abc"},
        {"--render", "x.wav", "--frames", "10", "--seed"}, // missing value
        {"--render", "x.wav", "--frames", "10", "--block", "0"},
        {"--render", "x.wav", "--frames", "10", "--set", "tempo=120"},
        {"--render", "x.wav", "--frames", "10", "--set", "stepCount=257"},
        {"--render", "x.wav", "--frames", "10", "--set", "stepCount=1.5"},
        {"--render", "x.wav", "--frames", "10", "--set", "samplesPerStep=20672"},
        {"--render", "x.wav", "--frames", "10", "--set", "synthLine1.driveCeiling=0"},
        {"--render", "x.wav", "--frames", "10", "--set", "synthLine2.cutoff=inf"},
        {"--render", "x.wav", "--frames", "10", "--set", "kick.cutoff=0.5"},
        {"--render", "x.wav", "--frames", "10", "--press", "Synthline-2/FLAT Riff"},
    };
    for (const auto& args : bad) {
        common::RenderArguments request;
        const std::string error = parseRenderArguments(args, request);
        EXPECT_FALSE(error.empty()) << args.back();
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }

    common::RenderArguments request;
    ASSERT_EQ(parseRenderArguments({"--render", "out.wav", "--seconds", "2.5", "--press",
                                    "Synthline-2/Flat riff", "--set", "synthLine1.resonance=0.97", "--set",
                                    "globalTranspose=-12", "--set", "samplesPerStep=646"},
                                   request),
              "");
    EXPECT_EQ(request.frames, 110250);
    ASSERT_EQ(request.actions.size(), 4u);
    EXPECT_EQ(request.actions[0].option, "--press");
    EXPECT_EQ(request.actions[2].value, "globalTranspose=-12");
}

TEST(CommandLineRun, BadInputExitsWithTwoAndCreatesNoFile) {
    ScratchDir dir;
    const std::string out = dir.file("never.wav");
    EXPECT_EQ(run({"--render", out, "--frames", "100", "--set", "stepCount=300"}), 2);
    EXPECT_EQ(run({"--render", out, "--frames", "100", "--press", "Synthline-1/Flat riff"}), 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(run({"--help"}), 0);
}

TEST(CommandLineRun, UnwritablePathFailsWithOne) {
    EXPECT_EQ(run({"--render", "/nonexistent-dir/x.wav", "--frames", "100"}), 1);
}

TEST(CommandLineRun, AnOutputThatIsAnInputIsRefusedAndASceneIsSavedOnlyAfterASuccessfulRender) {
    ScratchDir dir;
    const std::string scene = dir.file("s.json");
    ASSERT_EQ(run({"--render", dir.file("a.wav"), "--frames", "100", "--seed", "1", "--save-scene", scene}),
              0);
    const std::vector<unsigned char> saved = readBytes(scene);
    EXPECT_EQ(run({"--render", scene, "--frames", "100", "--scene", scene}), 2);
    EXPECT_EQ(run({"--render", dir.file("b.wav"), "--frames", "100", "--save-scene", dir.file("b.wav")}), 2);
    EXPECT_EQ(readBytes(scene), saved);
    EXPECT_FALSE(fs::exists(dir.file("b.wav")));
    EXPECT_EQ(
        run({"--render", "/nonexistent-dir/x.wav", "--frames", "100", "--save-scene", dir.file("c.json")}),
        1);
    EXPECT_FALSE(fs::exists(dir.file("c.json")));
}

TEST(CommandLineRun, AnInterruptedRenderStopsWithItsFileFinished) {
    ScratchDir dir;
    const std::string out = dir.file("long.wav");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(run({"--render", out, "--seconds", "3000", "--seed", "1"}));
    while (!fs::exists(out) || fs::file_size(out) < 4u << 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    const std::vector<unsigned char> bytes = readBytes(out);
    EXPECT_EQ(le32(bytes, 40), bytes.size() - 44); // the header describes every frame in the file
}

TEST(CommandLineRun, WritesA16BitStereoWavOfTheRequestedLength) {
    ScratchDir dir;
    const std::string out = dir.file("track.wav");
    ASSERT_EQ(run({"--render", out, "--frames", "44100", "--seed", "7", "--block", "333"}), 0);
    const auto bytes = readBytes(out);
    ASSERT_EQ(bytes.size(), 44u + 44100u * 4u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVE", 4), 0);
    EXPECT_EQ(bytes[22], 2);                 // channels
    EXPECT_EQ(le32(bytes, 24), 44100u);      // sample rate
    EXPECT_EQ(bytes[34], 16);                // bits per sample
    EXPECT_EQ(le32(bytes, 40), 44100u * 4u); // data bytes
    int loud = 0;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8);
        loud += s > 2000 || s < -2000;
    }
    EXPECT_GT(loud, 1000);

    // The same seed gives the same file whatever the block size.
    const std::string again = dir.file("again.wav");
    ASSERT_EQ(run({"--render", again, "--frames", "44100", "--seed", "7"}), 0);
    EXPECT_EQ(readBytes(again), bytes);

    // A press re-rolls a phrase; playing=0 keeps the engine stopped.
    const std::string pressed = dir.file("pressed.wav");
    ASSERT_EQ(run({"--render", pressed, "--frames", "44100", "--seed", "7", "--press", "Synthline-1/Goa"}),
              0);
    EXPECT_NE(readBytes(pressed), bytes);
    const std::string stopped = dir.file("stopped.wav");
    ASSERT_EQ(run({"--render", stopped, "--frames", "1000", "--seed", "7", "--set", "playing=0"}), 0);
    const auto silent = readBytes(stopped);
    ASSERT_EQ(silent.size(), 44u + 4000u);
    for (std::size_t i = 44; i < silent.size(); ++i)
        ASSERT_EQ(silent[i], 0);
}

} // namespace
} // namespace zintor
