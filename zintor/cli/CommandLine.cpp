// Headless rendering: the start-up routine, the requested presses and settings, then renderBlock into a WAV.
#include "zintor/cli/CommandLine.h"

#include "common/WavRecorder.h"
#include "zintor/engine/SynthEngine.h"
#include "zintor/generators/ControlFormulas.h"
#include "zintor/generators/PhraseGenerators.h"
#include "zintor/generators/ReRollHistory.h"
#include "zintor/generators/Scene.h"
#include "zintor/generators/StartUp.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace zintor {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kMaxBlockFrames = 65536;
// The data chunk of a 16-bit stereo WAV holds at most this many frames.
constexpr std::int64_t kMaxFrames = static_cast<std::int64_t>(common::WavRecorder::kMaxDataBytes / 4);

const char* const kUsage =
    "Usage: zintor [--render OUT.wav (--seconds S | --frames N) [--seed N] [--set FIELD=VALUE]...\n"
    "              [--press CAPTION]... [--block FRAMES] [--scene FILE] [--save-scene FILE]]\n"
    "Without arguments Zintor opens its window.\n"
    "\n"
    "  --render OUT.wav   render the generated track headless to a 16-bit stereo 44100 Hz WAV file\n"
    "  --seconds S        length in seconds (S > 0)\n"
    "  --frames N         length in frames (N >= 1)\n"
    "  --seed N           seed of the phrase generators, 0..4294967295 (default: the clock)\n"
    "  --set FIELD=VALUE  an engine value, applied after start-up in command-line order:\n"
    "                     samplesPerStep (646..20671), stepCount (0..256), globalTranspose (-12..12),\n"
    "                     shuffleAmount (0..256), masterGain (0..24000), subBassGain (0.001..2),\n"
    "                     playing (0 or 1; default 1), or VOICE.FIELD with VOICE one of synthLine1,\n"
    "                     synthLine2, subBass (cutoff, resonance, driveCeiling, volume, filterType,\n"
    "                     inertia, delaySend, oscMix, osc1Level, osc2Level, detune, lfoDepth, lfoRate,\n"
    "                     square), kick (startIncrement, pitchDecay, volume), hitVoice, snareVoice,\n"
    "                     hatVoice (decay, tone)\n"
    "  --press CAPTION    a generator button: \"Synthline-1/Goa\", \"Synthline-1/FLAT Riff\",\n"
    "                     \"Synthline-1/Psychedelic\", \"Synthline-2/Goa\", \"Synthline-2/Flat riff\",\n"
    "                     \"Synthline-2/Psychedelic\", \"Sub bass synth/Generate\"\n"
    "  --block FRAMES     frames per render call, 1..65536 (default 1000)\n"
    "  --scene FILE       start from a saved scene (every value and phrase), after start-up and\n"
    "                     before the --set and --press options\n"
    "  --save-scene FILE  save the state after start-up, --scene, --set and --press as a scene,\n"
    "                     which renders exactly as this run does\n"
    "  --help             this text\n";

// ---- Settable values -------------------------------------------------------------------------------

using EngineSetter = void (*)(SynthEngine&, double);
using VoiceSetter = void (*)(SynthEngine&, int voice, double);
using KickSetter = void (*)(KickControls&, double);
using NoiseSetter = void (*)(NoiseControls&, double);

/// A value's range: what the window's controls (or, for fields without one, the presets and
/// generators) can give.
struct Range {
    double minimum;
    double maximum;
    bool integer;
};

struct EngineField {
    const char* name;
    Range range;
    EngineSetter set;
};

struct VoiceField {
    const char* name;
    Range range;
    VoiceSetter set;
};

