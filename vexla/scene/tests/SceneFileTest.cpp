// Scene files: every field through a file and back with identical sound after opening, and refusal of
// bad files with a message and no change.
#include "vexla/scene/SceneFile.h"

#include "common/tests/ScratchDir.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/Scene.h"
#include "vexla/engine/tests/EngineTestSupport.h"
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace vexla {
namespace {

using nlohmann::json;
using testing::makeRichEngine;
using testing::renderInBlocks;

TEST(Scene, OpenedSceneSoundsSampleIdentical) {
    auto original = makeRichEngine(7);
    const Scene saved{
        captureScene(*original),
        {"/music/dry loop.wav", "", "/s/\xff\xfe slice.wav", "", "/ü/vcf2.wav"}}; // one not UTF-8
    const common::test::ScratchDir dir("vexla-scene");
    const std::string path = dir.file("identical.json");
    std::string error;
    ASSERT_TRUE(saveSceneFile(path, saved, error)) << error;
    Scene opened;
    ASSERT_TRUE(loadSceneFile(path, opened, error)) << error;
    EXPECT_TRUE(opened.state == saved.state); // every field, exactly
    EXPECT_EQ(opened.samplePaths, saved.samplePaths);

    const int frames = 3 * 12 * 4411; // three passes of the sequence, echoes included
    const auto expected = renderInBlocks(*original, frames, 512);
    auto restored = makeRichEngine(12345); // another seed: every random value differs until opened
    ASSERT_FALSE(captureScene(*restored) == saved.state);
    applyScene(*restored, opened.state, kSceneEverything);
    EXPECT_EQ(renderInBlocks(*restored, frames, 7), expected);
}

TEST(Scene, BadFilesAreRefusedWithAMessageAndChangeNothing) {
    auto engine = makeRichEngine(7);
    const json good = sceneToJson(Scene{captureScene(*engine), {"/a.wav", "", "", "", ""}});
    struct Case {
        const char* name;
        std::string text;
        const char* messagePart;
    };
    const auto edited = [&good](const std::function<void(json&)>& edit) {
        json j = good;
        edit(j);
        return j.dump();
    };
    const Case cases[] = {
        {"other program", edited([](json& j) { j["format"] = "Zintor scene"; }), "not a Vexla scene"},
        {"newer version", edited([](json& j) { j["version"] = 2; }), "newer format"},
        {"step count not whole", edited([](json& j) { j["controls"]["stepCount"] = 12.5; }), "stepCount"},
        {"unstable resonance", edited([](json& j) { j["bassline1"]["resonance"] = 1.2; }), "resonance"},
        {"short note table", edited([](json& j) { j["bassline2"]["notes"].erase(0); }), "notes"},
        {"echo position outside the line", edited([](json& j) { j["echoAlter"]["readPosition"] = 70000; }),
         "readPosition"},
        {"missing group", edited([](json& j) { j.erase("sine"); }), "sine"},
        {"path bytes not hexadecimal", edited([](json& j) {
             j["samples"]["dry"] = json{{"bytes", "2fzz"}};
         }),
         "sample path"},
        {"text where a number belongs", edited([](json& j) { j["kick"]["slide1"] = "fast"; }), "slide1"},
    };
    const common::test::ScratchDir dir("vexla-scene");
    const std::string path = dir.file("bad.json");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        Scene out{captureScene(*engine), {"keep", "", "", "", ""}};
        const Scene before = out;
        std::string error;
        EXPECT_FALSE(loadSceneFile(path, out, error));
        EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
        EXPECT_TRUE(out.state == before.state);
        EXPECT_EQ(out.samplePaths, before.samplePaths);
    }
}

TEST(SceneControls, EveryControlRoundTripsAtBothEndsAndIsRefusedJustBeyond) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(std::string(c.name));
        for (const float end : {c.lowest, c.highest}) {
            Scene scene;
            c.access.set(scene.state.controls, end);
            Scene read;
            std::string error;
            ASSERT_TRUE(sceneFromJson(sceneToJson(scene), read, error)) << error;
            EXPECT_TRUE(read.state.controls == scene.state.controls);
        }
        json beyond = sceneToJson(Scene{});
        const std::string key(c.name);
        if (c.whole)
            beyond["controls"][key] = static_cast<int>(c.highest) + 1;
        else
            beyond["controls"][key] = std::nextafter(c.highest, 1e30f);
        Scene read;
        std::string error;
        EXPECT_FALSE(sceneFromJson(beyond, read, error));
        EXPECT_NE(error.find(key), std::string::npos) << error;
    }
}

} // namespace
} // namespace vexla
