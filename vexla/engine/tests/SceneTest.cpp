// Scenes: every field through a file and back with identical sound after opening, refusal of bad files,
// a posted scene taken exactly at the next step boundary, and the published step and peaks.
#include "vexla/engine/Scene.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/VcfFilterSetting.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include "vexla/engine/tests/OneFrame.h"

#include "common/SceneFile.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vexla {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::makeEverythingSound;
using testing::renderInBlocks;

/// A started engine with every unit sounding and controls away from their start positions.
std::unique_ptr<LoopEngine> makeRichEngine(std::uint32_t seed) {
    auto engine = std::make_unique<LoopEngine>();
    common::Random random;
    startUp(*engine, random, seed);
    makeEverythingSound(*engine, random);
    EngineParams& p = engine->params;
    p.transpose = 3;
    p.masterGain = 0.6171875f;
    p.samplesPerStep = 4410;
    p.vcf1Cutoff = 0.3f;
    p.vcf1Feedback = vcfFilterFromSliders(38, 90).feedback;
    return engine;
}

std::string tempPath(const char* name) {
    return (fs::temp_directory_path() / ("vexla-scene-" + std::to_string(::getpid()) + "-" + name)).string();
}

TEST(Scene, OpenedSceneSoundsSampleIdenticalWhateverTheBlockSize) {
    auto original = makeRichEngine(7);
    const Scene saved{captureScene(*original),
                      {"/music/dry loop.wav", "", "/s/slice.wav", "", "/ü/vcf2.wav"}};
    const std::string path = tempPath("identical.json");
    std::string error;
    ASSERT_TRUE(saveSceneFile(path, saved, error)) << error;
    Scene opened;
    ASSERT_TRUE(loadSceneFile(path, opened, error)) << error;
    fs::remove(path);
    EXPECT_TRUE(opened.state == saved.state); // every field, exactly
    EXPECT_EQ(opened.samplePaths, saved.samplePaths);

    const int frames = 3 * 12 * 4411; // three passes of the sequence, echoes included
    const auto expected = renderInBlocks(*original, frames, 512);
    for (int block : {1, 7, 64}) {
        auto restored = makeRichEngine(12345); // another seed: every random value differs until opened
        ASSERT_FALSE(captureScene(*restored) == saved.state);
        applyScene(*restored, opened.state, kSceneEverything);
        const auto got = renderInBlocks(*restored, frames, block);
        ASSERT_EQ(got, expected) << "block " << block;
    }
}

TEST(Scene, BadFilesAreRefusedWithAMessageAndChangeNothing) {
    auto engine = makeRichEngine(7);
    const json good = sceneToJson(Scene{captureScene(*engine), {"/a.wav", "", "", "", ""}});
    struct Case {
        const char* name;
        std::function<std::string()> text;
        const char* messagePart;
    };
    auto edited = [&](std::function<void(json&)> edit) {
        return [&good, edit] {
            json j = good;
            edit(j);
            return j.dump();
        };
    };
    const Case cases[] = {
        {"not JSON", [] { return std::string("RIFF....WAVEfmt "); }, "not valid JSON"},
        {"truncated",
         [&] {
             const std::string t = good.dump();
             return t.substr(0, t.size() / 2);
         },
         "truncated"},
        {"other program", edited([](json& j) { j["format"] = "Zintor scene"; }), "not a Vexla scene"},
        {"newer version", edited([](json& j) { j["version"] = 2; }), "newer format"},
        {"master gain above range", edited([](json& j) { j["controls"]["masterGain"] = 1.5; }), "masterGain"},
        {"step count above range", edited([](json& j) { j["controls"]["stepCount"] = 65; }), "stepCount"},
        {"step count not whole", edited([](json& j) { j["controls"]["stepCount"] = 12.5; }), "stepCount"},
        {"unstable resonance", edited([](json& j) { j["bassline1"]["resonance"] = 1.2; }), "resonance"},
        {"short note table", edited([](json& j) { j["bassline2"]["notes"].erase(0); }), "notes"},
        {"negative hat level", edited([](json& j) { j["hiHats"]["levels"][5] = -0.1; }), "levels[5]"},
        {"echo position outside the line", edited([](json& j) { j["echoAlter"]["readPosition"] = 70000; }),
         "readPosition"},
        {"missing group", edited([](json& j) { j.erase("sine"); }), "sine"},
        {"sample path not text", edited([](json& j) { j["samples"]["dry"] = 5; }), "dry"},
        {"text where a number belongs", edited([](json& j) { j["kick"]["slide1"] = "fast"; }), "slide1"},
    };
    const std::string path = tempPath("bad.json");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text();
        Scene out{captureScene(*engine), {"keep", "", "", "", ""}};
        const Scene before = out;
        std::string error;
        EXPECT_FALSE(loadSceneFile(path, out, error));
        EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
        EXPECT_TRUE(out.state == before.state);
        EXPECT_EQ(out.samplePaths, before.samplePaths);
    }
    fs::remove(path);
}