const EngineField kEngineFields[] = {
    {"samplesPerStep",
     {kStepFramesPerMinute / kMaxBpm, kStepFramesPerMinute / kMinBpm, true},
     [](SynthEngine& e, double v) { e.params.samplesPerStep.store(static_cast<int>(v), kRelaxed); }},
    {"stepCount",
     {0, kMaxStepCount, true},
     [](SynthEngine& e, double v) { e.params.stepCount.store(static_cast<int>(v), kRelaxed); }},
    {"globalTranspose",
     {-12, 12, true},
     [](SynthEngine& e, double v) { e.params.globalTranspose.store(static_cast<int>(v), kRelaxed); }},
    {"shuffleAmount",
     {0, 256, true},
     [](SynthEngine& e, double v) { e.params.shuffleAmount.store(static_cast<int>(v), kRelaxed); }},
    {"masterGain",
     {0, 24000, false},
     [](SynthEngine& e, double v) { e.params.masterGain.store(static_cast<float>(v), kRelaxed); }},
    {"subBassGain",
     {0.001, 2.0, false},
     [](SynthEngine& e, double v) { e.params.subBassGain.store(static_cast<float>(v), kRelaxed); }},
    {"playing", {0, 1, true}, [](SynthEngine& e, double v) { e.params.playing.store(v != 0.0, kRelaxed); }},
};

VoiceControls& controlsOf(SynthEngine& e, int voice) {
    VoiceControls* const all[kSynthVoices] = {&e.synthLine1, &e.synthLine2, &e.subBass};
    return *all[voice];
}

/// Phrase fields reach the voice through the engine's mailbox, like a generator's phrase.
template <class Edit> void editPhrase(SynthEngine& e, int voice, Edit edit) {
    PhraseState phrase = e.phrase(voice);
    edit(phrase);
    e.sendPhrase(voice, phrase);
}

const VoiceField kSynthLineFields[] = {
    {"cutoff",
     {0.001, 1.0, false},
     [](SynthEngine& e, int i, double v) { controlsOf(e, i).cutoff.store(static_cast<float>(v), kRelaxed); }},
    {"resonance",
     {0.001, 0.97, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).resonance.store(static_cast<float>(v), kRelaxed);
     }},
    {"driveCeiling",
     {0.05, 0.999, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).driveCeiling.store(static_cast<float>(v), kRelaxed);
     }},
    {"volume",
     {0.001, 0.4, false},
     [](SynthEngine& e, int i, double v) { controlsOf(e, i).volume.store(static_cast<float>(v), kRelaxed); }},
    {"filterType",
     {0, 2, true},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).filterType.store(static_cast<int>(v), kRelaxed);
     }},
    {"inertia",
     {0.000001, 0.001, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).inertia.store(static_cast<float>(v), kRelaxed);
     }},
    {"delaySend",
     {0.001, 0.8, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).delaySend.store(static_cast<float>(v), kRelaxed);
     }},
    {"oscMix",
     {0, 256, true},
     [](SynthEngine& e, int i, double v) { controlsOf(e, i).setOscMix(static_cast<int>(v)); }},
    {"osc1Level",
     {0, 1, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).osc1Level.store(static_cast<float>(v), kRelaxed);
     }},
    {"osc2Level",
     {0, 1, false},
     [](SynthEngine& e, int i, double v) {
         controlsOf(e, i).osc2Level.store(static_cast<float>(v), kRelaxed);
     }},
    {"detune",
     {0, 0.25, false},
     [](SynthEngine& e, int i, double v) {
         editPhrase(e, i, [v](PhraseState& p) { p.detune = static_cast<float>(v); });
     }},
    {"lfoDepth",
     {0, 0.25, false},
     [](SynthEngine& e, int i, double v) {
         editPhrase(e, i, [v](PhraseState& p) { p.lfoDepth = static_cast<float>(v); });
     }},
    {"lfoRate",
     {0, 0.00005, false},
     [](SynthEngine& e, int i, double v) {
         editPhrase(e, i, [v](PhraseState& p) { p.lfoRate = static_cast<float>(v); });
     }},
    {"square",
     {0, 1, true},
     [](SynthEngine& e, int i, double v) { editPhrase(e, i, [v](PhraseState& p) { p.square = v != 0.0; }); }},
};

