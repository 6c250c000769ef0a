// The headless renderer: argument errors (status 2, one line, no file) and the file it writes.
#include "vexla/cli/CommandLine.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vexla {
namespace {

namespace fs = std::filesystem;

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
    std::string err = ::testing::internal::GetCapturedStderr();
    return {status, err, out};
}

std::vector<char> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vexla_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(CommandLine, BadInputGivesOneLineStatus2AndNoFile) {
    const std::string out = path("out.wav");
    const std::vector<std::vector<std::string>> cases = {
        {"--render", out, "--seconds", "1", "--set", "loudness=3"},
        {"--render", out, "--seconds", "1", "--set", "kickVolume=loud"},
        {"--render", out, "--seconds", "1", "--set", "kickVolume"},
        {"--render", out, "--seconds", "1", "--set", "stepCount=65"},
        {"--render", out, "--seconds", "1", "--set", "stepCount=2"},
        {"--render", out, "--seconds", "1", "--set", "stepCount=8.5"},
        {"--render", out, "--seconds", "1", "--set", "samplesPerStep=1999"},
        {"--render", out, "--seconds", "1", "--set", "transpose=13"},
        {"--render", out, "--seconds", "1", "--set", "masterGain=nan"},
        {"--render", out, "--seconds", "1", "--set", "recordedBytes=0"},
        {"--render", out, "--seconds", "1", "--press", "Bassline 3"},
        {"--render", out, "--seconds", "-1"},
        {"--render", out, "--frames", "-5"},
        {"--render", out, "--frames", "1.5"},
        {"--render", out, "--seconds", "1", "--frames", "5"},
        {"--render", out},
        {"--render", out, "--seconds", "1", "--block", "0"},
        {"--render", out, "--seconds", "1", "--seed", "x"},
        {"--render", out, "--seconds", "1", "--volume", "3"},
        {"--render", out, "--seconds"},
        {"--seconds", "1"},
        {"--render", "", "--seconds", "1"},
        {"--render", "--seed", "3", "--seconds", "1"}, // an option's name is not a file name
        {"--render", out, "--seconds", "1e12"},
    };
    for (const auto& args : cases) {
        const Result r = run(args);
        std::string joined;
        for (const std::string& a : args)
            joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_EQ(r.err.rfind("vexla: ", 0), 0u) << joined << "-> " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << "-> " << r.err;
        EXPECT_FALSE(fs::exists(out)) << joined;
    }
}

TEST_F(CommandLine, AFileThatCannotBeWrittenIsAFailureWithStatus1) {
    const Result r = run({"--render", path("no/such/dir/out.wav"), "--seconds", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("vexla: cannot write", 0), 0u) << r.err;
}

TEST_F(CommandLine, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
    ASSERT_EQ(run({"--render", path("tone.wav"), "--frames", "30000", "--seed", "1"}).status, 0);
    const std::vector<char> tone = readFile(path("tone.wav"));
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
    const std::vector<char> scene = readFile(path("scene.json"));
    for (const auto& args : cases) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readFile(path("tone.wav")), tone);
    EXPECT_EQ(readFile(path("scene.json")), scene);
    EXPECT_FALSE(fs::exists(path("new.wav")));

    // A render that cannot be written leaves no scene behind either.
    const Result r =
        run({"--render", path("no/such/dir/out.wav"), "--frames", "10", "--save-scene", path("t.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(path("t.json")));
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
    const std::vector<char> bytes = readFile(out);
    const auto le32 = [&bytes](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(le32(4), bytes.size() - 8); // the sizes describe every frame in the file
    EXPECT_EQ(le32(40), bytes.size() - 44);
}

TEST_F(CommandLine, HelpPrintsTheUsage) {
    const Result r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--render OUT.wav"), std::string::npos);
    EXPECT_NE(r.out.find("vcf1Feedback"), std::string::npos); // the fields come from the control table
    EXPECT_TRUE(r.err.empty());
}

TEST_F(CommandLine, WritesAWavOfTheRequestedLength) {
    const std::string out = path("loop.wav");
    const Result r = run({"--render", out, "--frames", "10000", "--seed", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<char> bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 44u + 4u * 10000u);
    EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
    EXPECT_EQ(std::string(bytes.data() + 8, 4), "WAVE");
    int loud = 0;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        const auto v = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
        loud += std::abs(v) > 500;
    }
    EXPECT_GT(loud, 1000); // the engine was running: a kick and basslines sound

    const std::string seconds = path("seconds.wav");
    ASSERT_EQ(run({"--render", seconds, "--seconds", "0.5", "--seed", "3"}).status, 0);
    EXPECT_EQ(fs::file_size(seconds), 44u + 4u * 22050u);
}

TEST_F(CommandLine, TheSameSeedGivesTheSameFileWhateverTheBlockSize) {
    auto render = [&](const char* name, const char* seed, const char* block) {
        const Result r = run({"--render", path(name), "--frames", "30000", "--seed", seed, "--block", block,
                              "--press", "AM Alter", "--press", "HiHats", "--set", "transpose=-3"});
        EXPECT_EQ(r.status, 0) << r.err;
        return readFile(path(name));
    };
    const auto a = render("a.wav", "11", "7");
    EXPECT_EQ(a, render("b.wav", "11", "1024"));
    EXPECT_NE(a, render("c.wav", "12", "1024"));
}

TEST_F(CommandLine, RunningZeroRendersSilence) {
    const std::string out = path("silent.wav");
    ASSERT_EQ(run({"--render", out, "--frames", "2000", "--set", "running=0"}).status, 0);
    const std::vector<char> bytes = readFile(out);
    ASSERT_EQ(bytes.size(), 44u + 8000u);
    for (std::size_t i = 44; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], 0);
}

} // namespace
} // namespace vexla