// Renders frame by frame until the next frame starts a step.
void renderToBoundary(LoopEngine& engine, std::vector<std::int16_t>& out) {
    do {
        const testing::OutputFrame f = testing::renderOne(engine);
        out.push_back(f.left);
        out.push_back(f.right);
    } while (engine.sampleInStep() != 0);
}

TEST(Scene, PostedSceneIsTakenExactlyAtTheNextStepBoundary) {
    auto live = makeRichEngine(3);
    auto reference = makeRichEngine(3);
    const SceneState other = captureScene(*makeRichEngine(42));
    std::vector<std::int16_t> liveOut, referenceOut;
    for (int i = 0; i < 2 * 4411 + 1234; ++i) { // into the third step
        const testing::OutputFrame a = testing::renderOne(*live);
        const testing::OutputFrame b = testing::renderOne(*reference);
        liveOut.insert(liveOut.end(), {a.left, a.right});
        referenceOut.insert(referenceOut.end(), {b.left, b.right});
    }
    const SceneState before = captureScene(*live);
    live->postScene(other, kSceneEverything);
    renderToBoundary(*live, liveOut);
    SceneState beforeBoundary = captureScene(*live);
    beforeBoundary.echoReadPos =
        live->echo.settingReadPos(); // the window's echo setting counts from the post
    EXPECT_TRUE(beforeBoundary == before) << "taken before the boundary";
    renderToBoundary(*reference, referenceOut);
    applyScene(*reference, other, kSceneEverything);
    const int stepBefore = live->currentStep();
    for (int i = 0; i < 3 * 4411; ++i) {
        const testing::OutputFrame a = testing::renderOne(*live);
        const testing::OutputFrame b = testing::renderOne(*reference);
        liveOut.insert(liveOut.end(), {a.left, a.right});
        referenceOut.insert(referenceOut.end(), {b.left, b.right});
    }
    EXPECT_TRUE(captureScene(*live) == other);
    EXPECT_EQ(liveOut, referenceOut);
    EXPECT_EQ(stepBefore, 3); // the loop went on in time: no restart at step 0
}

TEST(EngineReports, PlayingStepIsPublishedOnEachBoundaryAndStandsWhenStopped) {
    auto engine = testing::makeQuietEngine();
    engine->params.stepCount = 5;
    engine->params.samplesPerStep = 2000;
    for (int frame = 0; frame < 12 * 2001; ++frame) {
        testing::renderOne(*engine);
        ASSERT_EQ(engine->params.playingStep.load(), (frame / 2001) % 5) << "frame " << frame;
    }
    engine->params.running = false;
    for (int frame = 0; frame < 5000; ++frame)
        testing::renderOne(*engine);
    EXPECT_EQ(engine->params.playingStep.load(), (12 * 2001 - 1) / 2001 % 5);
}

TEST(EngineReports, PeaksHoldTheLargestMagnitudeAndFallOnePerFrame) {
    auto engine = makeRichEngine(5);
    int left = 0, right = 0, highest = 0;
    for (int frame = 0; frame < 40000; ++frame) {
        const testing::OutputFrame f = testing::renderOne(*engine);
        left = std::max(left - 1, std::abs(int{f.left}));
        right = std::max(right - 1, std::abs(int{f.right}));
        left = std::max(left, 0);
        right = std::max(right, 0);
        ASSERT_EQ(engine->params.peakLeft.load(), left) << "frame " << frame;
        ASSERT_EQ(engine->params.peakRight.load(), right) << "frame " << frame;
        highest = std::max(highest, left);
    }
    EXPECT_GT(highest, 1000); // the meters had something to show
    engine->params.running = false;
    const int start = engine->params.peakLeft.load();
    for (int frame = 1; frame <= 40000; ++frame) {
        testing::renderOne(*engine);
        ASSERT_EQ(engine->params.peakLeft.load(), std::max(start - frame, 0));
    }
    EXPECT_EQ(engine->params.peakRight.load(), 0);
}

} // namespace
} // namespace vexla
