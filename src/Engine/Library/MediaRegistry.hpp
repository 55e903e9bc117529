#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "Engine/Model/Protocol.hpp"

namespace ombry {

// The managed media files (in Store::mediaDir), by content hash: content that arrives again reuses the copy.
// Kept in "mediaRegistry.json". Main thread only; saved by its owner after every change.
struct MediaRegistry {
    struct Entry {
        std::string contentHash;  // lower-case hex SHA-256, the same as the key
        std::string filename;     // last path component inside the managed folder
        std::int64_t size = 0;    // bytes when registered, 0 when unknown
        MediaOrigin origin = MediaOrigin::local;
        double addedAt = 0;  // ms since 1970

        bool operator==(const Entry&) const = default;
    };

    std::map<std::string, Entry> entries;

    // The registered copy of this content, when it is still on disk.
    std::optional<std::filesystem::path> existingFile(const std::string& contentHash) const;
    // The origin of an entry naming this file (exact, case-sensitive).
    std::optional<MediaOrigin> origin(const std::string& filename) const;
    // Removes every entry naming this file, whatever its hash.
    void removeByFilename(const std::string& filename);
    // Adds an entry for a file in the managed folder unless its content is known already (the first
    // registration wins). Returns whether an entry was added; the caller saves.
    bool registerFile(const std::string& contentHash, const std::filesystem::path& file, MediaOrigin origin);

    bool operator==(const MediaRegistry&) const = default;

    static std::filesystem::path file();  // "mediaRegistry.json" in Store::dir
    // Missing or unreadable: empty (an unreadable file is moved aside first).
    static MediaRegistry load();
    void save() const;
};

// Content hashes of managed files the operator deleted, so they are not taken in again by themselves.
// Kept in "deletedMedia.json"; never shrinks.
struct MediaTombstones {
    std::set<std::string> hashes;

    bool operator==(const MediaTombstones&) const = default;

    static std::filesystem::path file();  // "deletedMedia.json" in Store::dir
    static MediaTombstones load();
    void save() const;
};

Json toJson(const MediaRegistry::Entry&);
void fromJson(const Json&, MediaRegistry::Entry&);
Json toJson(const MediaRegistry&);
void fromJson(const Json&, MediaRegistry&);
Json toJson(const MediaTombstones&);
void fromJson(const Json&, MediaTombstones&);

}  // namespace ombry