/// The sub bass shares the synth-line fields; its own generator gives a few values beyond the lines'
/// controls.
Range subBassRange(const VoiceField& field) {
    const std::string name = field.name;
    if (name == "driveCeiling")
        return {0.05, 1.0, false};
    if (name == "volume")
        return {0.001, 0.5, false};
    if (name == "delaySend")
        return {0.0, 0.8, false};
    if (name == "inertia")
        return {0.0, 0.001, false};
    if (name == "lfoDepth")
        return {0.0, 0.25, false};
    if (name == "lfoRate")
        return {0.0, 0.02, false};
    return field.range;
}

struct KickField {
    const char* name;
    Range range;
    KickSetter set;
};

const KickField kKickFields[] = {
    {"startIncrement",
     {0.05, 1.5, false},
     [](KickControls& k, double v) { k.startIncrement.store(static_cast<float>(v), kRelaxed); }},
    {"pitchDecay",
     {0.85, 0.999, false},
     [](KickControls& k, double v) { k.pitchDecay.store(static_cast<float>(v), kRelaxed); }},
    {"volume",
     {0, 0.9, false},
     [](KickControls& k, double v) { k.volume.store(static_cast<float>(v), kRelaxed); }},
};

struct NoiseField {
    const char* name;
    Range range;
    NoiseSetter set;
};

// The noise drums have no controls: their presets span 0.998..0.9995; below 1 keeps the envelope falling.
const NoiseField kNoiseFields[] = {
    {"decay",
     {0, 0.9995, false},
     [](NoiseControls& d, double v) { d.decay.store(static_cast<float>(v), kRelaxed); }},
    {"tone",
     {0, 1, false},
     [](NoiseControls& d, double v) { d.tone.store(static_cast<float>(v), kRelaxed); }},
};

int synthVoiceNamed(const std::string& name) {
    return name == "synthLine1" ? kSynthLine1 : name == "synthLine2" ? kSynthLine2 : kSubBass;
}

NoiseControls* noiseDrumNamed(SynthEngine& e, const std::string& name) {
    if (name == "hitVoice")
        return &e.hitVoice;
    if (name == "snareVoice")
        return &e.snareVoice;
    if (name == "hatVoice")
        return &e.hatVoice;
    return nullptr;
}

/// The setter and range of a --set name, bound to an engine. `found` is false for an unknown name.
struct Target {
    bool found = false;
    Range range{};
    EngineSetter engineSet = nullptr;
    VoiceSetter voiceSet = nullptr;
    KickSetter kickSet = nullptr;
    NoiseSetter noiseSet = nullptr;
    std::string voice;
};

Target findTarget(const std::string& name) {
    Target t;
    const auto dot = name.find('.');
    if (dot == std::string::npos) {
        for (const auto& f : kEngineFields)
            if (name == f.name) {
                t.found = true;
                t.range = f.range;
                t.engineSet = f.set;
            }
        return t;
    }
    t.voice = name.substr(0, dot);
    const std::string field = name.substr(dot + 1);
    if (t.voice == "synthLine1" || t.voice == "synthLine2" || t.voice == "subBass") {
        for (const auto& f : kSynthLineFields)
            if (field == f.name) {
                t.found = true;
                t.range = t.voice == "subBass" ? subBassRange(f) : f.range;
                t.voiceSet = f.set;
            }
    } else if (t.voice == "kick") {
        for (const auto& f : kKickFields)
            if (field == f.name) {
                t.found = true;
                t.range = f.range;
                t.kickSet = f.set;
            }
    } else if (t.voice == "hitVoice" || t.voice == "snareVoice" || t.voice == "hatVoice") {
        for (const auto& f : kNoiseFields)
            if (field == f.name) {
                t.found = true;
                t.range = f.range;
                t.noiseSet = f.set;
            }
    }
    return t;
}

// ---- Generator buttons -----------------------------------------------------------------------------

// ---- Number parsing ---------------------------------------------------------------------------------

