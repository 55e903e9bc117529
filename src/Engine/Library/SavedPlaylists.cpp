#include "Engine/Library/SavedPlaylists.hpp"

#include "Engine/Library/Store.hpp"

namespace ombry {

std::filesystem::path SavedPlaylistsStore::file() { return Store::dir() / "savedPlaylists.json"; }

SavedPlaylistsStore SavedPlaylistsStore::load() {
    return Store::loadDoc<SavedPlaylistsStore>(file()).value_or(SavedPlaylistsStore{});
}

void SavedPlaylistsStore::save() const { Store::saveDoc(*this, file()); }

Json toJson(const SavedPlaylistSnapshot& s) {
    return ObjectWriter()
        .put("id", s.id)
        .put("name", s.name)
        .put("color", s.color)
        .put("icon", s.icon)
        .put("emoji", s.emoji)
        .put("savedAt", s.savedAt)
        .put("media", s.media)
        .done();
}

void fromJson(const Json& j, SavedPlaylistSnapshot& s) {
    ObjectReader r(j);
    r.required("id", s.id);
    r.required("name", s.name);
    r.optional("color", s.color);
    r.optional("icon", s.icon);
    r.optional("emoji", s.emoji);
    r.required("savedAt", s.savedAt);
    r.required("media", s.media);
}

Json toJson(const SavedPlaylistsStore& s) { return ObjectWriter().put("playlists", s.playlists).done(); }

void fromJson(const Json& j, SavedPlaylistsStore& s) { ObjectReader(j).required("playlists", s.playlists); }

}  // namespace ombry
