#pragma once
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

namespace ombry {

struct ContentHash {
    static constexpr std::size_t chunkBytes = 1 << 20;
    // SHA-256 of the file as 64 lower-case hex digits, read in 1 MiB chunks (constant memory for any size);
    // nothing when the file cannot be opened, or when `stop` turns true on the way. Blocking; any thread.
    static std::optional<std::string> sha256(const std::filesystem::path& file,
                                             const std::atomic<bool>* stop = nullptr);
};

}  // namespace ombry
