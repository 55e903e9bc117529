#pragma once
// The media checks of the intake, by media kind. Blocking: run off the main thread.
#include <filesystem>
#include <optional>
#include <string>

#include "Engine/Model/Protocol.hpp"
#include "Platform/Media/MediaProbe.hpp"

namespace ombry {

struct MediaProbe {
    // Whether the file can be used as that kind: Matroska and Ogg by their first bytes alone, SVG by loading
    // it, other images and clips by a decoder that reads their stream.
    // `extension` stands in for the file's own (a temporary name may not carry the sender's).
    static bool validates(const std::filesystem::path& file, MediaKind kind,
                          std::optional<std::string> extension = std::nullopt);
    // Metadata for the kind (still size for images; duration, displayed size, rate and sound otherwise).
    static media::ProbedMeta metadata(const std::filesystem::path& file, MediaKind kind);
    // Writes "<id>.jpg" in the thumbnails folder; false (leaving any older file) when there is no picture.
    static bool thumbnail(const std::filesystem::path& file, MediaKind kind, const std::string& id);
    static std::filesystem::path thumbnailFile(const std::string& id);
};

}  // namespace ombry
