// The callbacks between the engines and the application state.
#include <filesystem>

#include "App/AppState.hpp"

namespace ombry {

void AppState::wire() {
    NativeStageRenderer& r = *previewRenderer_;
    program.onChange = [this, &r](const ProgramState& state) {
        r.apply(state);
        // The project carries the stage: written once per real change of it.
        const auto& stored = library.stage();
        if (!stored || stored->width != state.stage.width || stored->height != state.stage.height ||
            stored->fps != state.stage.fps || stored->background != state.stage.background) {
            library.setStage(state.stage);
            library.writeDoc();
        }
    };
    program.onTransport = [&r](const TransportCommandMessage& command) { r.applyTransport(command); };
    r.resolvePath = [this](const std::string& id) -> std::optional<std::string> {
        if (const MediaItem* m = library.item(id)) return m->path;
        return std::nullopt;
    };
    r.onStatus = [this](const TransportStatus& status) {
        program.recordStatus(status);
        const auto& active = program.state().layers[status.layer].active;
        // A clip that plays ends a run of failures of its playlist.
        if (active && active->cueId == status.cueId)
            if (const Group* p = playlist(active->mediaId)) failedInCycle_.erase(p->id);
        if (status.ended) handleClipEnd(status.layer, status.cueId);
        // Remotes follow the primary layer only, as it stands after the clip end was handled.
        if (primaryLayer() == status.layer && env_.pushTransport) env_.pushTransport(status);
    };
    r.onEnding = [this](LayerId layer, const std::string& cueId) { handleClipEnd(layer, cueId); };
    r.onError = [this](LayerId layer, const std::string& cueId, IssueCode code) {
        const auto& active = program.state().layers[layer].active;
        if (!active || active->cueId != cueId) return;  // a clip already replaced
        const ActiveCue cue = *active;
        const MediaItem* item = library.item(cue.mediaId);
        const std::string path = item ? item->path : std::string();
        const Group* p = playlist(cue.mediaId);
        const bool advances = lastTriggerWasAutomatic_ && p &&
                              (p->advanceOnEnd == true || (p->advanceSeconds && *p->advanceSeconds > 0));
        // A looping playlist whose every clip fails would go round for ever: one full cycle of failures
        // stops it, and the operator hears of each clip once.
        bool cycleDone = false;
        bool repeat = false;
        if (advances) {
            auto& failed = failedInCycle_[p->id];
            repeat = !failed.insert(cue.mediaId).second;
            std::set<std::string> listed(p->mediaIds.begin(), p->mediaIds.end());
            cycleDone = repeat || failed.size() >= listed.size();
        }
        if (!repeat)
            IssueLog::shared().report(code, item ? std::optional<std::string>(fileName(path)) : std::nullopt,
                                      std::nullopt, true);
        std::error_code ec;
        if (item && !std::filesystem::exists(path, ec)) {
            library.markOffline(item->id);
            rescanInFlight_ = true;
            std::weak_ptr<bool> alive = alive_;
            library.rescanOffline([this, alive](bool) {
                if (!alive.expired()) rescanInFlight_ = false;
            });
        }
        program.clearLayer(layer);
        if (advances && !cycleDone) advanceInPlaylist(cue.mediaId);
    };
    meterEngine_->onLevels = [this](const MeterLevels& levels) {
        meter_ = levels;
        if (onMeter) onMeter(meter_);
    };
    displays_->onDisplaysLost = [this](const std::vector<std::string>& names) {
        refreshOpenDisplays();
        for (const auto& name : names) IssueLog::shared().report(IssueCode::displayDisconnected, name, std::nullopt, true);
    };
    displays_->onDisplaysChanged = [this] {
        displayList_ = displays_->displays();
        refreshOpenDisplays();
    };
    displayList_ = displays_->displays();
    library.onChange = [this] { schedulePlaylistPush(); };
    r.apply(program.state());
}

std::optional<LayerId> AppState::primaryLayer() const {
    for (LayerId l : {LayerId::media, LayerId::audio, LayerId::overlay, LayerId::background})
        if (program.state().layers[l].active) return l;
    return std::nullopt;
}

void AppState::refreshOpenDisplays() {
    const auto open = displays_->openDisplays();
    openDisplayIDs_ = std::set<DisplayId>(open.begin(), open.end());
}

void AppState::schedulePlaylistPush() {
    if (!settings_.cloudUploadEnabled) return;
    cloudPlaylistPushTask_.cancel();
    std::weak_ptr<bool> alive = alive_;
    cloudPlaylistPushTask_ = mainQueue().postAfter(cloudPushDelay, [this, alive] {
        if (alive.expired()) return;
        cloudPlaylistPushTask_ = {};
        if (env_.pushCloudPlaylists) env_.pushCloudPlaylists();
    });
}

}  // namespace ombry
