#include "App/SavedPlaylistOps.hpp"

#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Product.hpp"
#include "Platform/Uuid.hpp"

namespace fs = std::filesystem;

namespace ombry {

AppSavedPlaylists::AppSavedPlaylists(Library& library, AppServices& app, Clipboard& clipboard)
    : library_(library), app_(app), clipboard_(clipboard) {}

void AppSavedPlaylists::load() {
    saved_ = SavedPlaylistsStore::load();
    if (onChange) onChange();
}

void AppSavedPlaylists::savedChanged() {
    saved_.save();
    if (onChange) onChange();
}

std::optional<SavedPlaylistSnapshot> AppSavedPlaylists::snapshot(const std::string& groupId) const {
    for (const auto& g : library_.groups()) {
        if (g.id != groupId) continue;
        SavedPlaylistSnapshot s{makeUuid(), g.name, g.color, g.icon, g.emoji, appClock().wallMs(), {}};
        for (const auto& id : g.mediaIds)
            if (const MediaItem* m = library_.item(id)) s.media.push_back(*m);
        return s;
    }
    return std::nullopt;
}

void AppSavedPlaylists::copyPlaylists(const std::vector<std::string>& groupIds) {
    std::vector<SavedPlaylistSnapshot> list;
    for (const auto& id : groupIds)
        if (auto s = snapshot(id)) list.push_back(std::move(*s));
    if (list.empty()) return;
    std::string bytes;
    try {
        bytes = compactJson(encodeJson(list));
    } catch (const EncodeError&) {
        return;
    }
    clipboard_.clearAndSet(product::playlistClipboardType, bytes);
}

bool AppSavedPlaylists::canPastePlaylist() const { return clipboard_.hasData(product::playlistClipboardType); }

std::string AppSavedPlaylists::importSnapshot(const SavedPlaylistSnapshot& s) {
    return library_.importGroup(s.name, s.color, s.icon, s.emoji, s.media).id;
}

void AppSavedPlaylists::pastePlaylists() {
    auto bytes = clipboard_.data(product::playlistClipboardType);
    if (!bytes) return;
    std::vector<SavedPlaylistSnapshot> list;
    try {
        list = decodeJsonText<std::vector<SavedPlaylistSnapshot>>(*bytes);
    } catch (const DecodeError&) {
        return;
    }
    if (list.empty()) return;
    std::set<SidebarItem> selection;
    for (const auto& s : list) selection.insert(SidebarItem::playlist(importSnapshot(s)));
    app_.setSelection(std::move(selection));
    app_.probeMissing();
}

void AppSavedPlaylists::saveGroupToLibrary(const std::string& groupId) {
    auto s = snapshot(groupId);
    if (!s) return;
    saved_.playlists.insert(saved_.playlists.begin(), std::move(*s));
    savedChanged();
}

std::optional<std::string> AppSavedPlaylists::importSavedPlaylist(const std::string& snapshotId) {
    for (const auto& s : saved_.playlists) {
        if (s.id != snapshotId) continue;
        const SavedPlaylistSnapshot copy = s;  // the import may call back into the application state
        std::string id = importSnapshot(copy);
        app_.probeMissing();
        return id;
    }
    return std::nullopt;
}

void AppSavedPlaylists::deleteSavedPlaylist(const std::string& snapshotId) {
    std::erase_if(saved_.playlists, [&](const SavedPlaylistSnapshot& s) { return s.id == snapshotId; });
    savedChanged();
}

std::set<std::string> AppSavedPlaylists::savedPlaylistManagedFilenames() const {
    const fs::path managed = Store::mediaDir().lexically_normal();
    std::set<std::string> names;
    for (const auto& s : saved_.playlists)
        for (const auto& m : s.media) {
            const fs::path p = fs::path(m.path).lexically_normal();
            if (p.parent_path() == managed) names.insert(p.filename().string());
        }
    return names;
}

}  // namespace ombry
