// For the long soak runs: how long to run, and how much memory the process holds.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace common::test {

/// Seconds of audio a soak renders: VZ_SOAK_SECONDS, or ten minutes.
inline double soakSeconds() {
    const char* text = std::getenv("VZ_SOAK_SECONDS");
    const double seconds = text ? std::atof(text) : 0.0;
    return seconds > 0 ? seconds : 600.0;
}

/// Resident memory of this process in KiB.
inline long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace common::test
