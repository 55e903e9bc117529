#pragma once
// The command line: --help, --version, --selftest and project documents.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ombry::ui {

struct CommandLine {
    enum class Action { run, help, version, selftest, refuse };
    Action action = Action::run;
    // The first ".ombry" document given; the others are ignored.
    std::optional<std::filesystem::path> document;
    // Why the line was refused (one sentence), for Action::refuse.
    std::string error;
};

// Qt's own platform options (-platform, -display …) are taken by the QApplication before this runs.
CommandLine parseCommandLine(const std::vector<std::string>& args);
std::string helpText(const std::string& program);

}  // namespace ombry::ui
