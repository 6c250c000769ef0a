// Zintor's command line: headless rendering to a WAV file. Runs on the calling thread.
#pragma once

#include "common/CommandLine.h"
#include "common/Random.h"

#include <cstdint>
#include <optional>

namespace audio {
class AudioOutput;
}
#include <string>
#include <vector>

namespace zintor {

class SynthEngine;

/// Parses the arguments after the program name into `request`. Returns an empty string when they are
/// valid, otherwise one line saying what is wrong. Checks every name and value; touches no file.
std::string parseRenderArguments(const std::vector<std::string>& args, common::RenderArguments& request);

/// Applies one checked --set or --press to the engine; presses draw from windowRandom. Not while a render
/// runs.
void applyRenderAction(const common::OrderedAction& action, SynthEngine& engine,
                       common::Random& windowRandom);

/// Runs the command line given to the program (argv[0] is the program). Returns the exit status:
/// 0 success, 1 a file could not be written, 2 bad input (no file is created).
/// Messages go to stderr, usage and the summary to stdout. Sees no sound device: --device names none.
int runCommandLine(int argc, char** argv);

/// The window program's command line: as runCommandLine, with `devices` for --list-devices and
/// --device. Returns nullopt when the window is to open (no arguments, or --device and --sync alone),
/// as `window` says.
/// --play plays on `output` (one of its own when null).
std::optional<int> runProgramCommandLine(int argc, char** argv, const common::DeviceList& devices,
                                         common::WindowStart& window, audio::AudioOutput* output = nullptr);

} // namespace zintor