/// A whole decimal number (optionally signed), nothing else. False for empty text, junk or overflow.
bool parseInteger(const std::string& text, long long& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

/// A finite decimal number. False for empty text, junk, "nan", "inf" or overflow.
bool parseReal(const std::string& text, double& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

std::string formatRange(const Range& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%g..%g", r.minimum, r.maximum);
    return text;
}

std::string parseSet(const std::string& assignment, RenderRequest& request) {
    const auto eq = assignment.find('=');
    if (eq == std::string::npos)
        return "--set needs FIELD=VALUE, got \"" + assignment + "\"";
    const std::string name = assignment.substr(0, eq);
    const std::string text = assignment.substr(eq + 1);
    const Target target = findTarget(name);
    if (!target.found)
        return "unknown field \"" + name + "\" for --set";
    double value = 0.0;
    if (target.range.integer) {
        long long whole = 0;
        if (!parseInteger(text, whole))
            return "--set " + name + " needs a whole number, got \"" + text + "\"";
        value = static_cast<double>(whole);
    } else if (!parseReal(text, value)) {
        return "--set " + name + " needs a number, got \"" + text + "\"";
    }
    // Compared as the stored float, so that a typed bound such as 0.97 is inside its own range.
    const auto asStored = [&](double v) {
        return target.range.integer ? v : static_cast<double>(static_cast<float>(v));
    };
    if (asStored(value) < asStored(target.range.minimum) || asStored(value) > asStored(target.range.maximum))
        return "--set " + name + " must be within " + formatRange(target.range) + ", got \"" + text + "\"";
    if (name == "playing")
        request.playingSet = true;
    request.actions.push_back({false, name, value});
    return {};
}

} // namespace

std::string parseRenderArguments(const std::vector<std::string>& args, RenderRequest& request) {
    request = RenderRequest{};
    bool renderGiven = false;
    bool lengthGiven = false;
    bool blockGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            request.help = true;
            return {};
        }
        const bool takesValue = option == "--render" || option == "--seconds" || option == "--frames" ||
                                option == "--seed" || option == "--set" || option == "--press" ||
                                option == "--block" || option == "--scene" || option == "--save-scene";
        if (!takesValue)
            return "unknown option \"" + option + "\" (see zintor --help)";
        if (i + 1 >= args.size())
            return option + " needs a value";
        const std::string& value = args[++i];

        if (option == "--render") {
            if (renderGiven)
                return "--render given twice";
            if (value.empty())
                return "--render needs a file name";
            renderGiven = true;
            request.outputPath = value;
        } else if (option == "--seconds" || option == "--frames") {
            if (lengthGiven)
                return "give one --seconds or --frames, not both or twice";
            lengthGiven = true;
            if (option == "--seconds") {
                double seconds = 0.0;
                if (!parseReal(value, seconds))
                    return "--seconds needs a number, got \"" + value + "\"";
                const double frames = std::round(seconds * kSampleRate);
                if (!(frames >= 1.0) || frames > static_cast<double>(kMaxFrames))
                    return "--seconds must give at least one frame and fit a WAV file, got \"" + value + "\"";
                request.frames = static_cast<std::int64_t>(frames);
            } else {
                long long frames = 0;
                if (!parseInteger(value, frames))
                    return "--frames needs a whole number, got \"" + value + "\"";
                if (frames < 1 || frames > kMaxFrames)
                    return "--frames must be within 1.." + std::to_string(kMaxFrames) + ", got \"" + value +
                           "\"";
                request.frames = frames;
            }
        } else if (option == "--seed") {
            long long seed = 0;
            if (!parseInteger(value, seed) || seed < 0 || seed > 0xFFFFFFFFll)
                return "--seed needs a whole number within 0..4294967295, got \"" + value + "\"";
            request.seedGiven = true;
            request.seed = static_cast<std::uint32_t>(seed);
        } else if (option == "--block") {
            if (blockGiven)
                return "--block given twice";
            blockGiven = true;
            long long block = 0;
            if (!parseInteger(value, block) || block < 1 || block > kMaxBlockFrames)
                return "--block needs a whole number within 1.." + std::to_string(kMaxBlockFrames) +
                       ", got \"" + value + "\"";
            request.blockFrames = static_cast<int>(block);
        } else if (option == "--scene" || option == "--save-scene") {
            std::string& path = option == "--scene" ? request.scenePath : request.saveScenePath;
            if (!path.empty())
                return option + " given twice";
            if (value.empty())
                return option + " needs a file name";
            path = value;
        } else if (option == "--press") {
            if (!findGeneratorButton(value))
                return "unknown button \"" + value + "\" for --press (see zintor --help)";
            request.actions.push_back({true, value, 0.0});
        } else { // --set
            std::string error = parseSet(value, request);
            if (!error.empty())
                return error;
        }
    }
    if (!renderGiven)
        return "missing --render OUT.wav (see zintor --help)";
    if (!lengthGiven)
        return "missing --seconds S or --frames N";
    return {};
}

