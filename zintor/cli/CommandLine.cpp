// Headless rendering: the start-up routine, the requested presses and settings, then renderBlock into a WAV.
#include "zintor/cli/CommandLine.h"

#include "audio/AudioOutput.h"
#include "common/CommandLine.h"
#include "common/WavRecorder.h"
#include "common/play/LivePlay.h"
#include "zintor/controls/Controls.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/generators/StartUp.h"
#include "zintor/scene/SceneFile.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr std::string_view kProgram = "zintor";

const char* const kUsage =
    "Usage: zintor [--render OUT.wav (--seconds S | --frames N) [--seed N] [--set FIELD=VALUE]...\n"
    "              [--press CAPTION]... [--block FRAMES] [--scene FILE] [--save-scene FILE]]\n"
    "       zintor --list-devices | --device DEVICE [--sync SOURCE]\n"
    "       zintor --play [--device DEVICE] [--sync SOURCE] [--seconds S | --frames N] [--seed N]\n"
    "              [--set ...]...\n"
    "Without arguments, or with --device and --sync alone, Zintor opens its window.\n"
    "\n"
    "  --list-devices     print the sound output devices, \"INDEX: NAME\" a line, and exit\n"
    "  --device DEVICE    open the window playing on this device, given by its index or its name\n"
    "                     as --list-devices prints them (default: the first); \"jack\" plays as a\n"
    "                     JACK client when a JACK server runs\n"
    "  --play             play live on the device without a window, for the length given or until\n"
    "                     interrupted (Ctrl+C); takes the options below but --render and --save-scene\n"
    "  --sync SOURCE      the clock the steps follow: internal (the tempo, the default), midi\n"
    "                     (MIDI clock, Start, Stop and Continue on the JACK client's midi_in port),\n"
    "                     jack (JACK transport: its start, stop and locate, and the tempo and bars\n"
    "                     of its timebase master; without one, Zintor's tempo), jack-master\n"
    "                     (JACK transport led by Zintor as its timebase master, with Zintor's\n"
    "                     tempo; Play starts and stops the transport) or link (the Link session on\n"
    "                     the local network: its tempo, its bars and its start and stop, which\n"
    "                     --play starts and ends); the MIDI clock and the notes played go out on\n"
    "                     midi_out. JACK's clocks need the jack device\n"
    "  --render OUT.wav   render the generated track headless to a 16-bit stereo 44100 Hz WAV file\n"
    "  --seconds S        length in seconds (S > 0)\n"
    "  --frames N         length in frames (N >= 1)\n"
    "  --seed N           seed of the phrase generators, 0..4294967295 (default: the clock)\n"
    "  --set FIELD=VALUE  an engine value (fields below), applied after start-up in command-line\n"
    "                     order; playing=0 keeps the sequencer stopped\n"
    "  --press CAPTION    a generator button: \"Synthline-1/Goa\", \"Synthline-1/FLAT Riff\",\n"
    "                     \"Synthline-1/Psychedelic\", \"Synthline-2/Goa\", \"Synthline-2/Flat riff\",\n"
    "                     \"Synthline-2/Psychedelic\", \"Sub bass synth/Generate\"\n"
    "  --block FRAMES     frames per render call, 1..65536 (default 1000)\n"
    "  --scene FILE       start from a saved scene (every value and phrase), after start-up and\n"
    "                     before the --set and --press options\n"
    "  --save-scene FILE  save the state after start-up, --scene, --set and --press as a scene,\n"
    "                     which renders exactly as this run does\n"
    "  --help             this text\n"
    "Options take their value as --option VALUE or --option=VALUE.\n"
    "Exit status: 0 done, 1 a file could not be written, 2 bad arguments or an unusable input file.\n";

// ---- Settable values -------------------------------------------------------------------------------

/// The range of a value without a slider: what the presets and generators (or the BPM and Steps
/// fields) can give. Values with a slider come from the control table.
struct Range {
    double minimum;
    double maximum;
    bool integer;
};

/// Stores into the atomic `Member` of a unit, as the unit holds it (a flag is set by anything but 0).
template <auto Member, class Unit> void store(Unit& unit, double v) {
    using Atomic = std::remove_cvref_t<decltype(unit.*Member)>;
    (unit.*Member).store(static_cast<typename Atomic::value_type>(v), kRelaxed);
}

struct EngineField {
    const char* name;
    Range range;
    void (*set)(SynthParams&, double);
};

const EngineField kEngineFields[] = {
    {"samplesPerStep",
     {kStepFramesPerMinute / kMaxBpm, kStepFramesPerMinute / kMinBpm, true},
     store<&SynthParams::samplesPerStep>},
    {"stepCount", {0, kMaxStepCount, true}, store<&SynthParams::stepCount>},
    {"playing", {0, 1, true}, store<&SynthParams::playing>},
};

