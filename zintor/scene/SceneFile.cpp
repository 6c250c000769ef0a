// The JSON form of Zintor's scenes, one field table per group over the shared scene fields.
#include "zintor/scene/SceneFile.h"

#include <nlohmann/json.hpp>

#include "common/scene/SceneFields.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace zintor {

namespace {

using nlohmann::json;

using common::field;
using common::SceneField;

// The sliders' values are saved and read through the control table (see writeSliders); these rows hold
// the rest: the BPM and Steps limits, and for values without a control what the presets and
// generators give.
const SceneField<ControlState> kControlFields[] = {
    field<&ControlState::samplesPerStep>("samplesPerStep", kStepFramesPerMinute / kMaxBpm,
                                         kStepFramesPerMinute / kMinBpm),
    field<&ControlState::stepCount>("stepCount", 0, kMaxStepCount),
};

// A noise drum's preset, its keys named after the drum. Below 1 keeps its envelope falling.
struct NoiseKeys {
    NoiseParams ControlState::*drum;
    SceneField<NoiseParams> fields[2];
};
const NoiseKeys kNoiseFields[] = {
    {&ControlState::hit,
     {field<&NoiseParams::decay>("hitDecay", 0.0, 0.9995), field<&NoiseParams::tone>("hitTone", 0.0, 1.0)}},
    {&ControlState::snare,
     {field<&NoiseParams::decay>("snareDecay", 0.0, 0.9995),
      field<&NoiseParams::tone>("snareTone", 0.0, 1.0)}},
    {&ControlState::hat,
     {field<&NoiseParams::decay>("hatDecay", 0.0, 0.9995), field<&NoiseParams::tone>("hatTone", 0.0, 1.0)}},
};

constexpr int kLowestNote = -24; // generators give −19..16; a wider margin is still in tune
constexpr int kHighestNote = 24;
constexpr double kLowestEnvRate = -0.05; // "Psychedelic" closes the filter this fast
constexpr double kHighestEnvRate = 1.2;  // the sub bass's fixed rate

const SceneField<PhraseState> kLinePhraseFields[] = {
    field<&PhraseState::detune>("detune", 0.0, 0.25),
    field<&PhraseState::lfoDepth>("lfoDepth", 0.0, 0.25),
    field<&PhraseState::lfoRate>("lfoRate", 0.0, 0.00005),
    field<&PhraseState::square>("square"),
    field<&PhraseState::notes>("notes", kLowestNote, kHighestNote),
    field<&PhraseState::staccato>("staccato", 0, 1),
    field<&PhraseState::envRates>("envRates", kLowestEnvRate, kHighestEnvRate),
};
// The sub bass's generator sets a faster, shallower cutoff oscillator than the lines' styles.
const SceneField<PhraseState> kSubBassPhraseFields[] = {
    field<&PhraseState::detune>("detune", 0.0, 0.25),
    field<&PhraseState::lfoDepth>("lfoDepth", 0.0, 0.25),
    field<&PhraseState::lfoRate>("lfoRate", 0.0, 0.02),
    field<&PhraseState::square>("square"),
    field<&PhraseState::notes>("notes", kLowestNote, kHighestNote),
    field<&PhraseState::staccato>("staccato", 0, 1),
    field<&PhraseState::envRates>("envRates", kLowestEnvRate, kHighestEnvRate),
};

const SceneField<VoiceSound> kLineSoundFields[] = {
    field<&VoiceSound::osc1Level>("osc1Level", 0.0, 1.0), // Osc Mix sets both levels
    field<&VoiceSound::osc2Level>("osc2Level", 0.0, 1.0),
};
// The sub bass has no sliders: its generator sets these, a little beyond the lines' ranges.
const SceneField<VoiceSound> kSubBassSoundFields[] = {
    field<&VoiceSound::filterType>("filterType", 0, 2),
    field<&VoiceSound::cutoff>("cutoff", 0.001, 1.0),
    field<&VoiceSound::resonance>("resonance", 0.001, 0.97),
    field<&VoiceSound::driveCeiling>("driveCeiling", 0.05, 1.0),
    field<&VoiceSound::volume>("volume", 0.001, 0.5),
    field<&VoiceSound::inertia>("inertia", 0.0, 0.001),
    field<&VoiceSound::delaySend>("delaySend", 0.0, 0.8),
    field<&VoiceSound::osc1Level>("osc1Level", 0.0, 1.0),
    field<&VoiceSound::osc2Level>("osc2Level", 0.0, 1.0),
};

std::span<const SceneField<VoiceSound>> soundFields(bool subBass) {
    if (subBass)
        return kSubBassSoundFields;
    return kLineSoundFields;
}

std::span<const SceneField<PhraseState>> phraseFields(bool subBass) {
    if (subBass)
        return kSubBassPhraseFields;
    return kLinePhraseFields;
}

/// The sliders' values of one scene group, each in the range its slider gives.
void writeSliders(json& group, const SynthState& state, std::string_view groupName) {
    for (const Control& c : controls()) {
        if (c.sceneKey.empty() || sceneGroup(c) != groupName)
            continue;
        common::writeRanged(group, c.sceneKey, c.whole, c.access.get(state));
    }
}

void readSliders(common::SceneFields& group, SynthState& state, std::string_view groupName) {
    for (const Control& c : controls()) {
        if (c.sceneKey.empty() || sceneGroup(c) != groupName)
            continue;
        double v = 0.0;
        if (group.readRanged(c.sceneKey.c_str(), c.whole, c.lowest, c.highest, v))
            c.access.set(state, v);
    }
}

VoiceState SynthState::*voiceNamed(std::string_view key) {
    return key == "synthLine1"   ? &SynthState::synthLine1
           : key == "synthLine2" ? &SynthState::synthLine2
                                 : &SynthState::subBass;
}

/// A voice's group holds its sound and its phrase side by side; a synth line's sliders come from the table.
json voiceToJson(const SynthState& state, const char* key) {
    const VoiceState& v = state.*voiceNamed(key);
    const bool subBass = std::string_view(key) == "subBass";
    json j = json::object();
    writeSliders(j, state, key);
    common::writeFields(j, v.sound, soundFields(subBass));
    common::writeFields(j, v.phrase, phraseFields(subBass));
    return j;
}

void voiceFromJson(common::SceneFields& scene, const char* key, SynthState& state) {
    const json* object = scene.object(key);
    if (!object)
        return;
    VoiceState& v = state.*voiceNamed(key);
    const bool subBass = std::string_view(key) == "subBass";
    common::SceneFields in(*object, key);
    readSliders(in, state, key);
    common::readFields(in, v.sound, soundFields(subBass));
    common::readFields(in, v.phrase, phraseFields(subBass));
    if (!in.ok())
        scene.fail(in.error());
}

void controlsFromJson(common::SceneFields& scene, SynthState& state) {
    const json* object = scene.object("controls");
    if (!object)
        return;
    common::SceneFields in(*object, "controls");
    readSliders(in, state, "controls");
    common::readFields<ControlState>(in, state.controls, kControlFields);
    for (const NoiseKeys& noise : kNoiseFields)
        common::readFields<NoiseParams>(in, state.controls.*noise.drum, noise.fields);
    if (!in.ok())
        scene.fail(in.error());
}

} // namespace

