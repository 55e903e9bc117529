#include "App/Board.hpp"

#include "App/AppState.hpp"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <initializer_list>
#include <unordered_set>

namespace ombry::board {
namespace {

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Case-folded (Turkic dotted and dotless i where the locale asks) and composed, so that "É" typed either
// way finds "é" either way.
std::u16string folded(std::string_view text, bool turkic) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    s.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
    UErrorCode ec = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(ec);
    if (U_SUCCESS(ec) && nfc->spanQuickCheckYes(s, ec) != s.length() && U_SUCCESS(ec)) {
        icu::UnicodeString composed = nfc->normalize(s, ec);
        if (U_SUCCESS(ec)) s = std::move(composed);
    }
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), std::size_t(s.length()));
}

std::vector<std::string> idsOf(const std::vector<MediaItem>& items) {
    std::vector<std::string> ids;
    ids.reserve(items.size());
    for (const auto& m : items) ids.push_back(m.id);
    return ids;
}

std::vector<std::string> duplicates(Library& library, const std::vector<std::string>& ids) {
    std::vector<std::string> copies;
    for (const auto& id : ids)
        if (auto copy = library.duplicate(id)) copies.push_back(copy->id);
    return copies;
}

}  // namespace

const Group* findGroup(const Library& library, const std::string& id) {
    for (const auto& g : library.groups())
        if (g.id == id) return &g;
    return nullptr;
}

TextMatcher::TextMatcher(std::string_view needle) {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    turkic_ = language == "tr" || language == "az";
    needle_ = folded(needle, turkic_);
}

