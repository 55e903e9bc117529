#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Engine/Model/Protocol.hpp"

namespace ombry {

// One show as a document "<name>.ombry". Every key but "stage" is required when reading.
struct ProjectDoc {
    std::int64_t schemaVersion = 1;  // read but never checked
    std::string id;
    std::string name;
    std::vector<MediaItem> media;
    std::vector<Group> groups;
    std::optional<StageConfig> stage;
    double savedAt = 0;  // ms since 1970

    bool operator==(const ProjectDoc&) const = default;

    // A new empty document with a fresh id, saved now.
    static ProjectDoc make(const std::string& name);
};

// The project document type ("com.dovel.Ombry.project", files "*.ombry") as the desktop knows it
// (resources/linux/ombry.xml); panels filter on it.
inline constexpr const char* projectMimeType = "application/x-ombry-project";

// One remembered project.
struct RecentEntry {
    std::string id;
    std::string name;
    std::string path;  // absolute path of the project file
    double openedAt = 0;

    bool operator==(const RecentEntry&) const = default;
};

// "projects.json": recent projects, newest first, at most 10, unique by id and by path.
struct RecentsStore {
    static constexpr std::size_t limit = 10;
    std::vector<RecentEntry> recents;
    std::optional<std::string> lastOpenPath;

    bool operator==(const RecentsStore&) const = default;

    // Puts the entry at the front, dropping entries with its id or its path, and makes it the last opened.
    void remember(const RecentEntry& entry);
    // Drops entries and the last path whose files are gone.
    void prune();

    static std::filesystem::path file();  // "projects.json" in Store::dir
    // The stored record, pruned; empty when missing or unreadable (an unreadable file is moved aside).
    static RecentsStore load();
    void save() const;
};

Json toJson(const ProjectDoc&);
void fromJson(const Json&, ProjectDoc&);
Json toJson(const RecentEntry&);
void fromJson(const Json&, RecentEntry&);
Json toJson(const RecentsStore&);
void fromJson(const Json&, RecentsStore&);

}  // namespace ombry
