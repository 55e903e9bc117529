#pragma once
// The packaging self-test ("--selftest"): whether an installed tree carries what the application reads at
// run time. Nine checks, each printed on its own line, then a summary; exit status 0 only when all passed.
#include <filesystem>
#include <string>
#include <vector>

namespace ombry::selftest {

struct Check {
    std::string name;
    bool passed = false;
    std::string detail;  // printed after a failing check's name when not empty
};

struct Tree {
    std::filesystem::path appPath;       // the install prefix, symbolic links resolved
    std::filesystem::path resourceRoot;  // the resource folder the application would use (may be outside)
    std::filesystem::path runtimeDir;    // where frame sharing keeps its sockets
};

// The tree of the running executable: <prefix>/bin/ombry gives <prefix>.
Tree runningTree();
std::vector<Check> run(const Tree& tree);
// Every line of the report, the app path line first and the summary last.
std::vector<std::string> report(const Tree& tree, const std::vector<Check>& checks);
int exitStatus(const std::vector<Check>& checks);

}  // namespace ombry::selftest
