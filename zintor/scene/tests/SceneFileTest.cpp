// Zintor's scene files: every field survives a save and an open, and each kind of bad Zintor scene is
// refused with a message and changes nothing. JSON faults and the atomic save are common/scene's tests;
// that an opened scene renders as the saved one is the golden renders' "scene-saved" case.
#include "zintor/scene/SceneFile.h"

#include <nlohmann/json.hpp>

#include "common/scene/SceneFile.h"
#include "common/tests/ScratchDir.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/StartUp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace zintor {
namespace {

class SceneFiles : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return dir_.file(name); }
    common::test::ScratchDir dir_{"zintor-scene"};
};

/// A value in lowest..highest that differs from field to field, so that swapped or dropped fields show.
float between(common::Random& r, float lowest, float highest) {
    return lowest + (highest - lowest) * static_cast<float>(r.below(1000) + 1) / 1001.0f;
}

/// Every field set to its own in-range value.
SynthState variedState() {
    common::Random r(77);
    SynthState s;
    for (const Control& c : controls()) {
        if (c.sceneKey.empty())
            continue; // Osc Mix: its two levels are set below
        const int span = static_cast<int>(c.highest - c.lowest);
        c.access.set(s, c.whole ? c.lowest + 1.0f + static_cast<float>(r.below(span)) // not the lowest: 0
                                : between(r, c.lowest, c.highest));
    }
    s.controls.samplesPerStep = 4321;
    s.controls.stepCount = 200;
    for (NoiseParams* drum : {&s.controls.hit, &s.controls.snare, &s.controls.hat})
        *drum = {between(r, 0.0f, 0.9995f), between(r, 0.0f, 1.0f)};
    for (VoiceState* v : {&s.synthLine1, &s.synthLine2, &s.subBass}) {
        for (int i = 0; i < kStatePhraseSteps; ++i) {
            v->phrase.notes[i] = static_cast<std::int8_t>(r.below(49) - 24);
            v->phrase.staccato[i] = static_cast<std::uint8_t>(r.below(2));
            v->phrase.envRates[i] = between(r, -0.05f, 1.2f);
        }
        v->phrase.detune = between(r, 0.0f, 0.25f);
        v->phrase.lfoDepth = between(r, 0.0f, 0.25f);
        v->phrase.lfoRate = between(r, 0.0f, 0.00005f);
        v->phrase.square = v == &s.synthLine2;
        v->sound.osc1Level = between(r, 0.0f, 1.0f);
        v->sound.osc2Level = between(r, 0.0f, 1.0f);
    }
    return s;
}

TEST_F(SceneFiles, EveryFieldSurvivesSaveAndOpenAndTheEngineHoldsItExactly) {
    const SynthState saved = variedState();
    std::string error;
    ASSERT_TRUE(saveSceneFile(path("a.zscene"), saved, error)) << error;
    SynthState opened;
    ASSERT_TRUE(loadSceneFile(path("a.zscene"), opened, error)) << error;
    EXPECT_EQ(opened, saved);

    auto engine = std::make_unique<SynthEngine>();
    applyState(*engine, opened, kStateEverything);
    EXPECT_EQ(captureState(*engine), saved); // capture and apply cover the same fields
}

TEST_F(SceneFiles, BadFilesAreRefusedWithAMessageAndChangeNothing) {
    std::string good;
    {
        std::string error;
        ASSERT_TRUE(saveSceneFile(path("good.zscene"), variedState(), error));
        std::ifstream in(path("good.zscene"));
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto edited = [&](const std::function<void(nlohmann::json&)>& edit) {
        nlohmann::json j = nlohmann::json::parse(good);
        edit(j);
        return j.dump();
    };
    const struct {
        const char* what;
        std::string text;
        const char* says;
    } cases[] = {
        {"a Vexla scene", R"({"format": "Vexla scene", "version": 1, "controls": {}})", "Vexla scene"},
        {"no format", R"({"version": 1})", "no format"},
        {"newer version", edited([](auto& j) { j["version"] = 2; }), "newer format"},
        {"tempo too fast", edited([](auto& j) { j["controls"]["samplesPerStep"] = 645; }), "out of range"},
        {"note out of range", edited([](auto& j) { j["subBass"]["notes"][17] = 100; }), "notes[17]"},
        {"staccato not 0 or 1", edited([](auto& j) { j["synthLine1"]["staccato"][0] = 2; }), "staccato[0]"},
        {"short phrase", edited([](auto& j) { j["synthLine1"]["envRates"].erase(0); }), "256"},
        {"missing field", edited([](auto& j) { j["synthLine1"].erase("detune"); }), "detune"},
        {"wrong type", edited([](auto& j) { j["synthLine1"]["square"] = 1; }), "square"},
        {"fraction for a whole number", edited([](auto& j) { j["controls"]["stepCount"] = 16.5; }), "whole"},
    };
    for (const auto& c : cases) {
        std::ofstream(path("bad.zscene")) << c.text;
        SynthState out = variedState();
        out.controls.stepCount = 3; // a marker that a refused read must leave alone
        const SynthState before = out;
        std::string error;
        EXPECT_FALSE(loadSceneFile(path("bad.zscene"), out, error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(out, before) << c.what;
    }
}

TEST(SceneSliders, EverySliderRoundTripsAtBothEndsAndIsRefusedJustBeyond) {
    auto engine = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*engine, random, 5);
    const SynthState started = captureState(*engine); // every value in range
    for (const Control& c : controls()) {
        if (c.sceneKey.empty())
            continue; // Osc Mix: its levels are fields of their own
        SCOPED_TRACE(std::string(c.name));
        for (const float end : {c.lowest, c.highest}) {
            SynthState state = started;
            c.access.set(state, end);
            SynthState read;
            std::string error;
            ASSERT_TRUE(sceneFromJson(sceneToJson(state), read, error)) << error;
            EXPECT_EQ(c.access.get(read), c.access.get(state));
        }
        nlohmann::json beyond = sceneToJson(started);
        const std::string key(c.sceneKey);
        auto& value = beyond[sceneGroup(c)][key];
        if (c.whole)
            value = static_cast<int>(c.highest) + 1;
        else
            value = std::nextafter(c.highest, 1e30f);
        SynthState read;
        std::string error;
        EXPECT_FALSE(sceneFromJson(beyond, read, error));
        EXPECT_NE(error.find(key), std::string::npos) << error;
    }
}

} // namespace
} // namespace zintor
