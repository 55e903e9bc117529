#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/Protocol.hpp"

namespace ombry {

// A playlist with full copies of its clips, as saved to the library of saved playlists or put on the
// clipboard. Importing one always makes a new playlist with new clips.
struct SavedPlaylistSnapshot {
    std::string id;  // fresh for each snapshot
    std::string name;
    std::optional<std::string> color;
    std::optional<std::string> icon;
    std::optional<std::string> emoji;
    double savedAt = 0;  // ms since 1970
    std::vector<MediaItem> media;

    bool operator==(const SavedPlaylistSnapshot&) const = default;
};

// "savedPlaylists.json", shared by all projects: newest first.
struct SavedPlaylistsStore {
    std::vector<SavedPlaylistSnapshot> playlists;

    bool operator==(const SavedPlaylistsStore&) const = default;

    static std::filesystem::path file();  // "savedPlaylists.json" in Store::dir
    // Empty when missing or unreadable (an unreadable file is moved aside first).
    static SavedPlaylistsStore load();
    void save() const;
};

Json toJson(const SavedPlaylistSnapshot&);
void fromJson(const Json&, SavedPlaylistSnapshot&);
Json toJson(const SavedPlaylistsStore&);
void fromJson(const Json&, SavedPlaylistsStore&);

}  // namespace ombry
