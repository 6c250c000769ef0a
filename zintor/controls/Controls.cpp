// The table of Zintor's sliders and the ranges computed from it.
#include "zintor/controls/Controls.h"

#include "common/FindRow.h"
#include "common/MemberPath.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// ---- the sliders' mappings and their inverses: positions are integers, values computed in double and
// held as float ----

int nearest(double v) {
    return static_cast<int>(std::lround(v));
}

float identity(int pos) {
    return static_cast<float>(pos);
}
int identityPosition(double v) {
    return nearest(v);
}
float thousandths(int pos) {
    return static_cast<float>(pos * 0.001);
}
int thousandthsPosition(double v) {
    return nearest(static_cast<float>(v) * 1000.0);
}
float millionths(int pos) {
    return static_cast<float>(pos * 1e-6);
}
int millionthsPosition(double v) {
    return nearest(static_cast<float>(v) * 1e6);
}
/// Overdrive: the higher the position, the lower the ceiling.
float driveCeiling(int pos) {
    return static_cast<float>((1000 - pos) * 0.001);
}
int driveCeilingPosition(double v) {
    return 1000 - thousandthsPosition(v);
}
/// Master, 0..24000 with the top at 0: the top is loudest.
float masterGain(int pos) {
    return static_cast<float>(24000 - pos);
}
int masterGainPosition(double v) {
    return 24000 - nearest(v);
}

// ---- the value's place in the engine and in a scene ----

/// A value held by the engine itself (params or kick) and by ControlState, at the end of `StatePath`.
template <auto EnginePart, auto Member, auto... StatePath> constexpr ControlAccess engineValue() {
    return {
        [](const SynthEngine& e) { return static_cast<double>(((e.*EnginePart).*Member).load(kRelaxed)); },
        [](SynthEngine& e, double v) {
            using Atomic = std::remove_cvref_t<decltype((e.*EnginePart).*Member)>;
            ((e.*EnginePart).*Member).store(static_cast<typename Atomic::value_type>(v), kRelaxed);
        },
        [](const SynthState& s) { return static_cast<double>(common::reach(s.controls, StatePath...)); },
        [](SynthState& s, double v) {
            auto& held = common::reach(s.controls, StatePath...);
            held = static_cast<std::remove_cvref_t<decltype(held)>>(v);
        },
    };
}

/// A synth line's sound value, held by its voice and by its VoiceSound.
template <VoiceControls SynthEngine::*Voice, VoiceState SynthState::*Line, auto Member, auto SoundMember>
constexpr ControlAccess lineValue() {
    return {
        [](const SynthEngine& e) { return static_cast<double>(((e.*Voice).*Member).load(kRelaxed)); },
        [](SynthEngine& e, double v) {
            using Atomic = std::remove_cvref_t<decltype((e.*Voice).*Member)>;
            ((e.*Voice).*Member).store(static_cast<typename Atomic::value_type>(v), kRelaxed);
        },
        [](const SynthState& s) { return static_cast<double>((s.*Line).sound.*SoundMember); },
        [](SynthState& s, double v) {
            (s.*Line).sound.*SoundMember =
                static_cast<std::remove_cvref_t<decltype((s.*Line).sound.*SoundMember)>>(v);
        },
    };
}

/// Osc Mix has no value of its own: its position sets both oscillator levels, and comes back from them
/// (below 128 only oscillator 2 is turned down, above it only oscillator 1).
double oscMixOf(double osc1Level, double osc2Level) {
    return osc2Level < 1.0 ? std::lround(osc2Level * 128.0) : std::lround((2.0 - osc1Level) * 128.0);
}

