// Whole-playlist edits: the editor's save, deletion and its title, merge, duplicate, files dropped onto a
// section.
#include <fmt/format.h>

#include <algorithm>

#include "App/AppState.hpp"
#include "App/Board.hpp"

namespace ombry {
namespace board {
namespace {

// A copy, so that it outlives the library's edits.
std::optional<Group> groupCopy(const Library& library, const std::string& id) {
    const Group* g = findGroup(library, id);
    return g ? std::optional<Group>(*g) : std::nullopt;
}

}  // namespace

void placeAdded(Library& library, const std::vector<MediaItem>& added, const BoardSection& into, int atIndex) {
    if (added.empty()) return;
    std::vector<std::string> ids;
    for (const auto& m : added) ids.push_back(m.id);
    if (into.groupId)
        if (auto g = groupCopy(library, *into.groupId)) {
            const int at = modelIndex(g->mediaIds, into.items, atIndex);
            g->mediaIds = insertInto(std::move(g->mediaIds), ids, at);
            library.updateGroup(*g);
            return;
        }
    // The unsorted section, or a playlist deleted meanwhile: number the shown clips along the new order.
    std::vector<std::string> order;
    if (into.groupId) {
        // A playlist gone meanwhile: its clips, now unsorted, numbered along the new order.
        for (const auto& m : into.items) order.push_back(m.id);
        library.reorder(insertInto(std::move(order), ids, atIndex));
        return;
    }
    // The whole unsorted order, so that clips a search hides keep their places.
    for (const auto& m : ungroupedMedia(library))
        if (std::find(ids.begin(), ids.end(), m.id) == ids.end()) order.push_back(m.id);
    const int at = modelIndex(order, into.items, atIndex);
    library.reorder(insertInto(std::move(order), ids, at));
}

void updatePlaylist(Library& library, const std::string& id, const std::string& name, const std::string& color,
                    const std::string& icon) {
    auto g = groupCopy(library, id);
    if (!g) return;
    if (std::string trimmed = Library::trimSpaces(name); !trimmed.empty()) g->name = std::move(trimmed);
    g->color = color;
    g->icon = icon;
    library.updateGroup(*g);
}

std::string deletionTitle(const Library& library, const PendingDeletion& deletion) {
    const auto& ids = deletion.ids;
    if (deletion.kind == PendingDeletion::Kind::clips) {
        if (ids.size() == 1)
            if (const MediaItem* m = library.item(ids[0])) return "Remove \u201C" + m->name + "\u201D from the library?";
        return fmt::format("Remove {} clips from the library?", ids.size());
    }
    if (ids.size() == 1)
        if (auto g = groupCopy(library, ids[0])) return "Delete \u201C" + g->name + "\u201D?";
    return fmt::format("Delete {} playlists?", ids.size());
}

std::optional<std::string> mergePlaylists(Library& library, const std::vector<std::string>& ids) {
    if (ids.size() < 2) return std::nullopt;
    auto target = groupCopy(library, ids[0]);
    if (!target) return std::nullopt;
    for (std::size_t i = 1; i < ids.size(); ++i) {
        const auto other = groupCopy(library, ids[i]);
        if (!other) continue;
        std::vector<std::string> collected;
        for (const auto& id : other->mediaIds)
            if (std::find(target->mediaIds.begin(), target->mediaIds.end(), id) == target->mediaIds.end())
                collected.push_back(id);
        target->mediaIds.insert(target->mediaIds.end(), collected.begin(), collected.end());
    }
    library.updateGroup(*target);
    for (std::size_t i = 1; i < ids.size(); ++i) library.deleteGroup(ids[i]);
    return target->id;
}

std::vector<std::string> duplicatePlaylists(Library& library, const std::vector<std::string>& ids) {
    std::vector<std::string> made;
    for (const auto& id : ids) {
        auto source = groupCopy(library, id);
        if (!source) continue;
        const Group copy = library.createGroup(source->name + " Copy", source->color, source->icon);
        for (const auto& clip : source->mediaIds)
            if (auto dup = library.duplicate(clip)) library.addToGroup(copy.id, dup->id);
        made.push_back(copy.id);
    }
    return made;
}

}  // namespace board

void AppState::updatePlaylist(const std::string& id, const std::string& name, const std::string& color,
                              const std::string& icon) {
    board::updatePlaylist(library, id, name, color, icon);
}

void AppState::deleteGroup(const std::string& id) {
    // The selection moves off the playlist before it goes, so nothing shows a playlist that is gone.
    std::set<SidebarItem> next = selection();
    next.erase(SidebarItem::playlist(id));
    if (next.empty()) next = {SidebarItem::allPlaylists()};
    setSelection(std::move(next));
    library.deleteGroup(id);
}

std::string AppState::deletionTitle(const PendingDeletion& deletion) const {
    return board::deletionTitle(library, deletion);
}

void AppState::mergePlaylists(const std::vector<std::string>& ids) {
    if (auto target = board::mergePlaylists(library, ids)) setSelection({SidebarItem::playlist(*target)});
}

void AppState::duplicatePlaylists(const std::vector<std::string>& ids) {
    const auto made = board::duplicatePlaylists(library, ids);
    if (made.empty()) return;
    std::set<SidebarItem> next;
    for (const auto& id : made) next.insert(SidebarItem::playlist(id));
    setSelection(std::move(next));
}

void AppState::dropFiles(const std::vector<std::string>& paths, const BoardSection& into, int atIndex) {
    board::placeAdded(library, addMedia(paths, into.groupId, true, true), into, atIndex);
}

}  // namespace ombry
