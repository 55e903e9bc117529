#include "Engine/Library/Library.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_map>

#include "Engine/Model/Issues.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Model/TextBytes.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Uuid.hpp"

namespace fs = std::filesystem;

namespace ombry {
namespace {

const char* const palette[8] = {"#7596b8", "#6fb495", "#c2a064", "#9b8fc4",
                                "#cd7f7f", "#5fb0c9", "#c98f5f", "#7fb88f"};

bool pathExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Tab and the Unicode space separators (not line breaks), as UTF-8.
const std::vector<std::string>& spaceSeparators() {
    static const std::vector<std::string> seps = {
        "\t",           " ",            "\u00A0",       "\u1680",       "\u2000",       "\u2001",
        "\u2002",       "\u2003",       "\u2004",       "\u2005",       "\u2006",       "\u2007",
        "\u2008",       "\u2009",       "\u200A",       "\u202F",       "\u205F",       "\u3000"};
    return seps;
}

}  // namespace

Library::Library() : projectId_(makeUuid()) {}

std::string Library::trimSpaces(std::string s) {
    bool again = true;
    while (again && !s.empty()) {
        again = false;
        for (const auto& sep : spaceSeparators()) {
            if (s.starts_with(sep)) {
                s.erase(0, sep.size());
                again = true;
            }
            if (s.ends_with(sep)) {
                s.erase(s.size() - sep.size());
                again = true;
            }
        }
    }
    return s;
}

Library::~Library() { flushTask_.cancel(); }

void Library::setMedia(std::vector<MediaItem> media) {
    media_ = std::move(media);
    mediaChanged();
}

void Library::setOfflineIds(std::set<std::string> ids) {
    std::vector<std::string> cameBack;
    std::set_difference(offlineIds_.begin(), offlineIds_.end(), ids.begin(), ids.end(),
                        std::back_inserter(cameBack));
    const bool changed = ids != offlineIds_;
    offlineIds_ = std::move(ids);
    if (changed && onOfflineChange) onOfflineChange();
    for (const auto& id : cameBack)
        if (const MediaItem* it = item(id))
            IssueLog::shared().resolve(std::nullopt, fs::path(it->path).filename().string());
}

const MediaItem* Library::item(const std::string& id) const {
    if (!indexCache_) {
        indexCache_.emplace();
        indexCache_->reserve(media_.size());
        for (std::size_t i = 0; i < media_.size(); ++i) indexCache_->emplace(media_[i].id, i);  // first wins
    }
    auto it = indexCache_->find(id);
    return it == indexCache_->end() ? nullptr : &media_[it->second];
}

MediaItem* Library::find(const std::string& id) { return const_cast<MediaItem*>(item(id)); }

std::map<std::string, std::string> Library::mediaIndex() const {
    std::map<std::string, std::string> index;
    for (const auto& m : media_) index.emplace(m.id, m.path);
    return index;
}

std::optional<MediaKind> Library::kind(const fs::path& path) {
    // A name that starts with its only dot (".mov") has no extension.
    std::string ext = path.filename().extension().string();
    if (ext.empty()) return std::nullopt;
    ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (videoExt.count(ext)) return MediaKind::video;
    if (imageExt.count(ext)) return MediaKind::image;
    if (audioExt.count(ext)) return MediaKind::audio;
    return std::nullopt;
}

std::optional<std::string> Library::refusal(const fs::path& path) {
    const std::string& bytes = path.native();
    if (isUtf8(bytes)) return std::nullopt;
    const std::string name = path.filename().native();
    if (!isUtf8(name))
        return "\u201C" + showBytes(name) +
               "\u201D can't be used: its name isn't valid UTF-8 text, so the project couldn't be saved with it. "
               "Rename the file, then try again.";
    return "\u201C" + showBytes(name) + "\u201D can't be used: the name of its folder \u201C" +
           showBytes(path.parent_path().native()) +
           "\u201D isn't valid UTF-8 text, so the project couldn't be saved with it. Rename the folder, then try "
           "again.";
}

double Library::lowestOrder() const {
    std::optional<double> low;
    for (const auto& m : media_)
        if (m.order && (!low || *m.order < *low)) low = m.order;
    return low.value_or(0);
}

std::vector<MediaItem> Library::add(const std::vector<std::string>& paths, std::vector<std::string>* refused) {
    std::vector<MediaItem> added;
    for (const auto& path : paths) {
        auto k = kind(path);
        if (!k || !pathExists(path)) continue;
        if (auto why = refusal(path)) {
            if (refused) refused->push_back(std::move(*why));
            continue;
        }
        MediaItem m;
        m.id = makeUuid();
        m.kind = *k;
        m.name = fs::path(path).filename().string();
        m.path = path;
        m.addedAt = appClock().wallMs();
        added.push_back(std::move(m));
    }
    if (added.empty()) return added;
    const double low = lowestOrder();
    const double n = double(added.size());
    for (std::size_t i = 0; i < added.size(); ++i) added[i].order = low - n + double(i);
    media_.insert(media_.end(), added.begin(), added.end());
    mediaChanged();
    persist();
    return added;
}

void Library::reorder(const std::vector<std::string>& ids) {
    for (std::size_t p = 0; p < ids.size(); ++p)
        if (MediaItem* m = find(ids[p])) m->order = double(p);
    persist();
}

void Library::remove(const std::set<std::string>& ids) {
    auto hit = [&](const MediaItem& m) { return ids.count(m.id) > 0; };
    if (std::none_of(media_.begin(), media_.end(), hit)) return;
    std::erase_if(media_, hit);
    mediaChanged();
    std::set<std::string> offline = offlineIds_;
    for (const auto& id : ids) offline.erase(id);
    setOfflineIds(std::move(offline));
    for (auto& g : groups_) std::erase_if(g.mediaIds, [&](const std::string& id) { return ids.count(id) > 0; });
    for (const auto& id : ids) {
        if (!Store::isSafeFileName(id)) continue;
        std::error_code ec;
        fs::remove(Store::thumbnailDir() / (id + ".jpg"), ec);
    }
    persist();
}

bool Library::copyThumbnail(const std::string& fromId, const std::string& toId) const {
    // Ids can come from documents and the clipboard: only plain names become file names.
    if (!Store::isSafeFileName(fromId) || !Store::isSafeFileName(toId)) return false;
    const fs::path dir = Store::thumbnailDir();
    std::error_code ec;
    fs::remove(dir / (toId + ".jpg"), ec);
    return fs::copy_file(dir / (fromId + ".jpg"), dir / (toId + ".jpg"), ec) && !ec;
}

std::optional<MediaItem> Library::duplicate(const std::string& id) {
    const MediaItem* source = item(id);
    if (!source) return std::nullopt;
    MediaItem copy = *source;
    copy.id = makeUuid();
    copy.addedAt = appClock().wallMs();
    copy.order = source->order ? *source->order + 0.5 : 0.5;
    if (copy.thumbAt && !copyThumbnail(id, copy.id)) copy.thumbAt.reset();
    media_.push_back(copy);
    mediaChanged();
    if (offlineIds_.count(id)) offlineIds_.insert(copy.id);
    persist();
    return copy;
}

void Library::setMeta(const std::string& id, const Mutation& mutate) {
    MediaItem* m = find(id);
    if (!m) return;
    mutate(*m);
    mediaChanged();
    persist();
}

Group Library::createGroup(const std::optional<std::string>& name, const std::optional<std::string>& color,
                           const std::optional<std::string>& icon) {
    Group g;
    g.id = makeUuid();
    std::string trimmed = name ? trimSpaces(*name) : std::string();
    g.name = trimmed.empty() ? "New Playlist" : trimmed;
    g.color = color.value_or(defaultGroupColor);
    g.icon = icon;
    groups_.push_back(g);
    persist();
    return g;
}

void Library::moveGroups(const std::set<std::size_t>& fromOffsets, std::size_t toOffset) {
    std::vector<Group> moving, rest;
    std::size_t before = 0;  // moved playlists that sat above the destination
    for (std::size_t i = 0; i < groups_.size(); ++i) {
        if (fromOffsets.count(i)) {
            moving.push_back(groups_[i]);
            if (i < toOffset) ++before;
        } else {
            rest.push_back(groups_[i]);
        }
    }
    std::size_t at = std::min(toOffset - std::min(before, toOffset), rest.size());
    rest.insert(rest.begin() + std::ptrdiff_t(at), moving.begin(), moving.end());
    groups_ = std::move(rest);
    persist();
}

void Library::updateGroup(const Group& group) {
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.id == group.id; });
    if (it == groups_.end()) return;
    *it = group;
    persist();
}