bool TextMatcher::matches(std::string_view haystack) const {
    if (needle_.empty()) return false;
    // Names are mostly ASCII: fold them without ICU. An ASCII name cannot hold a non-ASCII folded needle.
    if (!turkic_ && isAscii(haystack)) {
        if (needle_.size() > haystack.size()) return false;
        std::u16string lower(haystack.size(), u'\0');
        std::transform(haystack.begin(), haystack.end(), lower.begin(), [](char c) {
            return char16_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        return lower.find(needle_) != std::u16string::npos;
    }
    return folded(haystack, turkic_).find(needle_) != std::u16string::npos;
}

std::vector<MediaItem> ungroupedMedia(const Library& library) {
    std::unordered_set<std::string> grouped;
    for (const auto& g : library.groups()) grouped.insert(g.mediaIds.begin(), g.mediaIds.end());
    std::vector<MediaItem> out;
    for (const auto& m : library.media())
        if (!grouped.count(m.id)) out.push_back(m);
    std::stable_sort(out.begin(), out.end(),
                     [](const MediaItem& a, const MediaItem& b) { return a.order.value_or(0) < b.order.value_or(0); });
    return out;
}

std::vector<std::string> selectedPlaylistIds(const Library& library, const std::set<SidebarItem>& selection) {
    std::vector<std::string> ids;
    if (selection.empty() || selection.count(SidebarItem::allPlaylists())) return ids;
    for (const auto& g : library.groups())
        if (selection.count(SidebarItem::playlist(g.id))) ids.push_back(g.id);
    return ids;
}

BoardSection groupSection(const Library& library, const Group& group) {
    BoardSection s;
    s.id = group.id;
    s.title = group.name;
    s.symbol = group.icon.value_or("list.bullet");
    s.tint = color(group.color).value_or(grayTint);
    s.items.reserve(group.mediaIds.size());
    for (const auto& id : group.mediaIds)
        if (const MediaItem* m = library.item(id)) s.items.push_back(*m);
    s.groupId = group.id;
    return s;
}

std::vector<BoardSection> boardSections(const Library& library, const std::set<SidebarItem>& selection,
                                        const std::string& searchText) {
    std::vector<BoardSection> sections;
    const auto ids = selectedPlaylistIds(library, selection);
    if (ids.empty()) {
        for (const auto& g : library.groups()) sections.push_back(groupSection(library, g));
        sections.push_back({unsortedId, "Unsorted", "tray", grayTint, ungroupedMedia(library), std::nullopt});
    } else {
        for (const auto& id : ids)
            if (const Group* g = findGroup(library, id)) sections.push_back(groupSection(library, *g));
    }
    if (searchText.empty()) return sections;
    const TextMatcher matcher(searchText);
    for (auto& s : sections) std::erase_if(s.items, [&](const MediaItem& m) { return !matcher.matches(m.name); });
    std::erase_if(sections, [](const BoardSection& s) { return s.items.empty(); });
    return sections;
}

std::vector<std::string> visibleIds(const std::vector<BoardSection>& sections) {
    std::vector<std::string> ids;
    for (const auto& s : sections)
        for (const auto& m : s.items) ids.push_back(m.id);
    return ids;
}

std::vector<std::string> moveInto(std::vector<std::string> order, const std::vector<std::string>& ids, int index) {
    const std::set<std::string> moved(ids.begin(), ids.end());
    const std::size_t c = std::min(order.size(), std::size_t(std::max(index, 0)));
    // Dragged cards above the gap no longer count once they leave their place.
    const auto b = std::size_t(std::count_if(order.begin(), order.begin() + std::ptrdiff_t(c),
                                             [&](const std::string& id) { return moved.count(id) > 0; }));
    std::erase_if(order, [&](const std::string& id) { return moved.count(id) > 0; });
    const std::size_t p = std::min(order.size(), c - b);
    order.insert(order.begin() + std::ptrdiff_t(p), ids.begin(), ids.end());
    return order;
}

std::vector<std::string> insertInto(std::vector<std::string> order, const std::vector<std::string>& ids, int index) {
    const std::size_t p = std::min(order.size(), std::size_t(std::max(index, 0)));
    order.insert(order.begin() + std::ptrdiff_t(p), ids.begin(), ids.end());
    return order;
}

int modelIndex(const std::vector<std::string>& order, const std::vector<MediaItem>& shown, int shownIndex) {
    // The shown cards are a subsequence of the order (a search hides some, dangling ids show nothing).
    const std::size_t wanted = std::size_t(std::max(shownIndex, 0));
    std::size_t k = 0, afterLast = 0;
    for (std::size_t p = 0; p < order.size() && k < shown.size(); ++p) {
        if (order[p] != shown[k].id) continue;
        if (k == wanted) return int(p);
        ++k;
        afterLast = p + 1;
    }
    return shown.empty() ? int(order.size()) : int(afterLast);
}

void handleClipDrop(Library& library, const std::vector<std::string>& ids, const BoardSection& into, int atIndex,
                    bool copy) {
    if (ids.empty()) return;
    if (into.id == unsortedId) {
        // The whole unsorted order, hidden clips included, so that a search leaves their places alone.
        std::vector<std::string> order = idsOf(ungroupedMedia(library));
        atIndex = modelIndex(order, into.items, atIndex);
        if (copy) {
            const auto copies = duplicates(library, ids);
            if (copies.empty()) return;
            library.reorder(insertInto(std::move(order), copies, atIndex));
            return;
        }
        for (const auto& id : ids) {
            std::vector<std::string> holders;
            for (const auto& g : library.groups())
                if (std::find(g.mediaIds.begin(), g.mediaIds.end(), id) != g.mediaIds.end()) holders.push_back(g.id);
            for (const auto& gid : holders) library.removeFromGroup(gid, id);
        }
        library.reorder(moveInto(std::move(order), ids, atIndex));
        return;
    }
    if (!into.groupId) return;
    const Group* found = findGroup(library, *into.groupId);
    if (!found) return;
    Group g = *found;
    atIndex = modelIndex(g.mediaIds, into.items, atIndex);
    if (copy) {
        const auto copies = duplicates(library, ids);
        if (copies.empty()) return;
        g.mediaIds = insertInto(std::move(g.mediaIds), copies, atIndex);
    } else {
        // A moved clip leaves every other playlist.
        std::vector<std::pair<std::string, std::string>> removals;
        for (const auto& other : library.groups()) {
            if (other.id == g.id) continue;
            for (const auto& id : ids)
                if (std::find(other.mediaIds.begin(), other.mediaIds.end(), id) != other.mediaIds.end())
                    removals.emplace_back(other.id, id);
        }
        for (const auto& [gid, id] : removals) library.removeFromGroup(gid, id);
        g.mediaIds = moveInto(std::move(g.mediaIds), ids, atIndex);
    }
    library.updateGroup(g);
}

void duplicateClip(Library& library, const std::string& id, const std::optional<std::string>& inGroup) {
    const auto copy = library.duplicate(id);
    if (!copy || !inGroup) return;
    const Group* found = findGroup(library, *inGroup);
    if (!found) return;
    Group g = *found;
    auto at = std::find(g.mediaIds.begin(), g.mediaIds.end(), id);
    g.mediaIds.insert(at == g.mediaIds.end() ? at : at + 1, copy->id);
    library.updateGroup(g);
}

void addToPlaylist(Library& library, const std::string& id, const std::string& groupId) {
    const bool grouped = std::any_of(library.groups().begin(), library.groups().end(), [&](const Group& g) {
        return std::find(g.mediaIds.begin(), g.mediaIds.end(), id) != g.mediaIds.end();
    });
    if (!grouped) {
        library.addToGroup(groupId, id);
        return;
    }
    if (auto copy = library.duplicate(id)) library.addToGroup(groupId, copy->id);
}

}  // namespace ombry::board

namespace ombry {
namespace {

std::vector<std::string> extensionsOf(std::initializer_list<const std::set<std::string>*> sets) {
    std::vector<std::string> out;
    for (const auto* set : sets) out.insert(out.end(), set->begin(), set->end());
    return out;
}

const std::set<std::string>& extensionsOf(MediaKind kind) {
    switch (kind) {
        case MediaKind::video: return Library::videoExt;
        case MediaKind::image: return Library::imageExt;
        case MediaKind::audio: break;
    }
    return Library::audioExt;
}

}  // namespace

std::vector<MediaItem> AppState::ungroupedMedia() const { return board::ungroupedMedia(library); }

std::vector<std::string> AppState::selectedPlaylistIds() const {
    return board::selectedPlaylistIds(library, selection());
}

std::vector<BoardSection> AppState::boardSections() const {
    return board::boardSections(library, selection(), searchText_);
}

void AppState::handleClipDrop(const std::vector<std::string>& ids, const BoardSection& into, int atIndex,
                              bool copy) {
    board::handleClipDrop(library, ids, into, atIndex, copy);
}

void AppState::duplicateClip(const std::string& id, const std::optional<std::string>& inGroup) {
    board::duplicateClip(library, id, inGroup);
}

void AppState::addToPlaylist(const std::string& id, const std::string& group) {
    board::addToPlaylist(library, id, group);
}

void AppState::promptAddMedia() {
    OpenPanelRequest request;
    request.title = "Add Media";
    request.allowsMultiple = true;
    request.canChooseFolders = true;
    request.extensions = extensionsOf({&Library::videoExt, &Library::imageExt, &Library::audioExt});
    request.extensions.push_back("pdf");
    const auto chosen = env_.panels->runOpenPanelMultiple(request);
    if (chosen.empty()) return;
    // Read after the panel closed: only where slide decks go depends on it.
    const auto selected = selectedPlaylistIds();
    std::optional<std::string> target;
    if (!selected.empty()) target = selected.front();
    std::vector<std::string> paths;
    for (const auto& p : chosen) paths.push_back(p.string());
    addMedia(paths, target, true, true);
}

void AppState::promptRelink(const std::string& id) {
    const MediaItem* item = library.item(id);
    if (!item) return;
    OpenPanelRequest request;
    request.title = "Relink \u201C" + item->name + "\u201D";
    const auto& kindExt = extensionsOf(item->kind);
    request.extensions.assign(kindExt.begin(), kindExt.end());
    const auto chosen = env_.panels->runOpenPanel(request);
    if (!chosen) return;
    // A refused file (gone, or of another kind) changes nothing, without a message.
    if (!library.relink(id, chosen->string(), true)) return;
    const MediaItem* relinked = library.item(id);
    if (!relinked) return;
    mainQueue().post([this, alive = std::weak_ptr<bool>(alive_), m = *relinked] {
        if (alive.lock()) probeAndThumbnail(m);
    });
}

void AppState::toggleDisplay(DisplayId id) {
    if (displays_->isOpen(id)) {
        displays_->close(id);  // also where the settings no longer allow it
    } else {
        const auto known = std::find_if(displayList_.begin(), displayList_.end(),
                                        [&](const DisplayOutputManager::DisplayInfo& d) { return d.id == id; });
        if (known != displayList_.end() && outputBlockReason(*known)) return;
        displays_->open(id);
    }
    refreshOpenDisplays();
}

void AppState::copyOutputURL() {
    if (serverInfo) env_.clipboard->clearAndSet(plainTextType, serverInfo->outputUrl);
}

void AppState::copyPlainText(const std::string& text) {
    if (env_.clipboard) env_.clipboard->clearAndSet(plainTextType, text);
}

}  // namespace ombry
