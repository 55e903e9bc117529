#pragma once
#include <filesystem>
#include <string>

namespace ombry::paths {

// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path configHome();
// $XDG_RUNTIME_DIR, else the temporary folder.
std::filesystem::path runtimeDir();
// The folder holding the running executable.
std::filesystem::path executableDir();
// A shipped resource ("shaders/quad.vert.glsl"): beside the executable, in the install prefix's share
// folder, or in the source tree; empty when none has it.
std::filesystem::path resource(const std::string& relative);

// The operating system's name and version from /etc/os-release ("Debian GNU/Linux 12 (bookworm)").
std::string osDescription();

}  // namespace ombry::paths
