#include "Engine/Library/MediaRegistry.hpp"

#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"

namespace fs = std::filesystem;

namespace ombry {

std::optional<fs::path> MediaRegistry::existingFile(const std::string& contentHash) const {
    auto it = entries.find(contentHash);
    // A name read from the document is joined to the folder only when it stays inside it.
    if (it == entries.end() || !Store::isSafeFileName(it->second.filename)) return std::nullopt;
    fs::path p = Store::mediaDir() / it->second.filename;
    std::error_code ec;
    if (!fs::exists(p, ec)) return std::nullopt;
    return p;
}

std::optional<MediaOrigin> MediaRegistry::origin(const std::string& filename) const {
    for (const auto& [hash, entry] : entries)
        if (entry.filename == filename) return entry.origin;
    return std::nullopt;
}

void MediaRegistry::removeByFilename(const std::string& filename) {
    std::erase_if(entries, [&](const auto& kv) { return kv.second.filename == filename; });
}

bool MediaRegistry::registerFile(const std::string& contentHash, const fs::path& file, MediaOrigin origin) {
    if (entries.count(contentHash)) return false;
    std::error_code ec;
    auto size = fs::file_size(file, ec);
    entries[contentHash] = Entry{contentHash, file.filename().string(), ec ? 0 : std::int64_t(size), origin,
                                 appClock().wallMs()};
    return true;
}

fs::path MediaRegistry::file() { return Store::dir() / "mediaRegistry.json"; }
MediaRegistry MediaRegistry::load() { return Store::loadDoc<MediaRegistry>(file()).value_or(MediaRegistry{}); }
void MediaRegistry::save() const { Store::saveDoc(*this, file()); }

fs::path MediaTombstones::file() { return Store::dir() / "deletedMedia.json"; }
MediaTombstones MediaTombstones::load() {
    return Store::loadDoc<MediaTombstones>(file()).value_or(MediaTombstones{});
}
void MediaTombstones::save() const { Store::saveDoc(*this, file()); }

Json toJson(const MediaRegistry::Entry& e) {
    return ObjectWriter()
        .put("contentHash", e.contentHash)
        .put("filename", e.filename)
        .put("size", e.size)
        .put("origin", e.origin)
        .put("addedAt", e.addedAt)
        .done();
}

void fromJson(const Json& j, MediaRegistry::Entry& e) {
    ObjectReader r(j);
    r.required("contentHash", e.contentHash);
    r.required("filename", e.filename);
    r.required("size", e.size);
    r.required("origin", e.origin);
    r.required("addedAt", e.addedAt);
}

Json toJson(const MediaRegistry& reg) {
    Json entries = Json::object();
    for (const auto& [hash, entry] : reg.entries) {
        try {
            entries[hash] = toJson(entry);
        } catch (const EncodeError& e) {
            throw e.within("entries." + hash);
        }
    }
    return Json{{"entries", std::move(entries)}};
}

void fromJson(const Json& j, MediaRegistry& reg) {
    ObjectReader r(j);  // throws unless j is an object
    auto entries = j.find("entries");
    if (entries == j.end() || !entries->is_object()) throw DecodeError("entries", "missing or not an object");
    reg.entries.clear();
    for (const auto& [hash, value] : entries->items()) {
        try {
            reg.entries[hash] = decodeJson<MediaRegistry::Entry>(value);
        } catch (const DecodeError& e) {
            throw e.within("entries." + hash);
        }
    }
}

Json toJson(const MediaTombstones& t) {
    return Json{{"hashes", std::vector<std::string>(t.hashes.begin(), t.hashes.end())}};
}

void fromJson(const Json& j, MediaTombstones& t) {
    ObjectReader r(j);
    auto list = r.required<std::vector<std::string>>("hashes");
    t.hashes = std::set<std::string>(list.begin(), list.end());
}

}  // namespace ombry
