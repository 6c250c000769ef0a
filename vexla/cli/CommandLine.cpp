// Vexla's command line: renders the loop engine headless into a 16-bit stereo WAV file. The options are
// the shared ones; what --set, --press and --load reach is Vexla's.
#include "vexla/cli/CommandLine.h"

#include "audio/AudioOutput.h"
#include "common/CommandLine.h"
#include "common/Random.h"
#include "common/WavRecorder.h"
#include "common/play/LivePlay.h"
#include "vexla/controls/Controls.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/samples/SampleLoader.h"
#include "vexla/scene/SceneFile.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr std::string_view kProgram = "vexla";

const char* const kUsage =
    "Usage: vexla [--device DEVICE] [--sync SOURCE]  start the window\n"
    "       vexla --list-devices             list the sound devices\n"
    "       vexla --render OUT.wav (--seconds S | --frames N) [options]\n"
    "       vexla --play [--device DEVICE] [--sync SOURCE] [--seconds S | --frames N] [options]\n"
    "\n"
    "  --list-devices       print the output devices, \"INDEX: NAME\" a line, and exit\n"
    "  --device DEVICE      start the window on this output device, given by its index or its\n"
    "                       name as --list-devices prints them (default: the first); \"jack\"\n"
    "                       plays as a JACK client when a JACK server runs\n"
    "  --play               play live on the device without a window, for the length given or\n"
    "                       until interrupted (Ctrl+C); takes the options below but --render\n"
    "                       and --save-scene\n"
    "  --sync SOURCE        the clock the steps follow: internal (the tempo control, the default),\n"
    "                       midi (MIDI clock, Start, Stop and Continue on the JACK client's\n"
    "                       midi_in port), jack (JACK transport: its start, stop and locate, and\n"
    "                       the tempo and bars of its timebase master; without one, the tempo\n"
    "                       control's), jack-master (JACK transport led by Vexla as its\n"
    "                       timebase master, with the tempo control's tempo; Run starts and\n"
    "                       stops the transport) or link (the Link session on the local network:\n"
    "                       its tempo, its bars and its start and stop, which --play starts and\n"
    "                       ends); the MIDI clock and the notes played go out on midi_out. JACK's\n"
    "                       clocks need the jack device\n"
    "\n"
    "Renders the loop engine without a window into a 16-bit stereo 44100 Hz WAV file.\n"
    "Options take their value as --option VALUE or --option=VALUE.\n"
    "  --render OUT.wav     the file to write\n"
    "  --seconds S          length in seconds (may have a fraction)\n"
    "  --frames N           length in frames\n"
    "  --seed N             seed of the window's random numbers, 0..4294967295 (default: the clock)\n"
    "  --set FIELD=VALUE    set an engine value (fields below); the engine runs unless running is set\n"
    "  --press CAPTION      press a button: \"Sequence\", \"AM Alter\", \"Echo Alter\", \"Kick\",\n"
    "                       \"Bassline 1\", \"Bassline 2\", \"Sine\", \"HiHats\", \"2nd Looper\", "
    "\"Slicer\"\n"
    "  --load SLOT=PATH     load a sound file into a sample slot: dry, second, slicer, vcf1, vcf2\n"
    "  --scene FILE         start from a saved scene (its values, tables and samples), before\n"
    "                       --set, --press and --load\n"
    "  --save-scene FILE    save the state after start-up, --scene, --set, --press and --load as a\n"
    "                       scene; pressed regenerations are then served at once (with the window's\n"
    "                       random numbers), so that the scene holds them and renders exactly as this\n"
    "  --block FRAMES       frames per render call, 1..65536 (default 1024)\n"
    "  --help               show this text\n"
    "--set, --press and --load act in command-line order, after start-up and before the first frame;\n"
    "requested regenerations are served at the first step, as in the window.\n"
    "Exit status: 0 done, 1 a file could not be written, 2 bad arguments or an unusable input file.\n";

