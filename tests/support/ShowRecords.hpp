#pragma once
// Clips and playlists for tests that fill a library by hand.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Library/Library.hpp"

namespace ombry::test {

// Named after the file; the kind from its extension (video without one).
inline MediaItem makeItem(const std::string& id, const std::string& path, std::optional<double> order = std::nullopt,
                          double addedAt = 0) {
    MediaItem m;
    m.id = id;
    m.kind = Library::kind(path).value_or(MediaKind::video);
    m.name = std::filesystem::path(path).filename().string();
    m.path = path;
    m.order = order;
    m.addedAt = addedAt;
    return m;
}

// Named after its id.
inline Group makeGroup(const std::string& id, std::vector<std::string> ids,
                       std::optional<std::string> color = "#112233") {
    Group g;
    g.id = id;
    g.name = id;
    g.mediaIds = std::move(ids);
    g.color = std::move(color);
    return g;
}

}  // namespace ombry::test