void Library::deleteGroup(const std::string& id) {
    if (std::erase_if(groups_, [&](const Group& g) { return g.id == id; }) == 0) return;
    persist();
}

void Library::addToGroup(const std::string& groupId, const std::string& mediaId) {
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.id == groupId; });
    if (it == groups_.end()) return;
    if (std::find(it->mediaIds.begin(), it->mediaIds.end(), mediaId) != it->mediaIds.end()) return;
    it->mediaIds.push_back(mediaId);
    persist();
}

void Library::removeFromGroup(const std::string& groupId, const std::string& mediaId) {
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.id == groupId; });
    if (it == groups_.end()) return;
    std::erase(it->mediaIds, mediaId);
    persist();
}

Group Library::importGroup(const std::string& name, const std::optional<std::string>& color,
                           const std::optional<std::string>& icon, const std::optional<std::string>& emoji,
                           const std::vector<MediaItem>& templates, std::vector<std::string>* refused) {
    Group g;
    g.id = makeUuid();
    g.name = name;
    g.color = color.value_or(defaultGroupColor);
    g.icon = icon;
    g.emoji = emoji;
    std::vector<const MediaItem*> admitted;
    for (const auto& t : templates) {
        auto why = refusal(t.path);
        if (!why && !isUtf8(t.name)) why = refusal(t.name);
        if (!why) admitted.push_back(&t);
        else if (refused) refused->push_back(std::move(*why));
    }
    const double low = lowestOrder();
    const double n = double(admitted.size());
    for (std::size_t i = 0; i < admitted.size(); ++i) {
        MediaItem m = *admitted[i];
        m.id = makeUuid();
        m.addedAt = appClock().wallMs();
        m.order = low - n + double(i);
        if (m.thumbAt && !copyThumbnail(admitted[i]->id, m.id)) m.thumbAt.reset();
        if (!pathExists(m.path)) offlineIds_.insert(m.id);
        g.mediaIds.push_back(m.id);
        media_.push_back(std::move(m));
    }
    mediaChanged();
    groups_.push_back(g);
    persist();
    return g;
}

