// Capturing and restoring the loop engine's sound state, and its JSON scene files.
#include "vexla/engine/Scene.h"

#include "common/SceneFile.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/ParamSnapshot.h"
#include "vexla/engine/ResonantLowpass.h"
#include "vexla/samples/SampleLoader.h"

#include <cstddef>
#include <span>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
using nlohmann::json;

template <typename T, std::size_t N>
void loadAll(std::array<T, N>& to, const std::array<std::atomic<T>, N>& from) {
    for (std::size_t i = 0; i < N; ++i)
        to[i] = from[i].load(kRelaxed);
}

template <typename T, std::size_t N>
void storeAll(std::array<std::atomic<T>, N>& to, const std::array<T, N>& from) {
    for (std::size_t i = 0; i < N; ++i)
        to[i].store(from[i], kRelaxed);
}

BassPattern captureBass(const BassVoice& v) {
    BassPattern b;
    loadAll(b.notes, v.notes);
    loadAll(b.gates, v.gates);
    b.mode = v.mode.load(kRelaxed);
    b.clip = v.clip.load(kRelaxed);
    b.echoSend = v.echoSend.load(kRelaxed);
    b.resonance = v.resonance.load(kRelaxed);
    b.envelopeRate = v.envelopeRate.load(kRelaxed);
    b.pwmLfoRate = v.pwmLfoRate.load(kRelaxed);
    b.pwmLfoDepth = v.pwmLfoDepth.load(kRelaxed);
    b.cutoffLfoRate = v.cutoffLfoRate.load(kRelaxed);
    b.cutoffLfoDepth = v.cutoffLfoDepth.load(kRelaxed);
    return b;
}

void applyBass(BassVoice& v, const BassPattern& b) {
    storeAll(v.notes, b.notes);
    storeAll(v.gates, b.gates);
    v.mode.store(b.mode, kRelaxed);
    v.clip.store(b.clip, kRelaxed);
    v.echoSend.store(b.echoSend, kRelaxed);
    v.resonance.store(b.resonance, kRelaxed);
    v.envelopeRate.store(b.envelopeRate, kRelaxed);
    v.pwmLfoRate.store(b.pwmLfoRate, kRelaxed);
    v.pwmLfoDepth.store(b.pwmLfoDepth, kRelaxed);
    v.cutoffLfoRate.store(b.cutoffLfoRate, kRelaxed);
    v.cutoffLfoDepth.store(b.cutoffLfoDepth, kRelaxed);
}

// ---- one table per group of the file: name, range, and where the value lives ----

template <typename S>
struct FloatField {
    const char* name;
    float S::*member;
    float lowest;
    float highest;
};
template <typename S>
struct IntField {
    const char* name;
    std::int32_t S::*member;
    std::int32_t lowest;
    std::int32_t highest;
};
template <typename S, typename T>
struct TableField {
    const char* name;
    std::array<T, kSceneSteps> S::*member;
    T lowest;
    T highest;
};

constexpr float kVolumeMax = 128.0f * 128.0f; // level sliders × 128
// Feedback grows with both cutoff and resonance, each 0.05..0.95, so the corners bound it exactly.
const float kFeedbackMin = ResonantLowpass::feedbackFor(0.05f, 0.05f);
const float kFeedbackMax = ResonantLowpass::feedbackFor(0.95f, 0.95f);
constexpr std::int32_t kMaxGate = 20000; // a gate is at most one step of the slowest tempo

