// --scene and --save-scene: a saved scene renders sample-identically whatever the seed, and a bad
// scene stops the render before any file is written.
#include "vexla/cli/CommandLine.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
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

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SceneOption : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vexla_scene_cli_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // A stereo tone for the dry looper.
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path("tone.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<short> frames(2 * 30000);
        for (std::size_t i = 0; i < frames.size() / 2; ++i)
            frames[2 * i] = frames[2 * i + 1] =
                static_cast<short>(9000.0 * std::sin(0.05 * static_cast<double>(i)));
        sf_writef_short(f, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
        sf_close(f);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(SceneOption, SavedSceneRendersSampleIdenticallyWhateverTheSeed) {
    const Result saved = run({"--render",     path("a.wav"),
                              "--frames",     "200000",
                              "--seed",       "5",
                              "--press",      "Bassline 1",
                              "--press",      "AM Alter",
                              "--press",      "HiHats",
                              "--press",      "Echo Alter",
                              "--set",        "transpose=-3",
                              "--set",        "dryLooperGain=0.5",
                              "--load",       "dry=" + path("tone.wav"),
                              "--save-scene", path("s.json")});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const Result opened = run({"--render", path("b.wav"), "--frames", "200000", "--seed", "77", "--block",
                               "7", "--scene", path("s.json"), "--save-scene", path("again.json")});
    ASSERT_EQ(opened.status, 0) << opened.err;
    const std::string a = readText(path("a.wav"));
    ASSERT_EQ(a.size(), 44u + 200000u * 4u);
    EXPECT_TRUE(a == readText(path("b.wav")));
    // The scene names the sample, and saving what was opened gives the same file.
    EXPECT_NE(readText(path("s.json")).find("tone.wav"), std::string::npos);
    EXPECT_EQ(readText(path("s.json")), readText(path("again.json")));
    // Another seed without the scene sounds different: the test above is not trivially true.
    ASSERT_EQ(run({"--render", path("c.wav"), "--frames", "200000", "--seed", "77"}).status, 0);
    EXPECT_FALSE(a == readText(path("c.wav")));
}

TEST_F(SceneOption, BadSceneStopsBeforeAnyFileIsWritten) {
    std::ofstream(path("bad.json")) << R"({"format":"Zintor scene","version":1})";
    for (const char* scene : {"bad.json", "absent.json"}) {
        SCOPED_TRACE(scene);
        const Result r = run({"--render", path("out.wav"), "--frames", "10", "--scene", path(scene)});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot open scene"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }
    // A scene that cannot be written is a failure while running, as an output file is.
    const Result r =
        run({"--render", path("out.wav"), "--frames", "10", "--save-scene", path("no/such/dir/s.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot save scene"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out.wav")));
    EXPECT_EQ(run({"--render", path("out.wav"), "--frames", "1", "--scene", path("a"), "--scene", path("b")})
                  .status,
              2);
}

} // namespace
} // namespace vexla
