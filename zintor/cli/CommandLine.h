// Zintor's command line: headless rendering to a WAV file. Runs on the calling thread.
#pragma once

#include "common/Random.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zintor {

class SynthEngine;

/// One --set or --press, applied after the start-up routine in command-line order.
struct RenderAction {
    bool press = false; ///< true: a generator button; false: a field assignment
    std::string name;   ///< "Synthline-1/Goa", or "samplesPerStep", "synthLine1.cutoff", …
    double value = 0.0; ///< the assigned value (field assignments only)
};

/// What `zintor --render` was asked for; filled by parseRenderArguments.
struct RenderRequest {
    bool help = false;
    std::string outputPath;
    std::int64_t frames = 0; ///< frames to render, ≥ 1
    bool seedGiven = false;
    std::uint32_t seed = 0;
    int blockFrames = 1000;  ///< frames per renderBlock call, 1..65536
    bool playingSet = false; ///< a --set playing=… was given: do not start playing by itself
    std::string scenePath;     ///< --scene: a saved scene, applied after start-up, before the actions
    std::string saveScenePath; ///< --save-scene: where to save the state before rendering
    std::vector<RenderAction> actions;
};

/// Parses the arguments after the program name. Returns an empty string when they are valid,
/// otherwise one line saying what is wrong. Checks every name and value; touches no file.
std::string parseRenderArguments(const std::vector<std::string>& args, RenderRequest& request);

/// Applies one validated action to the engine; presses draw from windowRandom. Not while a render runs.
void applyRenderAction(const RenderAction& action, SynthEngine& engine, common::Random& windowRandom);

/// Runs the command line given to the program (argv[0] is the program). Returns the exit status:
/// 0 success, 1 the output file could not be written, 2 bad input (no file is created).
/// Messages go to stderr, usage and the summary to stdout.
int runCommandLine(int argc, char** argv);

} // namespace zintor
