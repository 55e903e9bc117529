#pragma once
// The growth of this process's peak resident memory from a moment on, read from /proc/self/status.
#include <fstream>
#include <string>

namespace ombry::test {

// A value in kB from /proc/self/status ("VmRSS", "VmHWM"); -1 when it is not there.
inline long statusKiB(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    return -1;
}

// Resets the peak to what is resident now; now() is how far the peak has risen above that since.
struct PeakGrowth {
    long before;
    PeakGrowth() {
        std::ofstream("/proc/self/clear_refs") << "5";
        before = statusKiB("VmRSS");
    }
    long now() const { return statusKiB("VmHWM") - before; }
};

}  // namespace ombry::test
