#pragma once
// Shell commands run as a packager would, without a display: their status and what they printed.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace ombry::test {

struct ShellOutput {
    int status = -1;
    std::string text;
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
};

inline ShellOutput sh(const std::string& command) {
    ShellOutput o;
    FILE* p = ::popen(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command).c_str(), "r");
    if (!p) return o;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.text.append(buf, n);
    const int status = ::pclose(p);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

inline std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

}  // namespace ombry::test
