#pragma once
// The records of the media-storage pane: managed files (in the media folder) and referenced ones.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/Protocol.hpp"

namespace ombry {

// One file directly inside the managed media folder; identified by its file name.
struct DownloadedMediaFile {
    std::filesystem::path url;
    std::string filename;
    std::int64_t size = 0;  // 0 when unknown
    std::optional<MediaOrigin> origin;
    std::vector<std::string> currentItemIds;  // the open project's clips using it, in library order
    std::vector<std::string> otherProjects;   // other projects' names, and "Saved Playlists", sorted
    const std::string& id() const { return filename; }
    bool operator==(const DownloadedMediaFile&) const = default;
};

// One clip of the open project whose file lies outside the media folder; identified by the clip id.
struct ReferencedMediaFile {
    std::string itemId;
    std::string name;
    std::string path;
    std::int64_t size = 0;  // 0 when unknown (a missing file, for one)
    bool offline = false;
    const std::string& id() const { return itemId; }
    bool operator==(const ReferencedMediaFile&) const = default;
};

}  // namespace ombry
