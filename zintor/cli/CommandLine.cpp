#include "zintor/cli/CommandLine.h"

#include <cstdio>

namespace zintor {

int runCommandLine(int, char**) {
    std::fprintf(stderr, "zintor: headless rendering is not available yet\n");
    return 2;
}

} // namespace zintor
