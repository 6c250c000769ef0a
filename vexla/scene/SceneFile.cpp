// Vexla's scene files: one field table per group; the controls' group comes from the control table.
#include "vexla/scene/SceneFile.h"

#include <nlohmann/json.hpp>

#include "common/scene/SceneFields.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/samples/SampleLoader.h"

#include <cstddef>
#include <mutex>

namespace vexla {

namespace {

using common::field;
using nlohmann::json;

constexpr std::int32_t kMaxGate = 20000; // a gate is at most one step of the slowest tempo
constexpr std::size_t kMaxPathBytes = 4096;

// Generated values: the generators' ranges (a little wider where a product rounds), so that nothing
// unstable (a resonance of 1 or more, a negative decay) can enter through a file.
const common::SceneField<BassPattern> kBassFields[] = {
    field<&BassPattern::mode>("mode", 0, 3),
    field<&BassPattern::clip>("clip", 0.0, 8191.0),
    field<&BassPattern::echoSend>("echoSend", 0.0, 0.67),
    field<&BassPattern::resonance>("resonance", 0.0, 0.98),
    field<&BassPattern::envelopeRate>("envelopeRate", 0.0, 0.01),
    field<&BassPattern::pwmLfoRate>("pwmLfoRate", 0.0, 0.013),
    field<&BassPattern::pwmLfoDepth>("pwmLfoDepth", 0.0, 199.0),
    field<&BassPattern::cutoffLfoRate>("cutoffLfoRate", 0.0, 0.013),
    field<&BassPattern::cutoffLfoDepth>("cutoffLfoDepth", 0.0, 1.0),
    field<&BassPattern::notes>("notes", -5, 24),
    field<&BassPattern::gates>("gates", 0, kMaxGate),
};
const common::SceneField<KickPattern> kKickFields[] = {
    field<&KickPattern::startFreq>("startFreq", 0.0, 0.1),
    field<&KickPattern::slide1>("slide1", 0.0, 0.0004),
};
const common::SceneField<HatPattern> kHatFields[] = {
    field<&HatPattern::accentOff>("accentOff", 0, 1),
    field<&HatPattern::echoSend>("echoSend", 0.0, 0.84),
    field<&HatPattern::levels>("levels", 0.0, 1.0),
    field<&HatPattern::decays>("decays", 0.0, 0.003),
};
const common::SceneField<SinePattern> kSineFields[] = {
    field<&SinePattern::echoSend>("echoSend", 0.0, 0.84),
    field<&SinePattern::notes>("notes", -5, 24),
    field<&SinePattern::levels>("levels", 0.0, 1.0),
    field<&SinePattern::decays>("decays", 0.0, 0.001),
};
const common::SceneField<SlicerPattern> kSlicerFields[] = {
    field<&SlicerPattern::echoSend>("echoSend", 0.0, 0.84),
    field<&SlicerPattern::amSend>("amSend", 0.0, 0.84),
    field<&SlicerPattern::slices>("slices", 0, 255),
    field<&SlicerPattern::decays>("decays", 0.0, 0.001),
};
const common::SceneField<AmSetting> kAmFields[] = {
    field<&AmSetting::amBassSineSend>("amBassSineSend", 0.0, 0.5),
    field<&AmSetting::amHatSend>("amHatSend", 0.0, 0.71),
    field<&AmSetting::carrierRate>("carrierRate", 0.0, 0.0001),
    field<&AmSetting::sweepRate>("sweepRate", 0.0, 0.00001),
    field<&AmSetting::sweepDepth>("sweepDepth", 0.0, 0.5),
    field<&AmSetting::amEchoSend>("amEchoSend", 0.0, 1.08),
};
const common::SceneField<SecondLooperSetting> kSecondLooperFields[] = {
    field<&SecondLooperSetting::echoSend>("echoSend", 0.0, 2.0),
    field<&SecondLooperSetting::amSend>("amSend", 0.0, 2.0),
};
const common::SceneField<SceneState> kEchoFields[] = {
    field<&SceneState::echoReadPos>("readPosition", 0, EchoUnit::kPositionMask),
};

// The controls' group: every control of the table, in the range its widget can give.
json controlsToJson(const ControlValues& values) {
    json group = json::object();
    for (const Control& c : controls())
        common::writeRanged(group, std::string(c.name), c.whole, c.access.get(values));
    return group;
}

void readControls(common::SceneFields& file, ControlValues& values) {
    const json* object = file.object("controls");
    if (!object)
        return;
    common::SceneFields group(*object, "controls");
    for (const Control& c : controls()) {
        double v = 0.0;
        if (group.readRanged(std::string(c.name).c_str(), c.whole, c.lowest, c.highest, v))
            c.access.set(values, v);
    }
    if (!group.ok())
        file.fail(group.error());
}

bool isUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return false;
        for (int k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80)
                return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

/// A sample's path as the file keeps it: the text itself, or, for a file name that is not UTF-8 (which
/// JSON text cannot hold), its bytes in hexadecimal, so that the scene still finds the file.
json pathToJson(const std::string& path) {
    if (isUtf8(path))
        return path;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : path) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return json{{"bytes", hex}};
}

/// The other way; false for anything else than pathToJson writes.
bool pathFromJson(const json& value, std::string& path) {
    if (value.is_string()) {
        path = value.get<std::string>();
        return true;
    }
    const auto bytes = value.is_object() ? value.find("bytes") : value.end();
    if (!value.is_object() || value.size() != 1 || bytes == value.end() || !bytes->is_string())
        return false;
    const std::string& hex = bytes->get_ref<const std::string&>();
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (hex.size() % 2 != 0)
        return false;
    path.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        path += static_cast<char>(high * 16 + low);
    }
    return true;
}