/// A voice's value without a slider: on the synth lines what their generators give, on the sub bass
/// (which has no sliders) what its generator gives, a little beyond the lines' ranges.
struct VoiceField {
    const char* name;
    Range line; ///< unused where a slider sets the lines' value
    Range subBass;
    void (*set)(SynthEngine&, int voice, double);
};

VoiceControls& controlsOf(SynthEngine& e, int voice) {
    VoiceControls* const all[kSynthVoices] = {&e.synthLine1, &e.synthLine2, &e.subBass};
    return *all[voice];
}

template <auto Member> void storeControl(SynthEngine& e, int voice, double v) {
    store<Member>(controlsOf(e, voice), v);
}

void setOscMix(SynthEngine& e, int voice, double position) {
    controlsOf(e, voice).setOscMix(static_cast<int>(position));
}

/// A phrase's character reaches the voice through the engine's mailbox, as a generator's phrase does.
template <auto Member> void storePhrase(SynthEngine& e, int voice, double v) {
    PhraseState phrase = e.phrase(voice);
    using Value = std::remove_cvref_t<decltype(phrase.*Member)>;
    phrase.*Member = std::is_same_v<Value, bool> ? v != 0.0 : static_cast<Value>(v);
    e.sendPhrase(voice, phrase);
}

const VoiceField kVoiceFields[] = {
    {"cutoff", {}, {0.001, 1.0, false}, storeControl<&VoiceControls::cutoff>},
    {"resonance", {}, {0.001, 0.97, false}, storeControl<&VoiceControls::resonance>},
    {"driveCeiling", {}, {0.05, 1.0, false}, storeControl<&VoiceControls::driveCeiling>},
    {"volume", {}, {0.001, 0.5, false}, storeControl<&VoiceControls::volume>},
    {"filterType", {}, {0, 2, true}, storeControl<&VoiceControls::filterType>},
    {"inertia", {}, {0.0, 0.001, false}, storeControl<&VoiceControls::inertia>},
    {"delaySend", {}, {0.0, 0.8, false}, storeControl<&VoiceControls::delaySend>},
    {"oscMix", {}, {0, 256, true}, setOscMix},
    {"osc1Level", {0, 1, false}, {0, 1, false}, storeControl<&VoiceControls::osc1Level>},
    {"osc2Level", {0, 1, false}, {0, 1, false}, storeControl<&VoiceControls::osc2Level>},
    {"detune", {0, 0.25, false}, {0, 0.25, false}, storePhrase<&PhraseState::detune>},
    {"lfoDepth", {0, 0.25, false}, {0, 0.25, false}, storePhrase<&PhraseState::lfoDepth>},
    {"lfoRate", {0, 0.00005, false}, {0, 0.02, false}, storePhrase<&PhraseState::lfoRate>},
    {"square", {0, 1, true}, {0, 1, true}, storePhrase<&PhraseState::square>},
};

struct NoiseField {
    const char* name;
    Range range;
    void (*set)(NoiseControls&, double);
};

// The noise drums have no controls: their presets span 0.998..0.9995; below 1 keeps the envelope falling.
const NoiseField kNoiseFields[] = {
    {"decay", {0, 0.9995, false}, store<&NoiseControls::decay>},
    {"tone", {0, 1, false}, store<&NoiseControls::tone>},
};

const std::pair<const char*, int> kVoices[] = {
    {"synthLine1", kSynthLine1}, {"synthLine2", kSynthLine2}, {"subBass", kSubBass}};
const std::pair<const char*, NoiseControls SynthEngine::*> kNoiseDrums[] = {
    {"hitVoice", &SynthEngine::hitVoice},
    {"snareVoice", &SynthEngine::snareVoice},
    {"hatVoice", &SynthEngine::hatVoice}};

/// A --set name with its range and what it does to an engine.
struct Setting {
    common::SettableField field;
    std::function<void(SynthEngine&, double)> store;
};

common::SettableField settable(std::string name, const Range& r) {
    return {std::move(name), r.minimum, r.maximum, r.integer};
}

const std::vector<Setting>& settings() {
    static const std::vector<Setting> all = [] {
        std::vector<Setting> list;
        for (const Control& c : controls())
            list.push_back({{c.name, c.lowest, c.highest, c.whole}, c.access.store});
        for (const auto& f : kEngineFields)
            list.push_back(
                {settable(f.name, f.range), [set = f.set](SynthEngine& e, double v) { set(e.params, v); }});
        for (const auto& [voiceName, voice] : kVoices)
            for (const auto& f : kVoiceFields) {
                const std::string name = std::string(voiceName) + "." + f.name;
                if (findControl(name))
                    continue; // a slider's value
                const Range& range = voice == kSubBass ? f.subBass : f.line;
                list.push_back({settable(name, range), [set = f.set, voice = voice](
                                                           SynthEngine& e, double v) { set(e, voice, v); }});
            }
        for (const auto& [drum, member] : kNoiseDrums)
            for (const auto& f : kNoiseFields)
                list.push_back(
                    {settable(std::string(drum) + "." + f.name, f.range),
                     [set = f.set, member = member](SynthEngine& e, double v) { set(e.*member, v); }});
        return list;
    }();
    return all;
}

