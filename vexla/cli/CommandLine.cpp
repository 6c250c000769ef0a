#include "vexla/cli/CommandLine.h"

#include <cstdio>

namespace vexla {

int runCommandLine(int, char**) {
    std::fprintf(stderr, "vexla: headless rendering is not available yet\n");
    return 2;
}

} // namespace vexla
