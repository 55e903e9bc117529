// Playlist advance, clip end, the auto-advance timer and getting the next clip ready.
#include <algorithm>

#include "App/AppState.hpp"
#include "Render/NativeLayerHost.hpp"

namespace ombry {

const Group* AppState::playlist(const std::string& mediaId) const {
    for (const Group& g : library.groups())
        if (std::find(g.mediaIds.begin(), g.mediaIds.end(), mediaId) != g.mediaIds.end()) return &g;
    return nullptr;
}

std::vector<int> AppState::advanceCandidates(int index, int count, bool loops) {
    if (count < 1) return {};
    const int k = loops ? count : count - 1 - index;
    std::vector<int> out;
    for (int j = 1; j <= k; ++j) out.push_back(((index + j) % count + count) % count);
    return out;
}

void AppState::handleClipEnd(LayerId layer, const std::string& cueId) {
    const auto& active = program.state().layers[layer].active;
    if (!active || active->cueId != cueId) return;
    const ActiveCue cue = *active;
    if (const Group* p = playlist(cue.mediaId); p && p->advanceOnEnd == true) {
        advanceInPlaylist(cue.mediaId);
        return;
    }
    if (cue.endAction == EndAction::clear) program.clearLayer(layer);
}

void AppState::advanceInPlaylist(const std::string& fromId) {
    const Group* found = playlist(fromId);
    if (!found) return;
    const Group p = *found;  // takes below change the library
    const auto& ids = p.mediaIds;
    const int n = int(ids.size());
    const auto at = std::find(ids.begin(), ids.end(), fromId);
    if (n == 0 || at == ids.end()) return;
    for (int c : advanceCandidates(int(at - ids.begin()), n, p.loopPlaylist == true)) {
        const MediaItem* candidate = library.item(ids[c]);
        if (!candidate) continue;
        const MediaItem item = *candidate;
        if (ids[c] == fromId) {
            if (!fileAvailable(item.id, item.path)) {
                IssueLog::shared().report(IssueCode::mediaMissing, fileName(item.path), std::nullopt, true);
                continue;
            }
            // The clip that ended is the one to restart, on its own layer, whatever else is on air.
            for (LayerId l : {layerFor(item), LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background}) {
                const auto& active = program.state().layers[l].active;
                if (active && active->mediaId == item.id) {
                    restartLayer(l);
                    break;
                }
            }
            if (p.advanceSeconds && *p.advanceSeconds > 0) {
                cancelAdvance();
                scheduleAutoAdvance(item, &p);
            }
            return;
        }
        if (trigger(item, true)) return;
    }
}

void AppState::restartLayer(LayerId layer) {
    const auto& active = program.state().layers[layer].active;
    if (!active) return;
    // A clip's own end report has marked it not playing just before: wrapping round to it plays it again.
    // Only a clip paused by the operator stays paused.
    const auto reported = program.transports().find(layer);
    const bool ended = reported != program.transports().end() && reported->second.cueId == active->cueId &&
                       reported->second.ended;
    const bool playing = active->playing || ended;
    if (ended) program.setLayerPlaying(layer, true);
    sendTransport(layer, "seek", 0.0);
    if (playing) sendTransport(layer, "play", std::nullopt);
}

void AppState::scheduleAutoAdvance(const MediaItem& item, const Group* p) {
    if (!p || !p->advanceSeconds || !(*p->advanceSeconds > 0)) return;
    std::weak_ptr<bool> alive = alive_;
    const std::string id = item.id;
    auto handle = std::make_shared<TaskHandle>();
    // The boot-time clock: a show left running while the machine sleeps advances on time when it wakes.
    *handle = mainQueue().postAfterBoot(clampedAdvanceSeconds(*p->advanceSeconds), [this, alive, id, handle] {
        if (alive.expired() || handle->cancelled()) return;
        advanceTask_ = {};
        advanceInPlaylist(id);
    });
    advanceTask_ = *handle;
}

void AppState::warmNextInPlaylist(const MediaItem& item, const Group* p) {
    if (!p) return;
    if (!(p->advanceOnEnd == true || (p->advanceSeconds && *p->advanceSeconds > 0))) return;
    const auto& ids = p->mediaIds;
    const auto at = std::find(ids.begin(), ids.end(), item.id);
    if (at == ids.end()) return;
    const auto candidates = advanceCandidates(int(at - ids.begin()), int(ids.size()), p->loopPlaylist == true);
    if (candidates.empty()) return;
    const MediaItem* next = library.item(ids[candidates.front()]);
    if (!next || next->kind == MediaKind::image) return;
    env_.warm(next->path);
}

const MediaItem* AppState::selectedItem() const {
    return selectedItemId_ ? library.item(*selectedItemId_) : nullptr;
}

void AppState::setSelectedItemId(std::optional<std::string> id) {
    if (id == selectedItemId_) return;
    selectedItemId_ = std::move(id);
    notify(Aspect::clipSelection);
    schedulePreload(selectedItem());
}

void AppState::schedulePreload(const MediaItem* item) {
    if (auto id = item ? std::optional<std::string>(item->id) : std::nullopt; id != preloadedId_) {
        preloadedId_ = std::move(id);
        notify(Aspect::preloaded);
    }
    if (!started || !item || item->kind == MediaKind::image) return;
    if (!fileAvailable(item->id, item->path)) return;
    const LayerId layer = layerFor(*item);
    if (isLive(*item, layer)) return;
    for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio})
        if (l != layer)
            if (auto* h = previewRenderer_->host(l)) h->discardPrepared();
    if (auto* h = previewRenderer_->host(layer)) h->prepare(item->id, item->kind, item->trimStart, item->trimEnd);
}

}  // namespace ombry
