// Vexla's command line: renders the loop engine headless into a 16-bit stereo WAV file.
#include "vexla/cli/CommandLine.h"

#include "common/Random.h"
#include "common/WavRecorder.h"
#include "vexla/engine/EngineControls.h"
#include "vexla/engine/LoopEngine.h"
#include "vexla/engine/Scene.h"
#include "vexla/samples/SampleLoader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vexla {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kDefaultBlockFrames = 1024;
constexpr int kMaxBlockFrames = 1 << 16;
constexpr std::int64_t kMaxFrames = static_cast<std::int64_t>(common::WavRecorder::kMaxDataBytes / 4);

const char* const kUsage =
    "Usage: vexla                      start the window\n"
    "       vexla --render OUT.wav (--seconds S | --frames N) [options]\n"
    "\n"
    "Renders the loop engine without a window into a 16-bit stereo 44100 Hz WAV file.\n"
    "  --render OUT.wav     the file to write\n"
    "  --seconds S          length in seconds (may have a fraction)\n"
    "  --frames N           length in frames\n"
    "  --seed N             seed of the window's random numbers (default: the clock)\n"
    "  --set FIELD=VALUE    set an engine value, e.g. masterGain=1, kickVolume=0, stepCount=8,\n"
    "                       transpose=-3, running=0 (the engine runs unless running is set)\n"
    "  --press CAPTION      press a button: \"Sequence\", \"AM Alter\", \"Echo Alter\", \"Kick\",\n"
    "                       \"Bassline 1\", \"Bassline 2\", \"Sine\", \"HiHats\", \"2nd Looper\", \"Slicer\"\n"
    "  --load SLOT=PATH     load a sound file into a sample slot: dry, second, slicer, vcf1, vcf2\n"
    "  --scene FILE         start from a saved scene (its values, tables and samples), before\n"
    "                       --set, --press and --load\n"
    "  --save-scene FILE    save the state after start-up, --scene, --set, --press and --load as a\n"
    "                       scene; pressed regenerations are then served at once (with the window's\n"
    "                       random numbers), so that the scene holds them and renders exactly as this\n"
    "  --block FRAMES       frames per render call, 1..65536 (default 1024)\n"
    "  --help               show this text\n"
    "--set, --press and --load act in command-line order, after start-up and before the first frame;\n"
    "requested regenerations are served at the first step, as in the window.\n";

/// Something to do to the engine after start-up and before the first frame. Returns an error or "".
using Action = std::function<std::string(LoopEngine&, common::Random& windowRandom)>;

struct RenderPlan {
    std::string outputPath;
    bool haveOutput = false;
    std::optional<double> seconds;
    std::optional<std::int64_t> frames;
    std::optional<std::uint32_t> seed;
    int blockFrames = kDefaultBlockFrames;
    bool runningSet = false;
    bool help = false;
    std::vector<Action> actions;
    std::string scenePath;
    std::string saveScenePath;
    /// Paths given to --load, per scene slot: what a saved scene names.
    std::array<std::string, kSceneSlots> loadedPaths;
};