const IntField<ControlValues> kControlInts[] = {
    {"stepCount", &ControlValues::stepCount, 3, 64},
    {"samplesPerStep", &ControlValues::samplesPerStep, 2000, 20000},
    {"transpose", &ControlValues::transpose, -12, 12},
};
const FloatField<ControlValues> kControlFloats[] = {
    {"masterGain", &ControlValues::masterGain, 0.0f, 1.0f},
    {"kickVolume", &ControlValues::kickVolume, 0.0f, kVolumeMax},
    {"bass1Volume", &ControlValues::bass1Volume, 0.0f, kVolumeMax},
    {"bass2Volume", &ControlValues::bass2Volume, 0.0f, kVolumeMax},
    {"hatVolume", &ControlValues::hatVolume, 0.0f, 1.0f},
    {"sineVolume", &ControlValues::sineVolume, 0.0f, 1.0f},
    {"dryLooperGain", &ControlValues::dryLooperGain, 0.0f, 1.0f},
    {"secondLooperGain", &ControlValues::secondLooperGain, 0.0f, 1.0f},
    {"vcf1Gain", &ControlValues::vcf1Gain, 0.0f, 1.0f},
    {"vcf2Gain", &ControlValues::vcf2Gain, 0.0f, 1.0f},
    {"slicerGain", &ControlValues::slicerGain, 0.0f, 1.0f},
    {"vcf1Cutoff", &ControlValues::vcf1Cutoff, 0.05f, 0.95f},
    {"vcf1Feedback", &ControlValues::vcf1Feedback, kFeedbackMin, kFeedbackMax},
    {"vcf2Cutoff", &ControlValues::vcf2Cutoff, 0.05f, 0.95f},
    {"vcf2Feedback", &ControlValues::vcf2Feedback, kFeedbackMin, kFeedbackMax},
};

// Generated values: the generators' ranges (a little wider where a product rounds), so that nothing
// unstable (a resonance of 1 or more, a negative decay) can enter through a file.
const IntField<BassPattern> kBassInts[] = {{"mode", &BassPattern::mode, 0, 3}};
const FloatField<BassPattern> kBassFloats[] = {
    {"clip", &BassPattern::clip, 0.0f, 8191.0f},
    {"echoSend", &BassPattern::echoSend, 0.0f, 0.67f},
    {"resonance", &BassPattern::resonance, 0.0f, 0.98f},
    {"envelopeRate", &BassPattern::envelopeRate, 0.0f, 0.01f},
    {"pwmLfoRate", &BassPattern::pwmLfoRate, 0.0f, 0.013f},
    {"pwmLfoDepth", &BassPattern::pwmLfoDepth, 0.0f, 199.0f},
    {"cutoffLfoRate", &BassPattern::cutoffLfoRate, 0.0f, 0.013f},
    {"cutoffLfoDepth", &BassPattern::cutoffLfoDepth, 0.0f, 1.0f},
};
const TableField<BassPattern, std::int32_t> kBassTables[] = {
    {"notes", &BassPattern::notes, -5, 24},
    {"gates", &BassPattern::gates, 0, kMaxGate},
};

const FloatField<KickPattern> kKickFloats[] = {
    {"startFreq", &KickPattern::startFreq, 0.0f, 0.1f},
    {"slide1", &KickPattern::slide1, 0.0f, 0.0004f},
};

const IntField<HatPattern> kHatInts[] = {{"accentOff", &HatPattern::accentOff, 0, 1}};
const FloatField<HatPattern> kHatFloats[] = {{"echoSend", &HatPattern::echoSend, 0.0f, 0.84f}};
const TableField<HatPattern, float> kHatTables[] = {
    {"levels", &HatPattern::levels, 0.0f, 1.0f},
    {"decays", &HatPattern::decays, 0.0f, 0.003f},
};

const FloatField<SinePattern> kSineFloats[] = {{"echoSend", &SinePattern::echoSend, 0.0f, 0.84f}};
const TableField<SinePattern, std::int32_t> kSineNotes[] = {{"notes", &SinePattern::notes, -5, 24}};
const TableField<SinePattern, float> kSineTables[] = {
    {"levels", &SinePattern::levels, 0.0f, 1.0f},
    {"decays", &SinePattern::decays, 0.0f, 0.001f},
};

