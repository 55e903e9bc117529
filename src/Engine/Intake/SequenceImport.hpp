#pragma once
// Numbered image frames: finding one run among dropped paths, and encoding a run into one clip with alpha.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "Platform/Media/MediaTypes.hpp"

namespace ombry {

struct SequenceImport {
    // File-name extensions (lower case) that may be frames: the library's images without vector ones.
    static const std::set<std::string>& frameExtensions();

    // A folder's non-hidden entries one level deep, in listing order, as full paths; anything else (or a
    // folder that cannot be listed) gives itself.
    static std::vector<std::string> expand(const std::string& path);
    // The frame number of a stem: its last (at most 9) trailing ASCII digits; nothing without any.
    static std::optional<std::int64_t> trailingNumber(const std::string& stem);
    // The stem without all of its trailing digits.
    static std::string stemPrefix(const std::string& stem);
    // A run's display name from its grouping key: " _-." trimmed at both ends, "Sequence" when empty.
    static std::string name(const std::string& forStem);

    struct Detection {
        std::string name;
        std::vector<std::string> frames;  // in playback order
        bool operator==(const Detection&) const = default;
    };
    // The one run of 8 or more numbered frames among the paths; nothing when there is none or more than one.
    // Reads no files.
    static std::optional<Detection> detect(const std::vector<std::string>& paths);

    // Why an encode failed, with the sentence the operator reads.
    struct Failure {
        enum class Kind { frameUnreadable, encodeFailed, notASequence, writerFailed };
        Kind kind = Kind::encodeFailed;
        std::string detail;  // frame file name, reason, or the system's own description

        static Failure frameUnreadable(std::string file) { return {Kind::frameUnreadable, std::move(file)}; }
        static Failure encodeFailed(std::string reason) { return {Kind::encodeFailed, std::move(reason)}; }
        static Failure notASequence() { return {Kind::notASequence, {}}; }
        std::string description() const;
        bool operator==(const Failure&) const = default;
    };

    // The movie's file name for a run's name.
    static std::string movieFilename(const std::string& name) { return name + ".webm"; }

    // The first frame's size with each side rounded down to an even number; nothing when it cannot be read
    // or a side is below 2.
    static std::optional<media::PixelSize> pixelSize(const std::string& path);

    // Encodes the frames, in order, into movieFilename(name) inside `into` (replacing a file of that name):
    // the first frame's even size, frame i at i / fps seconds (fps below 1 counts as 1). Blocking: run it
    // off the main thread. `onProgress` is called on this thread with 0, then with the exact fraction
    // each time it passes a new whole percent (at most 101 calls, the last with 1). `stop` turning true
    // ends the encode between frames as a failure. On failure no partial movie is left behind.
    using Result = std::variant<std::filesystem::path, Failure>;
    static Result transcode(const std::vector<std::string>& frames, const std::string& name,
                            const std::filesystem::path& into, std::int64_t fps,
                            const std::function<void(double)>& onProgress = {},
                            const std::atomic<bool>* stop = nullptr);
};

}  // namespace ombry