void Library::adopt(const ProjectDoc& doc, const fs::path& url, bool fireChange) {
    documentURL_ = url;
    projectId_ = doc.id;
    projectName_ = doc.name;
    stage_ = doc.stage;
    setMedia(doc.media);
    const bool renamed = repairDuplicateIds();
    std::set<std::string> offline;
    for (const auto& m : media_)
        if (!pathExists(m.path)) offline.insert(m.id);
    setOfflineIds(std::move(offline));
    groups_ = doc.groups;
    for (std::size_t i = 0; i < groups_.size(); ++i)
        if (!groups_[i].color) groups_[i].color = palette[i % 8];

    // Every repair first, then one write: a document of many shared slots is not rewritten per slot.
    suppressChange_ = true;
    const bool split = splitSharedReferences();
    const bool reordered = normalizeOrders();
    if (renamed || split || reordered) writeDoc();
    suppressChange_ = false;
    if (fireChange && onChange) onChange();
}

// A document that holds one id twice keeps the first; the others get fresh ids (playlists keep
// pointing at the first).
bool Library::repairDuplicateIds() {
    std::set<std::string> seen;
    bool changed = false;
    for (auto& m : media_) {
        if (seen.insert(m.id).second) continue;
        const std::string old = m.id;
        m.id = makeUuid();
        if (m.thumbAt && !copyThumbnail(old, m.id)) m.thumbAt.reset();
        seen.insert(m.id);
        changed = true;
    }
    if (changed) mediaChanged();
    return changed;
}

bool Library::splitSharedReferences() {
    std::unordered_map<std::string, std::size_t> index;  // first wins, as in item()
    index.reserve(media_.size());
    for (std::size_t i = 0; i < media_.size(); ++i) index.emplace(media_[i].id, i);
    std::set<std::string> seen;
    bool replaced = false;
    for (auto& group : groups_) {
        for (auto& slot : group.mediaIds) {
            if (seen.insert(slot).second) continue;
            auto source = index.find(slot);
            if (source == index.end()) continue;
            // As duplicate() does, without writing the document for each copy.
            MediaItem copy = media_[source->second];
            copy.id = makeUuid();
            copy.addedAt = appClock().wallMs();
            copy.order = copy.order ? *copy.order + 0.5 : 0.5;
            if (copy.thumbAt && !copyThumbnail(slot, copy.id)) copy.thumbAt.reset();
            if (offlineIds_.count(slot)) offlineIds_.insert(copy.id);
            slot = copy.id;
            seen.insert(copy.id);
            index.emplace(copy.id, media_.size());
            media_.push_back(std::move(copy));
            replaced = true;
        }
    }
    if (replaced) mediaChanged();
    return replaced;
}

bool Library::normalizeOrders() {
    std::vector<std::size_t> sorted(media_.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
    std::stable_sort(sorted.begin(), sorted.end(), [&](std::size_t a, std::size_t b) {
        const MediaItem &x = media_[a], &y = media_[b];
        if (x.order && y.order) return *x.order < *y.order;
        if (x.order || y.order) return bool(x.order);
        return x.addedAt > y.addedAt;
    });
    bool changed = false;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        MediaItem& m = media_[sorted[i]];
        if (m.order != double(i)) {
            m.order = double(i);
            changed = true;
        }
    }
    if (changed) mediaChanged();
    return changed;
}

}  // namespace ombry
