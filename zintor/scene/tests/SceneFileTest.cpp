// Zintor's scene files: every field survives a save and an open, an opened scene renders exactly as the
// saved state, each kind of bad file is refused with a message and changes nothing, and saving is atomic.
#include "zintor/scene/SceneFile.h"

#include "common/scene/SceneFile.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/StartUp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace zintor {
namespace {

namespace fs = std::filesystem;
constexpr auto kRelaxed = std::memory_order_relaxed;

class SceneFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() / ("zintor-scene-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string path(const char* name) const { return (folder_ / name).string(); }
    void write(const std::string& file, const std::string& text) const { std::ofstream(file) << text; }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path folder_;
};

/// A value in lowest..highest that differs from field to field, so that swapped or dropped fields show.
float between(common::Random& r, float lowest, float highest) {
    return lowest + (highest - lowest) * static_cast<float>(r.below(1000) + 1) / 1001.0f;
}

/// Every field set to its own in-range value.
SynthState variedState() {
    common::Random r(77);
    SynthState s;
    ControlState& c = s.controls;
    c.samplesPerStep = 4321;
    c.stepCount = 200;
    c.globalTranspose = 7;
    c.shuffleAmount = 99;
    c.masterGain = 12345.0f;
    c.subBassGain = between(r, 0.001f, 2.0f);
    c.kickStartIncrement = between(r, 0.05f, 1.5f);
    c.kickPitchDecay = between(r, 0.85f, 0.999f);
    c.kickVolume = between(r, 0.0f, 0.9f);
    c.hitDecay = between(r, 0.0f, 0.9995f);
    c.hitTone = between(r, 0.0f, 1.0f);
    c.snareDecay = between(r, 0.0f, 0.9995f);
    c.snareTone = between(r, 0.0f, 1.0f);
    c.hatDecay = between(r, 0.0f, 0.9995f);
    c.hatTone = between(r, 0.0f, 1.0f);
    int line = 0;
    for (VoiceState* v : {&s.synthLine1, &s.synthLine2, &s.subBass}) {
        ++line;
        for (int i = 0; i < kStatePhraseSteps; ++i) {
            v->phrase.notes[i] = static_cast<std::int8_t>(r.below(49) - 24);
            v->phrase.staccato[i] = static_cast<std::uint8_t>(r.below(2));
            v->phrase.envRates[i] = between(r, -0.05f, 1.2f);
        }
        v->phrase.detune = between(r, 0.0f, 0.25f);
        v->phrase.lfoDepth = between(r, 0.0f, 0.25f);
        v->phrase.lfoRate = between(r, 0.0f, 0.00005f);
        v->phrase.square = line == 2;
        v->sound.filterType = line - 1;
        v->sound.cutoff = between(r, 0.001f, 1.0f);
        v->sound.resonance = between(r, 0.001f, 0.97f);
        v->sound.driveCeiling = between(r, 0.05f, 0.999f);
        v->sound.volume = between(r, 0.001f, 0.4f);
        v->sound.inertia = between(r, 0.000001f, 0.001f);
        v->sound.delaySend = between(r, 0.001f, 0.8f);
        v->sound.osc1Level = between(r, 0.0f, 1.0f);
        v->sound.osc2Level = between(r, 0.0f, 1.0f);
    }
    return s;
}

std::vector<std::int16_t> play(SynthEngine& e, int frames) {
    e.params.playing.store(true, kRelaxed);
    std::vector<std::int16_t> out(2 * static_cast<std::size_t>(frames));
    e.renderBlock(out.data(), frames * 4);
    return out;
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

TEST_F(SceneFiles, AnOpenedSceneRendersSampleForSampleAsTheSavedState) {
    // The saved state: start-up, a re-roll and moved controls.
    auto original = std::make_unique<SynthEngine>();
    common::Random random;
    startUp(*original, random, 1234);
    runGenerator(*original, kSynthLine2, generateGoa, random);
    original->params.shuffleAmount.store(64, kRelaxed);
    original->params.samplesPerStep.store(4000, kRelaxed);
    original->synthLine1.cutoff.store(0.3f, kRelaxed);
    std::string error;
    ASSERT_TRUE(saveSceneFile(path("b.zscene"), captureState(*original), error)) << error;

    // Another session with other phrases opens it.
    auto other = std::make_unique<SynthEngine>();
    common::Random otherRandom;
    startUp(*other, otherRandom, 98765);
    SynthState opened;
    ASSERT_TRUE(loadSceneFile(path("b.zscene"), opened, error)) << error;
    applyState(*other, opened, kStateEverything);

    const int frames = 3 * kSampleRate;
    EXPECT_TRUE(play(*original, frames) == play(*other, frames));
}

TEST_F(SceneFiles, BadFilesAreRefusedWithAMessageAndChangeNothing) {
    std::string good;
    {
        std::string error;
        ASSERT_TRUE(saveSceneFile(path("good.zscene"), variedState(), error));
        good = read(path("good.zscene"));
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
        {"not JSON", "these are not the droids", "not valid JSON"},
        {"truncated", good.substr(0, good.size() / 2), "not valid JSON"},
        {"empty", "", "not valid JSON"},
        {"a Vexla scene", R"({"format": "Vexla scene", "version": 1, "controls": {}})", "Vexla scene"},
        {"no format", R"({"version": 1})", "no format"},
        {"newer version", edited([](auto& j) { j["version"] = 2; }), "newer format"},
        {"step count too high", edited([](auto& j) { j["controls"]["stepCount"] = 257; }), "stepCount"},
        {"tempo too fast", edited([](auto& j) { j["controls"]["samplesPerStep"] = 645; }), "out of range"},
        {"resonance too high", edited([](auto& j) { j["synthLine2"]["resonance"] = 0.98; }), "resonance"},
        {"note out of range", edited([](auto& j) { j["subBass"]["notes"][17] = 100; }), "notes[17]"},
        {"staccato not 0 or 1", edited([](auto& j) { j["synthLine1"]["staccato"][0] = 2; }), "staccato[0]"},
        {"short phrase", edited([](auto& j) { j["synthLine1"]["envRates"].erase(0); }), "256"},
        {"missing field", edited([](auto& j) { j["synthLine1"].erase("detune"); }), "detune"},
        {"wrong type", edited([](auto& j) { j["synthLine1"]["square"] = 1; }), "square"},
        {"fraction for a whole number", edited([](auto& j) { j["controls"]["stepCount"] = 16.5; }), "whole"},
    };
    for (const auto& c : cases) {
        write(path("bad.zscene"), c.text);
        SynthState out = variedState();
        out.controls.stepCount = 3; // a marker that a refused read must leave alone
        const SynthState before = out;
        std::string error;
        EXPECT_FALSE(loadSceneFile(path("bad.zscene"), out, error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(out, before) << c.what;
    }
    std::string error;
    SynthState out;
    EXPECT_FALSE(loadSceneFile(path("missing.zscene"), out, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(SceneFiles, SavingReplacesTheFileWholeByRenameAndLeavesNothingBehind) {
    std::string error;
    SynthState first = variedState();
    ASSERT_TRUE(saveSceneFile(path("s.zscene"), first, error));
    struct stat before {};
    ASSERT_EQ(::stat(path("s.zscene").c_str(), &before), 0);

    SynthState second = first;
    second.controls.stepCount = 5;
    ASSERT_TRUE(saveSceneFile(path("s.zscene"), second, error));
    struct stat after {};
    ASSERT_EQ(::stat(path("s.zscene").c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino); // a new file renamed over the old, never rewritten in place
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder_))
        ++files;
    EXPECT_EQ(files, 1);
    SynthState opened;
    ASSERT_TRUE(loadSceneFile(path("s.zscene"), opened, error));
    EXPECT_EQ(opened, second);

    // A save that cannot be made leaves the old scene as it was.
    const std::string old = read(path("s.zscene"));
    EXPECT_FALSE(saveSceneFile(path("no-such-folder/s.zscene"), first, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read(path("s.zscene")), old);
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