std::vector<common::SettableField> settableFields() {
    std::vector<common::SettableField> fields;
    for (const Setting& s : settings())
        fields.push_back(s.field);
    return fields;
}

std::string checkAction(std::string_view option, std::string_view value) {
    if (option == "--press")
        return findGeneratorButton(value)
                   ? std::string()
                   : "unknown button \"" + std::string(value) + "\" for --press (see --help)";
    const std::vector<common::SettableField> fields = settableFields();
    const common::SettableField* field = nullptr;
    double number = 0.0;
    return common::parseAssignment(value, fields, field, number);
}

const common::CommandLineSpec kSpec{kProgram, 1000, {}, checkAction};

std::string usage() {
    std::string text = kUsage;
    text +=
        "\nFields of --set, with the values the window's controls (or the presets and generators) give:\n";
    for (const Setting& s : settings())
        text += "  " + s.field.name +
                std::string(s.field.name.size() < 26 ? 26 - s.field.name.size() : 1, ' ') +
                common::formatRange(s.field) + "\n";
    return text;
}

} // namespace

std::string parseRenderArguments(const std::vector<std::string>& args, common::RenderArguments& request) {
    return common::parseRenderArguments(args, kSpec, request);
}

void applyRenderAction(const common::OrderedAction& action, SynthEngine& engine,
                       common::Random& windowRandom) {
    if (action.option == "--press") {
        if (const GeneratorButton* button = findGeneratorButton(action.value))
            pressGenerator(engine, *button, windowRandom);
        return;
    }
    const std::vector<common::SettableField> fields = settableFields();
    const common::SettableField* field = nullptr;
    double value = 0.0;
    if (!common::parseAssignment(action.value, fields, field, value).empty())
        return;
    settings()[static_cast<std::size_t>(field - fields.data())].store(engine, value);
}

namespace {

/// The engine's own step length, for following JACK transport without a timebase master and leading it.
double ownFramesPerStep(const void* engine) {
    return static_cast<const SynthEngine*>(engine)->params.samplesPerStep.load(kRelaxed);
}

/// A --render into its file, or --play on `output` (a fresh one when null).

int render(const common::RenderArguments& request, audio::AudioOutput* output) {
    if (!request.play)
        if (const int status = common::checkOutputs(kProgram, request, {request.scenePath});
            status != common::kExitOk)
            return status;

    auto engine = std::make_unique<SynthEngine>(); // large delay lines: not on the stack
    common::Random windowRandom;
    const std::uint32_t seed = request.seed ? *request.seed : common::clockSeed();
    startUp(*engine, windowRandom, seed);
    if (!request.scenePath.empty()) {
        SynthState scene;
        std::string error;
        if (!loadSceneFile(request.scenePath, scene, error))
            return common::failWith(kProgram, "cannot open scene \"" + request.scenePath + "\": " + error,
                                    common::kExitUsage);
        applyState(*engine, scene, kStateEverything); // no render runs yet
    }
    bool playingSet = false;
    for (const auto& action : request.actions) {
        applyRenderAction(action, *engine, windowRandom);
        playingSet = playingSet || (action.option == "--set" && action.value.starts_with("playing="));
    }
    const SynthState scene = captureState(*engine); // saved once the render has succeeded
    if (!playingSet)
        engine->params.playing.store(true, kRelaxed);
    if (request.play)
        return common::playEngineLive(kProgram, request, seed, output, *engine, &ownFramesPerStep,
                                      [&] { engine->params.playing.store(false, kRelaxed); });
    return common::renderToFile(
        kProgram, request, seed, [&](std::int16_t* out, int frames) { engine->renderBlock(out, frames * 4); },
        [&] {
            std::string error;
            saveSceneFile(request.saveScenePath, scene, error);
            return error;
        });
}

} // namespace

std::optional<int> runProgramCommandLine(int argc, char** argv, const common::DeviceList& devices,
                                         common::WindowStart& window, audio::AudioOutput* output) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return common::runProgramCommandLine(
        args, kSpec, usage(),
        [output](const common::RenderArguments& request) { return render(request, output); }, devices,
        window);
}

int runCommandLine(int argc, char** argv) {
    if (argc <= 1)
        return common::failWith(kProgram, "nothing to do: give --render OUT.wav or --play (see --help)",
                                common::kExitUsage);
    common::WindowStart window;
    return runProgramCommandLine(argc, argv, {}, window).value_or(common::kExitOk);
}

} // namespace zintor