const FloatField<SlicerPattern> kSlicerFloats[] = {
    {"echoSend", &SlicerPattern::echoSend, 0.0f, 0.84f},
    {"amSend", &SlicerPattern::amSend, 0.0f, 0.84f},
};
const TableField<SlicerPattern, std::int32_t> kSlicerSlices[] = {{"slices", &SlicerPattern::slices, 0, 255}};
const TableField<SlicerPattern, float> kSlicerDecays[] = {{"decays", &SlicerPattern::decays, 0.0f, 0.001f}};

const FloatField<AmSetting> kAmFloats[] = {
    {"amBassSineSend", &AmSetting::amBassSineSend, 0.0f, 0.5f},
    {"amHatSend", &AmSetting::amHatSend, 0.0f, 0.71f},
    {"carrierRate", &AmSetting::carrierRate, 0.0f, 0.0001f},
    {"sweepRate", &AmSetting::sweepRate, 0.0f, 0.00001f},
    {"sweepDepth", &AmSetting::sweepDepth, 0.0f, 0.5f},
    {"amEchoSend", &AmSetting::amEchoSend, 0.0f, 1.08f},
};

const FloatField<SecondLooperSetting> kSecondLooperFloats[] = {
    {"echoSend", &SecondLooperSetting::echoSend, 0.0f, 2.0f},
    {"amSend", &SecondLooperSetting::amSend, 0.0f, 2.0f},
};

template <typename S>
struct Group {
    std::span<const IntField<S>> ints{};
    std::span<const FloatField<S>> floats{};
    std::span<const TableField<S, std::int32_t>> intTables{};
    std::span<const TableField<S, float>> floatTables{};
};

template <typename S>
json groupToJson(const S& s, const Group<S>& g) {
    json out = json::object();
    for (const auto& f : g.ints)
        out[f.name] = s.*(f.member);
    for (const auto& f : g.floats)
        out[f.name] = s.*(f.member);
    for (const auto& f : g.intTables)
        out[f.name] = s.*(f.member);
    for (const auto& f : g.floatTables)
        out[f.name] = s.*(f.member);
    return out;
}

template <typename S>
bool groupFromJson(const json& parent, const char* key, const char* where, S& s, const Group<S>& g,
                   std::string& error) {
    common::SceneFields top(parent, "file");
    const json* object = top.object(key);
    if (!object) {
        error = "The scene has no valid \"" + std::string(key) + "\" group.";
        return false;
    }
    common::SceneFields fields(*object, where);
    for (const auto& f : g.ints)
        fields.readInt(f.name, f.lowest, f.highest, s.*(f.member));
    for (const auto& f : g.floats)
        fields.readFloat(f.name, f.lowest, f.highest, s.*(f.member));
    for (const auto& f : g.intTables)
        fields.readInts(f.name, f.lowest, f.highest, (s.*(f.member)).data(), kSceneSteps);
    for (const auto& f : g.floatTables)
        fields.readFloats(f.name, f.lowest, f.highest, (s.*(f.member)).data(), kSceneSteps);
    if (!fields.ok()) {
        error = fields.error();
        return false;
    }
    return true;
}

const Group<ControlValues> kControlsGroup{kControlInts, kControlFloats};
const Group<BassPattern> kBassGroup{kBassInts, kBassFloats, kBassTables};
const Group<KickPattern> kKickGroup{{}, kKickFloats};
const Group<HatPattern> kHatGroup{kHatInts, kHatFloats, {}, kHatTables};
const Group<SinePattern> kSineGroup{{}, kSineFloats, kSineNotes, kSineTables};
const Group<SlicerPattern> kSlicerGroup{{}, kSlicerFloats, kSlicerSlices, kSlicerDecays};
const Group<AmSetting> kAmGroup{{}, kAmFloats};
const Group<SecondLooperSetting> kSecondLooperGroup{{}, kSecondLooperFloats};

constexpr std::size_t kMaxPathBytes = 4096;

} // namespace

