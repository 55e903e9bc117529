#include "App/SelfTest.hpp"

#include <unistd.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "Platform/Paths.hpp"
#include "Platform/ResourcePaths.hpp"

namespace ombry::selftest {

namespace fs = std::filesystem;

namespace {

fs::path resolved(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::canonical(p, ec);
    return ec ? p : r;
}

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool allFiles(const fs::path& folder, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (!isFile(folder / n)) return false;
    return true;
}

}  // namespace

Tree runningTree() {
    Tree t;
    std::error_code ec;
    const fs::path exe = fs::canonical("/proc/self/exe", ec);
    t.appPath = ec ? resolved(paths::executableDir()).parent_path() : exe.parent_path().parent_path();
    t.resourceRoot = paths::resourceRoot();
    t.runtimeDir = paths::runtimeDir();
    return t;
}

std::vector<Check> run(const Tree& tree) {
    std::vector<Check> checks;
    auto check = [&](std::string name, bool passed, std::string detail = {}) {
        checks.push_back({std::move(name), passed, passed ? std::string() : std::move(detail)});
    };
    const fs::path root = tree.resourceRoot;
    const std::string rootText = root.empty() ? std::string() : resolved(root).string();
    const std::string app = tree.appPath.string();
    check("resource bundle is inside the app", !root.empty() && rootText.rfind(app, 0) == 0, rootText);
    std::error_code ec;
    check("OutputBundle", !root.empty() && fs::is_directory(root / "OutputBundle", ec) &&
                              isFile(root / "OutputBundle" / "index.html"));
    check("shaders", !root.empty() && allFiles(root / "shaders", {"stageQuadVertex.glsl", "stageTexturedFragment.glsl",
                                                                   "stageSolidFragment.glsl", "stagePresentFragment.glsl"}));
    check("UploadPage/upload.html", !root.empty() && isFile(root / "UploadPage" / "upload.html"));
    // Frame sharing ships no resources of its own: its sockets live in the session's runtime folder, and the
    // output conversion shaders are the nearest thing it relies on.
    check("frame-sharing folder is usable",
          fs::is_directory(tree.runtimeDir, ec) && ::access(tree.runtimeDir.c_str(), W_OK | X_OK) == 0);
    check("NDI conversion shaders",
          !root.empty() && allFiles(root / "shaders", {"ndiUYVYFragment.glsl", "ndiAlphaFragment.glsl",
                                                       "ndiStraightAlphaFragment.glsl"}));
    nlohmann::json info;
    bool infoRead = false;
    if (!root.empty() && isFile(root / "app-info.json")) {
        std::ifstream in(root / "app-info.json");
        info = nlohmann::json::parse(in, nullptr, false);
        infoRead = !info.is_discarded() && info.is_object();
    }
    check("app-info.json embedded", infoRead);
    check("feedURL set", infoRead && info.contains("feedURL") && info["feedURL"].is_string());
    check("publicEDKey set", infoRead && info.contains("publicEDKey") && info["publicEDKey"].is_string());
    return checks;
}

std::vector<std::string> report(const Tree& tree, const std::vector<Check>& checks) {
    std::vector<std::string> lines{"self-test: " + tree.appPath.string()};
    std::vector<std::string> failed;
    for (const Check& c : checks) {
        std::string line = (c.passed ? "  ok    " : "  FAIL  ") + c.name;
        if (!c.passed && !c.detail.empty()) line += " \u2014 " + c.detail;
        lines.push_back(std::move(line));
        if (!c.passed) failed.push_back(c.name);
    }
    if (failed.empty()) {
        lines.push_back("self-test passed");
    } else {
        std::string s = "self-test FAILED (" + std::to_string(failed.size()) + "): ";
        for (std::size_t i = 0; i < failed.size(); ++i) s += (i ? ", " : "") + failed[i];
        lines.push_back(std::move(s));
    }
    return lines;
}

int exitStatus(const std::vector<Check>& checks) {
    for (const Check& c : checks)
        if (!c.passed) return 1;
    return 0;
}

}  // namespace ombry::selftest
