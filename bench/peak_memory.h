#pragma once
#include <cstdlib>
#include <fstream>
#include <string>

// VmHWM (peak resident set) of this process in KiB; -1 where /proc does not tell.
inline long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}