// --set reaches every control, plus the flags the window's buttons set.
struct Flag {
    std::string_view name;
    std::atomic<bool> EngineParams::*member;
};
const Flag kFlags[] = {
    {"running", &EngineParams::running},           {"requestHats", &EngineParams::requestHats},
    {"requestSine", &EngineParams::requestSine},   {"requestBass1", &EngineParams::requestBass1},
    {"requestBass2", &EngineParams::requestBass2}, {"requestKick", &EngineParams::requestKick},
};

const std::vector<common::SettableField>& settableFields() {
    static const std::vector<common::SettableField> fields = [] {
        std::vector<common::SettableField> all;
        for (const Control& c : controls())
            all.push_back({std::string(c.name), c.lowest, c.highest, c.whole});
        for (const Flag& f : kFlags)
            all.push_back({std::string(f.name), 0, 1, true});
        return all;
    }();
    return fields;
}

std::string usage() {
    std::string text = kUsage;
    text += "\nFields of --set, with the values the window's controls can give:\n";
    for (const common::SettableField& f : settableFields())
        text += "  " + f.name + std::string(f.name.size() < 20 ? 20 - f.name.size() : 1, ' ') +
                common::formatRange(f) + "\n";
    return text;
}

void applySet(LoopEngine& engine, std::string_view assignment) {
    const common::SettableField* field = nullptr;
    double value = 0.0;
    common::parseAssignment(assignment, settableFields(), field, value); // checked while parsing
    if (const Control* control = findControl(field->name)) {
        control->access.store(engine.params, value);
        return;
    }
    for (const Flag& f : kFlags)
        if (f.name == field->name)
            (engine.params.*f.member).store(value != 0.0, kRelaxed);
}

std::string checkLoad(std::string_view text, int* slot = nullptr) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 == text.size())
        return "--load needs SLOT=PATH, got \"" + std::string(text) + "\"";
    const std::string_view name = text.substr(0, equals);
    for (int i = 0; i < kSceneSlots; ++i)
        if (name == kSceneSlotNames[i]) {
            if (slot)
                *slot = i;
            return {};
        }
    return "unknown sample slot \"" + std::string(name) + "\" (dry, second, slicer, vcf1 or vcf2)";
}

std::string checkAction(std::string_view option, std::string_view value) {
    if (option == "--set") {
        const common::SettableField* field = nullptr;
        double number = 0.0;
        return common::parseAssignment(value, settableFields(), field, number);
    }
    if (option == "--press") {
        if (findEngineButton(value))
            return {};
        return "unknown button \"" + std::string(value) + "\" for --press (see --help)";
    }
    return checkLoad(value);
}

const common::CommandLineSpec kSpec{kProgram, 1024, {"--load"}, checkAction};

/// Loads a sample as the window does: decode here, swap in at the render's next block.
std::string loadSample(LoopEngine& engine, std::string_view assignment, Scene& named) {
    int slot = 0;
    checkLoad(assignment, &slot);
    const std::string path(assignment.substr(assignment.find('=') + 1));
    SampleSlot loaded;
    const LoadResult result = loadSampleFile(path.c_str(), loaded);
    if (!result)
        return "cannot load \"" + path + "\": " + result.reason;
    engine.swapSample(sceneSlot(engine, slot), std::move(loaded));
    named.samplePaths[static_cast<std::size_t>(slot)] = path;
    return {};
}

