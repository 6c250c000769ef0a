// Vexla's command line: headless rendering to a WAV file, and the window's sound device. Runs on the
// calling thread.
#pragma once

#include "common/CommandLine.h"

#include <optional>

namespace audio {
class AudioOutput;
}

namespace vexla {

/// Runs the command line given to the program (argv[0] is the program). Returns the exit status:
/// 0 success, 1 a file could not be written, 2 bad input. Messages go to stderr, usage to stdout.
/// Sees no sound device: --device names none.
int runCommandLine(int argc, char** argv);

/// The window program's command line: as runCommandLine, with `devices` for --list-devices and
/// --device. Returns nullopt when the window is to open (no arguments, or --device and --sync alone),
/// as `window` says.
/// --play plays on `output` (one of its own when null).
std::optional<int> runProgramCommandLine(int argc, char** argv, const common::DeviceList& devices,
                                         common::WindowStart& window, audio::AudioOutput* output = nullptr);

} // namespace vexla