void applyRenderAction(const RenderAction& action, SynthEngine& engine, common::Random& windowRandom) {
    if (action.press) {
        if (const GeneratorButton* button = findGeneratorButton(action.name))
            pressGenerator(engine, *button, windowRandom);
        return;
    }
    const Target target = findTarget(action.name);
    if (target.engineSet)
        target.engineSet(engine, action.value);
    else if (target.voiceSet)
        target.voiceSet(engine, synthVoiceNamed(target.voice), action.value);
    else if (target.kickSet)
        target.kickSet(engine.kick, action.value);
    else if (target.noiseSet)
        target.noiseSet(*noiseDrumNamed(engine, target.voice), action.value);
}

int runCommandLine(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    RenderRequest request;
    const std::string error = parseRenderArguments(args, request);
    if (!error.empty()) {
        std::fprintf(stderr, "zintor: %s\n", error.c_str());
        return 2;
    }
    if (request.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    auto engine = std::make_unique<SynthEngine>(); // large delay lines: not on the stack
    common::Random windowRandom;
    const std::uint32_t seed =
        request.seedGiven ? request.seed : static_cast<std::uint32_t>(std::time(nullptr));
    startUp(*engine, windowRandom, seed);
    if (!request.scenePath.empty()) {
        SynthState scene;
        std::string sceneError;
        if (!loadSceneFile(request.scenePath, scene, sceneError)) {
            std::fprintf(stderr, "zintor: cannot open scene \"%s\": %s\n", request.scenePath.c_str(),
                         sceneError.c_str());
            return 2;
        }
        applyState(*engine, scene, kStateEverything); // no render runs yet
    }
    for (const auto& action : request.actions)
        applyRenderAction(action, *engine, windowRandom);
    if (!request.saveScenePath.empty()) {
        std::string sceneError;
        if (!saveSceneFile(request.saveScenePath, captureState(*engine), sceneError)) {
            std::fprintf(stderr, "zintor: cannot save scene \"%s\": %s\n", request.saveScenePath.c_str(),
                         sceneError.c_str());
            return 1;
        }
    }
    if (!request.playingSet)
        engine->params.playing.store(true, kRelaxed);

    common::WavRecorder recorder;
    recorder.setBlockingWhenFull(true); // offline: wait for the writer rather than drop frames
    if (recorder.open(request.outputPath.c_str(), kSampleRate, 16, 2) != common::WavRecorder::kOk) {
        std::fprintf(stderr, "zintor: cannot write \"%s\": %s\n", request.outputPath.c_str(),
                     recorder.lastError().c_str());
        return 1;
    }

    std::vector<std::int16_t> block(2 * static_cast<std::size_t>(request.blockFrames));
    bool writeFailed = false;
    for (std::int64_t done = 0; done < request.frames && !writeFailed;) {
        const int frames =
            static_cast<int>(std::min<std::int64_t>(request.blockFrames, request.frames - done));
        engine->renderBlock(block.data(), frames * 4);
        writeFailed = recorder.writeFrames(block.data(), frames) != common::WavRecorder::kOk;
        done += frames;
    }
    if (recorder.finish() != common::WavRecorder::kOk || writeFailed) {
        std::fprintf(stderr, "zintor: writing \"%s\" failed: %s\n", request.outputPath.c_str(),
                     recorder.lastError().c_str());
        return 1;
    }
    std::printf("zintor: wrote %lld frames (%.2f s) to %s, seed %u\n", static_cast<long long>(request.frames),
                static_cast<double>(request.frames) / kSampleRate, request.outputPath.c_str(),
                static_cast<unsigned>(seed));
    return 0;
}

} // namespace zintor