void copySceneParts(SceneState& to, const SceneState& from, unsigned parts) {
    if (parts & kSceneControls)
        to.controls = from.controls;
    else if (parts & kSceneStepCount)
        to.controls.stepCount = from.controls.stepCount;
    if (parts & kSceneBass1)
        to.bass1 = from.bass1;
    if (parts & kSceneBass2)
        to.bass2 = from.bass2;
    if (parts & kSceneKick)
        to.kick = from.kick;
    if (parts & kSceneHats)
        to.hats = from.hats;
    if (parts & kSceneSine)
        to.sine = from.sine;
    if (parts & kSceneSlicer)
        to.slicer = from.slicer;
    if (parts & kSceneAm)
        to.am = from.am;
    if (parts & kSceneEcho)
        to.echoReadPos = from.echoReadPos;
    if (parts & kSceneSecondLooper)
        to.secondLooper = from.secondLooper;
}

SceneState captureScene(const LoopEngine& e) {
    SceneState s;
    s.controls = readParams(e.params).controls;

    s.bass1 = captureBass(e.bass1);
    s.bass2 = captureBass(e.bass2);
    s.kick.startFreq = e.kick.startFreq.load(kRelaxed);
    s.kick.slide1 = e.kick.slide1.load(kRelaxed);
    loadAll(s.hats.levels, e.hats.levels);
    loadAll(s.hats.decays, e.hats.decays);
    s.hats.accentOff = e.hats.accentOff.load(kRelaxed);
    s.hats.echoSend = e.hats.echoSend.load(kRelaxed);
    loadAll(s.sine.notes, e.sine.notes);
    loadAll(s.sine.levels, e.sine.levels);
    loadAll(s.sine.decays, e.sine.decays);
    s.sine.echoSend = e.sine.echoSend.load(kRelaxed);
    loadAll(s.slicer.slices, e.slicer.slices);
    loadAll(s.slicer.decays, e.slicer.decays);
    s.slicer.echoSend = e.slicer.echoSend.load(kRelaxed);
    s.slicer.amSend = e.slicer.amSend.load(kRelaxed);
    const RingModulator& m = e.ringModulator;
    s.am = {m.amBassSineSend.load(kRelaxed), m.amHatSend.load(kRelaxed), m.carrierRate.load(kRelaxed),
            m.sweepRate.load(kRelaxed),      m.sweepDepth.load(kRelaxed), m.amEchoSend.load(kRelaxed)};
    s.secondLooper.echoSend = e.secondLooperSends.echoSend.load(kRelaxed);
    s.secondLooper.amSend = e.secondLooperSends.amSend.load(kRelaxed);
    s.echoReadPos = e.echoReadPos();
    return s;
}

void applyScene(LoopEngine& e, const SceneState& s, unsigned parts) {
    applySceneValues(e, s, parts);
    // Resetting an unchanged echo would restart its lines' write positions for nothing.
    if ((parts & kSceneEcho) && (s.echoReadPos & EchoUnit::kPositionMask) != e.echoReadPos())
        e.setEchoReadPos(s.echoReadPos);
}

