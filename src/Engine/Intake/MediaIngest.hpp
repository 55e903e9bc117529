#pragma once
// How a received file is named and recorded on its way into the managed media folder.
#include <filesystem>
#include <optional>
#include <string>

#include "Engine/Model/JsonCoding.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry {

struct MediaIngest {
    // A safe file name from a sender's: last path component only, no control, format, slash or colon
    // characters, no surrounding blanks or leading dots, stem at most `maxStemBytes` of UTF-8 cut at a whole
    // grapheme; nothing usable left gives "upload". Bytes that are not UTF-8 become U+FFFD.
    static std::string sanitizedFilename(const std::string& raw);
    static constexpr std::size_t maxStemBytes = 200;

    // dir/name when free, else "stem 2.ext", "stem 3.ext", ...; creates nothing.
    static std::filesystem::path uniqueDestination(const std::string& name, const std::filesystem::path& dir);

    // A name's stem and extension: the extension follows the last full stop of a name that does not start
    // with one.
    static std::pair<std::string, std::string> splitExtension(const std::string& name);

    // The wishes of an ingest under way, kept beside the landed file until it is a clip.
    struct Manifest {
        std::optional<std::string> displayName;
        std::optional<std::string> playlistId;
        std::optional<std::string> newPlaylistName;
        bool operator==(const Manifest&) const = default;
    };
    // "<file>.obingest.json": the suffix follows the whole file name.
    static constexpr const char* sideFileSuffix = ".obingest.json";
    static std::filesystem::path sideFile(const std::filesystem::path& landed);
    static bool isSideFile(const std::string& name);
    // Compact JSON; false when it could not be written.
    static bool writeManifest(const Manifest& manifest, const std::filesystem::path& landed);
    // Nothing when the side file is missing or does not decode.
    static std::optional<Manifest> readManifest(const std::filesystem::path& landed);
};

Json toJson(const MediaIngest::Manifest&);
void fromJson(const Json&, MediaIngest::Manifest&);

// A file landed in the incoming folder, handed to the ingest, which owns it from then on: it is moved into
// the media folder or deleted in every outcome.
struct UploadIngestRequest {
    std::string tempPath;
    std::string originalFilename;  // as the sender gave it; the ingest cleans it
    std::optional<std::string> displayName;
    std::optional<std::string> playlistId;
    std::optional<std::string> newPlaylistName;
    MediaOrigin origin = MediaOrigin::upload;
};

// The clip made (its id and the name to report, never empty) or a sentence for the sender.
struct UploadIngestResult {
    bool ok = false;
    std::string id;
    std::string name;
    std::string message;

    static UploadIngestResult success(std::string id, std::string name) { return {true, std::move(id), std::move(name), {}}; }
    static UploadIngestResult failed(std::string message) { return {false, {}, {}, std::move(message)}; }
    bool operator==(const UploadIngestResult&) const = default;
};

// One playlist offered to an uploader.
struct UploadPlaylistInfo {
    std::string id;
    std::string name;
    bool operator==(const UploadPlaylistInfo&) const = default;
};

Json toJson(const UploadPlaylistInfo&);
void fromJson(const Json&, UploadPlaylistInfo&);

}  // namespace ombry
