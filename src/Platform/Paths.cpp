#include "Platform/Paths.hpp"
#include "Platform/ResourcePaths.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "Platform/Product.hpp"

namespace fs = std::filesystem;

namespace ombry::paths {
namespace {
fs::path home() {
    const char* h = std::getenv("HOME");
    return h && *h ? fs::path(h) : fs::temp_directory_path();
}
fs::path fromEnv(const char* var, const fs::path& fallback) {
    const char* v = std::getenv(var);
    if (v && *v && fs::path(v).is_absolute()) return fs::path(v);
    return fallback;
}
}  // namespace

fs::path dataHome() { return fromEnv("XDG_DATA_HOME", home() / ".local" / "share"); }
fs::path configHome() { return fromEnv("XDG_CONFIG_HOME", home() / ".config"); }
fs::path runtimeDir() { return fromEnv("XDG_RUNTIME_DIR", fs::temp_directory_path()); }

fs::path executableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

std::vector<fs::path> resourceRoots() {
    const fs::path exeDir = executableDir();
    return {exeDir / "resources", exeDir.parent_path() / "share" / "ombry", fs::path(OMBRY_SOURCE_DIR) / "resources"};
}

fs::path resourceRoot() {
    std::error_code ec;
    for (const auto& r : resourceRoots())
        if (fs::is_directory(r, ec)) return r;
    return {};
}

fs::path resource(const std::string& relative) {
    std::error_code ec;
    for (const auto& root : resourceRoots())
        if (const fs::path c = root / relative; fs::exists(c, ec)) return c;
    return {};
}

std::string osDescription() {
    std::ifstream in("/etc/os-release");
    std::string line, pretty, name, version;
    auto value = [](const std::string& l) {
        std::string v = l.substr(l.find('=') + 1);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) v = v.substr(1, v.size() - 2);
        return v;
    };
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) pretty = value(line);
        else if (line.rfind("NAME=", 0) == 0) name = value(line);
        else if (line.rfind("VERSION=", 0) == 0) version = value(line);
    }
    if (!pretty.empty()) return pretty;
    if (!name.empty()) return version.empty() ? name : name + " " + version;
    return "Linux";
}

}  // namespace ombry::paths
