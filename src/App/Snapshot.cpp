// What remotes see: the remote clip list and the state snapshot.
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "App/AppState.hpp"
#include "Platform/HostName.hpp"

namespace ombry {

namespace {

constexpr LayerId snapshotLayers[] = {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio};

}  // namespace

const std::optional<std::string>& AppState::hostName() {
    static const std::optional<std::string> name = queryHostName();
    return name;
}

std::vector<const MediaItem*> AppState::controlBoardClipRefs() const {
    std::vector<const MediaItem*> clips;
    clips.reserve(library.media().size());
    for (const Group& group : library.groups())
        for (const std::string& id : group.mediaIds)
            if (const MediaItem* item = library.item(id)) clips.push_back(item);
    for (const MediaItem& item : ungroupedMedia())
        if (const MediaItem* held = library.item(item.id)) clips.push_back(held);
    return clips;
}

std::vector<MediaItem> AppState::controlBoardClips() const {
    std::vector<MediaItem> clips;
    for (const MediaItem* item : controlBoardClipRefs()) clips.push_back(*item);
    return clips;
}

ControlSnapshot AppState::controlSnapshot() const {
    const ProgramState& state = program.state();
    ControlSnapshot s;

    std::unordered_set<std::string_view> live;
    for (LayerId id : snapshotLayers) {
        const auto& cue = state.layers[id].active;
        if (!cue) continue;
        live.insert(cue->mediaId);
        ControlLayer layer;
        layer.mediaId = cue->mediaId;
        const MediaItem* item = library.item(cue->mediaId);
        layer.name = item ? item->name : cue->mediaId;
        layer.kind = cue->kind;
        layer.playing = cue->playing;
        layer.volume = cue->volume;
        if (const auto at = program.activatedAt().find(id); at != program.activatedAt().end())
            layer.activatedAt = at->second;
        if (cue->kind != MediaKind::image) {
            const auto [current, duration, playing] = transportProgress(id);
            layer.currentTime = current;
            layer.duration = duration;
        }
        s.layers[id] = std::move(layer);
    }

    // The first playlist, in playlist order, that lists each clip.
    std::unordered_map<std::string_view, const std::string*> firstPlaylist;
    firstPlaylist.reserve(library.media().size());
    for (const Group& group : library.groups())
        for (const std::string& id : group.mediaIds) firstPlaylist.try_emplace(id, &group.name);

    const std::vector<const MediaItem*> clips = controlBoardClipRefs();
    s.clips.reserve(clips.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const MediaItem& item = *clips[i];
        ControlClip& clip = s.clips.emplace_back();
        clip.index = std::int64_t(i + 1);
        clip.id = item.id;
        clip.name = item.name;
        clip.kind = item.kind;
        clip.layer = layerFor(item);
        if (const auto found = firstPlaylist.find(item.id); found != firstPlaylist.end()) clip.playlist = *found->second;
        clip.duration = item.duration;
        clip.live = live.count(item.id) > 0;
        clip.thumbAt = item.thumbAt;
    }

    if (const auto primary = primaryLayer()) {
        const auto [current, duration, playing] = transportProgress(*primary);
        s.transport = ControlTransport{*primary, current, duration, playing};
    }

    s.groups.emplace();
    for (const Group& group : library.groups()) s.groups->push_back(ControlGroup{group.name, group.color, group.icon});

    s.host = hostName();
    s.rev = state.rev;
    s.black = state.black;
    s.live = program.isLive();
    s.masterVolumeDB = masterVolumeDB();
    s.muted = isMuted();
    return s;
}

}  // namespace ombry
