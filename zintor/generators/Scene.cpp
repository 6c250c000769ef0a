// The JSON form of Zintor's scenes, one table of names and ranges per group.
#include "zintor/generators/Scene.h"

#include "common/SceneFile.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/ControlFormulas.h"

#include <cstddef>

namespace zintor {

namespace {

using nlohmann::json;

template <typename S> struct IntField {
    const char* name;
    std::int32_t S::*member;
    int lowest;
    int highest;
};
template <typename S> struct FloatField {
    const char* name;
    float S::*member;
    float lowest;
    float highest;
};

// Ranges are what the window's controls give (the BPM limits, the sliders' formulas at their ends),
// or for values without a control what the presets and generators give.
const IntField<ControlState> kControlInts[] = {
    {"samplesPerStep", &ControlState::samplesPerStep, kStepFramesPerMinute / kMaxBpm,
     kStepFramesPerMinute / kMinBpm},
    {"stepCount", &ControlState::stepCount, 0, kMaxStepCount},
    {"globalTranspose", &ControlState::globalTranspose, -12, 12},
    {"shuffleAmount", &ControlState::shuffleAmount, 0, 256},
};
const FloatField<ControlState> kControlFloats[] = {
    {"masterGain", &ControlState::masterGain, 0.0f, 24000.0f},
    {"subBassGain", &ControlState::subBassGain, 0.001f, 2.0f},
    {"kickStartIncrement", &ControlState::kickStartIncrement, 0.05f, 1.5f},
    {"kickPitchDecay", &ControlState::kickPitchDecay, 0.85f, 0.999f},
    {"kickVolume", &ControlState::kickVolume, 0.0f, 0.9f},
    // Below 1 keeps a noise drum's envelope falling.
    {"hitDecay", &ControlState::hitDecay, 0.0f, 0.9995f},
    {"hitTone", &ControlState::hitTone, 0.0f, 1.0f},
    {"snareDecay", &ControlState::snareDecay, 0.0f, 0.9995f},
    {"snareTone", &ControlState::snareTone, 0.0f, 1.0f},
    {"hatDecay", &ControlState::hatDecay, 0.0f, 0.9995f},
    {"hatTone", &ControlState::hatTone, 0.0f, 1.0f},
};

const FloatField<PhraseState> kPhraseFloats[] = {
    {"detune", &PhraseState::detune, 0.0f, 0.25f},
    {"lfoDepth", &PhraseState::lfoDepth, 0.0f, 0.25f},
    {"lfoRate", &PhraseState::lfoRate, 0.0f, 0.00005f},
};
// The sub bass's generator sets a faster, shallower cutoff oscillator than the lines' styles.
const FloatField<PhraseState> kSubBassPhraseFloats[] = {
    {"detune", &PhraseState::detune, 0.0f, 0.25f},
    {"lfoDepth", &PhraseState::lfoDepth, 0.0f, 0.25f},
    {"lfoRate", &PhraseState::lfoRate, 0.0f, 0.02f},
};
constexpr int kLowestNote = -24; // generators give −19..16; a wider margin is still in tune
constexpr int kHighestNote = 24;
constexpr float kLowestEnvRate = -0.05f; // "Psychedelic" closes the filter this fast
constexpr float kHighestEnvRate = 1.2f;  // the sub bass's fixed rate

const IntField<VoiceSound> kSoundInts[] = {{"filterType", &VoiceSound::filterType, 0, 2}};
const FloatField<VoiceSound> kLineSoundFloats[] = {
    {"cutoff", &VoiceSound::cutoff, 0.001f, 1.0f},
    {"resonance", &VoiceSound::resonance, 0.001f, 0.97f},
    {"driveCeiling", &VoiceSound::driveCeiling, 0.05f, 0.999f},
    {"volume", &VoiceSound::volume, 0.001f, 0.4f},
    {"inertia", &VoiceSound::inertia, 0.000001f, 0.001f},
    {"delaySend", &VoiceSound::delaySend, 0.001f, 0.8f},
    {"osc1Level", &VoiceSound::osc1Level, 0.0f, 1.0f},
    {"osc2Level", &VoiceSound::osc2Level, 0.0f, 1.0f},
};
// The sub bass has no sliders: its generator sets these, a little beyond the lines' ranges.
const FloatField<VoiceSound> kSubBassSoundFloats[] = {
    {"cutoff", &VoiceSound::cutoff, 0.001f, 1.0f},
    {"resonance", &VoiceSound::resonance, 0.001f, 0.97f},
    {"driveCeiling", &VoiceSound::driveCeiling, 0.05f, 1.0f},
    {"volume", &VoiceSound::volume, 0.001f, 0.5f},
    {"inertia", &VoiceSound::inertia, 0.0f, 0.001f},
    {"delaySend", &VoiceSound::delaySend, 0.0f, 0.8f},
    {"osc1Level", &VoiceSound::osc1Level, 0.0f, 1.0f},
    {"osc2Level", &VoiceSound::osc2Level, 0.0f, 1.0f},
};

template <typename S, std::size_t N> void writeInts(json& to, const S& from, const IntField<S> (&fields)[N]) {
    for (const auto& f : fields)
        to[f.name] = from.*f.member;
}
template <typename S, std::size_t N>
void writeFloats(json& to, const S& from, const FloatField<S> (&fields)[N]) {
    for (const auto& f : fields)
        to[f.name] = from.*f.member;
}
template <typename S, std::size_t N>
void readInts(common::SceneFields& in, S& to, const IntField<S> (&fields)[N]) {
    for (const auto& f : fields)
        in.readInt(f.name, f.lowest, f.highest, to.*f.member);
}
template <typename S, std::size_t N>
void readFloats(common::SceneFields& in, S& to, const FloatField<S> (&fields)[N]) {
    for (const auto& f : fields)
        in.readFloat(f.name, f.lowest, f.highest, to.*f.member);
}

json voiceToJson(const VoiceState& v, bool subBass) {
    json j = json::object();
    writeInts(j, v.sound, kSoundInts);
    writeFloats(j, v.sound, subBass ? kSubBassSoundFloats : kLineSoundFloats);
    writeFloats(j, v.phrase, subBass ? kSubBassPhraseFloats : kPhraseFloats);
    j["square"] = v.phrase.square;
    json notes = json::array();
    json staccato = json::array();
    json envRates = json::array();
    for (int i = 0; i < kStatePhraseSteps; ++i) {
        notes.push_back(static_cast<int>(v.phrase.notes[i]));
        staccato.push_back(static_cast<int>(v.phrase.staccato[i]));
        envRates.push_back(v.phrase.envRates[i]);
    }
    j["notes"] = std::move(notes);
    j["staccato"] = std::move(staccato);
    j["envRates"] = std::move(envRates);
    return j;
}

void voiceFromJson(common::SceneFields& scene, const char* key, bool subBass, VoiceState& v) {
    const json* object = scene.object(key);
    if (!object)
        return;
    common::SceneFields in(*object, key);
    readInts(in, v.sound, kSoundInts);
    readFloats(in, v.sound, subBass ? kSubBassSoundFloats : kLineSoundFloats);
    readFloats(in, v.phrase, subBass ? kSubBassPhraseFloats : kPhraseFloats);
    in.readBool("square", v.phrase.square);
    int notes[kStatePhraseSteps];
    int staccato[kStatePhraseSteps];
    if (in.readInts("notes", kLowestNote, kHighestNote, notes, kStatePhraseSteps) &&
        in.readInts("staccato", 0, 1, staccato, kStatePhraseSteps)) {
        for (int i = 0; i < kStatePhraseSteps; ++i) {
            v.phrase.notes[i] = static_cast<std::int8_t>(notes[i]);
            v.phrase.staccato[i] = static_cast<std::uint8_t>(staccato[i]);
        }
    }
    in.readFloats("envRates", kLowestEnvRate, kHighestEnvRate, v.phrase.envRates.data(), kStatePhraseSteps);
    if (!in.ok())
        scene.fail(in.error());
}

} // namespace

json sceneToJson(const SynthState& state) {
    json j = json::object();
    j["format"] = kSceneFormatName;
    j["version"] = kSceneFormatVersion;
    json controls = json::object();
    writeInts(controls, state.controls, kControlInts);
    writeFloats(controls, state.controls, kControlFloats);
    j["controls"] = std::move(controls);
    j["synthLine1"] = voiceToJson(state.synthLine1, false);
    j["synthLine2"] = voiceToJson(state.synthLine2, false);
    j["subBass"] = voiceToJson(state.subBass, true);
    return j;
}

bool sceneFromJson(const json& j, SynthState& out, std::string& error) {
    if (!common::checkSceneHeader(j, kSceneFormatName, kSceneFormatVersion, error))
        return false;
    SynthState s;
    common::SceneFields scene(j, "scene");
    if (const json* controls = scene.object("controls")) {
        common::SceneFields in(*controls, "controls");
        readInts(in, s.controls, kControlInts);
        readFloats(in, s.controls, kControlFloats);
        if (!in.ok())
            scene.fail(in.error());
    }
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
