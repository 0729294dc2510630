// Resident-memory figures of this process from /proc, for the benchmarks.
#pragma once

#include <fstream>
#include <string>

namespace hx::bench {

// A "VmRSS" / "VmHWM" line of /proc/self/status, in KiB; -1 when absent.
inline long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Starts the peak figure (VmHWM) afresh; false where the kernel does not allow it.
inline bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

}  // namespace hx::bench
