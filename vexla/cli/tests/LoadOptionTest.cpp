// vexla --render --load: a loaded sample is heard; a refused file stops with its reason and status 2.
#include "vexla/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <sndfile.h>

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
};

Result run(std::vector<std::string> args) {
    args.insert(args.begin(), "vexla");
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    ::testing::internal::CaptureStderr();
    const int status = runCommandLine(static_cast<int>(argv.size()), argv.data());
    return {status, ::testing::internal::GetCapturedStderr()};
}

class LoadOption : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vexla_load_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

// Everything but the dry looper silent, so the output is the loaded sample alone.
const std::vector<std::string> kOnlyDryLooper = {
    "--seed",       "7",           "--set",          "masterGain=1", "--set",
    "kickVolume=0", "--set",       "bass1Volume=0",  "--set",        "bass2Volume=0",
    "--set",        "hatVolume=0", "--set",          "sineVolume=0", "--set",
    "vcf2Gain=0",   "--set",       "dryLooperGain=1"};

TEST_F(LoadOption, TheLoadedSampleIsStretchedOverThePass) {
    // A mono sample of constant level 8000: stretched, it stays 8000 on both channels.
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path("flat.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<short> flat(20000, 8000);
    sf_writef_short(f, flat.data(), static_cast<sf_count_t>(flat.size()));
    sf_close(f);

    std::vector<std::string> args = {"--render", path("out.wav"), "--frames",
                                     "40000",    "--load",        "dry=" + path("flat.wav")};
    args.insert(args.end(), kOnlyDryLooper.begin(), kOnlyDryLooper.end());
    const Result result = run(args);
    ASSERT_EQ(result.status, 0) << result.err;

    info = SF_INFO{};
    SNDFILE* out = sf_open(path("out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(info.frames, 40000);
    std::vector<short> frames(80000);
    sf_readf_short(out, frames.data(), 40000);
    sf_close(out);
    for (int i = 1000; i < 40000; i += 500) {
        EXPECT_NEAR(frames[2 * i], 8000, 1) << i;
        EXPECT_NEAR(frames[2 * i + 1], 8000, 1) << i;
    }

    // Without the sample the same scene is silent.
    args = {"--render", path("silent.wav"), "--frames", "40000"};
    args.insert(args.end(), kOnlyDryLooper.begin(), kOnlyDryLooper.end());
    ASSERT_EQ(run(args).status, 0);
    info = SF_INFO{};
    out = sf_open(path("silent.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(out, nullptr);
    sf_readf_short(out, frames.data(), 40000);
    sf_close(out);
    EXPECT_EQ(frames[2 * 20000], 0);
}

TEST_F(LoadOption, RefusedLoadsAreErrorsWithTheirReason) {
    {
        std::ofstream text(path("notes.wav"));
        text << "not audio at all\n";
    }
    struct Case {
        std::string load;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"dry=" + path("notes.wav"), "not a sound file"},
        {"vcf1=" + path("missing.wav"), "file not found"},
        {"drums=" + path("notes.wav"), "unknown sample slot \"drums\""},
        {"second", "--load needs SLOT=PATH"},
        {"slicer=", "--load needs SLOT=PATH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.load);
        const Result result = run({"--render", path("out.wav"), "--seconds", "1", "--load", c.load});
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }
}

} // namespace
} // namespace vexla
