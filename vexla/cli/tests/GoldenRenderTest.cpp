// Guards the sound: whole `vexla --render` outputs of ten scenes against stored checksums. A change
// that must not change what users hear keeps them; regenerate with VZ_UPDATE_GOLDEN=1 only when a
// change of sound is meant, and say so in its commit.
#include "common/tests/GoldenRender.h"
#include "common/Random.h"
#include "common/tests/ScratchDir.h"
#include "common/tests/TestWav.h"
#include "vexla/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vexla {
namespace {

namespace fs = std::filesystem;

int run(std::vector<std::string> args) {
    return golden::runProgram("vexla", runCommandLine, std::move(args));
}

/// A deterministic sound file: `shape(frame, channel)` in −1..1.
template <class Shape>
void writeSound(const fs::path& path, int channels, int format, int frames, Shape shape) {
    ASSERT_TRUE(common::test::writeSound(path.string(), SF_FORMAT_WAV | format, channels, frames, shape));
}

TEST(GoldenRender, TenScenesRenderAsRecorded) {
    // A folder of this run's own: checkouts tested side by side must not share one.
    const common::test::ScratchDir scratch("vexla-golden");
    const fs::path& dir = scratch.path();
    const auto at = [&](const char* name) { return (dir / name).string(); };

    writeSound(at("dry.wav"), 2, SF_FORMAT_PCM_16, 40000,
               [](int i, int c) { return 0.6 * std::sin(0.0004 * i * i / 40.0 + c); });
    writeSound(at("second.wav"), 1, SF_FORMAT_PCM_16, 25000,
               [](int i, int) { return 0.5 * (2.0 * ((i % 180) / 180.0) - 1.0); });
    common::Random noise(99);
    writeSound(at("slicer.wav"), 2, SF_FORMAT_PCM_16, 30000,
               [&](int i, int) { return (noise.next() / 32768.0 - 0.5) * std::exp(-(i % 5000) / 900.0); });
    writeSound(at("vcf1.wav"), 1, SF_FORMAT_PCM_U8, 20000,
               [](int i, int) { return 0.7 * (std::abs(2.0 * ((i % 300) / 300.0) - 1.0) * 2.0 - 1.0); });
    writeSound(at("vcf2.wav"), 2, SF_FORMAT_PCM_16, 50000, [](int i, int c) {
        return 0.3 * (std::sin(0.031 * i) + std::sin(0.039 * i + c) + std::sin(0.047 * i));
    });
    const std::vector<std::string> loads = {
        "--load", "dry=" + at("dry.wav"),       "--load", "second=" + at("second.wav"),
        "--load", "slicer=" + at("slicer.wav"), "--load", "vcf1=" + at("vcf1.wav"),
        "--load", "vcf2=" + at("vcf2.wav"),
    };
    const std::vector<std::string> playersUp = {
        "--set", "dryLooperGain=0.7", "--set", "secondLooperGain=0.6", "--set", "slicerGain=0.8",
        "--set", "vcf1Gain=0.9",      "--set", "vcf2Gain=0.9",         "--set", "vcf1Cutoff=0.2",
        "--set", "vcf1Feedback=4",    "--set", "vcf2Cutoff=0.8",       "--set", "vcf2Feedback=1.2",
    };
    const std::vector<std::string> everyButton = {
        "--press", "Sequence", "--press",    "AM Alter",   "--press",    "Echo Alter", "--press",
        "Kick",    "--press",  "Bassline 1", "--press",    "Bassline 2", "--press",    "Sine",
        "--press", "HiHats",   "--press",    "2nd Looper", "--press",    "Slicer",
    };
    const auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    const std::vector<golden::Case> cases = {
        {"start-seed-1", {"--seed", "1"}},
        {"every-button-seed-7", join({"--seed", "7"}, everyButton)},
        {"three-fast-steps-up-an-octave-block-1",
         {"--seed", "11", "--set", "stepCount=3", "--set", "samplesPerStep=2000", "--set", "transpose=12",
          "--press", "Bassline 1", "--block", "1"}},
        {"sixty-four-slow-steps-down-an-octave-block-7",
         {"--seed", "12", "--set", "stepCount=64", "--set", "samplesPerStep=20000", "--set", "transpose=-12",
          "--press", "Sine", "--press", "Kick", "--block", "7"}},
        {"five-samples", join(join(join({"--seed", "3"}, loads), playersUp), {"--press", "Slicer"})},
        {"five-samples-every-button-block-7",
         join(join(join(join({"--seed", "4", "--block", "7"}, loads), playersUp), everyButton),
              {"--set", "transpose=5"})},
        {"clipping-full-levels",
         {"--seed", "5", "--set", "masterGain=1", "--set", "kickVolume=16384", "--set", "bass1Volume=16384",
          "--set", "bass2Volume=16384", "--set", "hatVolume=1", "--set", "sineVolume=1", "--press",
          "AM Alter"}},
        {"requests-and-extreme-filters", join({"--seed", "6",
                                               "--set",  "requestHats=1",
                                               "--set",  "requestSine=1",
                                               "--set",  "requestBass1=1",
                                               "--set",  "requestBass2=1",
                                               "--set",  "requestKick=1",
                                               "--set",  "vcf1Cutoff=0.95",
                                               "--set",  "vcf1Feedback=0.2",
                                               "--set",  "vcf2Cutoff=0.05",
                                               "--set",  "vcf2Feedback=19",
                                               "--set",  "vcf1Gain=1",
                                               "--set",  "vcf2Gain=1",
                                               "--set",  "stepCount=24"},
                                              loads)},
        {"scene-saved", join(join(join({"--seed", "8", "--save-scene", at("scene.json")}, loads), playersUp),
                             join(everyButton, {"--set", "stepCount=12", "--set", "transpose=-4"}))},
    };
    golden::renderAndCheck(GOLDEN_DIR "/vexla-golden.txt", cases, at("out.wav"), at("scene.json"),
                           {"--press", "Echo Alter", "--set", "masterGain=0.5"}, run);
}

} // namespace
} // namespace vexla