template <VoiceControls SynthEngine::*Voice, VoiceState SynthState::*Line> constexpr ControlAccess oscMix() {
    return {
        [](const SynthEngine& e) {
            return oscMixOf((e.*Voice).osc1Level.load(kRelaxed), (e.*Voice).osc2Level.load(kRelaxed));
        },
        [](SynthEngine& e, double v) { (e.*Voice).setOscMix(static_cast<int>(v)); },
        [](const SynthState& s) { return oscMixOf((s.*Line).sound.osc1Level, (s.*Line).sound.osc2Level); },
        [](SynthState& s, double v) {
            // As VoiceControls::setOscMix does it.
            const float x = static_cast<float>(v) * 0.0078125f;
            (s.*Line).sound.osc2Level = std::min(x, 1.0f);
            (s.*Line).sound.osc1Level = std::min(2.0f - x, 1.0f);
        },
    };
}

/// A synth line's eight sliders in the window's order, with the line's start positions.
template <VoiceControls SynthEngine::*Voice, VoiceState SynthState::*Line>
void addSynthLine(std::vector<Control>& table, ControlGroup group, double top,
                  const std::array<int, 8>& starts) {
    const ControlAccess access[8] = {
        lineValue<Voice, Line, &VoiceControls::filterType, &VoiceSound::filterType>(),
        lineValue<Voice, Line, &VoiceControls::cutoff, &VoiceSound::cutoff>(),
        lineValue<Voice, Line, &VoiceControls::driveCeiling, &VoiceSound::driveCeiling>(),
        oscMix<Voice, Line>(),
        lineValue<Voice, Line, &VoiceControls::inertia, &VoiceSound::inertia>(),
        lineValue<Voice, Line, &VoiceControls::resonance, &VoiceSound::resonance>(),
        lineValue<Voice, Line, &VoiceControls::delaySend, &VoiceSound::delaySend>(),
        lineValue<Voice, Line, &VoiceControls::volume, &VoiceSound::volume>(),
    };
    struct Row {
        const char* field;   ///< the engine field: the --set name after "synthLineN." and the scene key
        const char* role;    ///< the widget's name after "synthLineN"
        const char* caption; ///< the label; in the accessible name in lower case, unless an initialism
        int lowest;
        int highest;
        float (*value)(int);
        int (*position)(double);
    };
    const Row rows[8] = {
        {"filterType", "FilterType", "Filter type", 0, 2, identity, identityPosition},
        {"cutoff", "Cutoff", "Cutoff", 1, 1000, thousandths, thousandthsPosition},
        {"driveCeiling", "Overdrive", "Overdrive", 1, 950, driveCeiling, driveCeilingPosition},
        {"oscMix", "OscMix", "Osc Mix", 0, 256, identity, identityPosition},
        {"inertia", "Inertia", "VCF Env Inertia", 1, 1000, millionths, millionthsPosition},
        {"resonance", "Resonance", "Resonance", 1, 970, thousandths, thousandthsPosition},
        {"delaySend", "DelaySend", "Delay send", 1, 800, thousandths, thousandthsPosition},
        {"volume", "Volume", "Volume", 1, 400, thousandths, thousandthsPosition},
    };
    const bool first = group == ControlGroup::SynthLine1;
    const std::string prefix = first ? "synthLine1" : "synthLine2";
    const std::string title = first ? "Synthline-1 " : "Synthline-2 ";
    for (std::size_t i = 0; i < 8; ++i) {
        const Row& r = rows[i];
        std::string spoken = r.caption;
        if (!std::isupper(static_cast<unsigned char>(spoken[1]))) // "VCF Env Inertia" keeps its capitals
            spoken[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(spoken[0])));
        // Osc Mix has no scene key: the scene holds the two levels it sets.
        const std::string key = std::string_view(r.field) == "oscMix" ? "" : r.field;
        table.push_back({prefix + "." + r.field, key, access[i], group, prefix + r.role, r.caption,
                         title + spoken, r.lowest, r.highest, starts[i], r.value, r.position,
                         i < 4 ? 78.0 : 170.0, top + 12 + 26 * static_cast<double>(i % 4), 88});
    }
}