std::optional<double> parseNumber(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const char* begin = text.data();
    if (begin != end && *begin == '+')
        ++begin;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    const std::optional<double> value = parseNumber(text);
    if (!value || *value != std::floor(*value) || std::fabs(*value) > 9.0e15)
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

// ---- engine fields that --set accepts, with the range the window's controls can give ----

enum class FieldKind { Integer, Real, Flag };

struct FieldSpec {
    std::string_view name;
    FieldKind kind;
    double lowest;
    double highest;
    void (*store)(EngineParams&, double);
};

template <auto Member>
void storeFloat(EngineParams& p, double v) {
    (p.*Member).store(static_cast<float>(v), kRelaxed);
}
template <auto Member>
void storeInt(EngineParams& p, double v) {
    (p.*Member).store(static_cast<std::int32_t>(v), kRelaxed);
}
template <auto Member>
void storeFlag(EngineParams& p, double v) {
    (p.*Member).store(v != 0.0, kRelaxed);
}

constexpr double kVolumeMax = 128.0 * 128.0;          // level sliders × 128
constexpr double kFeedbackMin = 0.05 + 0.05 / 0.95;   // q + q / (1 − c) over c, q in 0.05..0.95
constexpr double kFeedbackMax = 0.95 + 0.95 / 0.05;

const FieldSpec kFields[] = {
    {"stepCount", FieldKind::Integer, 3, 64, storeInt<&EngineParams::stepCount>},
    {"samplesPerStep", FieldKind::Integer, 2000, 20000, storeInt<&EngineParams::samplesPerStep>},
    {"running", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::running>},
    {"masterGain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::masterGain>},
    {"transpose", FieldKind::Integer, -12, 12, storeInt<&EngineParams::transpose>},
    {"kickVolume", FieldKind::Real, 0, kVolumeMax, storeFloat<&EngineParams::kickVolume>},
    {"bass1Volume", FieldKind::Real, 0, kVolumeMax, storeFloat<&EngineParams::bass1Volume>},
    {"bass2Volume", FieldKind::Real, 0, kVolumeMax, storeFloat<&EngineParams::bass2Volume>},
    {"hatVolume", FieldKind::Real, 0, 1, storeFloat<&EngineParams::hatVolume>},
    {"sineVolume", FieldKind::Real, 0, 1, storeFloat<&EngineParams::sineVolume>},
    {"dryLooperGain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::dryLooperGain>},
    {"secondLooperGain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::secondLooperGain>},
    {"vcf1Gain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::vcf1Gain>},
    {"vcf2Gain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::vcf2Gain>},
    {"slicerGain", FieldKind::Real, 0, 1, storeFloat<&EngineParams::slicerGain>},
    {"vcf1Cutoff", FieldKind::Real, 0.05, 0.95, storeFloat<&EngineParams::vcf1Cutoff>},
    {"vcf1Feedback", FieldKind::Real, kFeedbackMin, kFeedbackMax, storeFloat<&EngineParams::vcf1Feedback>},
    {"vcf2Cutoff", FieldKind::Real, 0.05, 0.95, storeFloat<&EngineParams::vcf2Cutoff>},
    {"vcf2Feedback", FieldKind::Real, kFeedbackMin, kFeedbackMax, storeFloat<&EngineParams::vcf2Feedback>},
    {"requestHats", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::requestHats>},
    {"requestSine", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::requestSine>},
    {"requestBass1", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::requestBass1>},
    {"requestBass2", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::requestBass2>},
    {"requestKick", FieldKind::Flag, 0, 1, storeFlag<&EngineParams::requestKick>},
};

// Values the engine reports rather than takes.
constexpr std::string_view kReportedFields[] = {"clipped", "recording", "recordedBytes"};

std::string formatRange(const FieldSpec& f) {
    char text[96];
    if (f.kind == FieldKind::Real)
        std::snprintf(text, sizeof text, "%g..%g", f.lowest, f.highest);
    else
        std::snprintf(text, sizeof text, "%d..%d", static_cast<int>(f.lowest), static_cast<int>(f.highest));
    return text;
}

std::string parseSet(RenderPlan& plan, std::string_view arg) {
    const std::size_t equals = arg.find('=');
    if (equals == std::string_view::npos)
        return "--set needs FIELD=VALUE, got '" + std::string(arg) + "'";
    const std::string_view name = arg.substr(0, equals);
    const std::string_view text = arg.substr(equals + 1);
    for (std::string_view reported : kReportedFields)
        if (name == reported)
            return "'" + std::string(name) + "' is reported by the engine and cannot be set";
    for (const FieldSpec& field : kFields) {
        if (name != field.name)
            continue;
        const std::optional<double> value = parseNumber(text);
        if (!value)
            return "value of " + std::string(name) + " is not a number: '" + std::string(text) + "'";
        if (field.kind != FieldKind::Real && *value != std::floor(*value))
            return "value of " + std::string(name) + " must be a whole number: '" + std::string(text) + "'";
        if (*value < field.lowest || *value > field.highest)
            return "value of " + std::string(name) + " is out of range " + formatRange(field) + ": '" +
                   std::string(text) + "'";
        if (name == "running")
            plan.runningSet = true;
        const double v = *value;
        const auto store = field.store;
        plan.actions.push_back([store, v](LoopEngine& engine, common::Random&) {
            store(engine.params, v);
            return std::string();
        });
        return {};
    }
    return "unknown engine field '" + std::string(name) + "'";
}

std::string parsePress(RenderPlan& plan, std::string_view caption) {
    for (std::string_view button : kEngineButtons) {
        if (caption == button) {
            plan.actions.push_back([button](LoopEngine& engine, common::Random& random) {
                pressButton(engine, random, button);
                return std::string();
            });
            return {};
        }
    }
    return "unknown button '" + std::string(caption) + "'";
}

std::string parseLength(RenderPlan& plan, std::string_view text, bool inSeconds) {
    if (plan.seconds || plan.frames)
        return "give the length once, with --seconds or --frames";
    const std::optional<double> value = parseNumber(text);
    if (!value)
        return std::string(inSeconds ? "--seconds" : "--frames") + " is not a number: '" + std::string(text) + "'";
    if (*value < 0)
        return "the length cannot be negative: '" + std::string(text) + "'";
    if (inSeconds) {
        if (*value * kSampleRate > static_cast<double>(kMaxFrames))
            return "the length is too long for a WAV file: '" + std::string(text) + "'";
        plan.seconds = *value;
        return {};
    }
    if (*value != std::floor(*value))
        return "--frames must be a whole number: '" + std::string(text) + "'";
    if (*value > static_cast<double>(kMaxFrames))
        return "the length is too long for a WAV file: '" + std::string(text) + "'";
    plan.frames = static_cast<std::int64_t>(*value);
    return {};
}

// ---- --load SLOT=PATH: a sound file into one of the five sample slots ----

struct SlotChoice {
    std::string_view name;
    SampleSlot LoopEngine::*slot;
};

const SlotChoice kSlotChoices[] = {
    {"dry", &LoopEngine::drySlot},   {"second", &LoopEngine::secondSlot}, {"slicer", &LoopEngine::slicerSlot},
    {"vcf1", &LoopEngine::vcf1Slot}, {"vcf2", &LoopEngine::vcf2Slot},
};

std::string parseLoad(RenderPlan& plan, std::string_view arg) {
    const std::size_t equals = arg.find('=');
    if (equals == std::string_view::npos || equals + 1 == arg.size())
        return "--load needs SLOT=PATH, got '" + std::string(arg) + "'";
    const std::string_view name = arg.substr(0, equals);
    for (const SlotChoice& choice : kSlotChoices) {
        if (name != choice.name)
            continue;
        const auto slot = choice.slot;
        const auto index = static_cast<std::size_t>(&choice - kSlotChoices);
        plan.actions.push_back([slot, index, &plan, path = std::string(arg.substr(equals + 1))](LoopEngine& engine,
                                                                                             common::Random&) {
            // As the window does: decode here, swap in at the render's next block.
            SampleSlot loaded;
            const LoadResult result = loadSampleFile(path.c_str(), loaded);
            if (!result)
                return "cannot load '" + path + "': " + result.reason;
            engine.swapSample(engine.*slot, std::move(loaded));
            plan.loadedPaths[index] = path;
            return std::string();
        });
        return {};
    }
    return "unknown sample slot '" + std::string(name) + "' (dry, second, slicer, vcf1 or vcf2)";
}

// ---- the option table: one row per option; add a row to add an option ----

struct OptionSpec {
    std::string_view name;
    bool takesValue;
    std::string (*parse)(RenderPlan&, std::string_view value);
};

const OptionSpec kOptions[] = {
    {"--help", false,
     [](RenderPlan& plan, std::string_view) {
         plan.help = true;
         return std::string();
     }},
    {"--render", true,
     [](RenderPlan& plan, std::string_view value) {
         if (plan.haveOutput)
             return std::string("--render given twice");
         if (value.empty())
             return std::string("--render needs an output path");
         plan.outputPath = std::string(value);
         plan.haveOutput = true;
         return std::string();
     }},
    {"--seconds", true, [](RenderPlan& plan, std::string_view value) { return parseLength(plan, value, true); }},
    {"--frames", true, [](RenderPlan& plan, std::string_view value) { return parseLength(plan, value, false); }},
    {"--seed", true,
     [](RenderPlan& plan, std::string_view value) {
         const std::optional<std::int64_t> seed = parseInteger(value);
         if (!seed || *seed < 0 || *seed > 0xFFFFFFFFll)
             return "--seed must be a whole number 0..4294967295: '" + std::string(value) + "'";
         plan.seed = static_cast<std::uint32_t>(*seed);
         return std::string();
     }},
    {"--set", true, parseSet},
    {"--press", true, parsePress},
    {"--load", true, parseLoad},
    {"--scene", true,
     [](RenderPlan& plan, std::string_view value) {
         if (!plan.scenePath.empty())
             return std::string("--scene given twice");
         if (value.empty())
             return std::string("--scene needs a scene file");
         plan.scenePath = std::string(value);
         return std::string();
     }},
    {"--save-scene", true,
     [](RenderPlan& plan, std::string_view value) {
         if (!plan.saveScenePath.empty())
             return std::string("--save-scene given twice");
         if (value.empty())
             return std::string("--save-scene needs a file name");
         plan.saveScenePath = std::string(value);
         return std::string();
     }},
    {"--block", true,
     [](RenderPlan& plan, std::string_view value) {
         const std::optional<std::int64_t> frames = parseInteger(value);
         if (!frames || *frames < 1 || *frames > kMaxBlockFrames)
             return "--block must be a whole number 1.." + std::to_string(kMaxBlockFrames) + ": '" +
                    std::string(value) + "'";
         plan.blockFrames = static_cast<int>(*frames);
         return std::string();
     }},
};

/// Parses argv into plan; returns the first problem, or "".
std::string parseArguments(int argc, char** argv, RenderPlan& plan) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view inlineValue;
        bool hasInlineValue = false;
        if (arg.starts_with("--")) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string_view::npos) { // --option=value
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasInlineValue = true;
            }
        }
        const OptionSpec* option = nullptr;
        for (const OptionSpec& candidate : kOptions)
            if (arg == candidate.name)
                option = &candidate;
        if (option == nullptr)
            return "unknown argument '" + std::string(argv[i]) + "' (see --help)";
        std::string_view value;
        if (option->takesValue) {
            if (hasInlineValue) {
                value = inlineValue;
            } else {
                if (i + 1 >= argc)
                    return std::string(option->name) + " needs a value";
                value = argv[++i];
            }
        } else if (hasInlineValue) {
            return std::string(option->name) + " takes no value";
        }
        std::string problem = option->parse(plan, value);
        if (!problem.empty())
            return problem;
    }
    if (plan.help)
        return {};
    if (!plan.haveOutput)
        return "nothing to do: give --render OUT.wav (see --help)";
    if (!plan.seconds && !plan.frames)
        return "give the length with --seconds S or --frames N";
    return {};
}

/// Runs the pending regenerations now, in the render's order, on the window's generator.
void serveRequestsAtOnce(LoopEngine& engine, common::Random& windowRandom) {
    EngineParams& p = engine.params;
    if (p.requestHats.exchange(false, kRelaxed))
        engine.generateHats(windowRandom);
    if (p.requestSine.exchange(false, kRelaxed))
        engine.generateSine(windowRandom);
    if (p.requestBass1.exchange(false, kRelaxed))
        engine.generateBass1(windowRandom);
    if (p.requestBass2.exchange(false, kRelaxed))
        engine.generateBass2(windowRandom);
    if (p.requestKick.exchange(false, kRelaxed))
        engine.generateKick(windowRandom);
}

int fail(const std::string& problem) {
    std::fprintf(stderr, "vexla: %s\n", problem.c_str());
    return 2;
}

} // namespace

int runCommandLine(int argc, char** argv) {
    RenderPlan plan;
    if (std::string problem = parseArguments(argc, argv, plan); !problem.empty())
        return fail(problem);
    if (plan.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    auto engine = std::make_unique<LoopEngine>();
    common::Random windowRandom;
    const std::uint32_t seed = plan.seed ? *plan.seed : static_cast<std::uint32_t>(std::time(nullptr));
    startUp(*engine, windowRandom, seed);
    if (!plan.scenePath.empty()) {
        Scene scene;
        std::string error;
        if (!loadSceneFile(plan.scenePath, scene, error))
            return fail("cannot open scene '" + plan.scenePath + "': " + error);
        applyScene(*engine, scene.state, kSceneEverything);
        const auto problems = loadSceneSamples(*engine, scene);
        for (std::size_t i = 0; i < problems.size(); ++i) {
            // A missing sample leaves its slot empty; the rest of the scene still plays.
            if (!problems[i].empty())
                std::fprintf(stderr, "vexla: missing: %s (%s)\n", scene.samplePaths[i].c_str(), problems[i].c_str());
            else
                plan.loadedPaths[i] = scene.samplePaths[i];
        }
    }
    for (const Action& action : plan.actions)
        if (std::string problem = action(*engine, windowRandom); !problem.empty())
            return fail(problem);
    if (!plan.saveScenePath.empty()) {
        serveRequestsAtOnce(*engine, windowRandom);
        std::string error;
        if (!saveSceneFile(plan.saveScenePath, Scene{captureScene(*engine), plan.loadedPaths}, error))
            return fail("cannot save scene '" + plan.saveScenePath + "': " + error);
    }
    if (!plan.runningSet)
        engine->params.running.store(true, kRelaxed);

    common::WavRecorder recorder;
    recorder.setBlockingWhenFull(true);
    if (recorder.open(plan.outputPath.c_str(), kSampleRate, 16, 2) != common::WavRecorder::kOk)
        return fail("cannot write '" + plan.outputPath + "': " + recorder.lastError());
    engine->setRecorder(&recorder);
    engine->params.recordedBytes.store(0, kRelaxed);
    engine->params.recording.store(true, kRelaxed);

    std::int64_t remaining = plan.frames ? *plan.frames : std::llround(*plan.seconds * kSampleRate);
    std::vector<unsigned char> block(static_cast<std::size_t>(plan.blockFrames) * 4);
    while (remaining > 0) {
        const int frames = static_cast<int>(remaining < plan.blockFrames ? remaining : plan.blockFrames);
        engine->renderBlock(block.data(), frames * 4);
        remaining -= frames;
    }

    engine->params.recording.store(false, kRelaxed);
    engine->setRecorder(nullptr);
    if (recorder.finish() != common::WavRecorder::kOk) {
        std::fprintf(stderr, "vexla: writing '%s' failed: %s\n", plan.outputPath.c_str(), recorder.lastError().c_str());
        return 1;
    }
    return 0;
}

} // namespace vexla