json sceneToJson(const SynthState& state) {
    json j = json::object();
    j["format"] = kSceneFormatName;
    j["version"] = kSceneFormatVersion;
    json controls = common::groupToJson<ControlState>(state.controls, kControlFields);
    for (const NoiseKeys& noise : kNoiseFields)
        common::writeFields<NoiseParams>(controls, state.controls.*noise.drum, noise.fields);
    writeSliders(controls, state, "controls");
    j["controls"] = std::move(controls);
    for (const char* voice : {"synthLine1", "synthLine2", "subBass"})
        j[voice] = voiceToJson(state, voice);
    return j;
}

bool sceneFromJson(const json& j, SynthState& out, std::string& error) {
    if (!common::checkSceneHeader(j, kSceneFormatName, kSceneFormatVersion, error))
        return false;
    SynthState s;
    common::SceneFields scene(j, "file");
    controlsFromJson(scene, s);
    for (const char* voice : {"synthLine1", "synthLine2", "subBass"})
        voiceFromJson(scene, voice, s);
    if (!scene.ok()) {
        error = scene.error();
        return false;
    }
    out = s;
    return true;
}

bool saveSceneFile(const std::string& path, const SynthState& state, std::string& error) {
    return common::writeJsonFile(path, sceneToJson(state), error);
}

bool loadSceneFile(const std::string& path, SynthState& out, std::string& error) {
    json j;
    if (!common::readJsonFile(path, j, error))
        return false;
    return sceneFromJson(j, out, error);
}

} // namespace zintor
