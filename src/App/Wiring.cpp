// The callbacks between the engines and the application state.
#include "App/AppState.hpp"

namespace ombry {

void AppState::wire() {
    NativeStageRenderer& r = *previewRenderer_;
    program.onChange = [&r](const ProgramState& state) { r.apply(state); };
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
        if (!repeat) IssueLog::shared().report(code, fileName(path), std::nullopt, lastTriggerWasAutomatic_);
        if (code == IssueCode::mediaMissing && item) {
            library.markOffline(item->id);
            library.rescanOffline();
        }
        program.clearLayer(layer);
        if (advances && !cycleDone) advanceInPlaylist(cue.mediaId);
    };
    r.apply(program.state());
}

}  // namespace ombry