void readSamplePaths(common::SceneFields& file, std::array<std::string, kSceneSlots>& paths) {
    const json* object = file.object("samples");
    if (!object)
        return;
    common::SceneFields group(*object, "samples");
    for (int i = 0; i < kSceneSlots; ++i) {
        std::string& path = paths[static_cast<std::size_t>(i)];
        const std::string name(kSceneSlotNames[i]);
        const auto value = object->find(name);
        if (value == object->end()) {
            group.readString(name.c_str(), path); // says that it is missing
        } else if (!pathFromJson(*value, path) || path.size() > kMaxPathBytes ||
                   path.find('\0') != std::string::npos) {
            group.fail("The scene's sample path for \"" + name + "\" is not a usable path.");
        }
    }
    if (!group.ok())
        file.fail(group.error());
}

} // namespace

nlohmann::json sceneToJson(const Scene& scene) {
    using common::groupToJson;
    const SceneState& s = scene.state;
    json samples = json::object();
    for (int i = 0; i < kSceneSlots; ++i)
        samples[std::string(kSceneSlotNames[i])] = pathToJson(scene.samplePaths[static_cast<std::size_t>(i)]);
    return json{
        {"format", kSceneFormatName},
        {"version", kSceneFormatVersion},
        {"controls", controlsToJson(s.controls)},
        {"bassline1", groupToJson<BassPattern>(s.bass1, kBassFields)},
        {"bassline2", groupToJson<BassPattern>(s.bass2, kBassFields)},
        {"kick", groupToJson<KickPattern>(s.kick, kKickFields)},
        {"hiHats", groupToJson<HatPattern>(s.hats, kHatFields)},
        {"sine", groupToJson<SinePattern>(s.sine, kSineFields)},
        {"slicer", groupToJson<SlicerPattern>(s.slicer, kSlicerFields)},
        {"amAlter", groupToJson<AmSetting>(s.am, kAmFields)},
        {"echoAlter", groupToJson<SceneState>(s, kEchoFields)},
        {"secondLooper", groupToJson<SecondLooperSetting>(s.secondLooper, kSecondLooperFields)},
        {"samples", samples},
    };
}

bool sceneFromJson(const nlohmann::json& j, Scene& out, std::string& error) {
    using common::readGroup;
    if (!common::checkSceneHeader(j, kSceneFormatName, kSceneFormatVersion, error))
        return false;
    Scene scene;
    SceneState& s = scene.state;
    common::SceneFields file(j, "file");
    readControls(file, s.controls);
    readGroup<BassPattern>(file, "bassline1", "bassline 1", s.bass1, kBassFields);
    readGroup<BassPattern>(file, "bassline2", "bassline 2", s.bass2, kBassFields);
    readGroup<KickPattern>(file, "kick", "kick", s.kick, kKickFields);
    readGroup<HatPattern>(file, "hiHats", "hi-hats", s.hats, kHatFields);
    readGroup<SinePattern>(file, "sine", "sine", s.sine, kSineFields);
    readGroup<SlicerPattern>(file, "slicer", "slicer", s.slicer, kSlicerFields);
    readGroup<AmSetting>(file, "amAlter", "AM Alter", s.am, kAmFields);
    readGroup<SecondLooperSetting>(file, "secondLooper", "2nd Looper", s.secondLooper, kSecondLooperFields);
    readGroup<SceneState>(file, "echoAlter", "Echo Alter", s, kEchoFields);
    readSamplePaths(file, scene.samplePaths);
    if (!file.ok()) {
        error = file.error();
        return false;
    }
    out = std::move(scene);
    return true;
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

} // namespace vexla