/// Start-up, --scene, then the ordered actions. `named` collects the samples a saved scene names.
int prepare(LoopEngine& engine, common::Random& windowRandom, std::uint32_t seed,
            const common::RenderArguments& args, Scene& named, std::vector<std::string>& inputs) {
    startUp(engine, windowRandom, seed);
    inputs.push_back(args.scenePath);
    if (!args.scenePath.empty()) {
        Scene scene;
        std::string error;
        if (!loadSceneFile(args.scenePath, scene, error))
            return common::failWith(kProgram, "cannot open scene \"" + args.scenePath + "\": " + error,
                                    common::kExitUsage);
        applyScene(engine, scene.state, kSceneEverything);
        inputs.insert(inputs.end(), scene.samplePaths.begin(), scene.samplePaths.end());
        const auto problems = loadSceneSamples(engine, scene);
        for (std::size_t i = 0; i < problems.size(); ++i) {
            // A missing sample leaves its slot empty; the rest of the scene still plays.
            if (!problems[i].empty())
                std::fprintf(stderr, "vexla: missing: %s (%s)\n", scene.samplePaths[i].c_str(),
                             problems[i].c_str());
            else
                named.samplePaths[i] = scene.samplePaths[i];
        }
    }
    for (const common::OrderedAction& action : args.actions) {
        if (action.option == "--set")
            applySet(engine, action.value);
        else if (action.option == "--press")
            pressButton(engine, windowRandom, action.value);
        else if (std::string problem = loadSample(engine, action.value, named); !problem.empty())
            return common::failWith(kProgram, problem, common::kExitUsage);
        else
            inputs.push_back(action.value.substr(action.value.find('=') + 1));
    }
    return common::kExitOk;
}

bool setsRunning(const common::RenderArguments& args) {
    for (const common::OrderedAction& action : args.actions)
        if (action.option == "--set" && action.value.starts_with("running="))
            return true;
    return false;
}

} // namespace

namespace {

/// The engine's own step length, for following JACK transport without a timebase master and leading it.
double ownFramesPerStep(const void* engine) {
    return static_cast<const LoopEngine*>(engine)->params.samplesPerStep.load(kRelaxed) + 1.0;
}

void startRunning(LoopEngine& engine, const common::RenderArguments& args) {
    // Requested on the command line: served by the render at its first step, as in the window.
    engine.postFlaggedRequests();
    if (!setsRunning(args))
        engine.params.running.store(true, kRelaxed);
}

int play(LoopEngine& engine, const common::RenderArguments& args, std::uint32_t seed,
         audio::AudioOutput* output) {
    startRunning(engine, args);
    return common::playEngineLive(kProgram, args, seed, output, engine, &ownFramesPerStep,
                                  [&engine] { engine.params.running.store(false, kRelaxed); });
}

/// A --render into its file, or --play on `output` (a fresh one when null).
int render(const common::RenderArguments& args, audio::AudioOutput* output) {
    auto engine = std::make_unique<LoopEngine>();
    common::Random windowRandom;
    Scene named;
    const std::uint32_t seed = args.seed ? *args.seed : common::clockSeed();
    std::vector<std::string> inputs;
    if (const int status = prepare(*engine, windowRandom, seed, args, named, inputs);
        status != common::kExitOk)
        return status;
    if (args.play)
        return play(*engine, args, seed, output);
    if (const int status = common::checkOutputs(kProgram, args, inputs); status != common::kExitOk)
        return status;
    if (!args.saveScenePath.empty()) {
        engine->serveRequestsNow(windowRandom);
        named.state = captureScene(*engine); // saved once the render has succeeded
    }
    startRunning(*engine, args);
    return common::renderToFile(
        kProgram, args, seed, [&](std::int16_t* out, int frames) { engine->renderBlock(out, frames * 4); },
        [&] {
            std::string error;
            saveSceneFile(args.saveScenePath, named, error);
            return error;
        });
}

} // namespace

std::optional<int> runProgramCommandLine(int argc, char** argv, const common::DeviceList& devices,
                                         common::WindowStart& window, audio::AudioOutput* output) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    return common::runProgramCommandLine(
        words, kSpec, usage(), [output](const common::RenderArguments& args) { return render(args, output); },
        devices, window);
}

int runCommandLine(int argc, char** argv) {
    if (argc <= 1)
        return common::failWith(kProgram, "nothing to do: give --render OUT.wav or --play (see --help)",
                                common::kExitUsage);
    common::WindowStart window;
    return runProgramCommandLine(argc, argv, {}, window).value_or(common::kExitOk);
}

} // namespace vexla
