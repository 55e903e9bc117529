#include "Engine/Library/ProjectDoc.hpp"

#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Uuid.hpp"

namespace fs = std::filesystem;

namespace ombry {

ProjectDoc ProjectDoc::make(const std::string& name) {
    ProjectDoc doc;
    doc.id = makeUuid();
    doc.name = name;
    doc.savedAt = appClock().wallMs();
    return doc;
}

void RecentsStore::remember(const RecentEntry& entry) {
    std::erase_if(recents, [&](const RecentEntry& e) { return e.id == entry.id || e.path == entry.path; });
    recents.insert(recents.begin(), entry);
    if (recents.size() > limit) recents.resize(limit);
    lastOpenPath = entry.path;
}

void RecentsStore::prune() {
    auto gone = [](const std::string& path) {
        std::error_code ec;
        return !fs::exists(path, ec);
    };
    std::erase_if(recents, [&](const RecentEntry& e) { return gone(e.path); });
    if (lastOpenPath && gone(*lastOpenPath)) lastOpenPath.reset();
}

fs::path RecentsStore::file() { return Store::dir() / "projects.json"; }

RecentsStore RecentsStore::load() {
    RecentsStore r = Store::loadDoc<RecentsStore>(file()).value_or(RecentsStore{});
    r.prune();
    return r;
}

void RecentsStore::save() const { Store::saveDoc(*this, file()); }

Json toJson(const ProjectDoc& d) {
    return ObjectWriter()
        .put("schemaVersion", d.schemaVersion)
        .put("id", d.id)
        .put("name", d.name)
        .put("media", d.media)
        .put("groups", d.groups)
        .put("stage", d.stage)
        .put("savedAt", d.savedAt)
        .done();
}

void fromJson(const Json& j, ProjectDoc& d) {
    ObjectReader r(j);
    r.required("schemaVersion", d.schemaVersion);
    r.required("id", d.id);
    r.required("name", d.name);
    r.required("media", d.media);
    r.required("groups", d.groups);
    r.optional("stage", d.stage);
    r.required("savedAt", d.savedAt);
}

Json toJson(const RecentEntry& e) {
    return ObjectWriter()
        .put("id", e.id)
        .put("name", e.name)
        .put("path", e.path)
        .put("openedAt", e.openedAt)
        .done();
}

void fromJson(const Json& j, RecentEntry& e) {
    ObjectReader r(j);
    r.required("id", e.id);
    r.required("name", e.name);
    r.required("path", e.path);
    r.required("openedAt", e.openedAt);
}

Json toJson(const RecentsStore& s) {
    return ObjectWriter().put("recents", s.recents).put("lastOpenPath", s.lastOpenPath).done();
}

void fromJson(const Json& j, RecentsStore& s) {
    ObjectReader r(j);
    r.required("recents", s.recents);
    r.optional("lastOpenPath", s.lastOpenPath);
}

}  // namespace ombry