void applySceneValues(LoopEngine& e, const SceneState& s, unsigned parts) {
    EngineParams& p = e.params;
    if (parts & kSceneControls) {
        const ControlValues& c = s.controls;
        p.samplesPerStep.store(c.samplesPerStep, kRelaxed);
        p.transpose.store(c.transpose, kRelaxed);
        p.masterGain.store(c.masterGain, kRelaxed);
        p.kickVolume.store(c.kickVolume, kRelaxed);
        p.bass1Volume.store(c.bass1Volume, kRelaxed);
        p.bass2Volume.store(c.bass2Volume, kRelaxed);
        p.hatVolume.store(c.hatVolume, kRelaxed);
        p.sineVolume.store(c.sineVolume, kRelaxed);
        p.dryLooperGain.store(c.dryLooperGain, kRelaxed);
        p.secondLooperGain.store(c.secondLooperGain, kRelaxed);
        p.vcf1Gain.store(c.vcf1Gain, kRelaxed);
        p.vcf2Gain.store(c.vcf2Gain, kRelaxed);
        p.slicerGain.store(c.slicerGain, kRelaxed);
        p.vcf1Cutoff.store(c.vcf1Cutoff, kRelaxed);
        p.vcf1Feedback.store(c.vcf1Feedback, kRelaxed);
        p.vcf2Cutoff.store(c.vcf2Cutoff, kRelaxed);
        p.vcf2Feedback.store(c.vcf2Feedback, kRelaxed);
    }
    if (parts & (kSceneControls | kSceneStepCount))
        p.stepCount.store(s.controls.stepCount, kRelaxed);
    if (parts & kSceneBass1)
        applyBass(e.bass1, s.bass1);
    if (parts & kSceneBass2)
        applyBass(e.bass2, s.bass2);
    if (parts & kSceneKick) {
        e.kick.startFreq.store(s.kick.startFreq, kRelaxed);
        e.kick.slide1.store(s.kick.slide1, kRelaxed);
    }
    if (parts & kSceneHats) {
        storeAll(e.hats.levels, s.hats.levels);
        storeAll(e.hats.decays, s.hats.decays);
        e.hats.accentOff.store(s.hats.accentOff, kRelaxed);
        e.hats.echoSend.store(s.hats.echoSend, kRelaxed);
    }
    if (parts & kSceneSine) {
        storeAll(e.sine.notes, s.sine.notes);
        storeAll(e.sine.levels, s.sine.levels);
        storeAll(e.sine.decays, s.sine.decays);
        e.sine.echoSend.store(s.sine.echoSend, kRelaxed);
    }
    if (parts & kSceneSlicer) {
        storeAll(e.slicer.slices, s.slicer.slices);
        storeAll(e.slicer.decays, s.slicer.decays);
        e.slicer.echoSend.store(s.slicer.echoSend, kRelaxed);
        e.slicer.amSend.store(s.slicer.amSend, kRelaxed);
    }
    if (parts & kSceneAm) {
        RingModulator& m = e.ringModulator;
        m.amBassSineSend.store(s.am.amBassSineSend, kRelaxed);
        m.amHatSend.store(s.am.amHatSend, kRelaxed);
        m.carrierRate.store(s.am.carrierRate, kRelaxed);
        m.sweepRate.store(s.am.sweepRate, kRelaxed);
        m.sweepDepth.store(s.am.sweepDepth, kRelaxed);
        m.amEchoSend.store(s.am.amEchoSend, kRelaxed);
    }
    if (parts & kSceneSecondLooper) {
        e.secondLooperSends.echoSend.store(s.secondLooper.echoSend, kRelaxed);
        e.secondLooperSends.amSend.store(s.secondLooper.amSend, kRelaxed);
    }
}

nlohmann::json sceneToJson(const Scene& scene) {
    const SceneState& s = scene.state;
    json samples = json::object();
    for (int i = 0; i < kSceneSlots; ++i)
        samples[std::string(kSceneSlotNames[i])] = scene.samplePaths[static_cast<std::size_t>(i)];
    return json{
        {"format", kSceneFormatName},
        {"version", kSceneFormatVersion},
        {"controls", groupToJson(s.controls, kControlsGroup)},
        {"bassline1", groupToJson(s.bass1, kBassGroup)},
        {"bassline2", groupToJson(s.bass2, kBassGroup)},
        {"kick", groupToJson(s.kick, kKickGroup)},
        {"hiHats", groupToJson(s.hats, kHatGroup)},
        {"sine", groupToJson(s.sine, kSineGroup)},
        {"slicer", groupToJson(s.slicer, kSlicerGroup)},
        {"amAlter", groupToJson(s.am, kAmGroup)},
        {"echoAlter", json{{"readPosition", s.echoReadPos}}},
        {"secondLooper", groupToJson(s.secondLooper, kSecondLooperGroup)},
        {"samples", samples},
    };
}

