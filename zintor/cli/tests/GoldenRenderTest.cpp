// Guards the sound: whole `zintor --render` outputs of ten scenes against stored checksums. A change
// that must not change what users hear keeps them; regenerate with VZ_UPDATE_GOLDEN=1 only when a
// change of sound is meant, and say so in its commit.
#include "common/tests/GoldenRender.h"
#include "common/tests/ScratchDir.h"
#include "zintor/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zintor {
namespace {

int run(std::vector<std::string> args) {
    return golden::runProgram("zintor", runCommandLine, std::move(args));
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GoldenRender, TenScenesRenderAsRecorded) {
    // A folder of this run's own: two checkouts may run their golden tests at the same time.
    const common::test::ScratchDir dir("zintor_golden_render");
    const auto at = [&](const char* name) { return dir.file(name); };

    const std::vector<std::string> everyButton = {
        "--press", "Synthline-1/Goa",         "--press", "Synthline-1/FLAT Riff",
        "--press", "Synthline-1/Psychedelic", "--press", "Synthline-2/Goa",
        "--press", "Synthline-2/Flat riff",   "--press", "Synthline-2/Psychedelic",
        "--press", "Sub bass synth/Generate",
    };
    const std::vector<golden::Case> cases = {
        {"start-seed-1", {"--seed", "1"}},
        {"every-button-seed-7", join({"--seed", "7"}, everyButton)},
        {"shuffle-and-transpose-block-1",
         {"--seed", "11", "--set", "shuffleAmount=200", "--set", "globalTranspose=-12", "--press",
          "Synthline-1/Goa", "--block", "1"}},
        {"fast-short-loop-block-7",
         {"--seed", "12", "--set", "samplesPerStep=646", "--set", "stepCount=5", "--set",
          "globalTranspose=12", "--press", "Synthline-2/Psychedelic", "--block", "7"}},
        {"slow-long-loop",
         {"--seed", "13", "--set", "samplesPerStep=20671", "--set", "stepCount=256", "--press",
          "Sub bass synth/Generate"}},
        {"high-pass-and-ring-filters",
         join({"--seed", "14", "--set", "synthLine1.filterType=1", "--set", "synthLine2.filterType=2",
               "--set", "synthLine1.resonance=0.97", "--set", "synthLine2.cutoff=0.9", "--set",
               "synthLine1.driveCeiling=0.05", "--set", "synthLine2.oscMix=200"},
              everyButton)},
        {"drums-and-delay",
         {"--seed", "15", "--set", "kick.startIncrement=1.5", "--set", "kick.pitchDecay=0.85", "--set",
          "kick.volume=0.9", "--set", "hatVoice.decay=0.9995", "--set", "snareVoice.tone=1", "--set",
          "synthLine1.delaySend=0.8", "--set", "synthLine2.delaySend=0.8", "--set", "synthLine1.square=1"}},
        {"loud-and-clipping",
         join({"--seed", "16", "--set", "masterGain=24000", "--set", "subBassGain=2", "--set",
               "synthLine1.volume=0.4", "--set", "synthLine2.volume=0.4", "--block", "7"},
              everyButton)},
        {"stopped-then-silent", {"--seed", "17", "--set", "playing=0"}},
        {"scene-saved", join({"--seed", "18", "--save-scene", at("scene.json"), "--set", "shuffleAmount=90",
                              "--set", "globalTranspose=3", "--set", "synthLine2.filterType=1"},
                             everyButton)},
    };
    golden::renderAndCheck(GOLDEN_DIR "/zintor-golden.txt", cases, at("out.wav"), at("scene.json"),
                           {"--press", "Synthline-1/Goa", "--set", "masterGain=9000"}, run);
}

} // namespace
} // namespace zintor
