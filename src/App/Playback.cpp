// Taking clips live, the master volume, playheads and trims.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "App/AppState.hpp"

namespace ombry {

namespace {

AppTransition kindOf(TransitionType t) {
    switch (t) {
        case TransitionType::cut: return AppTransition::cut;
        case TransitionType::fade:
        case TransitionType::crossfade: return AppTransition::fade;
        case TransitionType::slide: return AppTransition::slide;
        case TransitionType::zoom: return AppTransition::zoom;
    }
    return AppTransition::fade;
}

TransitionType cueTransition(AppTransition kind, MediaKind media) {
    if ((kind == AppTransition::slide || kind == AppTransition::zoom) && media == MediaKind::audio)
        return TransitionType::crossfade;
    switch (kind) {
        case AppTransition::cut: return TransitionType::cut;
        case AppTransition::fade: return TransitionType::crossfade;
        case AppTransition::slide: return TransitionType::slide;
        case AppTransition::zoom: return TransitionType::zoom;
    }
    return TransitionType::crossfade;
}

// Seconds to whole milliseconds, truncated; a value that is not a number or does not fit takes no time or
// the longest time rather than crashing the take.
std::int64_t durationMs(double seconds) {
    const double ms = seconds * 1000.0;
    if (!(ms > 0)) return 0;
    if (ms >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(ms);
}

}  // namespace

bool AppState::browserPlayable(std::uint32_t codec) {
    for (std::uint32_t c : {fourCC('a', 'v', 'c', '1'), fourCC('m', 'u', 'x', 'a'), fourCC('h', 'v', 'c', '1'),
                            fourCC('v', 'p', '0', '8'), fourCC('v', 'p', '0', '9'), fourCC('a', 'v', '0', '1')})
        if (c == codec) return true;
    return false;
}

LayerId AppState::layerFor(const MediaItem& item) {
    if (item.layer) return *item.layer;
    return item.kind == MediaKind::audio ? LayerId::audio : LayerId::media;
}

std::string AppState::fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

bool AppState::isLive(const MediaItem& item, LayerId layer) const {
    const auto& active = program.state().layers[layer].active;
    return active && active->mediaId == item.id;
}

bool AppState::fileAvailable(const std::string& id, const std::string& path) {
    if (!library.offlineIds().count(id)) return true;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    library.clearOffline(id);
    return true;
}

void AppState::cancelAdvance() {
    advanceTask_.cancel();
    advanceTask_ = {};
}

bool AppState::trigger(const MediaItem& item, bool automatic) {
    cancelAdvance();
    lastTriggerWasAutomatic_ = automatic;
    if (!automatic) failedInCycle_.clear();
    setSelectedItemId(item.id);

    if (!fileAvailable(item.id, item.path)) {
        IssueLog::shared().report(IssueCode::mediaMissing, fileName(item.path), std::nullopt, automatic);
        if (!automatic && env_.beep) env_.beep();
        return false;
    }

    const LayerId layer = layerFor(item);
    if (!automatic && isLive(item, layer)) {
        program.clearLayer(layer);
        return true;
    }

    const Group* group = playlist(item.id);
    AppTransition kind = masterTransition;
    if (item.transitionType) kind = kindOf(*item.transitionType);
    else if (group && group->transitionType) kind = kindOf(*group->transitionType);

    TriggerOptions options;
    options.layer = item.layer;
    // The renderer loops on the flag alone: a clip whose end action is to loop is taken looping.
    if (group && group->advanceOnEnd == true) options.loop = false;
    else if (item.endAction == EndAction::loop) options.loop = true;
    else options.loop = item.loop;
    options.transitionType = cueTransition(kind, item.kind);
    options.durationMs = durationMs(transitionDuration);
    options.endAction = item.endAction;
    program.trigger(item, options);

    // The library may change under the calls below; they work on a copy of the playlist.
    const std::optional<Group> copy = group ? std::optional<Group>(*group) : std::nullopt;
    scheduleAutoAdvance(item, copy ? &*copy : nullptr);
    warmNextInPlaylist(item, copy ? &*copy : nullptr);
    warnIfBrowserSourceCantPlay(item);
    return true;
}

void AppState::warnIfBrowserSourceCantPlay(const MediaItem& item) {
    if (outputCount < 1 || item.kind != MediaKind::video) return;
    const std::string subject = fileName(item.path);
    if (auto it = browserPlayableCache_.find(item.id); it != browserPlayableCache_.end()) {
        if (!it->second) IssueLog::shared().report(IssueCode::browserSourceCodec, subject, std::nullopt, true);
        return;
    }
    if (!env_.probeVideoCodec) return;
    std::weak_ptr<bool> alive = alive_;
    const std::string id = item.id;
    env_.probeVideoCodec(item.path, [this, alive, id, subject](std::optional<std::uint32_t> codec) {
        mainQueue().post([this, alive, id, subject, codec] {
            if (!codec || alive.expired()) return;
            const bool playable = browserPlayable(*codec);
            browserPlayableCache_[id] = playable;
            if (!playable && outputCount >= 1)
                IssueLog::shared().report(IssueCode::browserSourceCodec, subject, std::nullopt, true);
        });
    });
}

void AppState::setMasterVolumeDB(double db) {
    const std::int64_t rev = program.state().rev;
    masterVolumeDB_ = db;
    double gain = std::pow(10.0, db / 20.0);
    if (!(gain >= 0)) gain = 0;
    program.setMasterVolume(std::min(gain, 1.0));
    notify(Aspect::masterVolume);
    // The remotes show the level in dB and the mute: a change the program's gain does not follow (above
    // 0 dB, or muting at the bottom) reaches them all the same.
    if (program.state().rev == rev) pushSnapshot();
}

std::tuple<double, double, bool> AppState::transportProgress(LayerId layer) const {
    const auto it = program.anchors().find(layer);
    const auto p = playheadAt(it == program.anchors().end() ? nullptr : &it->second, transportNow());
    return {p.currentTime, p.duration, p.playing};
}

void AppState::setItemTrim(const std::string& id, std::optional<double> start, std::optional<double> end) {
    library.setMeta(id, [start, end](MediaItem& m) {
        const double d = m.duration ? *m.duration : std::numeric_limits<double>::max();
        m.trimStart.reset();
        if (start) {
            const double s = std::clamp(*start, 0.0, d);
            if (s > 0) m.trimStart = s;
        }
        m.trimEnd.reset();
        if (end) {
            const double e = std::clamp(*end, 0.0, d);
            // An end at 0 or before would leave nothing to play: it means no end trim.
            if (e > 0 && e < d && !(m.trimStart && e <= *m.trimStart)) m.trimEnd = e;
        }
    });
}

}  // namespace ombry