std::vector<Control> makeTable() {
    std::vector<Control> table;
    addSynthLine<&SynthEngine::synthLine1, &SynthState::synthLine1>(table, ControlGroup::SynthLine1, 4,
                                                                    {0, 500, 500, 128, 500, 500, 500, 200});
    addSynthLine<&SynthEngine::synthLine2, &SynthState::synthLine2>(table, ControlGroup::SynthLine2, 128,
                                                                    {0, 2, 500, 128, 2, 500, 600, 100});
    constexpr auto params = &SynthEngine::params;
    constexpr auto kick = &SynthEngine::kick;
    const Control others[] = {
        {"kick.startIncrement", "kickStartIncrement",
         engineValue<kick, &KickControls::startIncrement, &ControlState::kick, &KickParams::startIncrement>(),
         ControlGroup::Kick, "kickAttackPitch", "Attack pitch", "Kick attack pitch", 50, 1500, 50,
         thousandths, thousandthsPosition, 274, 16, 96},
        {"kick.pitchDecay", "kickPitchDecay",
         engineValue<kick, &KickControls::pitchDecay, &ControlState::kick, &KickParams::pitchDecay>(),
         ControlGroup::Kick, "kickDecayAmount", "Decay amount", "Kick decay amount", 850, 999, 999,
         thousandths, thousandthsPosition, 274, 42, 96},
        {"kick.volume", "kickVolume",
         engineValue<kick, &KickControls::volume, &ControlState::kick, &KickParams::volume>(),
         ControlGroup::Kick, "kickVolume", "Volume", "Kick volume", 0, 900, 800, thousandths,
         thousandthsPosition, 274, 68, 96},
        {"subBassGain", "subBassGain",
         engineValue<params, &SynthParams::subBassGain, &ControlState::subBassGain>(), ControlGroup::SubBass,
         "subBassVolume", "Volume", "Sub bass volume", 1, 2000, 1300, thousandths, thousandthsPosition, 274,
         221, 96},
        {"shuffleAmount", "shuffleAmount",
         engineValue<params, &SynthParams::shuffleAmount, &ControlState::shuffleAmount>(),
         ControlGroup::Control, "shuffle", "Groove shuffle", "Groove shuffle", 0, 256, 0, identity,
         identityPosition, 388, 174, 98},
        {"globalTranspose", "globalTranspose",
         engineValue<params, &SynthParams::globalTranspose, &ControlState::globalTranspose>(),
         ControlGroup::Transpose, "transpose", "", "Global transpose", -12, 12, -1, identity,
         identityPosition, 12, 264, 472},
        // Position 0 at the top, where the slider is loudest.
        {"masterGain", "masterGain",
         engineValue<params, &SynthParams::masterGain, &ControlState::masterGain>(), ControlGroup::Master,
         "master", "", "Master volume", 0, 24000, 7616, masterGain, masterGainPosition, 397, 16, 18},
        // The kick settles at a constant, and this takes it off the output.
        {"dcFilter", "dcFilter", engineValue<params, &SynthParams::dcFilter, &ControlState::dcFilter>(),
         ControlGroup::Control, "dcFilter", "DC filter", "DC filter", 0, 1, 0, identity, identityPosition,
         448, 204, 40, true},
    };
    table.insert(table.end(), std::begin(others), std::end(others));
    for (Control& c : table) {
        c.whole = c.value == identity;
        c.lowest = c.highest = c.value(c.lowestPosition);
        for (int pos = c.lowestPosition; pos <= c.highestPosition; ++pos) {
            c.lowest = std::min(c.lowest, c.value(pos));
            c.highest = std::max(c.highest, c.value(pos));
        }
    }
    return table;
}

} // namespace

const char* sceneGroup(const Control& control) {
    switch (control.group) {
    case ControlGroup::SynthLine1:
        return "synthLine1";
    case ControlGroup::SynthLine2:
        return "synthLine2";
    default:
        return "controls";
    }
}

std::span<const Control> controls() {
    static const std::vector<Control> table = makeTable();
    return table;
}

const Control* findControl(std::string_view name) {
    return common::findRow(controls(), &Control::name, name);
}

void applyStartPositions(SynthEngine& engine) {
    for (const Control& c : controls())
        c.access.store(engine, c.value(c.startPosition));
}

} // namespace zintor