bool sceneFromJson(const nlohmann::json& j, Scene& out, std::string& error) {
    if (!common::checkSceneHeader(j, kSceneFormatName, kSceneFormatVersion, error))
        return false;
    Scene scene;
    SceneState& s = scene.state;
    if (!groupFromJson(j, "controls", "controls", s.controls, kControlsGroup, error) ||
        !groupFromJson(j, "bassline1", "bassline 1", s.bass1, kBassGroup, error) ||
        !groupFromJson(j, "bassline2", "bassline 2", s.bass2, kBassGroup, error) ||
        !groupFromJson(j, "kick", "kick", s.kick, kKickGroup, error) ||
        !groupFromJson(j, "hiHats", "hi-hats", s.hats, kHatGroup, error) ||
        !groupFromJson(j, "sine", "sine", s.sine, kSineGroup, error) ||
        !groupFromJson(j, "slicer", "slicer", s.slicer, kSlicerGroup, error) ||
        !groupFromJson(j, "amAlter", "AM Alter", s.am, kAmGroup, error) ||
        !groupFromJson(j, "secondLooper", "2nd Looper", s.secondLooper, kSecondLooperGroup, error))
        return false;

    common::SceneFields top(j, "file");
    const json* echo = top.object("echoAlter");
    const json* samples = top.object("samples");
    if (!echo || !samples) {
        error = top.error();
        return false;
    }
    common::SceneFields echoFields(*echo, "Echo Alter");
    echoFields.readInt("readPosition", 0, EchoUnit::kPositionMask, s.echoReadPos);
    common::SceneFields sampleFields(*samples, "samples");
    for (int i = 0; i < kSceneSlots; ++i) {
        std::string& path = scene.samplePaths[static_cast<std::size_t>(i)];
        const std::string name(kSceneSlotNames[i]);
        if (sampleFields.readString(name.c_str(), path) &&
            (path.size() > kMaxPathBytes || path.find('\0') != std::string::npos))
            sampleFields.fail("The scene's sample path for \"" + name + "\" is not a usable path.");
    }
    for (const common::SceneFields* f : {&echoFields, &sampleFields}) {
        if (!f->ok()) {
            error = f->error();
            return false;
        }
    }
    out = std::move(scene);
    return true;
}

SampleSlot& sceneSlot(LoopEngine& engine, int i) {
    SampleSlot* const slots[kSceneSlots] = {&engine.drySlot, &engine.secondSlot, &engine.slicerSlot,
                                            &engine.vcf1Slot, &engine.vcf2Slot};
    return *slots[i];
}

std::array<std::string, kSceneSlots> loadSceneSamples(LoopEngine& engine, const Scene& scene) {
    std::array<std::string, kSceneSlots> problems;
    for (int i = 0; i < kSceneSlots; ++i) {
        SampleSlot& slot = sceneSlot(engine, i);
        const std::string& path = scene.samplePaths[static_cast<std::size_t>(i)];
        if (!path.empty()) {
            SampleSlot loaded;
            const LoadResult result = loadSampleFile(path.c_str(), loaded);
            if (result) {
                engine.swapSample(slot, std::move(loaded));
                continue;
            }
            problems[static_cast<std::size_t>(i)] = result.reason.empty() ? "cannot be read" : result.reason;
        }
        // No sample, or one that cannot be had: the slot is empty, as the scene's sound has it.
        engine.emptySample(slot);
    }
    return problems;
}

bool saveSceneFile(const std::string& path, const Scene& scene, std::string& error) {
    return common::writeJsonFile(path, sceneToJson(scene), error);
}

bool loadSceneFile(const std::string& path, Scene& out, std::string& error) {
    json j;
    if (!common::readJsonFile(path, j, error))
        return false;
    return sceneFromJson(j, out, error);
}

} // namespace vexla
