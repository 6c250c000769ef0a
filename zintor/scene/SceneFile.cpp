// The JSON form of Zintor's scenes, one field table per group over the shared scene fields.
#include "zintor/scene/SceneFile.h"

#include "common/scene/SceneFields.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"

#include <cstddef>

namespace zintor {

namespace {

using nlohmann::json;

using common::field;
using common::SceneField;

/// A slider's value: the range its slider gives, from the control table.
template <auto Member, typename S = typename common::detail::MemberOf<decltype(Member)>::Owner>
SceneField<S> sliderField(const char* key, std::string_view control) {
    const Control& c = *findControl(control);
    return field<Member>(key, c.lowest, c.highest);
}

// Ranges are what the window's controls give (the sliders from the control table, the BPM and Steps
// limits), or for values without a control what the presets and generators give.
const SceneField<ControlState> kControlFields[] = {
    field<&ControlState::samplesPerStep>("samplesPerStep", kStepFramesPerMinute / kMaxBpm,
                                         kStepFramesPerMinute / kMinBpm),
    field<&ControlState::stepCount>("stepCount", 0, kMaxStepCount),
    sliderField<&ControlState::globalTranspose>("globalTranspose", "globalTranspose"),
    sliderField<&ControlState::shuffleAmount>("shuffleAmount", "shuffleAmount"),
    sliderField<&ControlState::masterGain>("masterGain", "masterGain"),
    sliderField<&ControlState::subBassGain>("subBassGain", "subBassGain"),
    sliderField<&ControlState::kickStartIncrement>("kickStartIncrement", "kick.startIncrement"),
    sliderField<&ControlState::kickPitchDecay>("kickPitchDecay", "kick.pitchDecay"),
    sliderField<&ControlState::kickVolume>("kickVolume", "kick.volume"),
    // Below 1 keeps a noise drum's envelope falling.
    field<&ControlState::hitDecay>("hitDecay", 0.0, 0.9995),
    field<&ControlState::hitTone>("hitTone", 0.0, 1.0),
    field<&ControlState::snareDecay>("snareDecay", 0.0, 0.9995),
    field<&ControlState::snareTone>("snareTone", 0.0, 1.0),
    field<&ControlState::hatDecay>("hatDecay", 0.0, 0.9995),
    field<&ControlState::hatTone>("hatTone", 0.0, 1.0),
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
    sliderField<&VoiceSound::filterType>("filterType", "synthLine1.filterType"),
    sliderField<&VoiceSound::cutoff>("cutoff", "synthLine1.cutoff"),
    sliderField<&VoiceSound::resonance>("resonance", "synthLine1.resonance"),
    sliderField<&VoiceSound::driveCeiling>("driveCeiling", "synthLine1.driveCeiling"),
    sliderField<&VoiceSound::volume>("volume", "synthLine1.volume"),
    sliderField<&VoiceSound::inertia>("inertia", "synthLine1.inertia"),
    sliderField<&VoiceSound::delaySend>("delaySend", "synthLine1.delaySend"),
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

/// A voice's group holds its sound and its phrase side by side.
json voiceToJson(const VoiceState& v, bool subBass) {
    json j = json::object();
    common::writeFields<VoiceSound>(j, v.sound, subBass ? kSubBassSoundFields : kLineSoundFields);
    common::writeFields<PhraseState>(j, v.phrase, subBass ? kSubBassPhraseFields : kLinePhraseFields);
    return j;
}

void voiceFromJson(common::SceneFields& scene, const char* key, bool subBass, VoiceState& v) {
    const json* object = scene.object(key);
    if (!object)
        return;
    common::SceneFields in(*object, key);
    common::readFields<VoiceSound>(in, v.sound, subBass ? kSubBassSoundFields : kLineSoundFields);
    common::readFields<PhraseState>(in, v.phrase, subBass ? kSubBassPhraseFields : kLinePhraseFields);
    if (!in.ok())
        scene.fail(in.error());
}

} // namespace

json sceneToJson(const SynthState& state) {
    json j = json::object();
    j["format"] = kSceneFormatName;
    j["version"] = kSceneFormatVersion;
    j["controls"] = common::groupToJson<ControlState>(state.controls, kControlFields);
    j["synthLine1"] = voiceToJson(state.synthLine1, false);
    j["synthLine2"] = voiceToJson(state.synthLine2, false);
    j["subBass"] = voiceToJson(state.subBass, true);
    return j;
}

bool sceneFromJson(const json& j, SynthState& out, std::string& error) {
    if (!common::checkSceneHeader(j, kSceneFormatName, kSceneFormatVersion, error))
        return false;
    SynthState s;
    common::SceneFields scene(j, "file");
    common::readGroup<ControlState>(scene, "controls", "controls", s.controls, kControlFields);
    voiceFromJson(scene, "synthLine1", false, s.synthLine1);
    voiceFromJson(scene, "synthLine2", false, s.synthLine2);
    voiceFromJson(scene, "subBass", true, s.subBass);
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
