#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace ombry::files {

// Writes `bytes` to "<target>.tmp", flushes it to the disk, renames it over `target` and flushes the
// folder, so a crash leaves either the old or the new file. Creates the folder. Returns an error text,
// empty on success; on failure the target is untouched and the staging file removed.
std::string writeAtomically(const std::filesystem::path& target, const std::string& bytes);

// Renames an unreadable file to "<file>.unreadable-<ms since 1970>" so nothing writes over it; when that
// name is taken (two in one millisecond), "-2", "-3" ... is appended. An earlier copy is never replaced.
// The new path, or nothing (with `error` set) when the rename failed.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file, std::string& error);

}  // namespace ombry::files
