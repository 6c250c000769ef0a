// Zintor's command line: headless rendering to a WAV file. Runs on the calling thread.
#pragma once

namespace zintor {

/// Runs the command line given to the program (argv[0] is the program). Returns the exit status:
/// 0 success, 2 bad input. Messages go to stderr, usage to stdout.
int runCommandLine(int argc, char** argv);

} // namespace zintor
